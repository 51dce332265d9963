// kvarnctl convert of an archive file to CSV, end to end as a script runs it:
// 100 000 records of all twelve archive variables, the tool started as a
// process, its wall time and peak memory taken. Targets: 0.3 s and 80 MiB.
//
//   bench_convert [--ctl PATH] [records]

#include "archivefixture.h"
#include "benchmeasure.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>
#include <cstring>
#include <sys/resource.h>

#ifndef KVARN_CTL_PATH
#define KVARN_CTL_PATH ""
#endif

using namespace benchfixture;

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QString ctl = QString::fromLocal8Bit(KVARN_CTL_PATH);
    int records = 100000;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--ctl") == 0 && i + 1 < argc)
            ctl = QString::fromLocal8Bit(argv[++i]);
        else
            records = std::atoi(argv[i]);
    }
    if (!QFileInfo(ctl).isExecutable()) {
        std::fprintf(stderr, "no kvarnctl (--ctl PATH)\n");
        return 1;
    }
    QTemporaryDir dir;
    TDeviceArchive archive;
    Fill(archive, records);
    const QString in = dir.filePath("bench.daf"), out = dir.filePath("bench.csv");
    if (!dir.isValid() || !archive.SaveToFile(in)) {
        std::fprintf(stderr, "the archive file could not be written\n");
        return 1;
    }
    archive.Clear();

    // The fastest of three runs; the peak is the largest of any child.
    double best = 1e300;
    for (int run = 0; run < 3; ++run) {
        QProcess p;
        QElapsedTimer t;
        t.start();
        p.start(ctl, {QStringLiteral("convert"), in, out});
        if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
            std::fprintf(stderr, "kvarnctl convert failed: %s\n", p.readAllStandardError().constData());
            return 1;
        }
        best = std::min(best, bench::MsSince(t));
    }
    struct rusage usage {};
    getrusage(RUSAGE_CHILDREN, &usage);
    const double peakMiB = usage.ru_maxrss / 1024.0;
    const bool met = best <= 300 * (records / 100000.0) && peakMiB <= 80;
    std::printf("kvarnctl convert, %d records: %.1f ms (target 300)  peak %.1f MiB (target 80)  %lld bytes of CSV  %s\n",
                records, best, peakMiB, (long long)QFileInfo(out).size(), met ? "met" : "MISSED");
    return met ? 0 : 2;
}
