// Reports as an operator gets them, read back with poppler's tools: the
// archive report written by kvarnctl without a display (header, period,
// figures, first and last records, pages, a chart that is not blank, its
// refusals), a cancelled report that leaves the earlier file, and the
// spectrum report with its calibration and peaks.

#include "instrument/archivetable.h"
#include "instrument/devicearchive.h"
#include "report/archivereport.h"
#include "report/reportchart.h"
#include "report/spectrumreport.h"
#include "store/sitestore.h"
#include "support/pdfpages.h"

#include <QDateTime>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

namespace {
const QDateTime kStart(QDate(2026, 12, 6), QTime(6, 0), QTimeZone::utc());

QString timeText(int record)
{
    return kStart.addSecs(10 * record).toString("dd/MM/yyyy hh.mm.ss");
}

// Record i: 10 s apart, ACTIVITY 10 + (7 i mod 100), ALARM1 100, ALARM2 105.
double activity(int record)
{
    return 10 + (7 * record) % 100;
}

// An archive file as the window saves it (columns padded, CR LF).
QByteArray archiveFile(int records)
{
    QByteArray text = "DATETIME             SERIALN  ALARM1  ALARM2  ACTIVITY  \r\n";
    for (int i = 0; i < records; ++i)
        text += timeText(i).toLatin1() + "  A-4711   100     105     " +
                QByteArray::number(activity(i)).leftJustified(8) + "  \r\n";
    return text;
}

// The report of every record of an archive file's text, written as PDF.
TReportResult writeReportOf(const QByteArray &fileText, const QString &pdf, const TReportProgress &progress = {})
{
    TDeviceArchive archive;
    if (!archive.FromFileText(fileText))
        return TReportResult::Failed;
    const TArchiveTable table(archive);
    TArchiveReportSource source;
    source.Records = &table;
    return WriteReportPdf(*BuildArchiveReport(source), pdf, progress);
}
} // namespace

class TestReports : public QObject {
    Q_OBJECT
private slots:
    void archiveReportFromKvarnctl();
    void archiveReportFromTheSiteDatabase();
    void refusals();
    void cancelledReportKeepsTheFile();
    void oddArchivesStillReport();
    void spectrumReport();
    void chartTextsKeepClear();
};

void TestReports::archiveReportFromKvarnctl()
{
    QTemporaryDir dir;
    const QString daf = dir.filePath("night.daf"), pdf = dir.filePath("night.pdf");
    QFile file(daf);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(archiveFile(400)) > 0);
    file.close();
    // Records 20 .. 369 of 400.
    const int first = 20, last = 369;
    const ProgramRun tool = runProgram(qEnvironmentVariable("KVARN_CTL"),
                         {"report", daf, "--since", timeText(first), "--until", timeText(last), "-o", pdf}, true);
    QVERIFY2(tool.status == 0, tool.err.constData());
    // Nothing on standard error when all went well: cron mails nothing.
    QCOMPARE(tool.err, QByteArray());

    const QStringList pages = pageTexts(pdf);
    const int count = pageCount(pdf);
    QCOMPARE(pages.size(), count);
    const QString head = pages.value(0);
    QVERIFY(head.contains("A-4711"));
    QVERIFY(head.contains(QString("с %1 по %2").arg(timeText(first), timeText(last))));
    double least = 1e9, greatest = -1e9;
    for (int i = first; i <= last; ++i) {
        least = std::min(least, activity(i));
        greatest = std::max(greatest, activity(i));
    }
    for (const QString &figure : {QString("Число значений:\\s+%1").arg(last - first + 1),
                                  QString("Минимум:\\s+%1").arg(least), QString("Максимум:\\s+%1").arg(greatest)})
        QVERIFY2(head.contains(QRegularExpression(figure)), qPrintable(figure));
    QVERIFY(head.contains("ALARM2"));

    // The records begin on a page of their own; each of their pages has the
    // headings, the rows follow on from page to page, and the pages add up.
    int firstRecords = 0;
    while (firstRecords < pages.size() && !pages[firstRecords].contains("Записи архива"))
        ++firstRecords;
    QVERIFY(firstRecords > 0 && firstRecords < pages.size());
    QStringList rows;
    for (int p = firstRecords; p < pages.size(); ++p) {
        QVERIFY2(pages[p].contains(QRegularExpression("DATETIME\\s+SERIALN\\s+ALARM1\\s+ALARM2\\s+ACTIVITY")),
                 qPrintable(QString("page %1").arg(p + 1)));
        QVERIFY(pages[p].contains(QString("стр. %1 из %2").arg(p + 1).arg(count)));
        for (const QString &line : pages[p].split(u'\n'))
            if (line.contains(QRegularExpression("^\\s*\\d\\d/\\d\\d/\\d{4} ")))
                rows << line.trimmed().left(19);
    }
    QCOMPARE(rows.size(), last - first + 1);
    QCOMPARE(rows.first(), timeText(first));
    QCOMPARE(rows.last(), timeText(last));
    const int perPage = int(pages[firstRecords].count(QRegularExpression("\\n\\s*\\d\\d/\\d\\d/\\d{4} ")));
    QVERIFY(perPage > 20);
    QCOMPARE(count, firstRecords + (last - first + 1 + perPage - 1) / perPage);

    // The chart's blue line is drawn on the first page.
    QVERIFY(bluePixels(pdf, 1, dir.path()) > 100);
}

// The records kvarn-collect stored for one installation, without SERIALN
// among them: the serial number comes from what was last read.
void TestReports::archiveReportFromTheSiteDatabase()
{
    QTemporaryDir dir;
    const QString db = dir.filePath("site.db"), pdf = dir.filePath("hall.pdf");
    {
        TSiteStore store("report-test");
        QCOMPARE(store.Open(*TStoreUrl::Parse("sqlite:" + db, nullptr)), TSiteStore::OpenResult::Ok);
        TStoreBatch batch{"hall-1", QByteArray("B-0815"), {"ALARM1", "ACTIVITY"}, {}, {}, {}};
        for (int i = 0; i < 100; ++i)
            batch.Records << TStoreRecord{timeText(i).toLatin1(), {QByteArray("100"),
                                                                  i == 50 ? std::nullopt
                                                                          : std::optional(QByteArray::number(activity(i)))}};
        QVERIFY(store.Write(batch));
    }
    const ProgramRun tool =
        runProgram(qEnvironmentVariable("KVARN_CTL"), {"report", "--db", "sqlite:" + db, "--installation", "hall-1",
                                                       "--since", timeText(40), "-o", pdf});
    QVERIFY2(tool.status == 0, tool.err.constData());
    const QString text = pageTexts(pdf).join(u'\f');
    // Records 40 .. 99, one of them without a value.
    for (const QString &expected : {QString("B-0815"), QString("hall-1"), QString("Число значений:\\s+59"),
                                    timeText(40), timeText(99)})
        QVERIFY2(text.contains(QRegularExpression(expected)), qPrintable(expected));
    QVERIFY(!text.contains(timeText(39)));
}

void TestReports::refusals()
{
    QTemporaryDir dir;
    const QString pdf = dir.filePath("r.pdf");
    const QString notArchive = dir.filePath("empty.daf");
    QFile(notArchive).open(QIODevice::WriteOnly);
    const QString ctl = qEnvironmentVariable("KVARN_CTL");
    struct Case {
        QStringList arguments;
        const char *message;
    };
    const QList<Case> cases{
        {{"report", notArchive, "-o", pdf}, "cannot be read as an archive"},
        {{"report", notArchive}, "-o REPORT.pdf"},
        {{"report", dir.filePath("none.daf"), "-o", pdf}, "does not exist"},
        {{"report", notArchive, "--since", "2026-12-07", "--until", "2026-12-06", "-o", pdf}, "earlier"},
        {{"report", "--db", "sqlite:" + dir.filePath("none.db"), "-o", pdf}, "give both"},
        {{"report", "--db", "sqlite:" + dir.filePath("none.db"), "--installation", "x", "-o", pdf},
         "no database file"},
    };
    for (const Case &c : cases) {
        const ProgramRun tool = runProgram(ctl, c.arguments);
        QCOMPARE(tool.status, 2);
        QVERIFY2(tool.err.contains(c.message), tool.err.constData());
        QVERIFY(!QFile::exists(pdf));
    }
}

void TestReports::cancelledReportKeepsTheFile()
{
    QTemporaryDir dir;
    const QString pdf = dir.filePath("a.pdf");
    QFile file(pdf);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write("earlier") == 7);
    file.close();
    QList<int> told;
    const TReportResult result = writeReportOf(archiveFile(400), pdf, [&](int done, int pages) {
        told << done << pages;
        return done < 2;
    });
    QCOMPARE(result, TReportResult::Cancelled);
    QCOMPARE(told.size(), 4);
    QCOMPARE(told[0], 1);
    QVERIFY(told[1] > 2);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("earlier"));
}

// Archives no installation writes still give a report, and in good time:
// no time column, values at the ends of the number range, values whose
// spread is below their precision, no records.
void TestReports::oddArchivesStillReport()
{
    QTemporaryDir dir;
    const QString pdf = dir.filePath("odd.pdf");
    const QList<QByteArray> files{
        "ACTIVITY  \r\n5  \r\n6  \r\n",
        archiveFile(2).replace("  10  ", "  1e308").replace("  17  ", "  -1e308"),
        archiveFile(3).replace("  10  ", "  -1e17").replace("  17  ", "  -1.00000000000000016e17").replace("  24  ", "  x"),
        "DATETIME  ACTIVITY  \r\n",
    };
    for (const QByteArray &text : files) {
        QCOMPARE(writeReportOf(text, pdf), TReportResult::Written);
        QVERIFY2(pageCount(pdf) >= 2, text.constData());
    }
}

void TestReports::spectrumReport()
{
    QTemporaryDir dir;
    const QString pdf = dir.filePath("s.pdf");
    TSpectrumReportSource source;
    source.Name = "Основной спектр";
    source.Origin = "main-0612.spc";
    source.Plot = QImage(500, 250, QImage::Format_RGB32);
    source.Plot.fill(Qt::white);
    QPainter(&source.Plot).fillRect(QRect(100, 50, 30, 200), QColor(0, 0, 255));
    source.CoefA = 6.62L;
    source.CoefB = -1.5L;
    source.Marked = qMakePair(80, 120);
    source.Area = 12345;
    source.PeakHeadings = QStringList{"Канал", "Энергия, кэВ", "Площадь"};
    source.Peaks = {{"100.2", "661.7", "5321"}, {"176.8", "1173.2", "812"}};
    QCOMPARE(WriteReportPdf(*BuildSpectrumReport(source), pdf), TReportResult::Written);
    QCOMPARE(pageCount(pdf), 1);
    const QString text = pageTexts(pdf).value(0);
    for (const char *expected : {"main-0612.spc", "6.62", "1.5 кэВ", "80–120", "12345", "Пики", "1173.2", "стр. 1 из 1",
                                 "Отсчёты в столбце", "Канал; энергия, кэВ"})
        QVERIFY2(text.contains(QString::fromUtf8(expected)), expected);
    QVERIFY(bluePixels(pdf, 1, dir.path()) > 50);
}

// The archive chart and the spectrum plot drawn as on a page: no text of
// theirs touches the plot's frame or another text, whatever the values.
void TestReports::chartTextsKeepClear()
{
    TReportChartSeries series;
    series.ValueName = "ACTIVITY";
    series.ValueAxisTitle = "ACTIVITY, Бк/м³";
    for (int i = 0; i < 500; ++i)
        series.Values << QPointF(kStart.toMSecsSinceEpoch() + i * 60000.0, 7000 * activity(i) / 300);
    series.Alarm[0] = {QPointF(kStart.toMSecsSinceEpoch(), 1000), QPointF(kStart.toMSecsSinceEpoch() + 3e7, 1000)};
    series.Alarm[1] = {QPointF(kStart.toMSecsSinceEpoch(), 5000), QPointF(kStart.toMSecsSinceEpoch() + 3e7, 5000)};
    TSpectrumReportSource spectrum;
    spectrum.Plot = QImage(512, 256, QImage::Format_RGB32);
    spectrum.Plot.fill(Qt::white);
    spectrum.CoefA = 6.62L;
    spectrum.ChannelsPerColumn = 2;
    spectrum.CountsTop = 123456;

    for (const bool log : {false, true}) {
        spectrum.LogCounts = log;
        spectrum.CountsBottom = log ? 3 : 0;
        QImage page(1800, 1000, QImage::Format_RGB32);
        page.fill(Qt::white);
        QPainter painter(&page);
        painter.setFont(QFont(QString(), 9));
        TReportChartLayout layouts[2];
        DrawReportChart(painter, QRectF(50, 20, 1700, 450), series, &layouts[0]);
        DrawSpectrumReportPlot(painter, QRectF(50, 500, 1700, 480), spectrum, layouts[1]);
        for (const TReportChartLayout &layout : layouts) {
            QVERIFY(layout.Labels.size() > 8);
            for (qsizetype i = 0; i < layout.Labels.size(); ++i) {
                const QRectF a = layout.Labels[i];
                QVERIFY2(!a.intersects(layout.Plot.adjusted(-1, -1, 1, 1)), qPrintable(QString::number(i)));
                for (qsizetype j = i + 1; j < layout.Labels.size(); ++j)
                    QVERIFY2(!a.intersects(layout.Labels[j]), qPrintable(QStringLiteral("%1 %2").arg(i).arg(j)));
            }
        }
    }
}

QTEST_MAIN(TestReports)
#include "tst_reports.moc"
