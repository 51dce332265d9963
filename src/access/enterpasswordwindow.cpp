#include "access/enterpasswordwindow.h"

#include "access/padlock.h"
#include "base/cp1251.h"

#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QValidator>

namespace {

// Passwords are stored in code page 1251: a character that the code page
// cannot hold would turn into "?" and could match a password it is not.
class Cp1251Validator : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString &input, int &) const override
    {
        return FromCp1251(ToCp1251(input)) == input ? Acceptable : Invalid;
    }
};

} // namespace

void SetUpPasswordWindowFrame(QDialog &dialog)
{
    dialog.setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::MSWindowsFixedSizeDialogHint);
    dialog.setFixedSize(357, 115);
    QFont font(QStringLiteral("Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(11);
    dialog.setFont(font);
    dialog.setModal(true);
}

void CentreOnScreen(QDialog &dialog)
{
    QScreen *screen = dialog.screen() ? dialog.screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    QRect frame = dialog.frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    dialog.move(frame.topLeft());
}

TEnterPasswordForm::TEnterPasswordForm(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("EnterPasswordForm"));
    setWindowTitle(QStringLiteral("Пароль"));
    SetUpPasswordWindowFrame(*this);

    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(6, 6, 50, 50);
    Image1->setPixmap(PadlockPixmap(true));

    Label1 = new QLabel(QStringLiteral("Пароль :"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(90, 22, 63, 21);
    Label1->setAlignment(Qt::AlignCenter);

    PasswordEdit = new QLineEdit(this);
    PasswordEdit->setObjectName(QStringLiteral("PasswordEdit"));
    PasswordEdit->setGeometry(164, 22, 155, 21);
    PasswordEdit->setEchoMode(QLineEdit::Password);
    PasswordEdit->setValidator(new Cp1251Validator(PasswordEdit));
    connect(PasswordEdit, &QLineEdit::textChanged, this, &TEnterPasswordForm::PasswordEditChange);

    OkBtn = new QPushButton(style()->standardIcon(QStyle::SP_DialogOkButton), QStringLiteral("OK"), this);
    OkBtn->setObjectName(QStringLiteral("OkBtn"));
    OkBtn->setGeometry(56, 80, 99, 25);
    OkBtn->setDefault(true);
    connect(OkBtn, &QPushButton::clicked, this, &QDialog::accept);

    // Esc closes the window through QDialog as a rejection, like this button.
    CancelBtn = new QPushButton(style()->standardIcon(QStyle::SP_DialogCancelButton),
                                QStringLiteral("Отменить"), this);
    CancelBtn->setObjectName(QStringLiteral("CancelBtn"));
    CancelBtn->setGeometry(198, 80, 99, 25);
    connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);

    setTabOrder(PasswordEdit, OkBtn);
    setTabOrder(OkBtn, CancelBtn);
    PasswordEdit->setFocus();
}

void TEnterPasswordForm::SetPassword(const QString &password)
{
    password_ = password;
    PasswordEdit->setText(password);
}

void TEnterPasswordForm::PasswordEditChange(const QString &text)
{
    password_ = text;
}

void TEnterPasswordForm::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    CentreOnScreen(*this);
    PasswordEdit->setFocus();
}

void TEnterPasswordForm::setVisible(bool visible)
{
    QDialog::setVisible(visible);
    // Showing, QDialog hands the focus to the field as if by Tab, and the
    // field then selects its text. The text is not to be selected on entry.
    if (visible)
        PasswordEdit->deselect();
}
