// The main window's commands of the settings sub-pages and of the test mode:
// reading and writing a sub-page's group of variables, and the poll of the
// measured activity.

#include "app/mainform.h"

#include "app/displaytexts.h"
#include "app/settingsbinding.h"
#include "app/terminallistbox.h"
#include "app/waitwindow.h"
#include "base/cp1251.h"
#include "ui/radiogroup.h"
#include "instrument/ormak.h"
#include "protocol/openprotocoldriver.h"
#include "ui/u8.h"

#include <QDateEdit>
#include <QGraphicsColorizeEffect>
#include <QLineEdit>
#include <QTimeEdit>
#include <QLabel>
#include <QTime>
#include <vector>
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
        Device->FailedVariables.clear();
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
    if (ok && command == cmdReadCommon) {
        if (const TOPVarListItem *serial = Device->CommonVars->GetItem(Device->CommonVars->IndexOf("SERIALN", ""))) {
            lastSerial_ = serial->Value.trimmed();
            lastSerialDevice_ = deviceNumber_;
        }
    }
    MarkReadResult(*SettingsGroupOf(command), ok);
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
    bool ok = false;
    if (Device) {
        Device->FailedVariables.clear();
        switch (command) {
        case cmdWriteCommon:
            ok = Device->WriteCommonParams();
            break;
        case cmdWriteDevice:
            ok = Device->WriteDeviceParams();
            break;
        case cmdWriteAlarmUnit:
            ok = Device->WriteAlarmUnitParams();
            break;
        case cmdWriteCounter:
            ok = Device->WriteCounterParams();
            break;
        default:
            ok = Device->WriteServiceParams();
            break;
        }
    }
    WaitWindow->hide();
    // The values typed stay in the lists and the fields, so that the write
    // can be tried again; the operator must not take them for written.
    if (!ok) {
        QStringList names;
        if (Device)
            for (const QByteArray &name : Device->FailedVariables)
                names << FromCp1251(name);
        Prompt().Warning(names.isEmpty() ? u8("Запись не выполнена: нет связи с прибором")
                                         : u8("Запись не выполнена: нет ответа на %1").arg(names.join(u8(", "))));
    }
    if (command == cmdWriteCounter)
        ShowCounterParams();
    else if (command == cmdWriteService)
        ShowServiceParams();
    else
        ShowCommonParams();
    ExchangeState = esIdle;
}

namespace {
// Values that may be old: greyed, with the reason as their tooltip.
void markNotCurrent(QWidget *w, bool notCurrent, const QString &why)
{
    if (w->property("notCurrent").toBool() == notCurrent && w->toolTip() == (notCurrent ? why : QString()))
        return;
    w->setProperty("notCurrent", notCurrent);
    w->setToolTip(notCurrent ? why : QString());
    if (!notCurrent) {
        w->setGraphicsEffect(nullptr);
        return;
    }
    auto *grey = new QGraphicsColorizeEffect(w);
    grey->setColor(QColor(160, 160, 160));
    grey->setStrength(0.85);
    w->setGraphicsEffect(grey);
}

const char *const kSubPageNames[] = {"Общее", "Измерение", "Служебное"};
} // namespace

void TMainForm::MarkReadResult(TSettingsGroup group, bool ok)
{
    staleGroups_[group] = !ok;
    ShowCurrentMarks();
}

void TMainForm::ShowCurrentMarks()
{
    const QString stale = u8("Чтение не удалось: значение может быть старым");
    const std::array<std::vector<QWidget *>, 3> groups = {
        std::vector<QWidget *>{NumPanel, ResourcePanel, SireneOnOffPanel, RedPanel, YellowPanel, GreenPanel,
                               DryContactIN, DryContactOUT, DCLevelEdit, DevDate, DevTime},
        std::vector<QWidget *>{Edit11, StatusPanel1, StatusPanel2, StatusPanel3, StatusPanel4, Alarm1On1, Alarm2On1,
                               Edit13, Edit16, ValuePanel1, Edit1DT},
        std::vector<QWidget *>{SelfFonEdit, MngEdit1, MngEdit2, MngEdit3, MngEdit4, MngEdit5}};
    for (int g = 0; g < 3; ++g)
        for (QWidget *w : groups[size_t(g)])
            markNotCurrent(w, staleGroups_[size_t(g)], stale);
    // The test mode polls the activity alone: the flags and states beside it
    // stay as the last full read left them.
    if (TestMode && !staleGroups_[sgCounter])
        for (QWidget *w : {Alarm1On1, Alarm2On1, StatusPanel1, StatusPanel2, StatusPanel3, StatusPanel4})
            markNotCurrent(w, true,
                           u8("В тестовом режиме не опрашивается: обновляется по «Прочитать из прибора»"));

    QStringList pages;
    for (int g = 0; g < 3; ++g)
        if (staleGroups_[size_t(g)])
            pages << u8("«%1»").arg(u8(kSubPageNames[g]));
    ReadNotePanel->setText(pages.isEmpty() ? QString()
                                           : u8("Чтение не удалось, значения не текущие: %1").arg(pages.join(u8(", "))));
    ReadNotePanel->setVisible(!pages.isEmpty() && ActivePages().Page == pgSettings);
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
        ShowCurrentMarks();
        ExecuteCommand(cmdTestPoll);
        TestModeRequestTimer->start();
    } else {
        TestModeRequestTimer->stop();
        PollTimePanel->clear();
        ShowCurrentMarks();
        RequestButton->setEnabled(true);
        DispatchButton->setEnabled(true);
        CommonModePanel->setText(u8(kModeTexts[0]));
        RequestButtonClick();
    }
}

void TMainForm::CmdTestPoll()
{
    ExchangeState = esReading;
    // A failed poll shows the mean so far; the time beside it stays that of
    // the last poll answered, so a poll that stopped answering shows.
    if (Device) {
        if (Device->ReadTestValue())
            PollTimePanel->setText(u8("ответ %1").arg(QTime::currentTime().toString(QStringLiteral("HH:mm:ss"))));
        Device->CounterVars->AssignValues(*Device->TestVars);
    }
    ShowCounterParams();
    ExchangeState = esIdle;
}
