#pragma once
// The settings window "Параметры внешнего канала": seven editable combo boxes
// over a TComSettings, OK and Cancel. The window checks nothing: whatever a
// box holds when OK is pressed becomes the setting. It is created once and
// hidden between uses.

#include "serial/rs232channel.h"

#include <QDialog>
#include <QPointer>

class QComboBox;
class QLabel;
class QPushButton;
class OperatorPrompt;

class TComPropertiesDialog : public QDialog {
    Q_OBJECT
public:
    // Starts with the window defaults in the boxes.
    explicit TComPropertiesDialog(QWidget *parent = nullptr);

    // Puts the seven texts of the settings into the boxes.
    void LoadFrom(const TComSettings &settings);
    // Takes the seven box texts into the settings; a box left as it was
    // keeps its setting's bytes exactly. The write time-outs have no box.
    void StoreTo(TComSettings &settings) const;

    QComboBox *PortNumCBox;
    QComboBox *SpeedCBox;
    QComboBox *StopBitCBox;
    QComboBox *ParitetCBox;
    QComboBox *PeriodCBox;
    QComboBox *DTRcontrolCBox;
    QComboBox *RTScontrolCBox;
    QPushButton *btOK;
    QPushButton *btCancel;
    // Below the buttons: the file the settings are read from and saved to.
    QLabel *SettingsFileLabel;

    // Names the settings file under the buttons.
    void ShowSettingsFile(const TComSettingsFile &file);
    // "Файл настроек: PATH", or where the settings were read and where they
    // will be saved when those differ.
    static QString SettingsFileText(const TComSettingsFile &file);

    // "COM1".."COM4", then the serial ports found on this machine.
    static QStringList PortNames();

protected:
    void showEvent(QShowEvent *event) override;

private:
    QComboBox *AddBox(const char *name, const QList<QByteArray> &items, int x, int y, int w);
};

// The channel's settings command in the window: shows the dialog through the
// prompt (so that tests can play the operator) and takes the boxes on OK.
// On anything else the boxes are put back as they were before.
class TComPropertiesEditor : public SettingsEditor {
public:
    explicit TComPropertiesEditor(OperatorPrompt &prompt, QWidget *parent = nullptr);
    ~TComPropertiesEditor() override;

    bool Edit(TComSettings &settings) override;
    TComPropertiesDialog &Dialog() { return *dialog_; }

private:
    OperatorPrompt &prompt_;
    // Owned here, or by the parent window when one was given and goes first.
    QPointer<TComPropertiesDialog> dialog_;
};
