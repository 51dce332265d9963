#pragma once
// The rules between the installation's settings lists (CommonVars,
// AlarmUnitVars, CounterVars, ServiceVars of TORMAK) and the controls of the
// three settings sub-pages "Общее", "Измерение" and "Служебное". Plain code:
// the window only copies what these give into its widgets, and hands every
// operated control's value to ApplySettingsEdit.
//
// Values are code page 1251 texts. "Trimmed" means blanks and control
// characters removed at both ends; comparisons are exact.

#include "app/commands.h"

#include <QByteArray>
#include <QDate>
#include <QTime>
#include <array>
#include <optional>

class TORMAK;

// A panel colour by its red, green and blue components.
struct TRgb {
    int Red = 0;
    int Green = 0;
    int Blue = 0;
    bool operator==(const TRgb &) const = default;
};

// --- the installation's clock text: "dd/mm/yyyy hh.mm.ss" ---------------------

// Day, month, year of the date and hours, minutes, seconds of the time
// (milliseconds dropped), each padded with "0" on the left.
QByteArray FormatDeviceDateTime(const QDate &date, const QTime &time);
// A text without any blank comes back unchanged. Otherwise the first word is
// the date part and the next word the time part; the result is the new part,
// one blank and the kept part. Anything after the time part is dropped.
QByteArray ReplaceDatePart(const QByteArray &text, const QDate &date);
QByteArray ReplaceTimePart(const QByteArray &text, const QTime &time);

// What the date and time pickers take from a clock text. A text without a
// blank gives neither. The date comes from characters 1-2, 4-5 and 7-10 of
// the first word, the time from characters 1-2, 4-5 and 7-8 of the rest; a
// part that is no number or no valid date or time stops there, so a bad date
// also leaves the time out.
struct TDeviceDateTime {
    std::optional<QDate> Date;
    std::optional<QTime> Time;
};
TDeviceDateTime ParseDeviceDateTime(const QByteArray &text);

// --- panels ----------------------------------------------------------------------

// On/off panels: 0 on (red, "ВКЛ"), 1 off (grey, "ВЫКЛ"). A flag is on only
// when it is "1" after trimming.
enum TOnOffState { osOn = 0, osOff = 1 };
int OnOffState(const QByteArray &flag);
TRgb OnOffColour(int state);

// State panels: 0 sound (lime, "OK"), 1 fault (red, "НЕИСПРАВЕН"),
// 2 running (lime, "ВКЛ"), 3 stopped (blue, "ВЫКЛ").
enum TStatusState { ssSound = 0, ssFault = 1, ssRunning = 2, ssStopped = 3 };
TRgb StatusColour(int state);
// The four state panels of "Измерение" for a STATUS value (a decimal
// integer): bit 0x10 the flow indicator (sound/fault), 0x20 the pumping
// (running/stopped), 0x40 the electrometer and 0x80 the silica gel cartridge
// (sound/fault). A value that is no integer shows all four sound.
std::array<int, 4> StatusPanelStates(const QByteArray &status);

// The alarm unit's lamp: 0 green, 1 yellow, 2 red; anything but "0", "1" or
// "2" (trimmed) shows green.
enum TLampState { lsGreen = 0, lsYellow = 1, lsRed = 2 };
int LampState(const QByteArray &indicator);
// The colours of RedPanel, YellowPanel and GreenPanel: the lit lamp bright,
// the others dark.
std::array<TRgb, 3> LampColours(int state);
// The radio button of a lamp state: 0 "Красный" (BASIndRB1) for red, 1 for
// yellow, 2 "Зеленый" (BASIndRB3) for green.
int LampRadioButton(int state);

// The item of a dry-contact radio group: "1" the first ("Вкл"), "0" the
// second ("Выкл"), anything else none (-1).
int DryContactItem(const QByteArray &value);

// KOEFFICIENT "0" (trimmed) means that no counter is connected to the unit.
bool CounterDetached(const TORMAK &device);

// --- which groups hold the installation's values ------------------------------

// The three groups a sub-page reads and writes: "Общее" (CommonVars with
// AlarmUnitVars), "Измерение" (CounterVars), "Служебное" (ServiceVars).
enum TSettingsGroup { sgCommon = 0, sgCounter = 1, sgService = 2 };

// The group a settings read or write command moves (the device, the alarm
// unit and the clock belong to "Общее"); nothing for other commands.
std::optional<TSettingsGroup> SettingsGroupOf(TCommand command);
// The group of a settings sub-page (1..3); nothing for 0 or out of range.
std::optional<TSettingsGroup> SettingsGroupOfSubPage(int subPage);

// Until a read of a group has succeeded its lists hold blanks, not the
// installation's values: a write would send those blanks as new settings, so
// writes of such a group are dropped. A group stays read for the rest of the
// run (a later failed read keeps what the earlier one brought).
class TReadGroups {
public:
    void MarkRead(TSettingsGroup group) { read_[group] = true; }
    bool IsRead(TSettingsGroup group) const { return read_[group]; }
    // Writes of any other command are not this class's business.
    bool MayWrite(TCommand command) const;

private:
    std::array<bool, 3> read_{};
};

// The terminal line that says why a write of an unread group was dropped;
// the clock synchronisation says so in its own words. Code page 1251.
QByteArray DroppedWriteLine(TCommand command, bool synchronisation = false);

// --- what the three display routines put into the controls -------------------

struct TCommonDisplay {
    QByteArray SerialNumber; // NumPanel
    QByteArray Resource;     // ResourcePanel
    QByteArray Threshold;    // DCLevelEdit
    int DryContactIn = -1;   // item of DryContactIN, -1 none
    int DryContactOut = -1;  // item of DryContactOUT
    int Siren = osOff;       // SireneOnOffPanel
    int Lamp = lsGreen;      // the lamps and their radio button
    TDeviceDateTime DateTime; // DevDate, DevTime; a missing part leaves its picker
};

struct TCounterDisplay {
    QByteArray Koefficient; // Edit11
    QByteArray Alarm1;      // Edit13
    QByteArray Alarm2;      // Edit16
    int Alarm1On = osOff;   // Alarm1On1
    int Alarm2On = osOff;   // Alarm2On1
    std::array<int, 4> Status{}; // StatusPanel1..4
    QByteArray Activity;    // ValuePanel1
    QByteArray DurationTime; // Edit1DT
};

struct TServiceDisplay {
    // SelfFonEdit, MngEdit1..MngEdit5
    std::array<QByteArray, 6> Values;
};

// Nothing without a device. Items missing from a list count as empty values.
std::optional<TCommonDisplay> CommonDisplay(const TORMAK *device);
std::optional<TCounterDisplay> CounterDisplay(const TORMAK *device);
std::optional<TServiceDisplay> ServiceDisplay(const TORMAK *device);

// --- the change handler's table -------------------------------------------------

// The value an operated control hands over: the text of an edit, whether a
// radio group has its first item selected, the date and time of the two
// pickers (both, whichever of them changed), or the computer's clock for the
// synchronisation button.
struct TControlInput {
    QByteArray Text;
    bool FirstItemSelected = false;
    QDate Date;
    QTime Time;
};

// What the window does once the edit is in the lists.
struct TEditResult {
    std::optional<TCommand> Write; // a write to run at once
    bool ShowCommon = false;       // then redisplay "Общее"
    bool ShowService = false;      // then redisplay "Служебное"
    // "Из измеренного..": the text SelfFonEdit is to show (also stored as
    // SELFBACKGROUND already).
    std::optional<QByteArray> SelfBackgroundText;
    bool operator==(const TEditResult &) const = default;
};

// Puts an operated control's value into its list item, by the control's
// name. The siren, the lamps, the output contact and the clock
// synchronisation ask for a write at once; the other edits wait for
// "Записать в прибор". The input contact is not editable: it only asks for
// "Общее" to be shown again. An unknown name changes nothing.
TEditResult ApplySettingsEdit(TORMAK &device, const QByteArray &sender, const TControlInput &input);

// "Из измеренного..": DURATIONTIME x KOEFFICIENT (both trimmed) as a text,
// or "0" when either is no number or the product is not finite.
QByteArray SelfBackgroundFromMeasured(const QByteArray &durationTime, const QByteArray &koefficient);
