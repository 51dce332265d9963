#pragma once
// The window "Пароль" that says the password was wrong.

#include <QDialog>

class QLabel;
class QPushButton;

class TPasswordIsIncorrectForm : public QDialog {
    Q_OBJECT
public:
    explicit TPasswordIsIncorrectForm(QWidget *parent = nullptr);

    QLabel *Image1;
    QLabel *Label1;
    QPushButton *OkBtn;

protected:
    void showEvent(QShowEvent *event) override;
};
