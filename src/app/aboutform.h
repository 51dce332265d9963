#pragma once
// The About box "О программе": the program's picture, name, platform and
// version, and an OK button.

#include <QDialog>

class QFrame;
class QLabel;
class QPushButton;

class TAboutForm : public QDialog {
    Q_OBJECT
public:
    explicit TAboutForm(QWidget *parent = nullptr);

    // The version shown: "Версия  " and the text.
    void SetVersionNumber(const QString &text);
    QString VersionNumber;

    QFrame *AboutPanel;
    QLabel *Image1;
    QLabel *Label1;
    QLabel *Label2;
    QLabel *VersionNumberLabel;
    QFrame *Bevel1;
    QPushButton *BitBtn1;

    // The picture stored with the program, decoded; null if it cannot be.
    static QImage Picture();

protected:
    void showEvent(QShowEvent *event) override;
};
