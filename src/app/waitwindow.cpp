#include "app/waitwindow.h"

#include "base/textutils.h"
#include "report/archivereport.h"
#include "ui/fonts.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <algorithm>

TWaitProgressBar::TWaitProgressBar(QWidget *parent) : QProgressBar(parent)
{
    setRange(0, 100);
    setValue(0);
    setTextVisible(false);
}

int TWaitProgressBar::Minimum() const
{
    return minimum();
}

int TWaitProgressBar::Maximum() const
{
    return maximum();
}

void TWaitProgressBar::SetPosition(int position)
{
    emit PositionSet(position);
    setValue(qBound(minimum(), position, maximum()));
    repaint();
    if (handlesEvents_)
        QCoreApplication::processEvents();
}

TWaitWindow::TWaitWindow(QWidget *parent) : TWaitWindow(parent, 93, 77)
{
}

TWaitWindow::TWaitWindow(QWidget *parent, int clientHeight, int panelHeight)
    : QWidget(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
{
    setObjectName(QStringLiteral("WaitWindow"));
    setWindowTitle(QString::fromUtf8("Подождите"));
    setFont(WindowFont());
    setFixedSize(544, clientHeight);

    Panel1 = new QFrame(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);
    Panel1->setGeometry(6, 8, 533, panelHeight);

    MessagePanel = new QLabel(Panel1);
    MessagePanel->setObjectName(QStringLiteral("MessagePanel"));
    MessagePanel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    MessagePanel->setAlignment(Qt::AlignCenter);
    QFont bold = font();
    bold.setBold(true);
    MessagePanel->setFont(bold);
    QPalette palette = MessagePanel->palette();
    palette.setColor(QPalette::WindowText, QColor(128, 0, 0));
    MessagePanel->setPalette(palette);
    MessagePanel->setGeometry(6, 10, 519, 25);

    WaitProgressBar = new TWaitProgressBar(Panel1);
    WaitProgressBar->setObjectName(QStringLiteral("WaitProgressBar"));
    WaitProgressBar->setGeometry(6, 46, 519, 19);
}

void TWaitWindow::ShowWait(const QString &message)
{
    MessagePanel->setText(message);
    if (const QScreen *s = screen())
        move(s->availableGeometry().center() - rect().center());
    show();
    raise();
    // Let the window system map and expose the window; the operator's input
    // waits until the exchange is over.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    repaint();
}

void TWaitWindow::closeEvent(QCloseEvent *event)
{
    // Only the command that showed the window hides it.
    event->ignore();
}

void TWaitWindow::keyPressEvent(QKeyEvent *event)
{
    event->accept();
}

TWaitWindow2Btn::TWaitWindow2Btn(QWidget *parent) : TWaitWindow(parent, 161, 105)
{
    setObjectName(QStringLiteral("WaitWindow2Btn"));

    GlobalWaitProgressBar = new TWaitProgressBar(Panel1);
    GlobalWaitProgressBar->setObjectName(QStringLiteral("GlobalWaitProgressBar"));
    GlobalWaitProgressBar->setGeometry(6, 76, 519, 19);

    CancelBtn = new QPushButton(QString::fromUtf8("Отменить"), this);
    CancelBtn->setObjectName(QStringLiteral("CancelBtn"));
    CancelBtn->setGeometry(218, 128, 109, 25);
    // Esc presses it at once (see keyPressEvent); a shortcut would animate
    // the click and deliver it only a tenth of a second later.
    CancelBtn->setAutoDefault(false);
    connect(CancelBtn, &QPushButton::clicked, this, &TWaitWindow2Btn::CancelBtnClick);

    GlobalWaitProgressBar->SetHandlesEvents(true);
    // Input for the rest of the program waits while the archive is read.
    setWindowModality(Qt::ApplicationModal);
}

void TWaitWindow2Btn::ShowWait(const QString &message)
{
    cancelRequested_ = false;
    CancelBtn->setEnabled(true);
    for (TWaitProgressBar *bar : {WaitProgressBar, GlobalWaitProgressBar})
        bar->setTextVisible(false);
    shown_.start();
    TWaitWindow::ShowWait(message);
    activateWindow();
    CancelBtn->setFocus();
}

void TWaitWindow2Btn::ShowRecordCount(qint64 done, qint64 total)
{
    // QProgressBar's format takes %p, %v and %m: a literal % is doubled.
    WaitProgressBar->setFormat(QString::fromUtf8("Запись %1: %p%").arg(std::min(done + 1, total)));
    WaitProgressBar->setTextVisible(true);
    QString text = QString::fromUtf8("Прочитано %1 из %2").arg(CountWithNoun(done, "запись", "записи", "записей")).arg(total);
    if (done > 0 && done < total)
        text += QString::fromUtf8(", осталось около %1").arg(ReportDuration(shown_.elapsed() * (total - done) / done));
    GlobalWaitProgressBar->setFormat(text.replace(QLatin1Char('%'), QStringLiteral("%%")));
    GlobalWaitProgressBar->setTextVisible(true);
}

void TWaitWindow2Btn::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier)
        CancelBtn->click();
    event->accept();
}

void TWaitWindow2Btn::CancelBtnClick()
{
    if (cancelRequested_)
        return;
    cancelRequested_ = true;
    // One request is enough; the read ends after the record it is reading.
    CancelBtn->setEnabled(false);
    emit Cancelled();
}
