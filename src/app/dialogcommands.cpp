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

namespace {
constexpr const char *kPortUnavailable =
    "Выбранный последовательный порт недоступен. Попробуйте перенастроить программу.";
} // namespace

// The warning stays the same whatever the cause; the terminal page says
// which port it was and why, in words the operator can act on.
void TMainForm::WarnPortUnavailable()
{
    LogOnTerminal(SerialChannel->Failure().TerminalText());
    Prompt().Warning(u8(kPortUnavailable));
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
