// The main window's commands of the settings sub-pages and of the test mode:
// reading and writing a sub-page's group of variables, and the poll of the
// measured activity.

#include "app/mainform.h"

#include "app/displaytexts.h"
#include "app/settingsbinding.h"
#include "app/terminallistbox.h"
#include "app/waitwindow.h"
#include "instrument/ormak.h"
#include "protocol/openprotocoldriver.h"
#include "ui/u8.h"

#include <QLabel>
#include <QTabWidget>
#include <QTimer>

namespace {
constexpr const char *kCounterDetached =
    "Счетчик не подключен к БОП. Просмотр и редактирование его параметров невозможны.";

// The wait window's message while a settings command runs.
const char *waitMessage(TCommand command)
{
    switch (command) {
    case cmdReadCommon:
        return "загрузка общих параметров VIVUVO";
    case cmdReadCounter:
        return "загрузка параметров счетчика";
    case cmdReadService:
        return "загрузка параметров VIVUVO";
    case cmdWriteCommon:
        return "запись общих параметров VIVUVO";
    case cmdWriteCounter:
        return "запись параметров счетчика";
    default: // the device, the alarm unit, the service values
        return "запись параметров VIVUVO";
    }
}
} // namespace

void TMainForm::CmdReadSettingsPage(TCommand command)
{
    ExchangeState = esReading;
    WaitWindow->ShowWait(u8(waitMessage(command)));
    bool ok = false;
    if (Device) {
        if (command == cmdReadCommon)
            ok = Device->ReadCommonParams();
        else if (command == cmdReadCounter)
            ok = Device->ReadCounterParams();
        else
            ok = Device->ReadServiceParams();
    }
    DispatchButton->setEnabled(ok);
    if (ok)
        readGroups_.MarkRead(*SettingsGroupOf(command));
    WaitWindow->hide();
    // Shown whatever the read gave: what failed keeps its old value.
    if (command == cmdReadCommon)
        ShowCommonParams();
    else if (command == cmdReadService)
        ShowServiceParams();
    else if (Device && CounterDetached(*Device))
        ReportCounterDetached();
    else
        ShowCounterParams();
    ExchangeState = esIdle;
}

void TMainForm::ReportCounterDetached()
{
    Prompt().Information(u8(kCounterDetached));
    // "Общее" is shown only where the operator may see it. Where it may not,
    // the sub-page stays and nothing more is read: reading "Измерение" again
    // would only bring this notice back, over and over.
    if (!Page1PageControl->isTabVisible(spCommon - 1))
        return;
    {
        ProgramChange change(this);
        Page1PageControl->setCurrentIndex(spCommon - 1);
    }
    Page1PageControlChange();
}

void TMainForm::CmdWriteSettings(TCommand command)
{
    if (command == cmdWriteCounter && Device && CounterDetached(*Device)) {
        ReportCounterDetached();
        return;
    }
    // A write requested while another exchange runs is dropped.
    if (ExchangeState != esIdle)
        return;
    if (!readGroups_.MayWrite(command)) {
        LogTerminalLine(DroppedWriteLine(command));
        return;
    }
    ExchangeState = esWriting;
    WaitWindow->ShowWait(u8(waitMessage(command)));
    // A failed write gives no message: the terminal page shows it.
    if (Device) {
        switch (command) {
        case cmdWriteCommon:
            Device->WriteCommonParams();
            break;
        case cmdWriteDevice:
            Device->WriteDeviceParams();
            break;
        case cmdWriteAlarmUnit:
            Device->WriteAlarmUnitParams();
            break;
        case cmdWriteCounter:
            Device->WriteCounterParams();
            break;
        default:
            Device->WriteServiceParams();
            break;
        }
    }
    WaitWindow->hide();
    if (command == cmdWriteCounter)
        ShowCounterParams();
    else if (command == cmdWriteService)
        ShowServiceParams();
    else
        ShowCommonParams();
    ExchangeState = esIdle;
}

void TMainForm::EnableDispatchForShownSubPage()
{
    const std::optional<TSettingsGroup> group = SettingsGroupOfSubPage(ActivePages().SettingsSubPage);
    DispatchButton->setEnabled(!TestMode && group && readGroups_.IsRead(*group));
}

void TMainForm::LogTerminalLine(const QByteArray &line)
{
    TerminalSink &terminal = *CommTerminalLB;
    while (terminal.LineCount() >= TOpenProtocolDriver::kTerminalLines)
        terminal.DeleteFirstLine();
    terminal.AppendLine(line);
}

void TMainForm::SetTestMode(bool on)
{
    if (on != TestMode)
        ExecuteCommand(cmdToggleTestMode);
}

void TMainForm::SetTestModePause(qint32 seconds)
{
    TestModePause = seconds;
    TestModeRequestTimer->setInterval(TestModeTimerInterval(seconds));
}

void TMainForm::LoadTestModePause()
{
    SetTestModePause(LoadTestModePauseFile(QLatin1String(kTestModePauseFile)));
}

void TMainForm::SaveTestModePause()
{
    // A failed write only means the pause lasts until the program ends.
    SaveTestModePauseFile(QLatin1String(kTestModePauseFile), TestModePause);
}

void TMainForm::CmdToggleTestMode()
{
    TestMode = !TestMode;
    if (TestMode) {
        ExecuteCommand(cmdReadCounter);
        DispatchButton->setEnabled(false);
        RequestButton->setEnabled(false);
        CommonModePanel->setText(u8(kModeTexts[1]));
        if (Device)
            Device->ResetTestAveraging();
        ExecuteCommand(cmdTestPoll);
        TestModeRequestTimer->start();
    } else {
        TestModeRequestTimer->stop();
        RequestButton->setEnabled(true);
        DispatchButton->setEnabled(true);
        CommonModePanel->setText(u8(kModeTexts[0]));
        RequestButtonClick();
    }
}

void TMainForm::CmdTestPoll()
{
    ExchangeState = esReading;
    // The reading's result is not looked at: a failed poll shows the mean so far.
    if (Device) {
        Device->ReadTestValue();
        Device->CounterVars->AssignValues(*Device->TestVars);
    }
    ShowCounterParams();
    ExchangeState = esIdle;
}
