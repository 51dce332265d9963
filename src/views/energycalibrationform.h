#pragma once
// The dialog "Калибровка": the operator fixes two calibration points,
// channel -> energy in whole keV, for a spectrum view. The view fills it with
// the channel and energy under the mouse and its last two points, shows it,
// and on OK takes the two points back and computes the calibration itself:
// the dialog only edits numbers.

#include <QDialog>

class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;

class TEnergyCalibrationForm : public QDialog {
    Q_OBJECT
public:
    explicit TEnergyCalibrationForm(QWidget *parent = nullptr);

    // Each stores the value and shows it as decimal text.
    void SetCurChannel(qint32 value);
    void SetCurEnergy(qint32 value);
    void SetChannel1(qint32 value);
    void SetEnergy1(qint32 value);
    void SetChannel2(qint32 value);
    void SetEnergy2(qint32 value);

    qint32 CurChannel = 0;
    qint32 CurEnergy = 0;
    qint32 Channel1 = 0;
    qint32 Energy1 = 0;
    qint32 Channel2 = 0;
    qint32 Energy2 = 0;

    QLabel *Label1;
    QLabel *Label2;
    QLabel *Label3;
    QLabel *Label4;
    QLabel *Label5;
    QLabel *Label6;
    QLineEdit *ChannelEdit;
    QLineEdit *EnergyEdit;
    QPushButton *to1Btn;
    QPushButton *to2Btn;
    QLabel *ChannelPanel1;
    QLabel *ChannelPanel2;
    QLabel *EnergyPanel1;
    QLabel *EnergyPanel2;
    QFrame *Bevel1;
    QPushButton *OKBtn;
    QPushButton *CancelBtn;

public slots:
    // An empty edit means 0 (and stays empty); a decimal integer is taken;
    // anything else puts the last number back, undoing the keystroke.
    void ChannelEditChange();
    void EnergyEditChange();
    // Copy the pair in the edits into point 1 or point 2.
    void to1BtnClick();
    void to2BtnClick();

protected:
    void showEvent(QShowEvent *event) override;
};
