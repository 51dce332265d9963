// The archive table at the size of a two-year archive: 100 000 records of all
// twelve archive variables shown in the view. Prints the time from
// ShowArchive to a painted table (target: under 1 s), the column widths
// alone, scrolling page by page through the table, and the peak memory of
// the process (target: under 400 MiB with the archive and the view's copy).
//
//   bench_archiveview [records]

#include "archivefixture.h"
#include "benchmeasure.h"
#include "views/devicearchiveview.h"

#include <QApplication>
#include <QScrollBar>
#include <QTableView>
#include <cstdio>
#include <cstdlib>

using namespace benchfixture;
using bench::MsSince;

namespace {
double currentMiB()
{
    return bench::ResidentKiB() / 1024.0;
}
} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int records = argc > 1 ? std::atoi(argv[1]) : 100000;

    const double baseMiB = currentMiB();
    TDeviceArchive archive;
    Fill(archive, records, false);
    const double archiveMiB = currentMiB() - baseMiB;

    TDeviceArchiveView view;
    view.resize(520, 340);
    view.show();
    QApplication::processEvents();

    QElapsedTimer t;
    t.start();
    view.ShowArchive(archive);
    const double showMs = MsSince(t);
    view.ArchiveGrid->viewport()->repaint();
    const double paintedMs = MsSince(t);
    const double withViewMiB = currentMiB() - baseMiB;

    t.restart();
    const std::vector<int> widths = ArchiveColumnWidths(view.ArchiveData(), view.ArchiveGrid->fontMetrics());
    const double widthsMs = MsSince(t);

    // Scrolling: a page down a hundred times, then jumps across the table,
    // each painted at once.
    QScrollBar *bar = view.ArchiveGrid->verticalScrollBar();
    t.restart();
    const int steps = 100;
    for (int i = 0; i < steps; ++i) {
        bar->setValue(bar->value() + bar->pageStep());
        view.ArchiveGrid->viewport()->repaint();
    }
    const double pageMs = MsSince(t) / steps;
    t.restart();
    for (int i = 0; i < steps; ++i) {
        bar->setValue(int(qint64(bar->maximum()) * ((i * 37) % steps) / steps));
        view.ArchiveGrid->viewport()->repaint();
    }
    const double jumpMs = MsSince(t) / steps;

    std::printf("archive view, %d records x %d columns\n", records, kColumnCount);
    std::printf("  ShowArchive (copy, descriptions, widths)  %9.1f ms\n", showMs);
    std::printf("  ... to the first painted table            %9.1f ms  %s\n", paintedMs,
                paintedMs < 1000 ? "(under 1 s)" : "(SLOWER THAN 1 s)");
    std::printf("  column widths alone                       %9.1f ms  (%zu columns)\n", widthsMs, widths.size());
    std::printf("  one page down, painted                    %9.2f ms\n", pageMs);
    std::printf("  one jump across the table, painted        %9.2f ms\n", jumpMs);
    std::printf("  memory: the archive                       %9.1f MiB\n", archiveMiB);
    std::printf("  memory: archive and the view's copy       %9.1f MiB\n", withViewMiB);
    const double peak = bench::PeakMiB();
    std::printf("  peak resident memory of the process       %9.1f MiB  %s\n", peak,
                peak < 400 ? "(under 400 MiB)" : "(OVER 400 MiB)");
    return 0;
}
