#include "app/delaytimewindow.h"

#include "app/testmodepause.h"
#include "base/cp1251.h"
#include "ui/fonts.h"

#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>

TDelayTimeWindow::TDelayTimeWindow(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
{
    setObjectName(QStringLiteral("DelayTimeWindow"));
    setWindowTitle(QString::fromUtf8("Интервал"));
    setFont(WindowFont());
    setFixedSize(320, 100);

    NumLabel = new QLabel(QString::fromUtf8("Интервал, сек. :"), this);
    NumLabel->setObjectName(QStringLiteral("NumLabel"));
    NumLabel->setAlignment(Qt::AlignCenter);
    NumLabel->setGeometry(20, 14, 137, 21);

    // Up to three digits, each optional; positions not typed show as blanks.
    NumME = new QLineEdit(this);
    NumME->setObjectName(QStringLiteral("NumME"));
    NumME->setInputMask(QStringLiteral("000; "));
    NumME->setMaxLength(3);
    NumME->setGeometry(188, 14, 111, 21);

    OkBtn = new QPushButton(QStringLiteral("OK"), this);
    OkBtn->setObjectName(QStringLiteral("OkBtn"));
    OkBtn->setGeometry(56, 64, 75, 25);
    OkBtn->setDefault(true);
    connect(OkBtn, &QPushButton::clicked, this, &QDialog::accept);

    CancelBtn = new QPushButton(QStringLiteral("Cancel"), this);
    CancelBtn->setObjectName(QStringLiteral("CancelBtn"));
    CancelBtn->setGeometry(192, 64, 75, 25);
    connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject); // Esc rejects as well
}

void TDelayTimeWindow::SetInterval(qint32 number)
{
    NumME->setText(FromCp1251(PauseIntervalText(number)));
}

qint32 TDelayTimeWindow::GetInterval() const
{
    return PauseIntervalFromText(ToCp1251(NumME->text()));
}

void TDelayTimeWindow::FormActivate()
{
    NumME->setFocus(Qt::OtherFocusReason);
    NumME->selectAll();
}

void TDelayTimeWindow::showEvent(QShowEvent *event)
{
    if (const QScreen *s = screen())
        move(s->availableGeometry().center() - rect().center());
    QDialog::showEvent(event);
}

void TDelayTimeWindow::setVisible(bool visible)
{
    QDialog::setVisible(visible);
    if (visible)
        FormActivate();
}

void TDelayTimeWindow::changeEvent(QEvent *event)
{
    QDialog::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        FormActivate();
}
