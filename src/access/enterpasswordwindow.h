#pragma once
// The password window "Пароль": a masked field with OK and Cancel.

#include <QDialog>
#include <QString>

class QLabel;
class QLineEdit;
class QPushButton;

class TEnterPasswordForm : public QDialog {
    Q_OBJECT
public:
    explicit TEnterPasswordForm(QWidget *parent = nullptr);

    // The text as typed. Setting it also fills the field.
    QString Password() const { return password_; }
    void SetPassword(const QString &password);

    void setVisible(bool visible) override;

    QLabel *Image1;
    QLabel *Label1;
    QLineEdit *PasswordEdit;
    QPushButton *OkBtn;
    QPushButton *CancelBtn;

private slots:
    void PasswordEditChange(const QString &text);

protected:
    void showEvent(QShowEvent *event) override;

private:
    QString password_;
};

// Fixed-size frame without system-menu buttons, sans-serif 11 px, centred on
// the screen when shown: shared by both password windows.
void SetUpPasswordWindowFrame(QDialog &dialog);
void CentreOnScreen(QDialog &dialog);
