#include "support/windowonsim.h"

#include "app/terminallistbox.h"
#include "base/textutils.h"

#include <QDir>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>

void WindowOnSim::initWindow()
{
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
    QVERIFY(QDir::setCurrent(dir_->path()));
    SetProgramDir(dir_->path());
    prompt_ = std::make_unique<ScriptedPrompt>();
    sim_ = std::make_unique<SimProcess>();
}

void WindowOnSim::cleanupWindow()
{
    form_.reset();
    sim_.reset();
    QVERIFY2(prompt_->Unexpected().isEmpty(), qPrintable(prompt_->Unexpected().join(u'\n')));
    QCOMPARE(prompt_->PendingAnswers(), 0);
}

bool WindowOnSim::writePortFile(const QByteArray &port)
{
    return writeFileBytes(dir_->filePath(QStringLiteral("commport.cfg")),
                          "PortNumber=" + port + "\r\nTransferRate=9600 baud\r\nStopBits=1 bit\r\nParitet=None\r\n"
                          "LatencyPeriod=Approximately 0.25 second\r\nDTRControl=HandShake\r\nRTSControl=HandShake\r\n"
                          "WriteTimeOutMultiplier=0\r\nWriteTimeOutConstant=0\r\n");
}

bool WindowOnSim::startInstallation(const QStringList &options)
{
    if (!sim_->Start(options)) {
        qWarning("%s", qPrintable(sim_->ErrorText()));
        return false;
    }
    return writePortFile(QFile::encodeName(sim_->LinkPath()));
}

bool WindowOnSim::makeForm(const QByteArray &privileges)
{
    form_ = std::make_unique<TMainForm>(prompt_.get());
    form_->show();
    if (!QTest::qWaitForWindowExposed(form_.get()))
        return false;
    if (!privileges.isEmpty())
        form_->ApplyPrivileges(privileges);
    return true;
}

void WindowOnSim::click(const char *name)
{
    QTest::mouseClick(named<QAbstractButton>(name), Qt::LeftButton);
}

void WindowOnSim::selectTab(const char *tabs, int index)
{
    QTabBar *bar = named<QTabWidget>(tabs)->tabBar();
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(index).center());
}

QList<QByteArray> WindowOnSim::requestsSince(qsizetype &mark)
{
    const QList<QByteArray> all = sim_->RequestLines();
    const QList<QByteArray> since = all.mid(mark);
    mark = all.size();
    return since;
}

QString WindowOnSim::lastTerminalLine()
{
    TTerminalListBox *terminal = form_->Terminal();
    return terminal->count() ? terminal->item(terminal->count() - 1)->text() : QString();
}
