#include "access/passwordisincorrectwindow.h"

#include "access/enterpasswordwindow.h"
#include "access/padlock.h"

#include <QLabel>
#include <QPushButton>
#include <QStyle>

TPasswordIsIncorrectForm::TPasswordIsIncorrectForm(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("PasswordIsIncorrectForm"));
    setWindowTitle(QStringLiteral("Пароль"));
    SetUpPasswordWindowFrame(*this);

    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(6, 6, 50, 50);
    Image1->setPixmap(PadlockPixmap(false));

    Label1 = new QLabel(QStringLiteral("Пароль набран неправильно!"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(90, 22, 227, 21);
    Label1->setAlignment(Qt::AlignCenter);

    OkBtn = new QPushButton(style()->standardIcon(QStyle::SP_DialogYesButton), QStringLiteral("&Yes"), this);
    OkBtn->setObjectName(QStringLiteral("OkBtn"));
    OkBtn->setGeometry(130, 80, 99, 25);
    OkBtn->setDefault(true);
    connect(OkBtn, &QPushButton::clicked, this, &QDialog::accept);
}

void TPasswordIsIncorrectForm::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    CentreOnScreen(*this);
    OkBtn->setFocus();
}
