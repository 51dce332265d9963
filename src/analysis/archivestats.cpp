#include "analysis/archivestats.h"

#include "base/installationtime.h"

#include <QTimeZone>
#include <algorithm>
#include <cmath>
#include <limits>

namespace {
const double kNone = std::numeric_limits<double>::quiet_NaN();

QByteArrayView trimmed(QByteArrayView text)
{
    while (!text.isEmpty() && uchar(text.front()) <= 32)
        text = text.sliced(1);
    while (!text.isEmpty() && uchar(text.back()) <= 32)
        text.chop(1);
    return text;
}

double numberAt(const TRecordTable &table, int record, int column)
{
    if (column < 0)
        return kNone;
    const std::optional<QByteArrayView> text = table.Text(record, column);
    if (!text)
        return kNone;
    bool ok = false;
    const double value = trimmed(*text).toByteArray().toDouble(&ok);
    return ok && std::isfinite(value) ? value : kNone;
}

qint8 flagAt(const TRecordTable &table, int record, int column)
{
    if (column < 0)
        return -1;
    const std::optional<QByteArrayView> text = table.Text(record, column);
    if (!text)
        return -1;
    const QByteArrayView flag = trimmed(*text);
    return flag == "1" ? 1 : flag == "0" ? 0 : -1;
}

// The usual spacing: the median of the positive spacings, 0 when there is none.
qint64 usualSpacing(const std::vector<TStatRecord> &records)
{
    std::vector<qint64> spacings;
    spacings.reserve(records.size());
    for (size_t i = 1; i < records.size(); ++i)
        if (records[i].Time > records[i - 1].Time)
            spacings.push_back(records[i].Time - records[i - 1].Time);
    if (spacings.empty())
        return 0;
    auto middle = spacings.begin() + spacings.size() / 2;
    std::nth_element(spacings.begin(), middle, spacings.end());
    return *middle;
}

bool exceeded(const TStatRecord &r, int level)
{
    if (r.AlarmOn[level] >= 0)
        return r.AlarmOn[level] == 1;
    return !std::isnan(r.Value) && !std::isnan(r.Alarm[level]) && r.Value > r.Alarm[level];
}
} // namespace

TStatRecords CollectStatRecords(const TRecordTable &table, QByteArrayView column)
{
    TStatRecords out;
    const int time = table.ColumnIndex("DATETIME");
    const int value = table.ColumnIndex(column);
    const int alarm[2] = {table.ColumnIndex("ALARM1"), table.ColumnIndex("ALARM2")};
    const int alarmOn[2] = {table.ColumnIndex("ALARM1ON"), table.ColumnIndex("ALARM2ON")};
    out.HasValueColumn = value >= 0;
    for (int level = 0; level < 2; ++level)
        out.HasAlarm[level] = alarm[level] >= 0 || alarmOn[level] >= 0;
    const int count = table.RecordCount();
    out.Records.reserve(size_t(count));
    for (int r = 0; r < count; ++r) {
        const std::optional<QByteArrayView> timeText = time >= 0 ? table.Text(r, time) : std::nullopt;
        const std::optional<QDateTime> at = timeText ? ParseInstallationTime(timeText->toByteArray()) : std::nullopt;
        if (!at) {
            ++out.UnreadableTimes;
            continue;
        }
        TStatRecord record;
        record.Time = at->toMSecsSinceEpoch();
        record.Value = numberAt(table, r, value);
        for (int level = 0; level < 2; ++level) {
            record.Alarm[level] = numberAt(table, r, alarm[level]);
            record.AlarmOn[level] = flagAt(table, r, alarmOn[level]);
        }
        record.Record = r;
        out.Records.push_back(record);
    }
    std::stable_sort(out.Records.begin(), out.Records.end(),
                     [](const TStatRecord &a, const TStatRecord &b) { return a.Time < b.Time; });
    return out;
}

TArchiveStats ComputeArchiveStats(const TStatRecords &input, std::optional<qint64> since, std::optional<qint64> until)
{
    TArchiveStats stats;
    stats.Min = stats.Max = stats.Mean = stats.StdDev = stats.TimeWeightedMean = kNone;
    const std::vector<TStatRecord> &records = input.Records;
    const qint64 usual = usualSpacing(records);
    const qint64 gap = usual * kGapSpacings;
    auto first = records.begin();
    auto last = records.end();
    if (since)
        first = std::lower_bound(records.begin(), records.end(), *since,
                                 [](const TStatRecord &r, qint64 t) { return r.Time < t; });
    if (until)
        last = std::upper_bound(first, records.end(), *until,
                                [](qint64 t, const TStatRecord &r) { return t < r.Time; });
    if (first == last)
        return stats;
    stats.Records = int(last - first);
    stats.First = first->Time;
    stats.Last = (last - 1)->Time;
    for (int level = 0; level < 2; ++level)
        if (input.HasAlarm[level])
            stats.Above[level] = 0;

    // How long a record stands, and whether the one after it follows without a gap.
    auto standing = [&](std::vector<TStatRecord>::const_iterator it, bool &joined) -> qint64 {
        const auto next = it + 1;
        joined = next != records.end() && next->Time - it->Time <= gap;
        return joined ? next->Time - it->Time : usual;
    };

    // Welford's sums, so that large values with a small spread keep their digits.
    double mean = 0, m2 = 0, weighted = 0, weight = 0;
    TExceedance open[2];
    bool isOpen[2] = {false, false};
    auto close = [&](int level) {
        if (isOpen[level])
            stats.Exceedances.append(open[level]);
        isOpen[level] = false;
    };
    for (auto it = first; it != last; ++it) {
        bool joined = false;
        const qint64 hold = standing(it, joined);
        const double v = it->Value;
        if (!std::isnan(v)) {
            ++stats.Count;
            stats.Min = stats.Count == 1 ? v : std::min(stats.Min, v);
            stats.Max = stats.Count == 1 ? v : std::max(stats.Max, v);
            const double delta = v - mean;
            mean += delta / stats.Count;
            m2 += delta * (v - mean);
            weighted += v * double(hold);
            weight += double(hold);
        }
        for (int level = 0; level < 2; ++level) {
            if (!exceeded(*it, level)) {
                close(level);
                continue;
            }
            *stats.Above[level] += hold;
            TExceedance &e = open[level];
            if (!isOpen[level]) {
                e = TExceedance{level + 1, it->Time, it->Time, kNone, it->Time};
                isOpen[level] = true;
            }
            e.End = it->Time + hold;
            if (!std::isnan(v) && (std::isnan(e.Peak) || v > e.Peak)) {
                e.Peak = v;
                e.PeakTime = it->Time;
            }
            // A gap ends the exceedance: nothing tells what came in it.
            if (!joined)
                close(level);
        }
    }
    close(0);
    close(1);
    std::stable_sort(stats.Exceedances.begin(), stats.Exceedances.end(),
                     [](const TExceedance &a, const TExceedance &b) { return a.Start < b.Start; });
    if (stats.Count > 0) {
        stats.Mean = mean;
        stats.StdDev = stats.Count > 1 ? std::sqrt(m2 / (stats.Count - 1)) : 0.0;
        // Values that all stand for no time (one record, or all at one time): the plain mean.
        stats.TimeWeightedMean = weight > 0 ? weighted / weight : mean;
    }
    return stats;
}

QList<QPointF> MovingAverageByCount(const QList<QPointF> &points, int count)
{
    QList<QPointF> out;
    out.reserve(points.size());
    count = std::max(1, count);
    double sum = 0;
    for (qsizetype i = 0; i < points.size(); ++i) {
        sum += points[i].y();
        if (i >= count)
            sum -= points[i - count].y();
        out.append(QPointF(points[i].x(), sum / double(std::min<qsizetype>(i + 1, count))));
    }
    return out;
}

QList<QPointF> MovingAverageBySpan(const QList<QPointF> &points, double span)
{
    QList<QPointF> out;
    out.reserve(points.size());
    double sum = 0;
    qsizetype from = 0;
    for (qsizetype i = 0; i < points.size(); ++i) {
        sum += points[i].y();
        while (points[from].x() < points[i].x() - span)
            sum -= points[from++].y();
        out.append(QPointF(points[i].x(), sum / double(i - from + 1)));
    }
    return out;
}
