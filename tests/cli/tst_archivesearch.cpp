// Finding archive records by time against an archive in memory: the exact
// first and last records for times before, inside, between and after the
// records, the number of DATETIME reads the bisection spends, records whose
// time does not read or goes backwards, a failed exchange; the times the
// command line takes; the rows of a CSV file appended to.

#include "base/installationtime.h"
#include "cli/archiveappend.h"
#include "cli/clicsv.h"
#include "instrument/archivesearch.h"

#include <QTest>
#include <QTimeZone>

#include <cmath>

namespace {

using Overrides = QHash<int, QByteArray>;

// Record n of an archive that starts at 01/12/2026 00.00.00, one record every
// ten minutes.
QDateTime timeOf(int record)
{
    return QDateTime(QDate(2026, 12, 1), QTime(0, 0), QTimeZone::utc()).addSecs(qint64(record - 1) * 600);
}

QByteArray textOf(int record)
{
    return InstallationTimeText(timeOf(record));
}

// A time between two records: offset seconds after record n.
QDateTime at(int record, int offsetSeconds = 0)
{
    return timeOf(record).addSecs(offsetSeconds);
}

int bound(int count)
{
    return count > 1 ? int(std::ceil(std::log2(double(count)))) + 2 : 2;
}

} // namespace

class TestArchiveSearch : public QObject {
    Q_OBJECT

private slots:
    void findsRange_data();
    void findsRange();
    void failedExchange();
    void commandLineTimes_data();
    void commandLineTimes();
    void lineTimeOfANight();
    void csvRows_data();
    void csvRows();
};

void TestArchiveSearch::findsRange_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<Overrides>("answers"); // records answering another DATETIME text
    QTest::addColumn<QDateTime>("from");    // invalid: no lower bound
    QTest::addColumn<bool>("strictlyAfter");
    QTest::addColumn<QDateTime>("until");   // invalid: no upper bound
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("last");
    QTest::addColumn<bool>("withinBound");  // reads per boundary within ceil(log2 N) + 2
    QTest::addColumn<QString>("note");      // part of a note, or empty for none

    const QDateTime none;
    const int n = 100000;
    QTest::newRow("before the archive") << n << Overrides{} << at(1, -3600) << false << at(1, -60) << 1 << 0
                                        << true << "";
    QTest::newRow("on records inside") << n << Overrides{} << at(43210) << false << at(43354) << 43210 << 43354
                                       << true << "";
    QTest::newRow("between two records") << n << Overrides{} << at(43210, 1) << false << at(43354, 599) << 43211
                                         << 43354 << true << "";
    QTest::newRow("after the archive") << n << Overrides{} << at(n, 1) << false << at(n, 3600) << n + 1 << n
                                       << true << "";
    QTest::newRow("from the first, to the last record") << n << Overrides{} << at(1) << false << at(n) << 1 << n
                                                        << true << "";
    QTest::newRow("since only, to the end") << n << Overrides{} << at(99857) << false << none << 99857 << n << true
                                            << "";
    QTest::newRow("strictly after a record's time") << n << Overrides{} << at(500) << true << none << 501 << n
                                                    << true << "";
    QTest::newRow("strictly after the last record: nothing new") << n << Overrides{} << at(n) << true << none
                                                                 << n + 1 << n << true << "";
    QTest::newRow("until only") << 1000 << Overrides{} << none << false << at(600, -1) << 1 << 599 << true << "";
    QTest::newRow("a power of two") << 1024 << Overrides{} << at(1024) << false << at(1) << 1024 << 1 << true << "";
    QTest::newRow("one record, inside") << 1 << Overrides{} << at(1) << false << at(1) << 1 << 1 << true << "";
    QTest::newRow("one record, after it") << 1 << Overrides{} << at(1, 1) << false << none << 2 << 1 << true << "";
    QTest::newRow("no records") << 0 << Overrides{} << at(1) << false << at(5) << 1 << 0 << true << "";

    // The first record read (the middle) answers "@@": its neighbour is read
    // instead, at one read's cost; a record of unknown time at a boundary is
    // taken in rather than lost.
    QTest::newRow("\"@@\" in the middle, boundary elsewhere")
        << 1000 << Overrides{{500, ""}} << at(300) << false << at(700) << 300 << 700 << true << "record 500";
    QTest::newRow("\"@@\" on the first record of the range")
        << 1000 << Overrides{{500, ""}} << at(500) << false << none << 500 << 1000 << true << "record 500";
    QTest::newRow("\"@@\" just before the first record: taken in")
        << 1000 << Overrides{{500, ""}} << at(501) << false << none << 500 << 1000 << true << "record 500";
    QTest::newRow("\"@@\" on the last record of the range")
        << 1000 << Overrides{{500, ""}} << at(200) << false << at(500) << 200 << 500 << true << "record 500";
    QTest::newRow("a run of records without time at the boundary")
        << 1000 << Overrides{{499, "@@"}, {500, ""}, {501, "32/13/2026 25.61.00"}} << at(500) << false << none
        << 499 << 1000 << false << "record 501";
    QTest::newRow("no record reads") << 5 << Overrides{{1, ""}, {2, ""}, {3, ""}, {4, ""}, {5, ""}} << at(3)
                                     << false << at(4) << 1 << 5 << false << "record 3";

    // A time that goes backwards ends the bisection in a scan of what is in
    // doubt; the range is still exact.
    QTest::newRow("a clock set back inside the range")
        << 1000 << Overrides{{750, "01/01/2020 00.00.00"}} << at(800) << false << none << 800 << 1000 << false
        << "is later than record 750 (01/01/2020 00.00.00)";
    QTest::newRow("a time ahead of the records after it")
        << 1000 << Overrides{{250, "01/01/2030 00.00.00"}} << at(200) << false << none << 200 << 1000 << false
        << "not in time order";
}

void TestArchiveSearch::findsRange()
{
    QFETCH(int, count);
    QFETCH(Overrides, answers);
    QFETCH(QDateTime, from);
    QFETCH(bool, strictlyAfter);
    QFETCH(QDateTime, until);
    QFETCH(int, first);
    QFETCH(int, last);
    QFETCH(bool, withinBound);
    QFETCH(QString, note);

    QList<int> read;
    TArchiveTimeSearch search(count, [&](int record) {
        read << record;
        if (record < 1 || record > count)
            qFatal("record %d is no record of the archive", record);
        return TRecordTimeRead{true, answers.value(record, textOf(record))};
    });
    int readsBefore = 0;
    if (from.isValid()) {
        QCOMPARE(search.FirstFrom(from, strictlyAfter).value_or(-1), first);
        if (withinBound)
            QVERIFY2(search.Reads() <= bound(count), qPrintable(QString::number(search.Reads())));
        readsBefore = search.Reads();
    }
    if (until.isValid()) {
        QCOMPARE(search.LastUpTo(until).value_or(-1), last);
        if (withinBound)
            QVERIFY2(search.Reads() - readsBefore <= bound(count), qPrintable(QString::number(search.Reads())));
    }
    QCOMPARE(search.Reads(), int(read.size()));
    QCOMPARE(QSet<int>(read.begin(), read.end()).size(), read.size()); // no record is read twice
    QCOMPARE(search.FailedRecord(), 0);
    if (note.isEmpty())
        QCOMPARE(search.Notes(), QStringList());
    else
        QVERIFY2(search.Notes().join('\n').contains(note), qPrintable(search.Notes().join('\n')));
}

void TestArchiveSearch::failedExchange()
{
    TArchiveTimeSearch search(1000, [](int record) {
        return record == 750 ? TRecordTimeRead{} : TRecordTimeRead{true, textOf(record)};
    });
    QVERIFY(!search.FirstFrom(at(800)));
    QCOMPARE(search.FailedRecord(), 750);
    QCOMPARE(search.Reads(), 2);
}

void TestArchiveSearch::commandLineTimes_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QDateTime>("expected"); // invalid: refused

    const QTimeZone utc = QTimeZone::utc();
    QTest::newRow("ISO date") << "2026-12-06" << QDateTime(QDate(2026, 12, 6), QTime(0, 0), utc);
    QTest::newRow("ISO minutes") << "2026-12-06 06:00" << QDateTime(QDate(2026, 12, 6), QTime(6, 0), utc);
    QTest::newRow("ISO seconds with T") << "2026-12-06T06:07:08" << QDateTime(QDate(2026, 12, 6), QTime(6, 7, 8), utc);
    QTest::newRow("installation's form") << "06/12/2026 06.07.08" << QDateTime(QDate(2026, 12, 6), QTime(6, 7, 8), utc);
    QTest::newRow("no such day") << "2026-02-30 06:00" << QDateTime();
    QTest::newRow("no such hour") << "2026-12-06 24:00" << QDateTime();
    QTest::newRow("hours without minutes") << "2026-12-06 06" << QDateTime();
    QTest::newRow("a word") << "yesterday" << QDateTime();
    QTest::newRow("installation's date without time") << "06/12/2026" << QDateTime();
}

void TestArchiveSearch::commandLineTimes()
{
    QFETCH(QString, text);
    QFETCH(QDateTime, expected);
    const std::optional<QDateTime> parsed = ParseCliTime(text);
    QCOMPARE(parsed.has_value(), expected.isValid());
    if (parsed)
        QCOMPARE(*parsed, expected);
}

// A night of ten-minute records with two variables at 9600 baud is about half
// a minute of line time; a step halves it; nothing to read takes nothing.
void TestArchiveSearch::lineTimeOfANight()
{
    const QList<QByteArray> columns{"DATETIME", "ACTIVITY"};
    const qint64 night = EstimateArchiveReadMs(columns, 99857, 100000, 1, 9600, 20);
    QVERIFY2(night > 20000 && night < 40000, qPrintable(QString::number(night)));
    const qint64 stepped = EstimateArchiveReadMs(columns, 99857, 100000, 2, 9600, 20);
    QVERIFY(std::abs(2 * stepped - night) < night / 50);
    QVERIFY(EstimateArchiveReadMs(columns, 99857, 100000, 1, 19200, 10) < night);
    QCOMPARE(EstimateArchiveReadMs(columns, 5, 4, 1, 9600, 20), 0);
    QCOMPARE(DurationText(night), QStringLiteral("%1 s").arg((night + 500) / 1000));
    QCOMPARE(DurationText(3 * 3600000 + 20 * 60000 + 4000), QStringLiteral("3 h 20 min"));
}

void TestArchiveSearch::csvRows_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QList<QList<QByteArray>>>("rows");
    QTest::addColumn<bool>("ok");

    using Rows = QList<QList<QByteArray>>;
    QTest::newRow("plain, LF") << QByteArray("A,B\n1,2\n") << Rows{{"A", "B"}, {"1", "2"}} << true;
    QTest::newRow("CR LF, no last line end") << QByteArray("A,B\r\n1,\r\n,2") << Rows{{"A", "B"}, {"1", ""}, {"", "2"}}
                                             << true;
    QTest::newRow("quoted separator, quote and line end")
        << QByteArray("A\n\"x,y\"\n\"say \"\"hi\"\"\"\n\"two\nlines\"\n") << Rows{{"A"}, {"x,y"}, {"say \"hi\""}, {"two\nlines"}}
        << true;
    QTest::newRow("unclosed quote") << QByteArray("A\n\"x\n") << Rows{} << false;
    QTest::newRow("quote inside a field") << QByteArray("A\nx\"y\n") << Rows{} << false;
    QTest::newRow("text after a closing quote") << QByteArray("A\n\"x\"y\n") << Rows{} << false;
}

void TestArchiveSearch::csvRows()
{
    QFETCH(QByteArray, text);
    QFETCH(QList<QList<QByteArray>>, rows);
    QFETCH(bool, ok);
    const auto parsed = ParseCsvRows(text);
    QCOMPARE(parsed.has_value(), ok);
    if (ok)
        QCOMPARE(*parsed, rows);
    // Every field the tool writes reads back as itself.
    for (const QByteArray &field : {QByteArray("a,b"), QByteArray("\"q\""), QByteArray("l1\nl2"), QByteArray("")})
        QCOMPARE(ParseCsvRows(CsvField(field) + "\n"), (QList<QList<QByteArray>>{{field}}));
}

QTEST_GUILESS_MAIN(TestArchiveSearch)
#include "tst_archivesearch.moc"
