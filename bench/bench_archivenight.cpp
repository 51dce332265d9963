// One night out of a two-year archive, as the nightly cron job fetches it:
// kvarn-sim holds 100 000 ten-minute records on a known clock and paces its
// replies at the line rate; kvarnctl archive --since/--until finds the night
// (144 records) by bisection over DATETIME and downloads it. Printed: the
// records found and downloaded, the DATETIME reads the search spent (against
// two boundaries of ceil(log2 N) + 2 each), the wall time of the search and
// of the whole run, and the dry run's estimate of the download.
//
//   bench_archivenight [--sim PATH] [--ctl PATH] [--baud RATE] [--records N]

#include "benchsim.h"

#include "instrument/devicearchive.h"

#include <QCoreApplication>
#include <QCommandLineParser>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cmath>
#include <cstdio>

#ifndef KVARN_CTL_PATH
#define KVARN_CTL_PATH ""
#endif

namespace {

QList<QByteArray> requests(const QString &log)
{
    QFile f(log);
    QList<QByteArray> lines;
    if (f.open(QIODevice::ReadOnly))
        for (const QByteArray &line : f.readAll().split('\n'))
            if (line.startsWith("<- "))
                lines << line.mid(3).trimmed();
    return lines;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser p;
    bench::ParseOptions(p, app,
                        {{"ctl", "kvarnctl executable", "path", qEnvironmentVariable("KVARN_CTL", KVARN_CTL_PATH)},
                         {"baud", "line rate", "rate", "9600"},
                         {"records", "archive records", "n", "100000"}});
    const int baud = p.value("baud").toInt();
    const int records = std::max(200, p.value("records").toInt());

    QTemporaryDir dir;
    const QString log = dir.filePath("sim.log"), cfg = dir.filePath("line.cfg");
    bench::Sim sim;
    if (!sim.Start(p.value("sim"), {"--baud", QString::number(baud), "--records", QString::number(records), "--set",
                                    "DURATIONTIME=600", "--set", "DATETIME=07/12/2026 06.00.00", "--log", log}))
        return 2;
    QFile settings(cfg);
    if (!settings.open(QIODevice::WriteOnly)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(cfg));
        return 2;
    }
    settings.write("PortNumber=" + sim.Link().toLocal8Bit() + "\r\nTransferRate=" + QByteArray::number(baud)
                   + " baud\r\nStopBits=1 bit\r\nParitet=None\r\nLatencyPeriod=Approximately 0.25 second\r\n"
                     "DTRControl=HandShake\r\nRTSControl=HandShake\r\nWriteTimeOutMultiplier=0\r\n"
                     "WriteTimeOutConstant=0\r\n");
    settings.close();

    auto kvarnctl = [&](const QStringList &arguments, QByteArray *output) {
        QProcess ctl;
        ctl.start(p.value("ctl"), QStringList{"--config", cfg, "archive", "--since", "2026-12-06 06:00", "--until",
                                              "2026-12-07 05:59:59"} + arguments);
        const bool ok = ctl.waitForFinished(600000) && ctl.exitStatus() == QProcess::NormalExit && ctl.exitCode() == 0;
        if (output)
            *output = ctl.readAllStandardOutput();
        if (!ok)
            std::fprintf(stderr, "kvarnctl failed: %s\n", ctl.readAllStandardError().constData());
        return ok;
    };

    QByteArray estimate;
    if (!kvarnctl({"--dry-run"}, &estimate))
        return 1;
    const int dryReads = int(requests(log).size());

    QElapsedTimer t;
    t.start();
    const QString night = dir.filePath("night.daf");
    if (!kvarnctl({"-o", night}, nullptr))
        return 1;
    const double totalMs = bench::MsSince(t);
    sim.Stop();

    const QList<QByteArray> sent = requests(log).mid(dryReads);
    int search = 0;
    while (search + 1 < sent.size() && !sent[search + 1].startsWith("ACTIVITY:"))
        ++search;
    search -= 1; // NUMOFRECORDS, and the first record's DATETIME of the download
    TDeviceArchive archive;
    archive.LoadFromFile(night);
    const int bound = 2 * (int(std::ceil(std::log2(double(records)))) + 2);
    std::printf("one night out of %d records at %d baud:\n", records, baud);
    std::printf("  found and downloaded %d records (%d requests)\n", archive.RecordCount(), int(sent.size()));
    std::printf("  search: %d DATETIME reads (bound %d for two boundaries)\n", search, bound);
    std::printf("  whole run %.1f s; dry run's view:\n", totalMs / 1000);
    for (const QByteArray &line : estimate.trimmed().split('\n'))
        std::printf("    %s\n", line.constData());
    return archive.RecordCount() == 144 && search <= bound ? 0 : 2;
}
