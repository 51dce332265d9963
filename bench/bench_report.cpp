// The archive report of 100 000 records of all twelve archive variables as
// a PDF file: the time from the archive in memory to the file written
// (target: under 20 s), its pages and size, and the process's peak memory
// (target: under 300 MiB), beside the memory the archive alone takes.
//
//   bench_report [records]

#include "archivefixture.h"
#include "benchmeasure.h"
#include "instrument/archivetable.h"
#include "report/archivereport.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const int records = argc > 1 ? std::atoi(argv[1]) : 100000;

    TDeviceArchive archive;
    benchfixture::Fill(archive, records);
    const double archiveMiB = bench::PeakMiB();
    const TArchiveTable table(archive);
    QTemporaryDir dir;
    const QString pdf = dir.filePath("report.pdf");

    QElapsedTimer timer;
    timer.start();
    TArchiveReportSource source;
    source.Records = &table;
    source.Origin = QStringLiteral("bench");
    int pages = 0;
    const TReportResult result = WriteReportPdf(*BuildArchiveReport(source), pdf, [&](int, int total) {
        pages = total;
        return true;
    });
    const double ms = bench::MsSince(timer);

    std::printf("records                   %d\n", records);
    std::printf("report written            %.0f ms (target 20000 ms), %d pages, %.1f MiB file\n", ms, pages,
                QFileInfo(pdf).size() / 1048576.0);
    std::printf("peak memory               %.0f MiB (target 300 MiB; the archive and program alone %.0f MiB)\n",
                bench::PeakMiB(), archiveMiB);
    return result == TReportResult::Written ? 0 : 1;
}
