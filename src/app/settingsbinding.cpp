#include "app/settingsbinding.h"

#include "base/cp1251.h"
#include "base/textutils.h"
#include "instrument/ormak.h"

#include <cmath>
#include <limits>

namespace {

// Positions of the variables in the lists of TORMAK.
enum { cvDateTime, cvSerialN, cvDryContactIn, cvDryContactOut, cvDryContactThr, cvResource };
enum { avSirene, avIndicator };
enum { kvKoefficient, kvAlarm1, kvAlarm2, kvAlarm1On, kvAlarm2On, kvStatus, kvActivity, kvDurationTime };
enum { svSelfBackground };

QByteArray valueOf(const TOPVarList *list, int position)
{
    if (!list)
        return QByteArray();
    const TOPVarListItem *item = list->GetItem(position);
    return item ? item->Value : QByteArray();
}

void setValue(TOPVarList *list, int position, const QByteArray &value)
{
    if (!list)
        return;
    if (TOPVarListItem *item = list->GetItem(position))
        item->Value = value;
}

QByteArray trimmed(const QByteArray &text)
{
    return TrimControls(text);
}

QByteArray twoDigits(int n)
{
    return PadLeftInt(n, "0", 2);
}

QByteArray datePart(const QDate &date)
{
    return twoDigits(date.day()) + '/' + twoDigits(date.month()) + '/' + PadLeftInt(date.year(), "0", 4);
}

QByteArray timePart(const QTime &time)
{
    return twoDigits(time.hour()) + '.' + twoDigits(time.minute()) + '.' + twoDigits(time.second());
}

// The whole number in characters from..from+length-1 (1-based) of a part;
// a part too short gives what there is, which then must still be a number.
std::optional<int> numberAt(const QByteArray &part, int from, int length)
{
    const QByteArray piece = part.mid(from - 1, length);
    bool ok = false;
    const qint64 n = StrToIntDef(piece, 0, &ok);
    if (!ok || n < std::numeric_limits<int>::min() || n > std::numeric_limits<int>::max())
        return std::nullopt;
    return int(n);
}

// The date and the time parts of a clock text, as the replace routines see them.
bool splitClockText(const QByteArray &text, QByteArray &date, QByteArray &time)
{
    if (!text.contains(' '))
        return false;
    date = FirstWord(text);
    QByteArray rest = text;
    DropFirstWord(rest);
    time = FirstWord(rest);
    return true;
}

} // namespace

// --- clock text -------------------------------------------------------------------

QByteArray FormatDeviceDateTime(const QDate &date, const QTime &time)
{
    return datePart(date) + ' ' + timePart(time);
}

QByteArray ReplaceDatePart(const QByteArray &text, const QDate &date)
{
    QByteArray oldDate, oldTime;
    if (!splitClockText(text, oldDate, oldTime))
        return text;
    return datePart(date) + ' ' + oldTime;
}

QByteArray ReplaceTimePart(const QByteArray &text, const QTime &time)
{
    QByteArray oldDate, oldTime;
    if (!splitClockText(text, oldDate, oldTime))
        return text;
    return oldDate + ' ' + timePart(time);
}

TDeviceDateTime ParseDeviceDateTime(const QByteArray &text)
{
    TDeviceDateTime result;
    if (!text.contains(' '))
        return result;
    const QByteArray date = FirstWord(text);
    QByteArray time = text;
    DropFirstWord(time);

    const auto day = numberAt(date, 1, 2), month = numberAt(date, 4, 2), year = numberAt(date, 7, 4);
    if (!day || !month || !year)
        return result;
    const QDate d(*year, *month, *day);
    if (!d.isValid())
        return result;
    result.Date = d;

    const auto hours = numberAt(time, 1, 2), minutes = numberAt(time, 4, 2), seconds = numberAt(time, 7, 2);
    if (!hours || !minutes || !seconds)
        return result;
    const QTime t(*hours, *minutes, *seconds);
    if (t.isValid())
        result.Time = t;
    return result;
}

// --- panels -------------------------------------------------------------------------

int OnOffState(const QByteArray &flag)
{
    return trimmed(flag) == "1" ? osOn : osOff;
}

TRgb OnOffColour(int state)
{
    return state == osOn ? TRgb{255, 0, 0} : TRgb{128, 128, 128};
}

TRgb StatusColour(int state)
{
    switch (state) {
    case ssFault:
        return {255, 0, 0};
    case ssStopped:
        return {0, 0, 255};
    default: // sound, running
        return {0, 255, 0};
    }
}

std::array<int, 4> StatusPanelStates(const QByteArray &status)
{
    bool ok = false;
    const qint64 bits = StrToIntDef(trimmed(status), 0, &ok);
    if (!ok)
        return {ssSound, ssSound, ssSound, ssSound};
    auto fault = [bits](qint64 bit) { return (bits & bit) ? ssFault : ssSound; };
    return {fault(0x10), (bits & 0x20) ? ssStopped : ssRunning, fault(0x40), fault(0x80)};
}

int LampState(const QByteArray &indicator)
{
    const QByteArray t = trimmed(indicator);
    if (t == "1")
        return lsYellow;
    if (t == "2")
        return lsRed;
    return lsGreen;
}

std::array<TRgb, 3> LampColours(int state)
{
    const TRgb maroon{128, 0, 0}, red{255, 0, 0}, olive{128, 128, 0}, yellow{255, 255, 0},
        darkGreen{0, 128, 0}, lime{0, 255, 0};
    return {state == lsRed ? red : maroon, state == lsYellow ? yellow : olive,
            state != lsRed && state != lsYellow ? lime : darkGreen};
}

int LampRadioButton(int state)
{
    switch (state) {
    case lsRed:
        return 0;
    case lsYellow:
        return 1;
    default:
        return 2;
    }
}

int DryContactItem(const QByteArray &value)
{
    const QByteArray t = trimmed(value);
    if (t == "1")
        return 0;
    if (t == "0")
        return 1;
    return -1;
}

bool CounterDetached(const TORMAK &device)
{
    return trimmed(valueOf(device.CounterVars.get(), kvKoefficient)) == "0";
}

// --- groups read -------------------------------------------------------------------

std::optional<TSettingsGroup> SettingsGroupOf(TCommand command)
{
    switch (command) {
    case cmdReadCommon:
    case cmdWriteCommon:
    case cmdWriteDevice:
    case cmdWriteAlarmUnit:
        return sgCommon;
    case cmdReadCounter:
    case cmdWriteCounter:
        return sgCounter;
    case cmdReadService:
    case cmdWriteService:
        return sgService;
    default:
        return std::nullopt;
    }
}

std::optional<TSettingsGroup> SettingsGroupOfSubPage(int subPage)
{
    switch (subPage) {
    case spCommon:
        return sgCommon;
    case spCounter:
        return sgCounter;
    case spService:
        return sgService;
    default:
        return std::nullopt;
    }
}

bool TReadGroups::MayWrite(TCommand command) const
{
    const std::optional<TSettingsGroup> group = SettingsGroupOf(command);
    return !group || !IsWriteCommand(command) || IsRead(*group);
}

QByteArray DroppedWriteLine(TCommand command, bool synchronisation)
{
    static const char *const subPages[] = {"Общее", "Измерение", "Служебное"};
    const std::optional<TSettingsGroup> group = SettingsGroupOf(command);
    const QString name = QString::fromUtf8(subPages[group ? *group : sgCommon]);
    const QString text = synchronisation
        ? QString::fromUtf8("Синхронизация не выполнена: сначала прочитайте \"%1\" из прибора").arg(name)
        : QString::fromUtf8("Запись не выполнена: значения \"%1\" ещё не прочитаны из прибора").arg(name);
    return ToCp1251(text);
}

// --- display ------------------------------------------------------------------------

std::optional<TCommonDisplay> CommonDisplay(const TORMAK *device)
{
    if (!device || !device->CommonVars || !device->AlarmUnitVars)
        return std::nullopt;
    const TOPVarList *common = device->CommonVars.get();
    const TOPVarList *alarm = device->AlarmUnitVars.get();
    TCommonDisplay d;
    d.SerialNumber = valueOf(common, cvSerialN);
    d.Resource = valueOf(common, cvResource);
    d.Threshold = valueOf(common, cvDryContactThr);
    d.DryContactIn = DryContactItem(valueOf(common, cvDryContactIn));
    d.DryContactOut = DryContactItem(valueOf(common, cvDryContactOut));
    d.Siren = OnOffState(valueOf(alarm, avSirene));
    d.Lamp = LampState(valueOf(alarm, avIndicator));
    d.DateTime = ParseDeviceDateTime(valueOf(common, cvDateTime));
    return d;
}

std::optional<TCounterDisplay> CounterDisplay(const TORMAK *device)
{
    if (!device || !device->CounterVars)
        return std::nullopt;
    const TOPVarList *counter = device->CounterVars.get();
    TCounterDisplay d;
    d.Koefficient = valueOf(counter, kvKoefficient);
    d.Alarm1 = valueOf(counter, kvAlarm1);
    d.Alarm2 = valueOf(counter, kvAlarm2);
    d.Alarm1On = OnOffState(valueOf(counter, kvAlarm1On));
    d.Alarm2On = OnOffState(valueOf(counter, kvAlarm2On));
    d.Status = StatusPanelStates(valueOf(counter, kvStatus));
    d.Activity = valueOf(counter, kvActivity);
    d.DurationTime = valueOf(counter, kvDurationTime);
    return d;
}

std::optional<TServiceDisplay> ServiceDisplay(const TORMAK *device)
{
    if (!device || !device->ServiceVars)
        return std::nullopt;
    TServiceDisplay d;
    for (int i = 0; i < int(d.Values.size()); ++i)
        d.Values[i] = valueOf(device->ServiceVars.get(), i);
    return d;
}

// --- edits --------------------------------------------------------------------------

QByteArray SelfBackgroundFromMeasured(const QByteArray &durationTime, const QByteArray &koefficient)
{
    bool durationOk = false, factorOk = false;
    const long double duration = StrToFloatDot(trimmed(durationTime), &durationOk);
    const long double factor = StrToFloatDot(trimmed(koefficient), &factorOk);
    const long double x = durationOk && factorOk ? duration * factor : 0;
    return FloatToStrDot(std::isfinite(x) ? x : 0);
}

TEditResult ApplySettingsEdit(TORMAK &device, const QByteArray &sender, const TControlInput &input)
{
    TOPVarList *common = device.CommonVars.get();
    TOPVarList *alarm = device.AlarmUnitVars.get();
    TOPVarList *counter = device.CounterVars.get();
    TOPVarList *service = device.ServiceVars.get();
    TEditResult result;

    // The lamp radio buttons write only a change of the lamp.
    static const std::pair<const char *, const char *> lamps[] = {
        {"BASIndRB1", "2"}, {"BASIndRB2", "1"}, {"BASIndRB3", "0"}};
    for (const auto &[name, value] : lamps) {
        if (sender != name)
            continue;
        if (trimmed(valueOf(alarm, avIndicator)) != value) {
            setValue(alarm, avIndicator, value);
            result.Write = cmdWriteAlarmUnit;
        }
        return result;
    }

    // Edits stored as typed, written with their group later.
    static const std::pair<const char *, int> counterEdits[] = {
        {"Edit11", kvKoefficient}, {"Edit13", kvAlarm1}, {"Edit16", kvAlarm2}, {"Edit1DT", kvDurationTime}};
    for (const auto &[name, position] : counterEdits)
        if (sender == name) {
            setValue(counter, position, input.Text);
            return result;
        }
    static const char *const serviceEdits[] = {"SelfFonEdit", "MngEdit1", "MngEdit2",
                                               "MngEdit3",    "MngEdit4", "MngEdit5"};
    for (int i = 0; i < 6; ++i)
        if (sender == serviceEdits[i]) {
            setValue(service, i, input.Text);
            return result;
        }

    if (sender == "SireneBtn") {
        setValue(alarm, avSirene, trimmed(valueOf(alarm, avSirene)) == "0" ? "1" : "0");
        result.Write = cmdWriteAlarmUnit;
    } else if (sender == "DryContactIN") {
        result.ShowCommon = true;
    } else if (sender == "DryContactOUT") {
        setValue(common, cvDryContactOut, input.FirstItemSelected ? "1" : "0");
        result.Write = cmdWriteDevice;
    } else if (sender == "DCLevelEdit") {
        setValue(common, cvDryContactThr, input.Text);
    } else if (sender == "DevDate" || sender == "DevTime") {
        // An empty clock text is first built whole from both pickers.
        QByteArray text = valueOf(common, cvDateTime);
        if (trimmed(text).isEmpty())
            text = FormatDeviceDateTime(input.Date, input.Time);
        text = sender == "DevDate" ? ReplaceDatePart(text, input.Date) : ReplaceTimePart(text, input.Time);
        setValue(common, cvDateTime, text);
    } else if (sender == "SynchroBtn") {
        setValue(common, cvDateTime, FormatDeviceDateTime(input.Date, input.Time));
        result.Write = cmdWriteDevice;
        result.ShowCommon = true;
    } else if (sender == "CopyToSelfFonBtn") {
        const QByteArray text =
            SelfBackgroundFromMeasured(valueOf(counter, kvDurationTime), valueOf(counter, kvKoefficient));
        setValue(service, svSelfBackground, text);
        result.SelfBackgroundText = text;
        result.ShowService = true;
    }
    return result;
}
