#pragma once
// The installation as the program sees it through the open protocol: a fixed
// set of variable lists, one per group of values that the main window reads
// or writes as a unit, the two spectra and the archive. Every operation moves
// one group across the line through the protocol driver and reports success
// as a Boolean. Values are code page 1251 texts; the only values interpreted
// here are the archive's record count and the running mean of the test mode.
//
// The lists are public: the main window reads and edits their values by
// position (CommonVars item 3 is DRYCONTACTOUT, CounterVars item 0 is
// KOEFFICIENT, ...).

#include "instrument/devicearchive.h"
#include "instrument/radiationspectr.h"
#include "protocol/opvarlist.h"

#include <QByteArray>
#include <QList>
#include <QtGlobal>
#include <exception>
#include <memory>

class TOpenProtocolDriver;
class ProgressSink;

// A transaction of the installation's variable set has failed.
class EORMAKError : public std::exception {
public:
    const char *what() const noexcept override { return ""; }
};

class TORMAK {
public:
    explicit TORMAK(TOpenProtocolDriver *driver);
    virtual ~TORMAK();
    TORMAK(const TORMAK &) = delete;
    TORMAK &operator=(const TORMAK &) = delete;

    // The driver is not owned; without one every transaction fails.
    void SetDriver(TOpenProtocolDriver *driver) { driver_ = driver; }
    TOpenProtocolDriver *Driver() const { return driver_; }
    // The overall progress of ReadArchive; not owned, may be null.
    void SetProgressBar(ProgressSink *bar) { progressBar_ = bar; }
    ProgressSink *ProgressBar() const { return progressBar_; }
    // position := minimum + Trunc((maximum - minimum) * percent / 100)
    void SetProgress(int percent);
    void SetDeviceNumber(quint8 number) { DeviceNumber = number; }

    // --- transactions; true when every transaction succeeded ---------------
    // Both lists are always attempted, even when the first fails.
    bool ReadCommonParams();   // CommonVars, then AlarmUnitVars
    bool ReadCounterParams();  // CounterVars
    bool ReadServiceParams();  // ServiceVars
    // One test-mode poll of ACTIVITY; leaves the running mean of the distinct
    // readings since ResetTestAveraging in TestVars (see the .cpp).
    bool ReadTestValue();
    bool ReadSpectrum();           // SPECTRUM1 into Spectrum
    bool ReadBackgroundSpectrum(); // SPECTRUM2 into BackgroundSpectrum
    // The channels the last spectrum read filled from the installation's
    // blocks (whole 4-byte counts, at most 1024); the rest are zeros. The
    // installation decides how many blocks it sends, so fewer is no failure.
    int LastSpectrumChannels() const { return lastSpectrumChannels_; }
    // Sets NumOfRecords; false (and 0) when the read fails or the value is not
    // a whole number from 0 up.
    bool ReadNumOfRecords();
    // Record n of the installation's archive: out becomes a copy of the
    // template with every index set to "A" and n with at least three digits
    // (A001, A042, A1234), and is read.
    bool ReadArchiveRecord(const TOPVarList *templ, int n, std::unique_ptr<TOPVarList> &out);
    // Records first, first + step, ... up to last (clamped to 1..NumOfRecords)
    // into Archive, whose columns become the template's variables.
    bool ReadArchive(int step, int first, int last, const TOPVarList *templ);
    // Asks a running ReadArchive to end once the record being read is in
    // (the operator may not want to wait hours for a long archive). The
    // records read so far stay in Archive and ReadArchive gives true. Every
    // ReadArchive starts without such a request.
    void StopArchiveRead() { stopRequested_ = true; }
    // Whether the last ReadArchive ended early on that request, and how many
    // records its range held once clamped.
    bool ArchiveReadStopped() const { return archiveReadStopped_; }
    qint32 ArchiveRecordsInRange() const { return archiveRecordsInRange_; }

    bool WriteCommonParams();    // CommonVars, then AlarmUnitVars; both attempted
    bool WriteDeviceParams();    // CommonVars
    bool WriteAlarmUnitParams(); // AlarmUnitVars
    bool WriteCounterParams();   // CounterVars
    bool WriteServiceParams();   // ServiceVars

    // Starts a new running mean of the test mode.
    void ResetTestAveraging();

    // --- the variable lists, in this order ---------------------------------
    std::unique_ptr<TOPVarList> CommonVars;     // DATETIME SERIALN DRYCONTACTIN DRYCONTACTOUT DRYCONTACTTHR RESOURCE
    std::unique_ptr<TOPVarList> CounterVars;    // KOEFFICIENT ALARM1 ALARM2 ALARM1ON ALARM2ON STATUS ACTIVITY DURATIONTIME
    std::unique_ptr<TOPVarList> Spectrum1Vars;  // SPECTRUM1
    std::unique_ptr<TOPVarList> Spectrum2Vars;  // SPECTRUM2
    std::unique_ptr<TOPVarList> TestVars;       // ACTIVITY
    std::unique_ptr<TOPVarList> ServiceVars;    // SELFBACKGROUND CURRENT UWORK OFFSETU0 OFFSETI0 TEMPERATURE
    std::unique_ptr<TOPVarList> RecordCountVars; // NUMOFRECORDS
    std::unique_ptr<TOPVarList> ArchiveVars;    // the twelve archive variables
    std::unique_ptr<TOPVarList> ArchiveDescriptions; // their descriptions as item names, same order
    std::unique_ptr<TOPVarList> ArchiveShortVars;    // DATETIME ACTIVITY: the default selection
    std::unique_ptr<TOPVarList> ArchiveSelection;    // empty; the main window puts the chosen variables here
    std::unique_ptr<TOPVarList> AlarmUnitVars;  // BAS_SIRENE BAS_INDICATOR

    std::unique_ptr<TRadiationSpectr> Spectrum;
    std::unique_ptr<TRadiationSpectr> BackgroundSpectrum;
    std::unique_ptr<TDeviceArchive> Archive;

    quint8 DeviceNumber = 0;
    // NAME[:INDEX] of every variable a transaction failed on, in order, since
    // the caller last cleared it (one per failed list).
    QList<QByteArray> FailedVariables;
    // The record count last read by ReadNumOfRecords (0 after a failure).
    qint32 NumOfRecords = 0;
    // Distinct readings in the running mean.
    qint32 TestCount = 0;
    // The last raw reading and the running mean; null until the first
    // ResetTestAveraging.
    std::unique_ptr<TOPVarList> TestPrevious;
    std::unique_ptr<TOPVarList> TestAverage;

private:
    bool Read(TOPVarList &list);
    bool Write(TOPVarList &list);
    bool noteFailure(bool ok, const TOPVarList &list);
    bool ReadBlockInto(const TOPVarList &list, TRadiationSpectr &spectrum);
    void ReadArchiveRange(int step, int first, int last, const TOPVarList &templ);

    TOpenProtocolDriver *driver_ = nullptr;
    ProgressSink *progressBar_ = nullptr;
    bool stopRequested_ = false;
    bool archiveReadStopped_ = false;
    qint32 archiveRecordsInRange_ = 0;
    int lastSpectrumChannels_ = 0;
};
