// The window and its line settings file on a workstation: a port that cannot
// be opened is named with its reason on the terminal page (the start-up
// warning stays as it was), the window "Параметры внешнего канала" names the
// file in use, and OK saves there; a save that fails is named on the
// terminal page instead of being lost without a word.

#include "app/mainform.h"
#include "app/terminallistbox.h"
#include "base/cp1251.h"
#include "base/textutils.h"
#include "serial/compropertiesdialog.h"
#include "support/scriptedprompt.h"
#include "support/simprocess.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>

class TestPortSetup : public QObject {
    Q_OBJECT
private slots:
    void reasonOnTerminalAndFileInUse();
};

void TestPortSetup::reasonOnTerminalAndFileInUse()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString bin = dir.filePath("bin");
    QVERIFY(QDir().mkpath(bin));
    QVERIFY(QDir::setCurrent(dir.path()));
    SetProgramDir(bin);
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.filePath("xdg")));

    const QString cfg = bin + "/commport.cfg";
    const QString missing = dir.filePath("no-such-tty");
    {
        QFile f(cfg);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("PortNumber=" + QFile::encodeName(missing) + "\r\n");
    }

    ScriptedPrompt prompt;
    prompt.ExpectWarning();
    TMainForm form(&prompt);
    // The warning names the port and why it did not open.
    QCOMPARE(prompt.Messages(),
             QStringList{QString::fromUtf8("Выбранный последовательный порт недоступен. Попробуйте перенастроить программу."
                                           "\n\nПорт %1: нет такого устройства")
                             .arg(missing)});
    TTerminalListBox *terminal = form.Terminal();
    QVERIFY(terminal->count() > 0);
    QCOMPARE(terminal->item(terminal->count() - 1)->text(), QString::fromUtf8("Порт %1: нет такого устройства").arg(missing));

    // The settings window names the file beside the (writable) program
    // folder; OK saves the new port there, and it opens.
    SimProcess sim;
    QVERIFY2(sim.Start(), qPrintable(sim.ErrorText()));
    QString shown, tip;
    const QString link = sim.LinkPath();
    prompt.ExpectExec([&](QDialog &d) {
        auto *dialog = qobject_cast<TComPropertiesDialog *>(&d);
        shown = dialog->SettingsFileLabel->text();
        tip = dialog->SettingsFileLabel->toolTip();
        dialog->PortNumCBox->setCurrentText(link);
        return int(QDialog::Accepted);
    });
    form.RS2321Click();
    QCOMPARE(tip, QString::fromUtf8("Файл настроек: ") + cfg);
    QVERIFY2(shown.startsWith(QString::fromUtf8("Файл: ")) && shown.endsWith("commport.cfg"), qPrintable(shown));
    QFile saved(cfg);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QVERIFY(saved.readAll().startsWith("PortNumber=" + QFile::encodeName(link) + "\r\n"));
    QCOMPARE(form.Channel()->State(), quint8(0));
    QVERIFY(!QFileInfo::exists(dir.filePath("xdg/kvarn/commport.cfg")));
    saved.close();

    // A folder where the file should be: the save fails, the settings are
    // used all the same, and the terminal page says where they were not saved.
    QVERIFY(QFile::remove(cfg) && QDir().mkpath(cfg));
    prompt.ExpectExec([](QDialog &) { return int(QDialog::Accepted); });
    form.RS2321Click();
    QCOMPARE(terminal->item(terminal->count() - 1)->text(),
             QString::fromUtf8("Настройки канала не сохранены в ") + cfg);
    QCOMPARE(form.Channel()->State(), quint8(0));
    QVERIFY(prompt.Unexpected().isEmpty());

    // A file whose first nine lines hold no key sets nothing: the window
    // says on the terminal page that the defaults are in use.
    QVERIFY(QDir(cfg).removeRecursively());
    {
        QFile f(cfg);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(9, '\n') + "PortNumber=" + QFile::encodeName(link) + "\r\n");
    }
    ScriptedPrompt quiet;
    quiet.ExpectWarning(); // COM1 is no port here
    TMainForm defaults(&quiet);
    const QStringList lines = [&] {
        QStringList all;
        for (int i = 0; i < defaults.Terminal()->count(); ++i)
            all << defaults.Terminal()->item(i)->text();
        return all;
    }();
    QVERIFY2(lines.contains(QString::fromUtf8("Файл настроек линии %1 не задаёт ничего (в первых девяти строках нет "
                                              "ни одного ключа): действуют настройки по умолчанию")
                                .arg(cfg)),
             qPrintable(lines.join(u'\n')));
}

QTEST_MAIN(TestPortSetup)
#include "tst_portsetup.moc"
