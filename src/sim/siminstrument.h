#pragma once
// The emulated installation: its variables, clock, measurement cycle, archive
// and spectra, as seen through the open protocol. No I/O: the time comes from
// a function, so tests can run the installation on a clock of their own.
//
// The clock is the installation's own: a naive local date and time (no time
// zone, no daylight saving), kept as milliseconds since 01/01/1970 00.00.00.
//
// Measurement: every DURATIONTIME seconds a measurement completes and ACTIVITY
// takes its result. The results vary around a level with counting noise and
// now and then a release that rises sharply and decays over a few cycles. The
// archive holds the measurements that completed before start-up, one record
// per cycle, the newest at start-up time; the live cycles continue that story.

#include "sim/simspectrum.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <functional>

struct TSimSettings {
    quint64 Seed = 1;
    int Records = 300;      // archive records, NUMOFRECORDS
    int BlockSize = 128;    // spectrum bytes per block reply
    int BlockCount = -1;    // >= 0: the block count answered for the spectra
    qint64 StartClockMs = 0; // the installation's clock at start-up
};

// The answer for one variable: Known false is the "@@" of a variable without value.
struct TSimAnswer {
    bool Known = false;
    QByteArray Value;
};

class TSimInstrument {
public:
    // Milliseconds since start-up, never decreasing.
    using ElapsedSource = std::function<qint64()>;

    TSimInstrument(const TSimSettings &settings, ElapsedSource elapsed);

    // Start-up value of a variable (command line). A setting takes the text as
    // its value; a measured or fixed variable answers the text for good;
    // DATETIME sets the clock (which keeps running), RESOURCE the operating
    // hours at start-up (which keep growing); "@@" makes any variable answer
    // "@@"; a name the installation does not know becomes a plain setting.
    // NAME:Annn makes archive record n answer the text (or "@@") for NAME,
    // an archive that went wrong in one place.
    // Call before the first request. False with a reason for a text the
    // variable cannot take.
    bool SetStartValue(const QByteArray &name, const QByteArray &value, QString *error);
    // Successive reads of ACTIVITY return these readings in turn; the last one
    // stays once the list is used up.
    void SetActivityReadings(const QList<QByteArray> &readings);

    TSimAnswer Read(const QByteArray &name);
    // NAME:INDEX — the archive records, INDEX "A" and the record number.
    TSimAnswer ReadRecord(const QByteArray &name, const QByteArray &index) const;
    // The value the installation holds after the write: the text sent when the
    // variable takes it, its own value when the variable is measured, fixed or
    // the text is no valid value for it.
    TSimAnswer Write(const QByteArray &name, const QByteArray &value);

    bool IsBlockVariable(const QByteArray &name) const;
    // The block count answered for a spectrum; Known false when it has none.
    TSimAnswer BlockCount(const QByteArray &name) const;
    // Data of block j (from 1) of a spectrum: empty past the end of the data.
    QByteArray Block(const QByteArray &name, int j) const;
    QByteArray SpectrumData(TSimSpectrumKind kind) const;

    int RecordCount() const { return settings_.Records; }
    qint64 ClockMs() const;
    // Measurement cycles completed since start-up (the archive's newest record is cycle 0).
    qint64 CycleNow() const;
    double ActivityOfCycle(qint64 cycle) const;

    // "dd/mm/yyyy hh.mm.ss"
    static QByteArray FormatDateTime(qint64 clockMs);
    static bool ParseDateTime(const QByteArray &text, qint64 &clockMs);
    // The naive local date and time of this computer, for the clock at start-up.
    static qint64 LocalClockNowMs();

    static const QList<QByteArray> &ArchiveVariables();
    static const QList<QByteArray> &KnownVariables();

private:
    enum class Kind {
        Setting,      // stored; Check decides what a write may store
        Clock,        // DATETIME
        Fixed,        // SERIALN
        Resource,     // operating hours
        Activity,
        Alarm1On,
        Alarm2On,
        Status,
        ContactIn,
        RecordCount,  // NUMOFRECORDS
        Spectrum,
    };
    enum class Check { Any, Number, NonNegative, Flag, Lamp, Seconds };
    struct Var {
        Kind kind = Kind::Setting;
        Check check = Check::Any;
        QByteArray value;     // settings: the stored text
        bool noValue = false; // answers "@@"
        bool pinned = false;  // a measured variable fixed at start-up to value
    };

    Var *find(const QByteArray &name);
    const Var *find(const QByteArray &name) const;
    void add(const char *name, Kind kind, Check check = Check::Any, const QByteArray &value = {});
    QByteArray currentValue(const Var &var, const QByteArray &upperName) const;
    QByteArray settingValue(const char *name) const;
    double currentActivity() const;
    QByteArray currentActivityText() const;
    static bool acceptable(Check check, const QByteArray &value);
    QByteArray recordValue(int record, const QByteArray &upperName) const;
    bool setRecordAnswer(const QByteArray &upperName, const QByteArray &upperIndex, const QByteArray &value,
                         QString *error);
    int statusOfCycle(qint64 cycle) const;
    bool contactInOfCycle(qint64 cycle) const;
    static QByteArray flag(bool on) { return on ? "1" : "0"; }
    static QByteArray number1(double v);

    TSimSettings settings_;
    ElapsedSource elapsed_;
    QHash<QByteArray, Var> vars_; // by upper-case name
    qint64 clockOffsetMs_ = 0;    // added to start clock + elapsed by DATETIME writes
    qint64 resourceHours_ = 12480;
    // The measurement cycle: anchorCycle_ completed at anchorMs_ (elapsed), then one every durationMs_.
    qint64 anchorMs_ = 0;
    qint64 anchorCycle_ = 0;
    qint64 durationMs_ = 60000;
    qint64 archiveIntervalMs_ = 60000;
    QList<QByteArray> readings_;
    int readingCursor_ = 0;
    QByteArray spectrum1_;
    QByteArray spectrum2_;
    // Settings of the archive's records: as they stood at start-up.
    QHash<QByteArray, QByteArray> archiveSettings_;
    // Answers of single records that differ from the archive's story, by
    // "NAME:n" (n without leading zeros).
    QHash<QByteArray, QByteArray> recordAnswers_;
};
