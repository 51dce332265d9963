#pragma once
// The pause dialog "Интервал": the seconds between two polls of the test
// mode, 1 to 255, in a three-digit field.

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

class TDelayTimeWindow : public QDialog {
    Q_OBJECT
public:
    explicit TDelayTimeWindow(QWidget *parent = nullptr);

    // Shows the number, or an empty field for one outside 1..255.
    void SetInterval(qint32 number);
    // The number in the field, or -1 when it is no whole number from 1 to 255.
    qint32 GetInterval() const;

    QLabel *NumLabel;
    QLineEdit *NumME;
    QPushButton *OkBtn;
    QPushButton *CancelBtn;

public slots:
    // Whenever the dialog becomes active: the field has the focus and its
    // whole text is selected, so that typing replaces it.
    void FormActivate();

    // After the dialog's own focus handling, which would move the cursor
    // to the field's first blank.
    void setVisible(bool visible) override;

protected:
    void showEvent(QShowEvent *event) override;
    void changeEvent(QEvent *event) override;
};
