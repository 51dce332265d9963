#include "views/archivechart.h"

#include "base/csvfield.h"
#include "instrument/devicearchive.h"
#include "protocol/opvarlist.h"

#include <QDate>
#include <QDateTime>
#include <QTime>
#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <vector>

namespace {
constexpr qint64 kMsPerHour = 3600 * 1000;

// Milliseconds from the epoch to the start of an hour of local time. The
// zone's offset is looked up once per hour of the records, not once per
// record: an archive runs through its hours in order, and a zone changes its
// offset only at the turn of an hour.
qint64 localHourStart(const QDate &date, int hour)
{
    thread_local qint64 cachedKey = std::numeric_limits<qint64>::min();
    thread_local qint64 cachedStart = 0;
    const qint64 key = date.toJulianDay() * 24 + hour;
    if (key != cachedKey) {
        const QDateTime start(date, QTime(hour, 0));
        if (start.isValid()) {
            cachedStart = start.toMSecsSinceEpoch();
        } else {
            // An hour the clocks skip: an hour after the one before it.
            const QDateTime before = QDateTime(date, QTime(hour, 0), Qt::UTC).addSecs(-3600);
            cachedStart = QDateTime(before.date(), before.time()).toMSecsSinceEpoch() + kMsPerHour;
        }
        cachedKey = key;
    }
    return cachedStart;
}

bool isBlank(char c)
{
    return uchar(c) <= 32;
}

QByteArrayView trimmed(QByteArrayView text)
{
    while (!text.isEmpty() && isBlank(text.front()))
        text = text.sliced(1);
    while (!text.isEmpty() && isBlank(text.back()))
        text.chop(1);
    return text;
}

// Two or four digits at `at`; -1 when any is not a digit.
int digits(QByteArrayView text, int at, int count)
{
    int value = 0;
    for (int i = at; i < at + count; ++i) {
        const char c = text[i];
        if (c < '0' || c > '9')
            return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

// A value as the chart takes it: a decimal number with "." (blanks around
// it allowed), or NaN. A number too large for a double is no number here,
// not the 0 a settings field would read it as.
double numberOf(QByteArrayView text)
{
    bool ok = false;
    const double value = trimmed(text).toByteArray().toDouble(&ok);
    return ok && std::isfinite(value) ? value : std::nan("");
}
} // namespace

int ArchiveColumnIndex(const TDeviceArchive &archive, QByteArrayView name)
{
    const TOPVarList *names = archive.Names();
    return names ? names->IndexOfName(name.toByteArray()) : -1;
}

bool ParseArchiveDateTime(QByteArrayView text, qint64 &msecs)
{
    text = trimmed(text);
    // dd/mm/yyyy hh.mm.ss
    if (text.size() != 19 || text[2] != '/' || text[5] != '/' || text[10] != ' ' || text[13] != '.' ||
        text[16] != '.')
        return false;
    const int day = digits(text, 0, 2), month = digits(text, 3, 2), year = digits(text, 6, 4);
    const int hour = digits(text, 11, 2), minute = digits(text, 14, 2), second = digits(text, 17, 2);
    if (day < 0 || month < 0 || year < 0 || hour < 0 || minute < 0 || second < 0)
        return false;
    const QDate date(year, month, day);
    if (!date.isValid() || !QTime::isValid(hour, minute, second))
        return false;
    msecs = localHourStart(date, hour) + (minute * 60 + second) * 1000;
    return true;
}

QByteArray FormatArchiveDateTime(qint64 msecs)
{
    return QDateTime::fromMSecsSinceEpoch(msecs).toString(QStringLiteral("dd/MM/yyyy hh.mm.ss")).toLatin1();
}

TArchiveChartSeries BuildArchiveChartSeries(const TDeviceArchive &archive, int column)
{
    TArchiveChartSeries series;
    const int records = archive.RecordCount();
    const TOPVarList *names = archive.Names();
    const int timeColumn = ArchiveColumnIndex(archive, "DATETIME");
    const int alarm1 = ArchiveColumnIndex(archive, "ALARM1");
    const int alarm2 = ArchiveColumnIndex(archive, "ALARM2");
    series.HasAlarm1 = alarm1 >= 0;
    series.HasAlarm2 = alarm2 >= 0;
    if (!names || column < 0 || column >= names->Count() || timeColumn < 0) {
        series.Skipped = records;
        return series;
    }
    series.ColumnName = names->GetItem(column)->Name;

    // Every record with a time: the thresholds hold over records whose own
    // value is no number too.
    struct Row {
        double x, y, alarm1, alarm2;
    };
    std::vector<Row> rows;
    rows.reserve(size_t(records));
    const double none = std::nan("");
    for (int r = 0; r < records; ++r) {
        qint64 time = 0;
        if (!ParseArchiveDateTime(archive.Value(r, timeColumn), time)) {
            ++series.Skipped;
            continue;
        }
        const double y = numberOf(archive.Value(r, column));
        if (std::isnan(y))
            ++series.Skipped;
        rows.push_back({double(time), y, alarm1 >= 0 ? numberOf(archive.Value(r, alarm1)) : none,
                        alarm2 >= 0 ? numberOf(archive.Value(r, alarm2)) : none});
    }
    // An archive is read oldest first, but the installation's clock may have
    // been set back between records.
    if (!std::is_sorted(rows.begin(), rows.end(), [](const Row &a, const Row &b) { return a.x < b.x; }))
        std::stable_sort(rows.begin(), rows.end(), [](const Row &a, const Row &b) { return a.x < b.x; });

    series.Points.reserve(qsizetype(rows.size()));
    for (const Row &row : rows)
        if (!std::isnan(row.y))
            series.Points.append(QPointF(row.x, row.y));

    auto steps = [&](double Row::*field, QList<QPointF> &line) {
        bool started = false;
        double level = 0;
        for (const Row &row : rows) {
            const double v = row.*field;
            if (std::isnan(v))
                continue; // a threshold that is no number: the line holds
            if (!started) {
                line.append(QPointF(row.x, v));
                started = true;
            } else if (v != level) {
                line.append(QPointF(row.x, level));
                line.append(QPointF(row.x, v));
            }
            level = v;
        }
        if (started && line.last().x() != rows.back().x)
            line.append(QPointF(rows.back().x, level));
    };
    if (series.HasAlarm1)
        steps(&Row::alarm1, series.Alarm1);
    if (series.HasAlarm2)
        steps(&Row::alarm2, series.Alarm2);
    return series;
}

QList<QPointF> ThinChartPoints(const QList<QPointF> &points, double xMin, double xMax, int buckets)
{
    auto lo = std::lower_bound(points.begin(), points.end(), xMin,
                               [](const QPointF &p, double x) { return p.x() < x; });
    auto hi = std::upper_bound(points.begin(), points.end(), xMax,
                               [](double x, const QPointF &p) { return x < p.x(); });
    if (lo != points.begin())
        --lo;
    if (hi != points.end())
        ++hi;
    if (hi <= lo)
        return {};
    const double width = (xMax - xMin) / std::max(1, buckets);
    if (buckets <= 0 || hi - lo <= 4 * qsizetype(buckets) || !(width > 0))
        return QList<QPointF>(lo, hi);

    QList<QPointF> thin;
    thin.reserve(4 * qsizetype(buckets) + 8);
    auto bucketOf = [&](double x) {
        // The two outside points have buckets of their own.
        if (x < xMin)
            return -1;
        if (x > xMax)
            return buckets + 1;
        return std::min(buckets - 1, int((x - xMin) / width));
    };
    auto it = lo;
    while (it != hi) {
        const int bucket = bucketOf(it->x());
        auto first = it, low = it, high = it, last = it;
        for (++it; it != hi && bucketOf(it->x()) == bucket; ++it) {
            last = it;
            if (it->y() < low->y())
                low = it;
            if (it->y() > high->y())
                high = it;
        }
        std::array<decltype(it), 4> chosen{first, low, high, last};
        std::sort(chosen.begin(), chosen.end());
        for (size_t i = 0; i < chosen.size(); ++i)
            if (i == 0 || chosen[i] != chosen[i - 1])
                thin.append(*chosen[i]);
    }
    return thin;
}

QByteArray ArchiveChartCsv(const TArchiveChartSeries &series, double xMin, double xMax)
{
    QByteArray csv = "DATETIME," + CsvField(series.ColumnName) + '\n';
    for (const QPointF &p : series.Points) {
        if (p.x() < xMin || p.x() > xMax)
            continue;
        csv += FormatArchiveDateTime(qint64(p.x())) + ',' + QByteArray::number(p.y(), 'g', 15) + '\n';
    }
    return csv;
}
