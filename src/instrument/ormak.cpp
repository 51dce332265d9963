#include "instrument/ormak.h"

#include "base/cp1251.h"
#include "base/sinks.h"
#include "base/textutils.h"
#include "protocol/openprotocoldriver.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

std::unique_ptr<TOPVarList> makeList(std::initializer_list<const char *> names)
{
    auto list = std::make_unique<TOPVarList>();
    for (const char *name : names)
        list->Add(name);
    return list;
}

// Descriptions are written here in UTF-8 and kept in code page 1251.
std::unique_ptr<TOPVarList> makeDescriptions(std::initializer_list<const char *> texts)
{
    auto list = std::make_unique<TOPVarList>();
    for (const char *text : texts)
        list->Add(Cp(text));
    return list;
}

} // namespace

TORMAK::TORMAK(TOpenProtocolDriver *driver)
{
    CommonVars = makeList({"DATETIME", "SERIALN", "DRYCONTACTIN", "DRYCONTACTOUT", "DRYCONTACTTHR", "RESOURCE"});
    CounterVars = makeList({"KOEFFICIENT", "ALARM1", "ALARM2", "ALARM1ON", "ALARM2ON", "STATUS", "ACTIVITY",
                            "DURATIONTIME"});
    Spectrum1Vars = makeList({"SPECTRUM1"});
    Spectrum2Vars = makeList({"SPECTRUM2"});
    TestVars = makeList({"ACTIVITY"});
    ServiceVars = makeList({"SELFBACKGROUND", "CURRENT", "UWORK", "OFFSETU0", "OFFSETI0", "TEMPERATURE"});
    RecordCountVars = makeList({"NUMOFRECORDS"});
    ArchiveVars = makeList({"DATETIME", "SERIALN", "DRYCONTACTIN", "DRYCONTACTOUT", "DRYCONTACTTHR",
                            "KOEFFICIENT", "ALARM1", "ALARM2", "ALARM1ON", "ALARM2ON", "STATUS", "ACTIVITY"});
    ArchiveDescriptions = makeDescriptions({
        "Дата и время измерения",
        "Номер установки",
        "Состояние входного сухого контакта",
        "Состояние выходного сухого контакта",
        "Порог выходного сухого контакта",
        "Чувствительность",
        "Уставка первого уровня (Бк/м**3)",
        "Уставка второго уровня (Бк/м**3)",
        "Превышение уставки первого уровня",
        "Превышение уставки второго уровня",
        "Состояние установки",
        "Измеренная величина (Бк/м**3)",
    });
    ArchiveShortVars = makeList({"DATETIME", "ACTIVITY"});
    ArchiveSelection = std::make_unique<TOPVarList>();
    AlarmUnitVars = makeList({"BAS_SIRENE", "BAS_INDICATOR"});

    Spectrum = std::make_unique<TRadiationSpectr>();
    BackgroundSpectrum = std::make_unique<TRadiationSpectr>();
    Archive = std::make_unique<TDeviceArchive>();
    SetDriver(driver);
}

TORMAK::~TORMAK() = default;

void TORMAK::SetProgress(int percent)
{
    SetProgressPercent(progressBar_, percent);
}

bool TORMAK::Read(TOPVarList &list)
{
    return noteFailure(driver_ && driver_->ReadVars(DeviceNumber, list), list);
}

bool TORMAK::Write(TOPVarList &list)
{
    return noteFailure(driver_ && driver_->WriteVars(DeviceNumber, list), list);
}

bool TORMAK::noteFailure(bool ok, const TOPVarList &list)
{
    if (!ok) {
        QByteArray name = driver_ ? driver_->FailedVariable() : QByteArray();
        if (name.isEmpty() && list.Count() > 0)
            name = list.GetItem(0)->Name;
        FailedVariables.append(name);
    }
    return ok;
}

bool TORMAK::ReadCommonParams()
{
    const bool common = Read(*CommonVars);
    const bool alarmUnit = Read(*AlarmUnitVars);
    return common && alarmUnit;
}

bool TORMAK::ReadCounterParams() { return Read(*CounterVars); }
bool TORMAK::ReadServiceParams() { return Read(*ServiceVars); }

bool TORMAK::WriteCommonParams()
{
    const bool common = Write(*CommonVars);
    const bool alarmUnit = Write(*AlarmUnitVars);
    return common && alarmUnit;
}

bool TORMAK::WriteDeviceParams() { return Write(*CommonVars); }
bool TORMAK::WriteAlarmUnitParams() { return Write(*AlarmUnitVars); }
bool TORMAK::WriteCounterParams() { return Write(*CounterVars); }
bool TORMAK::WriteServiceParams() { return Write(*ServiceVars); }

void TORMAK::ResetTestAveraging()
{
    TestCount = 0;
    TestPrevious = std::make_unique<TOPVarList>();
    TestPrevious->Add("VALUE", "0", "0");
    TestPrevious->Add("CT0");
    TestPrevious->Add("CT1");
    TestAverage = std::make_unique<TOPVarList>();
    TestAverage->Add("VALUE", "0", "0");
    TestAverage->Add("CT0", "0", "0");
    TestAverage->Add("CT1", "0", "0");
}

// A reading whose text equals the previous raw reading is not counted again:
// TestVars then keeps that raw reading. A new reading x turns the mean m of
// the TestCount - 1 readings before it into (x + m * (TestCount - 1)) /
// TestCount, written with three significant digits ("15", "1.23E3"). A text
// that is no number leaves the raw text standing as the new mean. After a
// reset the previous reading is "0", so a first reading of "0" is not counted.
bool TORMAK::ReadTestValue()
{
    if (!Read(*TestVars))
        return false;
    if (!TestPrevious || !TestAverage)
        ResetTestAveraging(); // polled without a reset: start the mean here
    TOPVarListItem *reading = TestVars->GetItem(0);
    if (reading->Value == TestPrevious->GetItem(0)->Value)
        return true;

    ++TestCount;
    TestPrevious = TestVars->Clone();
    bool xOk = false, mOk = false;
    const long double x = StrToFloatDot(reading->Value, &xOk);
    const long double m = StrToFloatDot(TestAverage->GetItem(0)->Value, &mOk);
    if (xOk && mOk) {
        const long double mean = (x + m * (TestCount - 1)) / TestCount;
        reading->Value = FloatToStrFDot(FloatFormat::General, 3, 0, mean);
    }
    TestAverage = TestVars->Clone();
    return true;
}

bool TORMAK::ReadBlockInto(const TOPVarList &list, TRadiationSpectr &spectrum)
{
    lastSpectrumChannels_ = 0;
    if (!driver_)
        return false;
    QByteArray buffer;
    int size = 0;
    if (!driver_->ReadBlock(DeviceNumber, list, buffer, size))
        return false;
    const qint64 usable = std::clamp<qint64>(size, 0, buffer.size());
    lastSpectrumChannels_ = int(std::min<qint64>(usable / 4, TRadiationSpectr::ChannelCount));
    return spectrum.LoadFromBlock(buffer.constData(), usable, false); // counts come little-endian
}

bool TORMAK::ReadSpectrum() { return ReadBlockInto(*Spectrum1Vars, *Spectrum); }
bool TORMAK::ReadBackgroundSpectrum() { return ReadBlockInto(*Spectrum2Vars, *BackgroundSpectrum); }

bool TORMAK::ReadNumOfRecords()
{
    try {
        if (!Read(*RecordCountVars))
            throw EORMAKError();
        bool ok = false;
        const qint64 n = StrToIntDef(RecordCountVars->GetItem(0)->Value, 0, &ok);
        // A count below 0 or beyond 32 bits is no record count either.
        if (!ok || n < 0 || n > std::numeric_limits<qint32>::max())
            throw EORMAKError();
        NumOfRecords = qint32(n);
        return true;
    } catch (...) {
        NumOfRecords = 0;
        return false;
    }
}

bool TORMAK::ReadArchiveRecord(const TOPVarList *templ, int n, std::unique_ptr<TOPVarList> &out)
{
    try {
        if (!templ)
            throw EORMAKError();
        const QByteArray index = "A" + PadLeftInt(n, "0", 3);
        templ->CopyTo(out);
        for (int i = 0; i < out->Count(); ++i)
            out->GetItem(i)->Index = index;
        return Read(*out);
    } catch (...) {
        return false;
    }
}

bool TORMAK::ReadArchive(int step, int first, int last, const TOPVarList *templ)
{
    stopRequested_ = false;
    archiveReadStopped_ = false;
    archiveRecordsInRange_ = 0;
    try {
        if (!templ)
            throw EORMAKError();
        ReadArchiveRange(step, first, last, *templ);
        return true;
    } catch (...) {
        return false;
    }
}

// The range is clamped to the installation's archive: step at least 1, first
// within 1..NumOfRecords, last within first..NumOfRecords. An empty archive
// has nothing to read: no request goes out and Archive is left with its
// columns and no records. After each record the overall progress is
// (n + step - first) / (last - first), at most 100 % (and 100 % when first
// equals last). A record that cannot be read ends the read; the records
// before it stay in Archive. A stop request is looked at after each record,
// once the progress has been shown (which is where the window lets the
// operator ask for it).
void TORMAK::ReadArchiveRange(int step, int first, int last, const TOPVarList &templ)
{
    Archive->Clear();
    Archive->SetNames(templ);

    const qint64 count = NumOfRecords;
    qint64 s = std::max(step, 1);
    qint64 lo = std::max(first, 1);
    lo = std::min<qint64>(lo, count);
    qint64 hi = std::max<qint64>(last, lo);
    hi = std::min(hi, count);
    if (count < 1) {
        SetProgress(100);
        return;
    }
    archiveRecordsInRange_ = qint32((hi - lo) / s + 1);

    std::unique_ptr<TOPVarList> record;
    for (qint64 n = lo; n <= hi; n += s) {
        if (!ReadArchiveRecord(&templ, int(n), record))
            throw EORMAKError();
        Archive->AddRecord(*record);
        int percent = 100;
        if (hi != lo)
            percent = int(std::min<long double>(100, std::trunc((long double)(n + s - lo) / (hi - lo) * 100)));
        SetProgress(percent);
        if (stopRequested_ && n + s <= hi) {
            archiveReadStopped_ = true;
            return;
        }
    }
}
