// kvarn-collect in one process against kvarn-sim installations on
// pseudo-terminals and TCP ports (as serial device servers), into SQLite in
// a temporary folder.
//
// Polling: 16 installations, each on a line of its own, replies paced at
// 9600 baud (--baud; 0 unpaced), at PollSeconds=1 for 60 s after a warm-up:
// the CPU time of the whole process (every line thread, the writer, the main
// thread) per installation and in all, its peak resident memory, and the
// polls missed (a period that passed without its reading). Targets: under
// 1 % of one core paced (2 % unpaced), under 60 MiB, no missed poll. Then a
// large site: 128 installations, four to a line, 16 lines on
// pseudo-terminals and 16 behind serial device servers, paced at 9600 baud,
// at PollSeconds=10 for 120 s (--site-seconds): under 2 % of one core, under
// 100 MiB, no missed poll.
//
// With --mqtt, only the first part, publishing to a local broker (mosquitto)
// with emulators that measure every second, so that every reading changes
// the state: the collector's CPU in all (target under 3 % of one core for 64
// installations: --installations 64), no missed poll, and every state
// message published received by a subscriber.
//
// First download, the line's half: the last records of an archive of
// 100 000 records of all twelve variables read from an unpaced emulator
// (the driver's own pause before each request and the program's work are
// all that is left), per record, against the wire floor of the same
// exchanges at 115200 baud. bench_storedownload measures the database's
// half per record; the two together give the database's share of a whole
// first download.
//
//   bench_collect [--installations N] [--seconds S] [--baud RATE] [--site-seconds S] [--sample RECORDS] [--mqtt]

#include "benchsim.h"

#include "base/installationtime.h"
#include "collect/collectmetrics.h"
#include "collect/collector.h"
#include "collect/mqttclient.h"
#include "support/mqttbroker.h"
#include "instrument/archivesearch.h"

#include <QEventLoop>
#include <QTimer>

#include <memory>
#include <sys/resource.h>

namespace {

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void runFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

std::optional<TSiteConfig> siteConfig(const QByteArray &text, const QString &folder)
{
    QString error;
    std::optional<TSiteConfig> config = TSiteConfig::Parse(text, QStringLiteral("bench.conf"), folder, &error);
    if (!config)
        std::fprintf(stderr, "%s\n", qPrintable(error));
    return config;
}

// Runs the collector until it ends by itself (once) or is stopped.
int finish(TCollector &collector, bool stop)
{
    int code = -1;
    QEventLoop loop;
    QObject::connect(&collector, &TCollector::Finished, &loop, [&](int c) {
        code = c;
        loop.quit();
    });
    if (stop)
        collector.Stop();
    loop.exec();
    return code;
}

// How the polled installations are laid out: lines of pseudo-terminals and
// serial device servers (kvarn-sim over TCP), so many stations on each.
struct Layout {
    int PtyLines = 16;
    int TcpLines = 0;
    int Stations = 1; // per line, addresses 1..Stations
    int PollSeconds = 1;
    int Seconds = 60;
    int Baud = 0;
    double CpuTarget = 2; // % of one core in all
    double MemoryTarget = 60; // MiB
    bool Mqtt = false; // every reading published to a local broker
};

int pollBenchmark(const QString &simPath, const Layout &layout)
{
    std::vector<std::unique_ptr<bench::Sim>> sims;
    QByteArray site;
    MqttBroker broker;
    std::optional<MqttSubscriber> subscriber;
    if (layout.Mqtt) {
        if (!broker.Start()) {
            std::fprintf(stderr, "%s\n", qPrintable(broker.ErrorText()));
            return 2;
        }
        subscriber.emplace(broker.Port(), QStringList{"kvarn/bench/+/state"});
        site = "[collect]\nSite=bench\n[mqtt]\nDiscovery=off\nBroker=" + broker.Url().toUtf8() + "\n";
    }
    QStringList stations;
    for (int s = 1; s <= layout.Stations; ++s)
        stations << QString::number(s);
    for (int i = 0; i < layout.PtyLines + layout.TcpLines; ++i) {
        sims.push_back(std::make_unique<bench::Sim>());
        QStringList options{"--records", "5", "--seed", QString::number(i + 1), "--stations", stations.join(u',')};
        if (layout.Baud > 0)
            options << "--baud" << QString::number(layout.Baud);
        if (layout.Mqtt)
            options << "--set" << "DURATIONTIME=1";
        const bool tcp = i >= layout.PtyLines;
        if (!(tcp ? sims.back()->StartTcp(simPath, options) : sims.back()->Start(simPath, options)))
            return 2;
        for (int s = 1; s <= layout.Stations; ++s)
            site += "[installation room-" + QByteArray::number(i + 1) + "-" + QByteArray::number(s) +
                    "]\nPortNumber=" + sims.back()->Link().toUtf8() + "\nDevice=" + QByteArray::number(s) +
                    "\nPollSeconds=" + QByteArray::number(layout.PollSeconds) + "\n";
    }
    const int installations = (layout.PtyLines + layout.TcpLines) * layout.Stations;
    QTemporaryDir dir;
    std::optional<TSiteConfig> config = siteConfig(site, dir.path());
    if (!config)
        return 2;
    const std::optional<TStoreUrl> url = TStoreUrl::Parse("sqlite:" + dir.filePath("site.db"), nullptr);
    TCollector collector(*config, *url, false, false);
    if (collector.Start(std::nullopt) != kCollectOk)
        return 2;
    // The first archive reads and the database's first pages.
    runFor(std::max(5000, 2000 + 300 * installations / std::max(1, layout.PtyLines + layout.TcpLines)));
    qint64 missedBefore = 0, pollsBefore = 0;
    for (const TSiteInstallation &inst : config->Installations) {
        missedBefore += collector.Metrics().Status(inst.Name)->MissedPolls;
        pollsBefore += collector.Metrics().Status(inst.Name)->Polls;
    }
    const double cpu0 = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    runFor(layout.Seconds * 1000);
    const double cpu = cpuSeconds() - cpu0;
    const double elapsed = wall.elapsed() / 1000.0;
    qint64 missed = -missedBefore, polls = -pollsBefore, failures = 0;
    for (const TSiteInstallation &inst : config->Installations) {
        const TInstallationStatus *s = collector.Metrics().Status(inst.Name);
        missed += s->MissedPolls;
        polls += s->Polls;
        failures += s->ExchangeFailures;
    }
    finish(collector, true);
    const double share = 100.0 * cpu / elapsed;
    std::printf("polling: %d installations (%d per line; %d lines on pseudo-terminals, %d over TCP) at "
                "PollSeconds=%d for %.0f s (%s, SQLite%s)\n",
                installations, layout.Stations, layout.PtyLines, layout.TcpLines, layout.PollSeconds, elapsed,
                layout.Baud > 0 ? qPrintable(QStringLiteral("replies paced at %1 baud").arg(layout.Baud))
                                : "unpaced emulator",
                layout.Mqtt ? ", every reading to MQTT" : "");
    std::printf("  CPU          %.2f %% of one core in all (target < %g %%), %.3f %% per installation\n", share,
                layout.CpuTarget, share / installations);
    std::printf("  peak memory  %.1f MiB resident (target < %g MiB)\n", bench::PeakMiB(), layout.MemoryTarget);
    std::printf("  polls        %lld taken, %lld missed (target 0), %lld exchanges failed\n", (long long)polls,
                (long long)missed, (long long)failures);
    if (layout.Mqtt) {
        const qint64 published = collector.MqttClient()->Statistics().PublishedStates;
        QElapsedTimer late;
        late.start();
        while (subscriber->Messages().size() < published && late.elapsed() < 10000)
            runFor(100);
        std::printf("  MQTT         %lld states published, %lld received by a subscriber (target all)\n",
                    (long long)published, (long long)subscriber->Messages().size());
    }
    return 0;
}

int downloadBenchmark(const QString &simPath, int sample)
{
    const int records = 100000;
    const QDateTime newest(QDate(2026, 12, 1), QTime(12, 0), Qt::UTC);
    bench::Sim sim;
    if (!sim.Start(simPath, {"--records", QString::number(records), "--set", "DATETIME=" + InstallationTimeText(newest)}))
        return 2;
    // Records lie 60 s apart, the newest at the emulator's start-up clock.
    const QDateTime since = newest.addSecs(-60LL * (sample - 1));
    QTemporaryDir dir;
    std::optional<TSiteConfig> config =
        siteConfig("[installation hall-1]\nPortNumber=" + sim.Link().toUtf8() + "\nTransferRate=115200 baud\nSince=" +
                       since.toString("yyyy-MM-dd HH:mm:ss").toUtf8() + "\n",
                   dir.path());
    if (!config)
        return 2;
    const std::optional<TStoreUrl> url = TStoreUrl::Parse("sqlite:" + dir.filePath("site.db"), nullptr);
    TCollector collector(*config, *url, true, false);
    const double cpu0 = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    if (collector.Start(std::nullopt) != kCollectOk)
        return 2;
    const int code = finish(collector, false);
    const double ms = wall.elapsed();
    const double cpu = cpuSeconds() - cpu0;
    const qint64 stored = [&] {
        TSiteStore store(QStringLiteral("bench"));
        return store.Open(*url) == TSiteStore::OpenResult::Ok ? store.RecordCount("hall-1").value_or(-1) : -1;
    }();
    if (code != kCollectOk || stored != sample) {
        std::fprintf(stderr, "the download ended with %d and %lld records stored\n", code, (long long)stored);
        return 1;
    }
    QList<QByteArray> columns{"DATETIME"};
    columns += config->Installations.first().Columns;
    const double floorMs = EstimateArchiveReadMs(columns, records - sample + 1, records, 1, 115200, 0) / double(sample);
    std::printf("first download, the line's half: the last %d of %d records x 12 variables, unpaced emulator\n", sample,
                records);
    std::printf("  on the line  %.1f ms per record (%.1f ms of it CPU); the wire floor at 115200 baud with the\n"
                "               driver's pauses %.1f ms per record\n",
                ms / sample, 1000.0 * cpu / sample, floorMs);
    std::printf("  100 000 records: %s on the line as measured, %s at 115200 baud\n",
                qPrintable(DurationText(qint64(ms / sample * records))), qPrintable(DurationText(qint64(floorMs * records))));
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser p;
    bench::ParseOptions(p, app,
                        {{"installations", "installations polled, one per line", "n", "16"},
                         {"seconds", "seconds measured", "s", "60"},
                         {"baud", "pace the emulators' replies at this rate (0: unpaced)", "rate", "9600"},
                         {"site-seconds", "seconds the large site is measured (0: not run)", "s", "120"},
                         {"sample", "records of the first download read", "n", "2000"},
                         {"mqtt", "only the polling, every reading published to a local MQTT broker"}});
    Layout small;
    small.PtyLines = std::max(1, p.value("installations").toInt());
    small.Seconds = std::max(1, p.value("seconds").toInt());
    small.Baud = std::max(0, p.value("baud").toInt());
    small.CpuTarget = small.Baud > 0 ? 1 : 2;
    if (p.isSet("mqtt")) {
        small.Mqtt = true;
        small.CpuTarget = 3;
        return pollBenchmark(p.value("sim"), small);
    }
    int code = pollBenchmark(p.value("sim"), small);
    if (const int seconds = p.value("site-seconds").toInt(); seconds > 0) {
        // A large site: 64 installations four to a line on pseudo-terminals
        // and 64 behind serial device servers, all paced at the line's rate.
        const Layout site{16, 16, 4, 10, seconds, std::max(small.Baud, 9600), 2, 100};
        code = std::max(code, pollBenchmark(p.value("sim"), site));
    }
    const int downloaded = downloadBenchmark(p.value("sim"), std::max(10, p.value("sample").toInt()));
    return std::max(code, downloaded);
}
