// The figures of an archive period against values worked out by hand:
// regular records, a gap with an unreadable value, a clock set back, the
// alarm flags deciding over the thresholds, a range, no value column; and
// the two moving averages.

#include "analysis/archivestats.h"
#include "instrument/archivetable.h"
#include "support/varlists.h"

#include <QDateTime>
#include <QTest>
#include <QTimeZone>
#include <cmath>

namespace {
using Rows = QList<QList<QByteArray>>;
const double kNan = std::nan("");

// Seconds after midnight of 1 March 2026 on the installation's clock.
qint64 at(int seconds)
{
    return QDateTime(QDate(2026, 3, 1), QTime(0, 0), QTimeZone::utc()).addSecs(seconds).toMSecsSinceEpoch();
}

QByteArray timeText(int seconds)
{
    return QDateTime::fromMSecsSinceEpoch(at(seconds), QTimeZone::utc()).toString("dd/MM/yyyy hh.mm.ss").toLatin1();
}

// level:start-end:peak@time, times in seconds after midnight.
QString describe(const TExceedance &e)
{
    auto s = [](qint64 ms) { return QString::number((ms - at(0)) / 1000); };
    return QString("%1:%2-%3:%4@%5").arg(e.Level).arg(s(e.Start), s(e.End)).arg(e.Peak).arg(s(e.PeakTime));
}

struct Expected {
    int records, count, unreadableTimes;
    double min, max, mean, stdDev, timeWeighted;
    int above1, above2; // seconds; -1: not recorded
    QStringList exceedances;
};
} // namespace
Q_DECLARE_METATYPE(Expected)

class TestArchiveStats : public QObject {
    Q_OBJECT
private slots:
    void figures_data();
    void figures();
    void movingAverage();
};

void TestArchiveStats::figures_data()
{
    QTest::addColumn<QList<QByteArray>>("columns");
    QTest::addColumn<Rows>("rows"); // the first field: seconds after midnight, or a time text
    QTest::addColumn<int>("since"); // -1: none
    QTest::addColumn<int>("until");
    QTest::addColumn<Expected>("expected");

    const QList<QByteArray> thresholds{"DATETIME", "ALARM1", "ALARM2", "ACTIVITY"};
    // 10 s apart, 10..50; above 25 from 20 s, above 45 at 40 s.
    const Rows regular{{"0", "25", "45", "10"}, {"10", "25", "45", "20"}, {"20", "25", "45", "30"},
                       {"30", "25", "45", "40"}, {"40", "25", "45", "50"}};
    QTest::newRow("regular") << thresholds << regular << -1 << -1
                             << Expected{5, 5, 0, 10, 50, 30, std::sqrt(250.0), 30, 30, 10,
                                         {"1:20-50:50@40", "2:40-50:50@40"}};
    // The same within 10 s .. 30 s: the record at 30 s stands until 40 s.
    QTest::newRow("range") << thresholds << regular << 10 << 30
                           << Expected{3, 3, 0, 20, 40, 30, 10, 30, 20, 0, {"1:20-40:40@30"}};
    // Spacings 10, 20, 170, 10: usual 20, so 170 is a gap and the record at
    // 30 s stands for 20 s; the unreadable value at 10 s ends the first
    // value's time and has none of its own. Weighted: (10*10 + 30*20 +
    // 40*10 + 50*20) / 60 = 35; deviations -22.5, -2.5, 7.5, 17.5.
    QTest::newRow("gap, unreadable value")
        << thresholds
        << Rows{{"0", "35", "100", "10"}, {"10", "35", "100", "---"}, {"30", "35", "100", "30"},
                {"200", "35", "100", "40"}, {"210", "35", "100", "50"}}
        << -1 << -1 << Expected{5, 4, 0, 10, 50, 32.5, std::sqrt(875.0 / 3), 35, 30, 0, {"1:200-230:50@210"}};
    // Written 20 s, 0 s, 5 s (the clock set back), and a time that is no
    // date; no thresholds. In time order 1, 2, 3 standing 5, 15, 15 s.
    const QList<QByteArray> plain{"DATETIME", "ACTIVITY"};
    QTest::newRow("unsorted clock, no thresholds")
        << plain << Rows{{"20", "3"}, {"31/02/2026 00.00.00", "9"}, {"0", "1"}, {"5", "2"}} << -1 << -1
        << Expected{3, 3, 1, 1, 3, 2, 1, 80.0 / 35, -1, -1, {}};
    // ALARM1ON says 0 at 100 > 50 and 1 at 10 < 50; where it does not
    // read, the threshold decides (60 > 50).
    QTest::newRow("flags decide")
        << QList<QByteArray>{"DATETIME", "ALARM1", "ALARM1ON", "ACTIVITY"}
        << Rows{{"0", "50", "0", "100"}, {"10", "50", "1", "10"}, {"20", "50", "x", "60"}} << -1 << -1
        << Expected{3, 3, 0, 10, 100, 170.0 / 3, std::sqrt(36600.0 / 9 / 2),
                    170.0 / 3, 20, -1, {"1:10-30:60@20"}};
    // Flags alone: an exceedance without a value has no peak.
    QTest::newRow("flag without value")
        << QList<QByteArray>{"DATETIME", "ALARM2ON", "ACTIVITY"} << Rows{{"0", "1", "?"}, {"60", "0", "4"}}
        << -1 << -1 << Expected{2, 1, 0, 4, 4, 4, 0, 4, -1, 60, {"2:0-60:nan@0"}};
    QTest::newRow("no value column")
        << QList<QByteArray>{"DATETIME", "STATUS"} << Rows{{"0", "1"}, {"10", "1"}} << -1 << -1
        << Expected{2, 0, 0, kNan, kNan, kNan, kNan, kNan, -1, -1, {}};
    QTest::newRow("nothing in range") << thresholds << regular << 100 << 200
                                      << Expected{0, 0, 0, kNan, kNan, kNan, kNan, kNan, -1, -1, {}};
}

void TestArchiveStats::figures()
{
    QFETCH(QList<QByteArray>, columns);
    QFETCH(Rows, rows);
    QFETCH(int, since);
    QFETCH(int, until);
    QFETCH(Expected, expected);

    for (auto &row : rows) {
        bool seconds = false;
        const int s = row[0].toInt(&seconds);
        if (seconds)
            row[0] = timeText(s);
    }
    const auto archive = archiveOf(columns, rows);
    const TStatRecords records = CollectStatRecords(TArchiveTable(*archive), "activity");
    const TArchiveStats stats = ComputeArchiveStats(records, since < 0 ? std::nullopt : std::optional(at(since)),
                                                    until < 0 ? std::nullopt : std::optional(at(until)));

    QCOMPARE(records.UnreadableTimes, expected.unreadableTimes);
    QCOMPARE(stats.Records, expected.records);
    QCOMPARE(stats.Count, expected.count);
    const double got[] = {stats.Min, stats.Max, stats.Mean, stats.StdDev, stats.TimeWeightedMean};
    const double want[] = {expected.min, expected.max, expected.mean, expected.stdDev, expected.timeWeighted};
    for (int i = 0; i < 5; ++i) {
        if (std::isnan(want[i]))
            QVERIFY2(std::isnan(got[i]), qPrintable(QString("figure %1: %2").arg(i).arg(got[i])));
        else
            QVERIFY2(std::abs(got[i] - want[i]) < 1e-9, qPrintable(QString("figure %1: %2, not %3").arg(i).arg(got[i]).arg(want[i])));
    }
    const int above[] = {expected.above1, expected.above2};
    for (int level = 0; level < 2; ++level) {
        if (above[level] < 0 || expected.records == 0)
            QVERIFY(!stats.Above[level] || expected.records == 0);
        else
            QCOMPARE(stats.Above[level].value_or(-1), qint64(above[level]) * 1000);
    }
    QStringList exceedances;
    for (const TExceedance &e : stats.Exceedances)
        exceedances << describe(e);
    QCOMPARE(exceedances, expected.exceedances);
}

void TestArchiveStats::movingAverage()
{
    const QList<QPointF> points{{0, 1}, {10, 3}, {20, 5}, {60, 7}, {70, 9}};
    QCOMPARE(MovingAverageByCount(points, 2), (QList<QPointF>{{0, 1}, {10, 2}, {20, 4}, {60, 6}, {70, 8}}));
    QCOMPARE(MovingAverageByCount(points, 1), points);
    // The points at most 20 before each: 1 | 1 3 | 1 3 5 | 7 | 7 9.
    QCOMPARE(MovingAverageBySpan(points, 20), (QList<QPointF>{{0, 1}, {10, 2}, {20, 3}, {60, 7}, {70, 8}}));
}

QTEST_GUILESS_MAIN(TestArchiveStats)
#include "tst_archivestats.moc"
