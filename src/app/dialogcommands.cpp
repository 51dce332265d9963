// The main window's commands that open a window: the line settings, the
// test-mode pause, the password and the About box.

#include "app/mainform.h"

#include "access/passwords.h"
#include "app/aboutform.h"
#include "app/delaytimewindow.h"
#include "app/displaytexts.h"
#include "app/privileges.h"
#include "app/programfiles.h"
#include "app/terminallistbox.h"
#include "base/cp1251.h"
#include "instrument/ormak.h"
#include "protocol/openprotocoldriver.h"
#include "serial/compropertiesdialog.h"
#include "ui/u8.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QSpinBox>

namespace {
constexpr const char *kPortUnavailable =
    "Выбранный последовательный порт недоступен. Попробуйте перенастроить программу.";
} // namespace

// The warning names the port and why it did not open, in words the operator
// can act on (the access level may hide the terminal page, which says so too).
void TMainForm::WarnPortUnavailable()
{
    const QByteArray why = SerialChannel->Failure().TerminalText();
    LogOnTerminal(why);
    QString text = u8(kPortUnavailable);
    if (!why.isEmpty())
        text += QStringLiteral("\n\n") + FromCp1251(why);
    Prompt().Warning(text);
}

void TMainForm::ReopenLineIfFailed()
{
    if (!SerialChannel)
        return;
    const bool failedUnder = SerialChannel->LineFailed();
    bool reopened = false;
    const bool ready = SerialChannel->ReopenIfFailed(&reopened);
    if (!reopened)
        return;
    const QString port = FromCp1251(SerialChannel->Settings().PortNumber);
    if (ready)
        LogOnTerminal(ToCp1251(failedUnder ? u8("Линия отказала; порт %1 открыт заново").arg(port)
                                           : u8("Порт %1 открыт").arg(port)));
    else
        LogOnTerminal(SerialChannel->Failure().TerminalText());
}

void TMainForm::ChooseDeviceNumber()
{
    if (archiveReadRunning_ || !SerialChannel)
        return;
    QDialog window(this);
    window.setObjectName(QStringLiteral("DeviceNumberWindow"));
    window.setWindowTitle(u8("Номер прибора"));
    auto *number = new QSpinBox(&window);
    number->setObjectName(QStringLiteral("DeviceNumberEdit"));
    number->setRange(1, 255);
    number->setValue(deviceNumber_);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &window);
    connect(buttons, &QDialogButtonBox::accepted, &window, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &window, &QDialog::reject);
    auto *layout = new QFormLayout(&window);
    layout->addRow(new QLabel(u8("Установки на одной линии различаются номером (1–255)."), &window));
    layout->addRow(u8("Номер прибора:"), number);
    layout->addRow(buttons);
    if (Prompt().Exec(window) != QDialog::Accepted)
        return;
    const int chosen = number->value();
    if (chosen < 1 || chosen > 255 || chosen == deviceNumber_)
        return;
    ApplyDeviceNumber(quint8(chosen));
    // Kept with the line settings, so that the next start talks to the same
    // installation; the window goes on with it either way.
    SerialChannel->Settings().DeviceNumber = quint8(chosen);
    const TComSettingsFile file = TComSettingsFile::Find();
    if (!file.Save(SerialChannel->Settings()))
        Prompt().Warning(u8("Номер прибора не сохранён в %1: он действует до выхода из программы").arg(file.SavePath));
}

void TMainForm::LogOnTerminal(const QByteArray &line)
{
    if (line.isEmpty())
        return;
    while (CommTerminalLB->LineCount() >= TOpenProtocolDriver::kTerminalLines)
        CommTerminalLB->DeleteFirstLine();
    CommTerminalLB->AppendLine(line);
}

void TMainForm::CmdSetupSerialPort()
{
    // The window names the file the settings come from and go to.
    const TComSettingsFile file = TComSettingsFile::Find();
    SerialSettingsEditor->Dialog().ShowSettingsFile(file);
    // Cancelled: the channel has put its settings back; the port is not touched.
    if (!SerialChannel->Configure(*SerialSettingsEditor))
        return;
    // Saved before the new settings are tried, so that settings which cannot
    // open a port are also the ones read at the next start.
    if (!file.Save(SerialChannel->Settings()))
        LogOnTerminal(ToCp1251(u8("Настройки канала не сохранены в %1").arg(file.SavePath)));
    SerialChannel->Close();
    if (!SerialChannel->Open())
        WarnPortUnavailable();
    ProtocolDriver->SetChannel(SerialChannel.get());
    Device->SetDriver(ProtocolDriver.get());
}

void TMainForm::SetDelayTimeWindow(TDelayTimeWindow *window)
{
    DelayTimeWindow_ = window;
}

TDelayTimeWindow *TMainForm::DelayTimeWindow()
{
    if (DelayTimeWindow_)
        return DelayTimeWindow_;
    if (!ownDelayTimeWindow_)
        ownDelayTimeWindow_ = std::make_unique<TDelayTimeWindow>();
    return ownDelayTimeWindow_.get();
}

void TMainForm::CmdSetTestModePause()
{
    TDelayTimeWindow *window = DelayTimeWindow();
    window->SetInterval(TestModePause);
    if (Prompt().Exec(*window) != QDialog::Accepted)
        return;
    // Anything but 1..255 keeps the pause as it was. A running poll goes on
    // at the new pace.
    const qint32 seconds = window->GetInterval();
    if (seconds == -1)
        return;
    SetTestModePause(seconds);
    SaveTestModePause();
}

void TMainForm::CmdEnterPassword()
{
    // A wrong password is reported by the password windows and changes nothing.
    QByteArray password, privilege;
    if (!Passwords || !Passwords->EnterPassword(password, privilege))
        return;
    ApplyPrivileges(privilege.isEmpty() ? QByteArray(kDefaultPrivileges) : privilege);
}

void TMainForm::CmdAbout()
{
    AboutForm->SetVersionNumber(u8(kProgramVersion));
    Prompt().Exec(*AboutForm);
}
