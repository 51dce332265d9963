#include "collect/eurdepsite.h"

#include "base/cp1251.h"
#include "base/installationtime.h"
#include "collect/installationwatch.h"
#include "store/sitestore.h"

#include <QDir>
#include <QSysInfo>
#include <algorithm>
#include <cmath>

namespace {

std::optional<double> decimal(const QString &text, double low, double high)
{
    bool ok = false;
    const double v = text.toDouble(&ok);
    if (!ok || !std::isfinite(v) || v < low || v > high)
        return std::nullopt;
    return v;
}

bool faulty(const std::optional<QByteArray> &status)
{
    const std::optional<qint64> bits = StatusBits(status);
    if (!bits)
        return false;
    return std::any_of(std::begin(TInstallationWatch::kFaultBits), std::end(TInstallationWatch::kFaultBits),
                       [&](qint64 bit) { return (*bits & bit) != 0; });
}

// Upper-case letters, digits and - + / as a nuclide or sample type is written.
bool isCodeText(const QString &text)
{
    return !text.isEmpty() && text.size() <= 20 && std::all_of(text.begin(), text.end(), [](QChar c) {
        return (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'-' || c == u'+' || c == u'/';
    });
}

} // namespace

std::optional<QString> EurdepInstallationKey(TSiteInstallation &inst, const QString &key, const QString &value)
{
    TEurdepLocality &l = inst.Locality;
    auto number = [&](std::optional<double> &field, double low, double high, const char *what) -> QString {
        field = decimal(value, low, high);
        return field ? QString()
                     : QStringLiteral("%1 takes decimal %2 from %3 to %4").arg(key, QLatin1String(what)).arg(low).arg(high);
    };
    if (key == QLatin1String("LocalityCode")) {
        if (!IsEurdepLocalityCode(value))
            return QStringLiteral("LocalityCode takes 1 to 20 letters and digits (RU0001), not \"%1\"").arg(value);
        l.Code = value;
    } else if (key == QLatin1String("LocalityName")) {
        l.Name = value;
    } else if (key == QLatin1String("Latitude")) {
        return number(l.Latitude, -90, 90, "degrees");
    } else if (key == QLatin1String("Longitude")) {
        return number(l.Longitude, -180, 180, "degrees");
    } else if (key == QLatin1String("HeightAboveSea")) {
        return number(l.HeightAboveSea, -500, 9000, "metres");
    } else if (key == QLatin1String("Nuclide") || key == QLatin1String("SampleType")) {
        if (!isCodeText(value.toUpper()))
            return QStringLiteral("%1 takes a code of letters, digits and - (RN-222, XE-133, A1)").arg(key);
        (key == QLatin1String("Nuclide") ? l.Nuclide : l.SampleType) = value.toUpper();
    } else if (key == QLatin1String("TimeZone")) {
        const QTimeZone zone(value.toLatin1());
        if (!zone.isValid())
            return QStringLiteral("TimeZone takes a time zone's name (Europe/Moscow), not \"%1\"").arg(value);
        inst.TimeZone = zone;
    } else {
        return std::nullopt;
    }
    return QString();
}

std::optional<QString> EurdepCollectKey(TSiteConfig &config, const QString &key, const QString &value)
{
    if (key == QLatin1String("Originator")) {
        if (EurdepAscii(value).isEmpty())
            return QStringLiteral("Originator names no sender in ASCII letters");
        config.Originator = value;
    } else if (key == QLatin1String("CountryCode")) {
        if (value.size() != 2 || !IsEurdepLocalityCode(value) || value.at(0).isDigit() || value.at(1).isDigit())
            return QStringLiteral("CountryCode takes two letters (RU), not \"%1\"").arg(value);
        config.CountryCode = value.toUpper();
    } else if (key == QLatin1String("EurdepDir")) {
        if (!QDir::isAbsolutePath(value))
            return QStringLiteral("EurdepDir takes a folder's absolute path");
        config.EurdepDir = value;
    } else if (key == QLatin1String("EurdepPeriod")) {
        const std::optional<int> seconds = EurdepPeriodSeconds(value);
        if (!seconds)
            return QStringLiteral("EurdepPeriod takes 1h or 10min");
        config.EurdepPeriodSeconds = *seconds;
    } else {
        return std::nullopt;
    }
    return QString();
}

std::optional<int> EurdepPeriodSeconds(const QString &text)
{
    if (text == QLatin1String("1h"))
        return 3600;
    if (text == QLatin1String("10min"))
        return 600;
    return std::nullopt;
}

QString EurdepExportProblem(const QList<TSiteInstallation> &installations)
{
    for (int i = 0; i < installations.size(); ++i) {
        const TSiteInstallation &inst = installations[i];
        if (inst.Locality.Code.isEmpty())
            return QStringLiteral("installation \"%1\" (line %2) has no LocalityCode, which EURDEP needs")
                .arg(inst.Name)
                .arg(inst.Line);
        for (int j = 0; j < i; ++j)
            if (installations[j].Locality.Code.compare(inst.Locality.Code, Qt::CaseInsensitive) == 0)
                return QStringLiteral("installations \"%1\" and \"%2\" have one LocalityCode %3")
                    .arg(installations[j].Name, inst.Name, inst.Locality.Code);
    }
    return QString();
}

bool ReadActivitySamples(TSiteStore &store, const TSiteInstallation &inst, const QDateTime &from, const QDateTime &to,
                         QList<TActivitySample> *samples, QString *error)
{
    samples->clear();
    const QDateTime first = from.addSecs(-kSpacingLookbackSeconds);
    // The store keeps the installation's wall clock; a day either side covers
    // every zone's offset.
    const QDateTime wallSince(first.date().addDays(-1), first.time(), Qt::UTC);
    const QDateTime wallUntil(to.date().addDays(1), to.time(), Qt::UTC);
    QList<QByteArray> columns;
    qsizetype activity = -1;
    qsizetype status = -1;
    const auto record = [&](const QList<std::optional<QByteArray>> &values) {
        if (activity < 0) {
            activity = columns.indexOf("ACTIVITY");
            status = columns.indexOf("STATUS");
            if (activity < 0)
                return false; // no ACTIVITY stored in the range
        }
        const std::optional<QDateTime> wall = ParseInstallationTime(values.value(0).value_or(QByteArray()));
        if (!wall)
            return true;
        TActivitySample s;
        s.At = QDateTime(wall->date(), wall->time(), inst.TimeZone).toUTC();
        if (!s.At.isValid()) // a time the clocks skipped: the offset before the change
            s.At = wall->addSecs(-inst.TimeZone.offsetFromUtc(wall->addSecs(-86400)));
        if (s.At < first || s.At >= to)
            return true;
        bool ok = false;
        const std::optional<QByteArray> &text = values.value(activity);
        s.Value = text ? FromCp1251(*text).trimmed().toDouble(&ok) : 0;
        if (!ok)
            s.Value = std::nan(""); // no number: left out of the mean like a faulty record
        s.Fault = status >= 0 && faulty(values.value(status));
        samples->append(s);
        return true;
    };
    const bool read = store.Records(inst.Name, wallSince, wallUntil, &columns, record);
    if (!read) {
        *error = store.LastError();
        return false;
    }
    // Wall times repeated when the clocks go back may come out of order.
    std::stable_sort(samples->begin(), samples->end(),
                     [](const TActivitySample &a, const TActivitySample &b) { return a.At < b.At; });
    return true;
}

std::optional<QList<TEurdepSeries>> ReadEurdepSeries(TSiteStore &store, const QList<TSiteInstallation> &installations,
                                                     const QDateTime &from, const QDateTime &to, int periodSeconds,
                                                     QString *error)
{
    QList<TEurdepSeries> all;
    QList<TActivitySample> samples;
    for (const TSiteInstallation &inst : installations) {
        if (!ReadActivitySamples(store, inst, from, to, &samples, error))
            return std::nullopt;
        all << TEurdepSeries{inst.Locality, PeriodValues(samples, from, to, periodSeconds)};
    }
    return all;
}

TEurdepMessage EurdepSiteMessage(const TSiteConfig &config, QList<TEurdepSeries> series, const QString &fileName)
{
    TEurdepMessage m;
    m.Originator = config.Originator.isEmpty() ? QSysInfo::machineHostName() : config.Originator;
    m.CountryCode = config.CountryCode;
    m.SoftwareVersion = QStringLiteral("kvarn " KVARN_VERSION_TEXT);
    m.FileName = fileName;
    m.Sent = QDateTime::currentDateTimeUtc();
    m.Series = std::move(series);
    return m;
}
