// The archive's chart at the size of a two-year archive: 100 000 records of
// all twelve archive variables. Prints the time from the archive to a
// painted chart of ACTIVITY with both thresholds (target: under 1 s), the
// series building alone, and a zoom into a day and back (each should stay
// far under the 100 ms an operator notices).
//
//   bench_archivechart [records]

#include "archivefixture.h"
#include "benchmeasure.h"
#include "ui/operatorprompt.h"
#include "views/archivechart.h"
#include "views/archivechartwindow.h"

#include <QApplication>
#include <QLineSeries>
#include <QPixmap>
#include <cstdio>
#include <cstdlib>

namespace {
// The benchmark exports nothing: every prompt gets the cautious answer.
class SilentPrompt : public OperatorPrompt {
public:
    void Warning(const QString &) override {}
    void Information(const QString &) override {}
    void Error(const QString &) override {}
    bool Confirm(const QString &) override { return false; }
    int Exec(QDialog &) override { return 0; }
    QString OpenFileName(const QString &, const QString &) override { return {}; }
    QString SaveFileName(const QString &, const QString &) override { return {}; }
};
} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int records = argc > 1 ? std::atoi(argv[1]) : 100000;

    TDeviceArchive archive;
    benchfixture::Fill(archive, records);
    const int column = ArchiveColumnIndex(archive, "ACTIVITY");

    QElapsedTimer series;
    series.start();
    TArchiveChartSeries alone = BuildArchiveChartSeries(archive, column);
    const double seriesMs = bench::MsSince(series);

    SilentPrompt prompt;
    TArchiveChartWindow window(prompt);
    window.resize(1280, 720);
    window.show();
    QElapsedTimer total;
    total.start();
    window.ShowSeries(BuildArchiveChartSeries(archive, column));
    const QPixmap shown = window.grab();
    const double totalMs = bench::MsSince(total);

    const double day = 86400e3;
    QElapsedTimer zoom;
    zoom.start();
    window.ZoomTo(window.ShownMin() + 100 * day, window.ShownMin() + 101 * day);
    window.grab();
    const double zoomMs = bench::MsSince(zoom);
    QElapsedTimer back;
    back.start();
    window.ResetZoom();
    window.grab();
    const double backMs = bench::MsSince(back);

    std::printf("records                     %d (%lld charted, %d skipped)\n", records,
                qint64(alone.Points.size()), alone.Skipped);
    std::printf("series alone                %.1f ms\n", seriesMs);
    std::printf("archive to painted chart    %.1f ms (target 1000 ms), %lld line points\n", totalMs,
                qint64(window.ValueSeries->count()));
    std::printf("zoom into a day, painted    %.1f ms\n", zoomMs);
    std::printf("back to the whole, painted  %.1f ms\n", backMs);
    return shown.isNull() ? 1 : 0;
}
