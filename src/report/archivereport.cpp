#include "report/archivereport.h"

#include "analysis/archivestats.h"
#include "base/cp1251.h"
#include "base/textutils.h"
#include "base/installationtime.h"
#include "report/reportchart.h"

#include <QTimeZone>
#include <algorithm>
#include <cmath>
#include <vector>

namespace {
const QByteArray kValueColumn = "ACTIVITY";

QString timeText(qint64 msecs)
{
    return QString::fromLatin1(InstallationTimeText(QDateTime::fromMSecsSinceEpoch(msecs, QTimeZone::utc())));
}

// The records of the period, in the order they were recorded.
class PeriodTable : public TReportTable {
public:
    PeriodTable(const TRecordTable &records, std::vector<int> rows) : records_(records), rows_(std::move(rows))
    {
        for (const QByteArray &name : records_.Columns())
            headings_ << FromCp1251(name);
    }
    QStringList Headings() const override { return headings_; }
    int RowCount() const override { return int(rows_.size()); }
    QString Cell(int row, int column) const override
    {
        const std::optional<QByteArrayView> text = records_.Text(rows_[size_t(row)], column);
        return text ? FromCp1251(text->toByteArray()) : QStringLiteral("—");
    }

private:
    const TRecordTable &records_;
    std::vector<int> rows_;
    QStringList headings_;
};

// The thresholds of the records as steps over time.
void thresholdSteps(const std::vector<TStatRecord> &records, int level, QList<QPointF> &steps)
{
    bool started = false;
    double held = 0;
    for (const TStatRecord &r : records) {
        const double v = r.Alarm[level];
        if (std::isnan(v))
            continue;
        if (!started)
            steps << QPointF(double(r.Time), v);
        else if (v != held)
            steps << QPointF(double(r.Time), held) << QPointF(double(r.Time), v);
        started = true;
        held = v;
    }
    if (started && steps.last().x() != double(records.back().Time))
        steps << QPointF(double(records.back().Time), held);
}
} // namespace

QString ReportNumber(double value)
{
    return std::isnan(value) ? QStringLiteral("—") : QString::number(value, 'g', 6);
}

QString ReportDuration(qint64 msecs)
{
    const qint64 seconds = (msecs + 500) / 1000;
    const qint64 h = seconds / 3600, m = seconds / 60 % 60, s = seconds % 60;
    if (h > 0)
        return QStringLiteral("%1 ч %2 мин %3 с").arg(h).arg(m, 2, 10, QLatin1Char('0')).arg(s, 2, 10, QLatin1Char('0'));
    if (m > 0)
        return QStringLiteral("%1 мин %2 с").arg(m).arg(s, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1 с").arg(s);
}

std::unique_ptr<TReportDocument> BuildArchiveReport(const TArchiveReportSource &source)
{
    const TRecordTable &records = *source.Records;
    auto report = std::make_unique<TReportDocument>(source.FontFamily);
    report->Title = QStringLiteral("Отчёт по архиву КВАРН-Т");

    const std::optional<qint64> since =
        source.Since ? std::optional(source.Since->toMSecsSinceEpoch()) : std::nullopt;
    const std::optional<qint64> until =
        source.Until ? std::optional(source.Until->toMSecsSinceEpoch()) : std::nullopt;
    const TStatRecords statRecords = CollectStatRecords(records, kValueColumn);
    const TArchiveStats stats = ComputeArchiveStats(statRecords, since, until);

    // The period's records: all of them without bounds, else those whose
    // time reads and lies within.
    std::vector<int> rows;
    std::vector<TStatRecord> inPeriod;
    for (const TStatRecord &r : statRecords.Records)
        if ((!since || r.Time >= *since) && (!until || r.Time <= *until))
            inPeriod.push_back(r);
    if (since || until) {
        for (const TStatRecord &r : inPeriod)
            rows.push_back(r.Record);
        std::sort(rows.begin(), rows.end());
    } else {
        rows.resize(size_t(records.RecordCount()));
        for (int i = 0; i < int(rows.size()); ++i)
            rows[size_t(i)] = i;
    }

    QByteArray serial;
    if (const int column = records.ColumnIndex("SERIALN"); column >= 0)
        for (int r : rows)
            if (const auto text = records.Text(r, column); text && !text->trimmed().isEmpty()) {
                serial = text->trimmed().toByteArray();
                break;
            }
    if (serial.isEmpty())
        serial = source.Serial;

    report->AddTitle(QStringLiteral("Отчёт по архиву установки КВАРН-Т"));
    QList<QPair<QString, QString>> header;
    header << qMakePair(QStringLiteral("Заводской номер:"),
                        serial.isEmpty() ? QStringLiteral("не записан") : FromCp1251(serial));
    QStringList period;
    if (source.Since)
        period << QStringLiteral("с ") + QString::fromLatin1(InstallationTimeText(*source.Since));
    if (source.Until)
        period << QStringLiteral("по ") + QString::fromLatin1(InstallationTimeText(*source.Until));
    // Without bounds the period is what the records span: they may be any
    // part of the installation's archive.
    if (period.isEmpty())
        period << (stats.Records > 0 ? QStringLiteral("с %1 по %2").arg(timeText(stats.First), timeText(stats.Last))
                                     : QStringLiteral("не известен: время записей не читается"));
    header << qMakePair(QStringLiteral("Период:"), period.join(u' '));
    QString count = QString::number(rows.size());
    if (!source.RecordNumbers.isEmpty())
        count += QStringLiteral(" (") + source.RecordNumbers + u')';
    header << qMakePair(QStringLiteral("Записи:"),
                        stats.Records > 0 ? QStringLiteral("%1, с %2 по %3")
                                                .arg(count)
                                                .arg(timeText(stats.First), timeText(stats.Last))
                                          : count);
    if (statRecords.UnreadableTimes > 0)
        header << qMakePair(QStringLiteral("Время не читается:"),
                            CountWithNoun(statRecords.UnreadableTimes, "запись", "записи", "записей"));
    header << qMakePair(QStringLiteral("Источник:"), source.Origin);
    QStringList names;
    for (const QByteArray &name : records.Columns())
        names << FromCp1251(name);
    header << qMakePair(QStringLiteral("Переменные:"), names.join(QStringLiteral(", ")));
    report->AddPairs(header);

    report->AddHeading(QStringLiteral("Статистика ACTIVITY"));
    if (!statRecords.HasValueColumn) {
        report->AddText(QStringLiteral("В архиве нет столбца ACTIVITY."));
    } else {
        auto above = [&](int level) {
            return stats.Above[level] ? ReportDuration(*stats.Above[level])
                                      : QStringLiteral("не записано (нет ALARM%1 и ALARM%1ON)").arg(level + 1);
        };
        report->AddPairs({
            {QStringLiteral("Число значений:"), QString::number(stats.Count)},
            {QStringLiteral("Минимум:"), ReportNumber(stats.Min)},
            {QStringLiteral("Максимум:"), ReportNumber(stats.Max)},
            {QStringLiteral("Среднее:"), ReportNumber(stats.Mean)},
            {QStringLiteral("Стандартное отклонение:"), ReportNumber(stats.StdDev)},
            {QStringLiteral("Среднее по времени:"), ReportNumber(stats.TimeWeightedMean)},
            {QStringLiteral("Время выше ALARM1:"), above(0)},
            {QStringLiteral("Время выше ALARM2:"), above(1)},
        });

        auto chart = std::make_shared<TReportChartSeries>();
        chart->ValueName = QStringLiteral("ACTIVITY");
        chart->ValueAxisTitle = QStringLiteral("ACTIVITY, Бк/м³");
        for (const TStatRecord &r : inPeriod)
            if (!std::isnan(r.Value))
                chart->Values << QPointF(double(r.Time), r.Value);
        if (!inPeriod.empty())
            for (int level = 0; level < 2; ++level)
                thresholdSteps(inPeriod, level, chart->Alarm[level]);
        report->AddDrawing(85, [chart](QPainter &painter, const QRectF &area) {
            DrawReportChart(painter, area, *chart);
        });

        report->AddHeading(QStringLiteral("Превышения уставок"));
        if (stats.Exceedances.isEmpty()) {
            report->AddText(QStringLiteral("Превышений нет."));
        } else {
            QList<QStringList> lines;
            for (const TExceedance &e : stats.Exceedances)
                lines << QStringList{QStringLiteral("ALARM%1").arg(e.Level), timeText(e.Start), timeText(e.End),
                                     ReportDuration(e.End - e.Start), ReportNumber(e.Peak),
                                     std::isnan(e.Peak) ? QString() : timeText(e.PeakTime)};
            report->AddTable(std::make_shared<TReportTextTable>(
                QStringList{QStringLiteral("Уставка"), QStringLiteral("Начало"), QStringLiteral("Конец"),
                            QStringLiteral("Длительность"), QStringLiteral("Пик"), QStringLiteral("Время пика")},
                lines));
        }
    }

    report->AddPageBreak();
    report->AddHeading(QStringLiteral("Записи архива"));
    if (rows.empty())
        report->AddText(QStringLiteral("В периоде нет записей."));
    else
        report->AddTable(std::make_shared<PeriodTable>(records, std::move(rows)));
    return report;
}
