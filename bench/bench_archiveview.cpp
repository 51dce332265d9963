// The archive table at the size of a two-year archive: 100 000 records of all
// twelve archive variables shown in the view. Prints the time from
// ShowArchive to a painted table (target: under 1 s), the column widths
// alone, scrolling page by page through the table, and the peak memory of
// the process (target: under 400 MiB with the archive and the view's copy).
//
//   bench_archiveview [records]

#include "views/devicearchiveview.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QScrollBar>
#include <QTableView>
#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>

namespace {

const char *const kColumns[] = {"DATETIME", "SERIALN",  "DRYCONTACTIN", "DRYCONTACTOUT",
                                "DRYCONTACTTHR", "KOEFFICIENT", "ALARM1", "ALARM2",
                                "ALARM1ON", "ALARM2ON", "STATUS", "ACTIVITY"};
constexpr int kColumnCount = int(sizeof kColumns / sizeof kColumns[0]);

QByteArray valueOf(int column, int record)
{
    switch (column) {
    case 0: {
        const int s = record * 600; // one record every ten minutes
        char text[32];
        std::snprintf(text, sizeof text, "%02d/%02d/2004 %02d.%02d.%02d", 1 + s / 86400 % 28,
                      1 + s / (86400 * 28) % 12, s / 3600 % 24, s / 60 % 60, s % 60);
        return text;
    }
    case 1: return "1047";
    case 2: case 3: case 8: case 9: return record % 7 == 0 ? "1" : "0";
    case 4: return "250.5";
    case 5: return "0.0132";
    case 6: return "200";
    case 7: return "1000";
    case 10: return QByteArray::number(16 * (record % 16));
    default: return QByteArray::number(80.0 + record % 997 / 10.0, 'g', 6);
    }
}

double peakMiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0; // kilobytes on Linux
}

double currentMiB()
{
    FILE *f = std::fopen("/proc/self/statm", "r");
    long pages = 0, resident = 0;
    if (f) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return resident * 4096.0 / (1024 * 1024);
}

double msSince(const QElapsedTimer &t)
{
    return t.nsecsElapsed() / 1e6;
}
} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int records = argc > 1 ? std::atoi(argv[1]) : 100000;

    const double baseMiB = currentMiB();
    TDeviceArchive archive;
    {
        TOPVarList names;
        for (const char *name : kColumns)
            names.Add(name);
        archive.SetNames(names);
        for (int r = 0; r < records; ++r) {
            std::unique_ptr<TOPVarList> row = std::make_unique<TOPVarList>();
            const QByteArray index = "A" + QByteArray::number(r + 1).rightJustified(3, '0');
            for (int c = 0; c < kColumnCount; ++c)
                row->Add(kColumns[c], index, valueOf(c, r));
            archive.AddRecord(*row);
        }
    }
    const double archiveMiB = currentMiB() - baseMiB;

    TDeviceArchiveView view;
    view.resize(520, 340);
    view.show();
    QApplication::processEvents();

    QElapsedTimer t;
    t.start();
    view.ShowArchive(archive);
    const double showMs = msSince(t);
    view.ArchiveGrid->viewport()->repaint();
    const double paintedMs = msSince(t);
    const double withViewMiB = currentMiB() - baseMiB;

    t.restart();
    const std::vector<int> widths = ArchiveColumnWidths(view.ArchiveData(), view.ArchiveGrid->fontMetrics());
    const double widthsMs = msSince(t);

    // Scrolling: a page down a hundred times, then jumps across the table,
    // each painted at once.
    QScrollBar *bar = view.ArchiveGrid->verticalScrollBar();
    t.restart();
    const int steps = 100;
    for (int i = 0; i < steps; ++i) {
        bar->setValue(bar->value() + bar->pageStep());
        view.ArchiveGrid->viewport()->repaint();
    }
    const double pageMs = msSince(t) / steps;
    t.restart();
    for (int i = 0; i < steps; ++i) {
        bar->setValue(int(qint64(bar->maximum()) * ((i * 37) % steps) / steps));
        view.ArchiveGrid->viewport()->repaint();
    }
    const double jumpMs = msSince(t) / steps;

    std::printf("archive view, %d records x %d columns\n", records, kColumnCount);
    std::printf("  ShowArchive (copy, descriptions, widths)  %9.1f ms\n", showMs);
    std::printf("  ... to the first painted table            %9.1f ms  %s\n", paintedMs,
                paintedMs < 1000 ? "(under 1 s)" : "(SLOWER THAN 1 s)");
    std::printf("  column widths alone                       %9.1f ms  (%zu columns)\n", widthsMs, widths.size());
    std::printf("  one page down, painted                    %9.2f ms\n", pageMs);
    std::printf("  one jump across the table, painted        %9.2f ms\n", jumpMs);
    std::printf("  memory: the archive                       %9.1f MiB\n", archiveMiB);
    std::printf("  memory: archive and the view's copy       %9.1f MiB\n", withViewMiB);
    const double peak = peakMiB();
    std::printf("  peak resident memory of the process       %9.1f MiB  %s\n", peak,
                peak < 400 ? "(under 400 MiB)" : "(OVER 400 MiB)");
    return 0;
}
