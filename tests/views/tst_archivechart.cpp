// The archive's chart: the time parse of the installation's format, the
// series built from archives with bad rows, the thinning of a long series
// against the points it stands for, and the window opened from the archive
// table with its zoom and its PNG and CSV export through scripted prompts.

#include "support/scriptedprompt.h"
#include "support/varlists.h"
#include "views/archivechart.h"
#include "views/archivechartwindow.h"
#include "views/devicearchiveview.h"

#include <QAction>
#include <QChart>
#include <QCheckBox>
#include <QComboBox>
#include <QSpinBox>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QFile>
#include <QGraphicsSimpleTextItem>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineSeries>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QValueAxis>
#include <QTest>
#include <algorithm>

namespace {
QString u8(const char *text)
{
    return QString::fromUtf8(text);
}

using Rows = QList<QList<QByteArray>>;

qint64 localMs(int y, int mo, int d, int h, int mi, int s)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s)).toMSecsSinceEpoch();
}
} // namespace

class TestArchiveChart : public QObject {
    Q_OBJECT
private slots:
    void parseDateTime_data();
    void parseDateTime();
    void series_data();
    void series();
    void thinning_data();
    void thinning();
    void chartFromTheArchiveView();
    void screenshot();
};

void TestArchiveChart::parseDateTime_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<qint64>("expected"); // -1: refused

    QTest::newRow("the installation's form") << QByteArray("07/12/2026 13.05.09") << localMs(2026, 12, 7, 13, 5, 9);
    QTest::newRow("blanks around") << QByteArray("  01/01/2004 00.00.00  ") << localMs(2004, 1, 1, 0, 0, 0);
    QTest::newRow("leap day") << QByteArray("29/02/2004 23.59.59") << localMs(2004, 2, 29, 23, 59, 59);
    QTest::newRow("midsummer noon") << QByteArray("21/06/2025 12.30.00") << localMs(2025, 6, 21, 12, 30, 0);
    QTest::newRow("no leap day in 2005") << QByteArray("29/02/2005 10.00.00") << qint64(-1);
    QTest::newRow("31 February") << QByteArray("31/02/2004 10.00.00") << qint64(-1);
    QTest::newRow("month 13") << QByteArray("01/13/2004 10.00.00") << qint64(-1);
    QTest::newRow("hour 24") << QByteArray("01/01/2004 24.00.00") << qint64(-1);
    QTest::newRow("second 60") << QByteArray("01/01/2004 23.59.60") << qint64(-1);
    QTest::newRow("one-digit day") << QByteArray("1/01/2004 00.00.00") << qint64(-1);
    QTest::newRow("colons") << QByteArray("01/01/2004 00:00:00") << qint64(-1);
    QTest::newRow("dashes") << QByteArray("01-01-2004 00.00.00") << qint64(-1);
    QTest::newRow("a letter") << QByteArray("01/01/2004 00.00.0x") << qint64(-1);
    QTest::newRow("a sign") << QByteArray("01/01/-004 00.00.00") << qint64(-1);
    QTest::newRow("date only") << QByteArray("01/01/2004") << qint64(-1);
    QTest::newRow("empty") << QByteArray() << qint64(-1);
}

void TestArchiveChart::parseDateTime()
{
    QFETCH(QByteArray, text);
    QFETCH(qint64, expected);
    qint64 msecs = -1;
    QCOMPARE(ParseArchiveDateTime(text, msecs), expected >= 0);
    if (expected < 0)
        return;
    QCOMPARE(msecs, expected);
    QCOMPARE(FormatArchiveDateTime(msecs), text.trimmed());
}

void TestArchiveChart::series_data()
{
    QTest::addColumn<QList<QByteArray>>("names");
    QTest::addColumn<Rows>("rows");
    QTest::addColumn<QByteArray>("column");
    QTest::addColumn<QList<QPointF>>("points"); // x in minutes after 01/03/2004 00.00.00
    QTest::addColumn<int>("skipped");
    QTest::addColumn<QList<QPointF>>("alarm1"); // empty: no line
    QTest::addColumn<QList<QPointF>>("alarm2");
    QTest::addColumn<bool>("hasAlarms");

    const QList<QByteArray> all = {"DATETIME", "ACTIVITY", "ALARM1", "ALARM2"};
    QTest::newRow("bad rows counted and left out")
        << all
        << Rows{{"01/03/2004 00.00.00", "80.5", "200", "1000"},
                {"01/03/2004 00.10.00", "abc", "200", "1000"},      // value no number
                {"31/02/2004 00.20.00", "81", "200", "1000"},       // no such date
                {"01/03/2004 00.30.00", "", "200", "1000"},         // empty value
                {"01/03/2004 00.40.00", "1e5000", "200", "1000"},   // no finite number
                {"01/03/2004 00.50.00", "  79.25 ", "300", "1000"}, // blanks around; threshold raised
                {"01/03/2004 01.00.00"},                            // a short record
                {"garbage", "82", "200", "1000"},
                {"01/03/2004 01.10.00", "-3", "x", "1000"}}         // threshold no number: the line holds
        << QByteArray("ACTIVITY") << QList<QPointF>{{0, 80.5}, {50, 79.25}, {70, -3}} << 6
        << QList<QPointF>{{0, 200}, {50, 200}, {50, 300}, {70, 300}}
        << QList<QPointF>{{0, 1000}, {70, 1000}} << true;
    QTest::newRow("clock set back: in time order")
        << all
        << Rows{{"01/03/2004 00.20.00", "3", "200", "900"},
                {"01/03/2004 00.00.00", "1", "100", "900"},
                {"01/03/2004 00.10.00", "2", "100", "900"}}
        << QByteArray("ACTIVITY") << QList<QPointF>{{0, 1}, {10, 2}, {20, 3}} << 0
        << QList<QPointF>{{0, 100}, {20, 100}, {20, 200}}
        << QList<QPointF>{{0, 900}, {20, 900}} << true;
    QTest::newRow("names in any letter case; a threshold as the charted column")
        << QList<QByteArray>{"alarm1", "DateTime"}
        << Rows{{"5", "01/03/2004 00.00.00"}, {"6", "01/03/2004 00.01.00"}}
        << QByteArray("alarm1") << QList<QPointF>{{0, 5}, {1, 6}} << 0
        << QList<QPointF>{{0, 5}, {1, 5}, {1, 6}} << QList<QPointF>{} << true;
    QTest::newRow("no threshold columns: no lines")
        << QList<QByteArray>{"DATETIME", "ACTIVITY", "STATUS"}
        << Rows{{"01/03/2004 00.00.00", "1", "0"}, {"01/03/2004 00.10.00", "2", "16"}}
        << QByteArray("ACTIVITY") << QList<QPointF>{{0, 1}, {10, 2}} << 0 << QList<QPointF>{} << QList<QPointF>{} << false;
    QTest::newRow("no DATETIME: every record skipped")
        << QList<QByteArray>{"ACTIVITY", "ALARM1"} << Rows{{"1", "5"}, {"2", "5"}}
        << QByteArray("ACTIVITY") << QList<QPointF>{} << 2 << QList<QPointF>{} << QList<QPointF>{} << true;
}

void TestArchiveChart::series()
{
    QFETCH(QList<QByteArray>, names);
    QFETCH(Rows, rows);
    QFETCH(QByteArray, column);
    QFETCH(QList<QPointF>, points);
    QFETCH(int, skipped);
    QFETCH(QList<QPointF>, alarm1);
    QFETCH(QList<QPointF>, alarm2);
    QFETCH(bool, hasAlarms);
    const auto archive = archiveOf(names, rows);
    const TArchiveChartSeries s = BuildArchiveChartSeries(*archive, ArchiveColumnIndex(*archive, column));

    const qint64 origin = localMs(2004, 3, 1, 0, 0, 0);
    auto inMinutes = [&](const QList<QPointF> &line) {
        QList<QPointF> out;
        for (const QPointF &p : line)
            out << QPointF((p.x() - origin) / 60000.0, p.y());
        return out;
    };
    QCOMPARE(inMinutes(s.Points), points);
    QCOMPARE(s.Skipped, skipped);
    QCOMPARE(s.HasAlarm1, hasAlarms);
    QCOMPARE(inMinutes(s.Alarm1), alarm1);
    QCOMPARE(inMinutes(s.Alarm2), alarm2);
    if (!points.isEmpty())
        QCOMPARE(s.ColumnName, column);
}

void TestArchiveChart::thinning_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<double>("from"); // the range shown, in points' x
    QTest::addColumn<double>("to");
    QTest::addColumn<int>("buckets");

    QTest::newRow("few points: all of them") << 50 << 0.0 << 49.0 << 100;
    QTest::newRow("100 000 into 800") << 100000 << 0.0 << 99999.0 << 800;
    QTest::newRow("a zoomed range") << 100000 << 25000.5 << 26000.5 << 300;
    QTest::newRow("range beyond the ends") << 5000 << -100.0 << 10000.0 << 7;
    QTest::newRow("range between two points") << 5000 << 10.2 << 10.7 << 10;
    QTest::newRow("range off the series") << 5000 << 6000.0 << 7000.0 << 10;
}

void TestArchiveChart::thinning()
{
    QFETCH(int, count);
    QFETCH(double, from);
    QFETCH(double, to);
    QFETCH(int, buckets);
    QList<QPointF> points;
    quint32 noise = 12345;
    for (int i = 0; i < count; ++i) {
        noise = noise * 1103515245u + 12345u;
        points << QPointF(i, (noise >> 16) % 1000 + (i % 977 == 0 ? 50000 : 0));
    }
    const QList<QPointF> thin = ThinChartPoints(points, from, to, buckets);

    // The points in range, with the nearest one outside on either side.
    qsizetype lo = 0, hi = count; // [lo, hi)
    while (lo < count && points[lo].x() < from)
        ++lo;
    while (hi > 0 && points[hi - 1].x() > to)
        --hi;
    lo = std::max<qsizetype>(0, lo - 1);
    hi = std::min<qsizetype>(count, hi + 1);
    const QList<QPointF> shown = hi > lo ? points.mid(lo, hi - lo) : QList<QPointF>{};
    if (shown.size() <= 4 * buckets) {
        QCOMPARE(thin, shown);
        return;
    }
    QVERIFY(thin.size() <= 4 * buckets + 8);
    // A subsequence of the series, keeping both ends.
    QCOMPARE(thin.first(), shown.first());
    QCOMPARE(thin.last(), shown.last());
    qsizetype at = 0;
    for (const QPointF &p : thin) {
        while (at < shown.size() && shown[at] != p)
            ++at;
        QVERIFY2(at < shown.size(), "a point out of order or not in the series");
    }
    // Every pixel column keeps its lowest and highest value.
    const double width = (to - from) / buckets;
    for (int b = 0; b < buckets; ++b) {
        double low = 1e300, high = -1e300;
        for (const QPointF &p : shown)
            if (p.x() >= from + b * width && p.x() < from + (b + 1) * width) {
                low = std::min(low, p.y());
                high = std::max(high, p.y());
            }
        if (low > high)
            continue;
        auto kept = [&](double value) {
            return std::any_of(thin.begin(), thin.end(), [&](const QPointF &p) {
                return p.y() == value && p.x() >= from + b * width && p.x() < from + (b + 1) * width;
            });
        };
        QVERIFY2(kept(low) && kept(high), qPrintable(QStringLiteral("bucket %1").arg(b)));
    }
}

// From the table's context menu and a column header to the window, its zoom,
// its readout and both exports.
void TestArchiveChart::chartFromTheArchiveView()
{
    ScriptedPrompt prompt;
    TDeviceArchiveView view;
    view.SetPrompt(&prompt);
    view.resize(600, 300);
    view.show();
    Rows rows;
    for (int i = 0; i < 2000; ++i) {
        const qint64 t = localMs(2004, 3, 1, 0, 0, 0) / 1000 + i * 600;
        rows << QList<QByteArray>{QDateTime::fromSecsSinceEpoch(t).toString("dd/MM/yyyy hh.mm.ss").toLatin1(),
                                  i == 7 ? QByteArray("bad") : QByteArray::number(100 + i % 50), "200",
                                  i < 1000 ? "1000" : "1200"};
    }
    rows[3][0] = "not a time";
    view.ShowArchive(*archiveOf({"DATETIME", "ACTIVITY", "ALARM1", "ALARM2"}, rows));

    // The context menu on the ACTIVITY column.
    QTableView *grid = view.ArchiveGrid;
    const QPoint cell = grid->visualRect(grid->model()->index(0, 1)).center();
    emit grid->customContextMenuRequested(cell);
    QVERIFY(view.ArchivePopupMenu->isVisible());
    view.ArchivePopupMenu->hide();
    const QList<QAction *> items = view.ArchivePopupMenu->actions();
    QCOMPARE(items.size(), 1);
    QCOMPARE(items[0]->text(), u8("График..."));
    items[0]->trigger();
    TArchiveChartWindow *chart = view.ChartWindow;
    QVERIFY(chart && chart->isVisible());
    QCOMPARE(chart->Series().ColumnName, QByteArray("ACTIVITY"));
    QCOMPARE(chart->Series().Points.size(), 1998);
    QVERIFY(chart->StatusLine->text().contains(u8("пропущено (время или значение не читается): 2")));
    // The value axis fits the values (100 to 149): ALARM1 at 200 is near
    // enough to draw, ALARM2 far above is a mark at the top edge.
    QVERIFY(chart->ValueAxis->min() >= 0 && chart->ValueAxis->min() <= 100);
    QVERIFY(chart->ValueAxis->max() >= 200 && chart->ValueAxis->max() < 400);
    QVERIFY(chart->Alarm1Series->isVisible() && !chart->Alarm1Mark->isVisible());
    QVERIFY(!chart->Alarm2Series->isVisible() && chart->Alarm2Mark->isVisible());
    QCOMPARE(chart->Alarm2Mark->text(), u8("ALARM2 = 1000…1200 ▲"));
    QVERIFY(chart->Chart->plotArea().contains(chart->Alarm2Mark->mapToParent(chart->Alarm2Mark->boundingRect().topLeft())));
    QCOMPARE(chart->Alarm2Series->count(), 4); // 1000, raised to 1200 once, to the end
    QVERIFY(chart->ValueSeries->count() <= 4 * std::max(200, int(chart->Chart->plotArea().width())) + 8);

    // Zoomed to two hours: the line has every point in them, the CSV those rows.
    const double from = localMs(2004, 3, 2, 0, 0, 0), to = localMs(2004, 3, 2, 2, 0, 0);
    chart->ZoomTo(from, to);
    QCOMPARE(chart->TimeAxis->min().toMSecsSinceEpoch(), qint64(from));
    QCOMPARE(chart->ValueSeries->count(), 13 + 2);
    // Records 144 .. 156: 144 .. 149 then 100 .. 106; the figures are theirs.
    QVERIFY2(chart->StatisticsLine->text().startsWith(u8("На графике: значений 13, мин 100, макс 149")),
             qPrintable(chart->StatisticsLine->text()));
    QVERIFY(chart->StatisticsLine->text().contains(u8("выше ALARM1: 0 с; выше ALARM2: 0 с; превышений: 0")));
    QVERIFY2(chart->StatusLine->text().startsWith(u8("Записей на графике: 13 из 1998;")),
             qPrintable(chart->StatusLine->text()));
    // The moving average, off at start: of 2 records at 00.10, of an hour at 02.00.
    QVERIFY(!chart->AverageCheck->isChecked() && !chart->AverageSeries->isVisible());
    chart->AverageWindow->setValue(2);
    chart->AverageCheck->setChecked(true);
    QVERIFY(chart->AverageSeries->isVisible());
    QCOMPARE(chart->AverageSeries->count(), 13 + 2);
    QCOMPARE(chart->AverageSeries->at(2), QPointF(from + 600e3, (144 + 145) / 2.0));
    chart->AverageWindow->setValue(1);
    chart->AverageUnit->setCurrentIndex(1);
    QCOMPARE(chart->AverageSeries->at(13), QPointF(to, (100 + 106) / 2.0));
    chart->AverageCheck->setChecked(false);
    QVERIFY(!chart->AverageSeries->isVisible());
    QTemporaryDir dir;
    const QString csvName = dir.filePath("range.csv"), pngName = dir.filePath("chart.png");
    prompt.ExpectSaveFile(csvName);
    chart->SaveCsvBtn->click();
    QFile csv(csvName);
    QVERIFY(csv.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = csv.readAll().split('\n');
    QCOMPARE(lines.size(), 1 + 13 + 1);
    QCOMPARE(lines[0], QByteArray("DATETIME,ACTIVITY"));
    QCOMPARE(lines[1], QByteArray("02/03/2004 00.00.00,") + QByteArray::number(100 + 144 % 50));
    QCOMPARE(lines[13], QByteArray("02/03/2004 02.00.00,") + QByteArray::number(100 + 156 % 50));

    // Dragging over the plot zooms to the range dragged over, the line
    // thinned to it again.
    chart->ResetZoom();
    const QRectF plot = chart->Chart->plotArea();
    const QPoint dragFrom(int(plot.left() + plot.width() / 4), int(plot.center().y()));
    const QPoint dragTo(int(plot.left() + plot.width() / 2), int(plot.center().y()));
    const double expectFrom = chart->Chart->mapToValue(dragFrom).x(), expectTo = chart->Chart->mapToValue(dragTo).x();
    QTest::mousePress(chart->ChartView->viewport(), Qt::LeftButton, Qt::NoModifier, dragFrom);
    QTest::mouseMove(chart->ChartView->viewport(), dragTo);
    QTest::mouseRelease(chart->ChartView->viewport(), Qt::LeftButton, Qt::NoModifier, dragTo);
    QVERIFY2(std::abs(chart->ShownMin() - expectFrom) < 60e3 * 60, qPrintable(QString::number(chart->ShownMin())));
    QVERIFY(std::abs(chart->ShownMax() - expectTo) < 60e3 * 60);
    qsizetype inRange = 0;
    for (const QPointF &p : chart->Series().Points)
        inRange += p.x() >= chart->ShownMin() && p.x() <= chart->ShownMax();
    QCOMPARE(chart->ValueSeries->count(), inRange + 2); // a few hundred points: every one of them

    // A double click goes back to the whole week; the readout follows the mouse.
    const QPoint middle = chart->Chart->plotArea().center().toPoint();
    QTest::mouseDClick(chart->ChartView->viewport(), Qt::LeftButton, Qt::NoModifier, middle);
    QCOMPARE(chart->ShownMin(), chart->Series().Points.first().x());
    QCOMPARE(chart->ShownMax(), chart->Series().Points.last().x());
    QMouseEvent move(QEvent::MouseMove, QPointF(middle), chart->ChartView->viewport()->mapToGlobal(QPointF(middle)),
                     Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(chart->ChartView->viewport(), &move);
    const QByteArray readout = chart->CursorReadout->text().toLatin1();
    qint64 at = 0;
    QVERIFY2(ParseArchiveDateTime(readout.left(19), at), readout.constData());
    QVERIFY(at > chart->ShownMin() && at < chart->ShownMax());

    prompt.ExpectSaveFile(pngName);
    chart->SavePngBtn->click();
    const QImage png(pngName);
    QCOMPARE(png.size(), chart->ChartView->size() * chart->ChartView->devicePixelRatio());
    // A file that cannot be written is reported; the cancelled dialog writes nothing.
    prompt.ExpectSaveFile(dir.filePath("no/such/folder/chart.csv"));
    prompt.ExpectError();
    chart->ExportCsv();
    prompt.ExpectSaveFile(QString());
    chart->ExportPng();

    // A double click on a header opens its column; the time column and an
    // archive without one get a warning and no chart.
    QHeaderView *header = grid->horizontalHeader();
    const QPoint alarm1(header->sectionViewportPosition(2) + header->sectionSize(2) / 2, header->height() / 2);
    QTest::mouseDClick(header->viewport(), Qt::LeftButton, Qt::NoModifier, alarm1);
    QCOMPARE(chart->Series().ColumnName, QByteArray("ALARM1"));
    // Another archive in the table: the open chart follows it; Esc closes it,
    // and so does an archive without its column.
    view.ShowArchive(*archiveOf({"DATETIME", "ALARM1"}, Rows{{"01/03/2004 00.00.00", "5"}, {"01/03/2004 00.10.00", "6"}}));
    QVERIFY(chart->isVisible());
    QCOMPARE(chart->Series().Points.size(), 2);
    QTest::keyClick(chart, Qt::Key_Escape);
    QVERIFY(!chart->isVisible());
    QTest::mouseDClick(header->viewport(), Qt::LeftButton, Qt::NoModifier,
                       QPoint(header->sectionViewportPosition(1) + 5, header->height() / 2));
    QVERIFY(chart->isVisible());
    view.ShowArchive(*archiveOf({"DATETIME", "ACTIVITY"}, Rows{{"01/03/2004 00.00.00", "5"}}));
    QVERIFY(!chart->isVisible());
    prompt.ExpectWarning();
    view.OpenChart(0);
    view.ShowArchive(*archiveOf({"ACTIVITY", "STATUS"}, Rows{{"1", "0"}}));
    prompt.ExpectWarning();
    view.OpenChart(0);
    QCOMPARE(prompt.Messages(ScriptedPrompt::Kind::Warning).size(), 2);
    QVERIFY(prompt.Unexpected().isEmpty());
    QCOMPARE(prompt.PendingAnswers(), 0);
}

void TestArchiveChart::screenshot()
{
    // With KVARN_GRAB_DIR set and an archive file week.daf in it (a week of
    // the emulator's archive, e.g. kvarn-sim --records 1008 --set
    // DURATIONTIME=600, read with kvarnctl archive -o week.daf), the chart
    // of ACTIVITY is saved there as archive-chart.png to look at.
    const QString dir = qEnvironmentVariable("KVARN_GRAB_DIR");
    if (dir.isEmpty() || !QFile::exists(dir + QStringLiteral("/week.daf")))
        QSKIP("KVARN_GRAB_DIR with week.daf is not set");
    TDeviceArchive archive;
    QVERIFY(archive.LoadFromFile(dir + QStringLiteral("/week.daf")));
    ScriptedPrompt prompt;
    TDeviceArchiveView view;
    view.SetPrompt(&prompt);
    view.ShowArchive(archive);
    view.OpenChart(ArchiveColumnIndex(archive, "ACTIVITY"));
    QVERIFY(view.ChartWindow && QTest::qWaitForWindowExposed(view.ChartWindow));
    QVERIFY(view.ChartWindow->grab().save(dir + QStringLiteral("/archive-chart.png")));
}

QTEST_MAIN(TestArchiveChart)
#include "tst_archivechart.moc"
