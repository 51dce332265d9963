// One night out of a two-year archive, as the nightly cron job fetches it:
// kvarn-sim holds 100 000 ten-minute records on a known clock and paces its
// replies at the line rate; kvarnctl archive --since/--until finds the night
// (144 records) by bisection over DATETIME and downloads it. Printed: the
// records found and downloaded, the DATETIME reads the search spent (against
// two boundaries of ceil(log2 N) + 2 each), the wall time of the search and
// of the whole run, and the dry run's estimate of the download.
//
//   bench_archivenight [--sim PATH] [--ctl PATH] [--baud RATE] [--records N]

#include "instrument/devicearchive.h"

#include <QCoreApplication>
#include <QCommandLineParser>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <cmath>
#include <cstdio>

#ifndef KVARN_SIM_PATH
#define KVARN_SIM_PATH ""
#endif
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
    p.addHelpOption();
    p.addOption({"sim", "kvarn-sim executable", "path", qEnvironmentVariable("KVARN_SIM", KVARN_SIM_PATH)});
    p.addOption({"ctl", "kvarnctl executable", "path", qEnvironmentVariable("KVARN_CTL", KVARN_CTL_PATH)});
    p.addOption({"baud", "line rate", "rate", "9600"});
    p.addOption({"records", "archive records", "n", "100000"});
    p.process(app);
    const int baud = p.value("baud").toInt();
    const int records = std::max(200, p.value("records").toInt());

    QTemporaryDir dir;
    const QString link = dir.filePath("tty"), log = dir.filePath("sim.log"), cfg = dir.filePath("line.cfg");
    QProcess sim;
    sim.start(p.value("sim"), {"--link", link, "--baud", QString::number(baud), "--records", QString::number(records),
                               "--set", "DURATIONTIME=600", "--set", "DATETIME=07/12/2026 06.00.00", "--log", log});
    QByteArray out;
    QElapsedTimer started;
    started.start();
    while (!out.contains("kvarn-sim: installation") && started.elapsed() < 15000) {
        if (!sim.waitForReadyRead(500) && sim.state() == QProcess::NotRunning)
            break;
        out += sim.readAllStandardOutput();
    }
    QFile settings(cfg);
    if (!QFileInfo::exists(link) || !settings.open(QIODevice::WriteOnly)) {
        std::fprintf(stderr, "kvarn-sim did not start (%s)\n", qPrintable(p.value("sim")));
        return 2;
    }
    settings.write("PortNumber=" + link.toLocal8Bit() + "\r\nTransferRate=" + QByteArray::number(baud)
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
    const double totalMs = t.nsecsElapsed() / 1e6;
    sim.terminate();
    sim.waitForFinished(5000);

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
