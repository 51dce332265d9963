#include "sim/siminstrument.h"

#include "base/textutils.h"
#include "sim/simrandom.h"

#include <QDateTime>
#include <QTimeZone>

#include <algorithm>
#include <cmath>

namespace {

constexpr double kActivityLevel = 150.0; // Bq/m3 when nothing is released
constexpr double kActivityNoise = 0.08;  // relative counting noise
constexpr double kReleaseChance = 0.015; // a release starts in this share of the cycles
constexpr double kReleaseDecay = 0.55;   // per cycle
constexpr int kReleaseCycles = 6;        // a release is gone after this many cycles

qint64 floorDiv(qint64 a, qint64 b)
{
    return a >= 0 ? a / b : -((-a + b - 1) / b);
}

bool allDigits(const QByteArray &s)
{
    if (s.isEmpty())
        return false;
    return std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

} // namespace

TSimInstrument::TSimInstrument(const TSimSettings &settings, ElapsedSource elapsed)
    : settings_(settings), elapsed_(std::move(elapsed))
{
    settings_.Records = std::max(0, settings_.Records);
    settings_.BlockSize = std::clamp(settings_.BlockSize, 1, 253);

    add("DATETIME", Kind::Clock);
    add("SERIALN", Kind::Fixed, Check::Any, "1047");
    add("DRYCONTACTIN", Kind::ContactIn);
    add("DRYCONTACTOUT", Kind::Setting, Check::Flag, "0");
    add("DRYCONTACTTHR", Kind::Setting, Check::NonNegative, "800");
    add("RESOURCE", Kind::Resource);
    add("KOEFFICIENT", Kind::Setting, Check::NonNegative, "0.37");
    add("ALARM1", Kind::Setting, Check::NonNegative, "1000");
    add("ALARM2", Kind::Setting, Check::NonNegative, "5000");
    add("ALARM1ON", Kind::Alarm1On);
    add("ALARM2ON", Kind::Alarm2On);
    add("STATUS", Kind::Status);
    add("ACTIVITY", Kind::Activity);
    add("DURATIONTIME", Kind::Setting, Check::Seconds, "60");
    add("BAS_SIRENE", Kind::Setting, Check::Flag, "0");
    add("BAS_INDICATOR", Kind::Setting, Check::Lamp, "0");
    add("SELFBACKGROUND", Kind::Setting, Check::NonNegative, "22.2");
    add("CURRENT", Kind::Setting, Check::Number, "0.85");
    add("UWORK", Kind::Setting, Check::Number, "410");
    add("OFFSETU0", Kind::Setting, Check::Number, "0.012");
    add("OFFSETI0", Kind::Setting, Check::Number, "0.003");
    add("TEMPERATURE", Kind::Setting, Check::Number, "23.5");
    add("SPECTRUM1", Kind::Spectrum);
    add("SPECTRUM2", Kind::Spectrum);
    add("NUMOFRECORDS", Kind::RecordCount);

    for (const char *name : {"SERIALN", "DRYCONTACTOUT", "DRYCONTACTTHR", "KOEFFICIENT", "ALARM1", "ALARM2"})
        archiveSettings_.insert(name, vars_.value(name).value);

    spectrum1_ = SimSpectrumBytes(SimSpectrumCounts(TSimSpectrumKind::Main, settings_.Seed));
    spectrum2_ = SimSpectrumBytes(SimSpectrumCounts(TSimSpectrumKind::Background, settings_.Seed));
}

const QList<QByteArray> &TSimInstrument::ArchiveVariables()
{
    static const QList<QByteArray> names = {"DATETIME", "SERIALN", "DRYCONTACTIN", "DRYCONTACTOUT",
                                            "DRYCONTACTTHR", "KOEFFICIENT", "ALARM1", "ALARM2",
                                            "ALARM1ON", "ALARM2ON", "STATUS", "ACTIVITY"};
    return names;
}

const QList<QByteArray> &TSimInstrument::KnownVariables()
{
    static const QList<QByteArray> names = {
        "DATETIME", "SERIALN", "DRYCONTACTIN", "DRYCONTACTOUT", "DRYCONTACTTHR", "RESOURCE",
        "KOEFFICIENT", "ALARM1", "ALARM2", "ALARM1ON", "ALARM2ON", "STATUS", "ACTIVITY",
        "DURATIONTIME", "BAS_SIRENE", "BAS_INDICATOR", "SELFBACKGROUND", "CURRENT", "UWORK",
        "OFFSETU0", "OFFSETI0", "TEMPERATURE", "SPECTRUM1", "SPECTRUM2", "NUMOFRECORDS"};
    return names;
}

void TSimInstrument::add(const char *name, Kind kind, Check check, const QByteArray &value)
{
    Var var;
    var.kind = kind;
    var.check = check;
    var.value = value;
    vars_.insert(name, var);
}

TSimInstrument::Var *TSimInstrument::find(const QByteArray &name)
{
    auto it = vars_.find(AsciiUpper(name));
    return it == vars_.end() ? nullptr : &it.value();
}

const TSimInstrument::Var *TSimInstrument::find(const QByteArray &name) const
{
    auto it = vars_.constFind(AsciiUpper(name));
    return it == vars_.constEnd() ? nullptr : &it.value();
}

QByteArray TSimInstrument::settingValue(const char *name) const
{
    return vars_.value(name).value;
}

// --- clock -----------------------------------------------------------------

qint64 TSimInstrument::ClockMs() const
{
    return settings_.StartClockMs + clockOffsetMs_ + elapsed_();
}

QByteArray TSimInstrument::FormatDateTime(qint64 clockMs)
{
    const QDateTime t = QDateTime::fromMSecsSinceEpoch(clockMs, QTimeZone::utc());
    const QDate d = t.date();
    const QTime h = t.time();
    auto two = [](int v) { return PadLeftInt(v, "0", 2); };
    return two(d.day()) + '/' + two(d.month()) + '/' + PadLeftInt(d.year(), "0", 4) + ' ' + two(h.hour()) + '.'
           + two(h.minute()) + '.' + two(h.second());
}

bool TSimInstrument::ParseDateTime(const QByteArray &text, qint64 &clockMs)
{
    const QList<QByteArray> words = text.simplified().split(' ');
    if (words.size() != 2)
        return false;
    const QList<QByteArray> date = words[0].split('/');
    const QList<QByteArray> time = words[1].split('.');
    if (date.size() != 3 || time.size() != 3)
        return false;
    for (const QByteArray &part : date + time)
        if (!allDigits(part) || part.size() > 4)
            return false;
    if (date[0].size() > 2 || date[1].size() > 2 || date[2].size() != 4)
        return false;
    for (const QByteArray &part : time)
        if (part.size() > 2)
            return false;
    const QDate d(date[2].toInt(), date[1].toInt(), date[0].toInt());
    const QTime h(time[0].toInt(), time[1].toInt(), time[2].toInt());
    if (!d.isValid() || !h.isValid())
        return false;
    clockMs = QDateTime(d, h, QTimeZone::utc()).toMSecsSinceEpoch();
    return true;
}

qint64 TSimInstrument::LocalClockNowMs()
{
    const QDateTime now = QDateTime::currentDateTime();
    return QDateTime(now.date(), now.time(), QTimeZone::utc()).toMSecsSinceEpoch();
}

// --- measurement -------------------------------------------------------------

qint64 TSimInstrument::CycleNow() const
{
    return anchorCycle_ + (elapsed_() - anchorMs_) / durationMs_;
}

double TSimInstrument::ActivityOfCycle(qint64 cycle) const
{
    const quint64 seed = settings_.Seed;
    double v = kActivityLevel * (1.0 + kActivityNoise * SimGauss(seed, kStreamActivity, quint64(cycle)));
    for (int k = 0; k < kReleaseCycles; ++k) {
        const quint64 start = quint64(cycle - k);
        if (SimUniform(seed, kStreamRelease, start, 1) < kReleaseChance) {
            const double u = SimUniform(seed, kStreamRelease, start, 2);
            v += kActivityLevel * (2.0 + 58.0 * u * u) * std::pow(kReleaseDecay, k);
        }
    }
    return std::max(0.0, v);
}

int TSimInstrument::statusOfCycle(qint64 cycle) const
{
    const quint64 seed = settings_.Seed;
    const quint64 tens = quint64(floorDiv(cycle, 10));
    int status = 0;
    if (SimUniform(seed, kStreamStatus, tens, 1) < 0.015)
        status |= 0x10; // flow indicator fault
    if (SimUniform(seed, kStreamStatus, tens, 2) < 0.04)
        status |= 0x20; // pump stopped
    if (SimUniform(seed, kStreamStatus, quint64(cycle), 3) < 0.005)
        status |= 0x40; // electrometer fault
    if (SimUniform(seed, kStreamStatus, quint64(floorDiv(cycle, 50)), 4) < 0.06)
        status |= 0x80; // silica gel cartridge spent
    return status;
}

bool TSimInstrument::contactInOfCycle(qint64 cycle) const
{
    return SimUniform(settings_.Seed, kStreamContact, quint64(floorDiv(cycle, 5))) < 0.2;
}

QByteArray TSimInstrument::number1(double v)
{
    return FloatToStrFDot(FloatFormat::Fixed, 0, 1, v);
}

QByteArray TSimInstrument::currentActivityText() const
{
    const Var &var = vars_["ACTIVITY"];
    if (var.pinned)
        return var.value;
    if (!readings_.isEmpty())
        return readings_[readingCursor_];
    return number1(ActivityOfCycle(CycleNow()));
}

double TSimInstrument::currentActivity() const
{
    bool ok = false;
    const double v = double(StrToFloatDot(currentActivityText(), &ok));
    return ok ? v : 0.0;
}

QByteArray TSimInstrument::currentValue(const Var &var, const QByteArray &upperName) const
{
    if (var.pinned)
        return var.value;
    auto exceeded = [this](const char *threshold) {
        bool ok = false;
        const double limit = double(StrToFloatDot(settingValue(threshold), &ok));
        return ok && currentActivity() >= limit;
    };
    switch (var.kind) {
    case Kind::Setting:
    case Kind::Fixed:
        return var.value;
    case Kind::Clock:
        return FormatDateTime(ClockMs());
    case Kind::Resource:
        return QByteArray::number(resourceHours_ + elapsed_() / 3600000);
    case Kind::Activity:
        return currentActivityText();
    case Kind::Alarm1On:
        return flag(exceeded("ALARM1"));
    case Kind::Alarm2On:
        return flag(exceeded("ALARM2"));
    case Kind::Status:
        return QByteArray::number(statusOfCycle(CycleNow()));
    case Kind::ContactIn:
        return flag(contactInOfCycle(CycleNow()));
    case Kind::RecordCount:
        return QByteArray::number(settings_.Records);
    case Kind::Spectrum:
        break;
    }
    Q_UNUSED(upperName);
    return QByteArray();
}

// --- requests ------------------------------------------------------------------

TSimAnswer TSimInstrument::Read(const QByteArray &name)
{
    const Var *var = find(name);
    if (!var || var->noValue || var->kind == Kind::Spectrum)
        return {};
    TSimAnswer answer{true, currentValue(*var, AsciiUpper(name))};
    if (var->kind == Kind::Activity && !var->pinned && !readings_.isEmpty())
        readingCursor_ = std::min(readingCursor_ + 1, int(readings_.size()) - 1);
    return answer;
}

bool TSimInstrument::acceptable(Check check, const QByteArray &value)
{
    bool ok = false;
    switch (check) {
    case Check::Any:
        return true;
    case Check::Number:
        StrToFloatDot(value, &ok);
        return ok;
    case Check::NonNegative:
        return StrToFloatDot(value, &ok) >= 0 && ok;
    case Check::Flag:
        return value == "0" || value == "1";
    case Check::Lamp:
        return value == "0" || value == "1" || value == "2";
    case Check::Seconds: {
        const qint64 s = StrToIntDef(value, 0, &ok);
        return ok && s >= 1 && s <= 86400;
    }
    }
    return false;
}

TSimAnswer TSimInstrument::Write(const QByteArray &name, const QByteArray &value)
{
    Var *var = find(name);
    if (!var || var->noValue || var->kind == Kind::Spectrum)
        return {};
    const QByteArray upper = AsciiUpper(name);
    const QByteArray text = TrimControls(value);
    if (var->kind == Kind::Setting && acceptable(var->check, text)) {
        var->value = text;
        if (upper == "DURATIONTIME") {
            // A new measurement starts now with the new time.
            anchorCycle_ = CycleNow();
            anchorMs_ = elapsed_();
            durationMs_ = StrToIntDef(text, 60) * 1000;
        }
    } else if (var->kind == Kind::Clock && !var->pinned) {
        qint64 wanted = 0;
        if (ParseDateTime(text, wanted))
            clockOffsetMs_ = wanted - settings_.StartClockMs - elapsed_();
    }
    return {true, currentValue(*var, upper)};
}

// --- archive ---------------------------------------------------------------------

TSimAnswer TSimInstrument::ReadRecord(const QByteArray &name, const QByteArray &index) const
{
    const QByteArray upper = AsciiUpper(name);
    if (!ArchiveVariables().contains(upper))
        return {};
    const Var *var = find(upper);
    if (!var || var->noValue)
        return {};
    if (index.size() < 2 || index.size() > 10 || (index[0] != 'A' && index[0] != 'a'))
        return {};
    const QByteArray digits = index.mid(1);
    if (!allDigits(digits))
        return {};
    const qint64 record = digits.toLongLong();
    if (record < 1 || record > settings_.Records)
        return {};
    const auto answer = recordAnswers_.constFind(upper + ':' + QByteArray::number(record));
    if (answer != recordAnswers_.constEnd())
        return answer.value() == "@@" ? TSimAnswer{} : TSimAnswer{true, answer.value()};
    return {true, recordValue(int(record), upper)};
}

QByteArray TSimInstrument::recordValue(int record, const QByteArray &upperName) const
{
    const qint64 cycle = qint64(record) - settings_.Records; // the newest record is cycle 0
    const QByteArray activity = number1(ActivityOfCycle(cycle));
    auto exceeded = [&](const char *threshold) {
        bool ok1 = false, ok2 = false;
        const double limit = double(StrToFloatDot(archiveSettings_.value(threshold), &ok1));
        const double a = double(StrToFloatDot(activity, &ok2));
        return ok1 && ok2 && a >= limit;
    };
    if (upperName == "DATETIME")
        return FormatDateTime(settings_.StartClockMs + cycle * archiveIntervalMs_);
    if (upperName == "DRYCONTACTIN")
        return flag(contactInOfCycle(cycle));
    if (upperName == "ALARM1ON")
        return flag(exceeded("ALARM1"));
    if (upperName == "ALARM2ON")
        return flag(exceeded("ALARM2"));
    if (upperName == "STATUS")
        return QByteArray::number(statusOfCycle(cycle));
    if (upperName == "ACTIVITY")
        return activity;
    return archiveSettings_.value(upperName);
}

bool TSimInstrument::setRecordAnswer(const QByteArray &upperName, const QByteArray &upperIndex,
                                     const QByteArray &value, QString *error)
{
    const QByteArray digits = upperIndex.mid(1);
    if (!ArchiveVariables().contains(upperName) || !upperIndex.startsWith('A') || !allDigits(digits)
        || digits.size() > 9 || digits.toLongLong() < 1) {
        if (error)
            *error = QStringLiteral("NAME:Annn takes an archive variable and a record number from 1, not %1:%2")
                         .arg(QString::fromLatin1(upperName), QString::fromLatin1(upperIndex));
        return false;
    }
    if (value.contains(';') || value.contains(':')) {
        if (error)
            *error = QStringLiteral("a value cannot contain \";\" or \":\"");
        return false;
    }
    recordAnswers_.insert(upperName + ':' + QByteArray::number(digits.toLongLong()), value);
    return true;
}

// --- spectra -----------------------------------------------------------------------

bool TSimInstrument::IsBlockVariable(const QByteArray &name) const
{
    const Var *var = find(name);
    return var && var->kind == Kind::Spectrum;
}

QByteArray TSimInstrument::SpectrumData(TSimSpectrumKind kind) const
{
    return kind == TSimSpectrumKind::Main ? spectrum1_ : spectrum2_;
}

TSimAnswer TSimInstrument::BlockCount(const QByteArray &name) const
{
    const Var *var = find(name);
    if (!var || var->noValue || var->kind != Kind::Spectrum)
        return {};
    const int size = int(spectrum1_.size());
    const int count = settings_.BlockCount >= 0 ? settings_.BlockCount
                                                : (size + settings_.BlockSize - 1) / settings_.BlockSize;
    return {true, "##" + QByteArray::number(count)};
}

QByteArray TSimInstrument::Block(const QByteArray &name, int j) const
{
    if (!IsBlockVariable(name) || j < 1)
        return QByteArray();
    const QByteArray &data = AsciiUpper(name) == "SPECTRUM1" ? spectrum1_ : spectrum2_;
    const qint64 from = qint64(j - 1) * settings_.BlockSize;
    if (from >= data.size())
        return QByteArray();
    return data.mid(from, settings_.BlockSize);
}

// --- start-up values ------------------------------------------------------------------

void TSimInstrument::SetActivityReadings(const QList<QByteArray> &readings)
{
    readings_ = readings;
    readingCursor_ = 0;
}

bool TSimInstrument::SetStartValue(const QByteArray &name, const QByteArray &value, QString *error)
{
    auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    const QByteArray upper = AsciiUpper(TrimControls(name));
    if (upper.isEmpty())
        return fail(QStringLiteral("a variable name is missing"));
    if (const qsizetype colon = upper.indexOf(':'); colon >= 0)
        return setRecordAnswer(upper.left(colon), upper.mid(colon + 1), value, error);
    for (char c : upper)
        if (quint8(c) <= 32 || c == '=' || c == ';' || c == ':')
            return fail(QStringLiteral("%1 is no variable name").arg(QString::fromLatin1(name)));
    if (value.contains(';') || value.contains(':'))
        return fail(QStringLiteral("a value cannot contain \";\" or \":\""));

    Var *var = find(upper);
    if (!var) {
        add(upper.constData(), Kind::Setting);
        var = find(upper);
    }
    if (value == "@@") {
        var->noValue = true;
        return true;
    }
    var->noValue = false;

    switch (var->kind) {
    case Kind::Setting:
        var->value = value;
        if (upper == "DURATIONTIME" && acceptable(Check::Seconds, TrimControls(value)))
            durationMs_ = archiveIntervalMs_ = StrToIntDef(value, 60) * 1000;
        break;
    case Kind::Fixed:
        var->value = value;
        break;
    case Kind::Clock: {
        qint64 ms = 0;
        if (!ParseDateTime(value, ms))
            return fail(QStringLiteral("DATETIME takes dd/mm/yyyy hh.mm.ss"));
        settings_.StartClockMs = ms;
        clockOffsetMs_ = 0;
        break;
    }
    case Kind::Resource: {
        bool ok = false;
        const qint64 hours = StrToIntDef(value, 0, &ok);
        if (!ok || hours < 0)
            return fail(QStringLiteral("RESOURCE takes a whole number of hours"));
        resourceHours_ = hours;
        break;
    }
    case Kind::Spectrum:
        return fail(QStringLiteral("a spectrum can only be made to answer @@"));
    default:
        var->pinned = true;
        var->value = value;
        break;
    }
    if (archiveSettings_.contains(upper))
        archiveSettings_[upper] = var->value;
    return true;
}
