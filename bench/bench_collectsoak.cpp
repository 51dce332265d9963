// A long run of kvarn-collect as the service runs it: the program itself,
// started as a process, with 8 kvarn-sim installations on pseudo-terminals
// (one of them answering badly on cue: silent, spoilt and late replies) into
// SQLite, with its metrics served and scraped every sample. What is watched:
// the resident memory of the collector, sampled every few seconds, and its
// slope after the warm-up (least squares, KiB per minute; target under 1);
// the polls missed over the whole run (target 0), from /metrics.
//
// It uses little CPU (the installations are polled every PollSeconds), so
// it may run for its hour beside other work.
//
//   bench_collectsoak [--sim PATH] [--collect PATH] [--minutes 60] [--warmup 10]
//                     [--sample-seconds 10]

#include "benchsim.h"

#include <QEventLoop>
#include <QFile>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <csignal>
#include <memory>

#ifndef KVARN_COLLECT_PATH
#define KVARN_COLLECT_PATH ""
#endif

namespace {

constexpr int kInstallations = 8;

long residentKiB(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return 0;
}

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

QByteArray scrape(quint16 port)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(3000))
        return {};
    socket.write("GET /metrics HTTP/1.0\r\nHost: localhost\r\n\r\n");
    QByteArray reply;
    while (socket.waitForReadyRead(3000))
        reply += socket.readAll();
    return reply;
}

// The sum of one metric family over the installations.
double total(const QByteArray &metrics, const char *family)
{
    double sum = 0;
    const QRegularExpression line(QStringLiteral("^%1\\{[^}]*\\} (\\S+)$").arg(QLatin1String(family)),
                                  QRegularExpression::MultilineOption);
    for (auto it = line.globalMatch(QString::fromUtf8(metrics)); it.hasNext();)
        sum += it.next().captured(1).toDouble();
    return sum;
}

// Least-squares slope of y over x.
double slope(const QList<QPair<double, double>> &points)
{
    const double n = points.size();
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (const auto &[x, y] : points) {
        sx += x;
        sy += y;
        sxx += x * x;
        sxy += x * y;
    }
    const double d = n * sxx - sx * sx;
    return d == 0 ? 0 : (n * sxy - sx * sy) / d;
}

// Faults on about one request in 40 of the faulty installation, for hours.
QStringList faultOptions()
{
    const char *const kinds[] = {"silent", "bad-payload", "garbage", "delay:400", "cut:3"};
    QStringList options;
    int k = 0;
    for (const char *kind : kinds) {
        QStringList when;
        for (int n = 8 * k + 5; n <= 200000; n += 200)
            when << QString::number(n);
        options << "--fault" << when.join(u',') + ':' + QString::fromLatin1(kind);
        ++k;
    }
    return options;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser p;
    bench::ParseOptions(p, app,
                        {{"collect", "kvarn-collect executable", "path", QStringLiteral(KVARN_COLLECT_PATH)},
                         {"minutes", "minutes of the whole run", "m", "60"},
                         {"warmup", "minutes left out of the memory slope", "m", "10"},
                         {"sample-seconds", "seconds between samples", "s", "10"}});
    const double minutes = std::max(1.0, p.value("minutes").toDouble());
    const double warmup = std::clamp(p.value("warmup").toDouble(), 0.0, minutes / 2);
    const int sampleMs = std::max(1, p.value("sample-seconds").toInt()) * 1000;

    std::vector<std::unique_ptr<bench::Sim>> sims;
    QTemporaryDir dir;
    const quint16 port = freePort();
    QByteArray site = "[collect]\nDatabase=sqlite:" + dir.filePath("site.db").toUtf8() + "\nMetrics=127.0.0.1:" +
                      QByteArray::number(port) + "\n";
    for (int i = 0; i < kInstallations; ++i) {
        sims.push_back(std::make_unique<bench::Sim>());
        QStringList options{"--records", "50", "--seed", QString::number(i + 1), "--set", "DURATIONTIME=60"};
        if (i == kInstallations - 1)
            options += faultOptions();
        if (!sims.back()->Start(p.value("sim"), options))
            return 2;
        site += "[installation room-" + QByteArray::number(i + 1) + "]\nPortNumber=" + sims.back()->Link().toUtf8() +
                "\nPollSeconds=2\nArchiveSeconds=120\n";
    }
    QFile siteFile(dir.filePath("site.conf"));
    if (!siteFile.open(QIODevice::WriteOnly) || siteFile.write(site) != site.size())
        return 2;
    siteFile.close();

    QProcess collect;
    collect.setProgram(p.value("collect"));
    collect.setArguments({"--config", siteFile.fileName()});
    collect.setStandardOutputFile(dir.filePath("collect.log"));
    collect.setStandardErrorFile(dir.filePath("collect.log"), QIODevice::Append);
    collect.start();
    if (!collect.waitForStarted(5000)) {
        std::fprintf(stderr, "kvarn-collect did not start (%s)\n", qPrintable(collect.program()));
        return 2;
    }
    const qint64 pid = collect.processId();
    std::fprintf(stderr, "kvarn-collect %lld, its log in %s\n", (long long)pid, qPrintable(dir.filePath("collect.log")));

    QList<QPair<double, double>> after; // (minute, KiB) past the warm-up
    long first = 0, peak = 0, atWarmup = 0, last = 0;
    QByteArray metrics;
    QElapsedTimer wall;
    wall.start();
    QEventLoop loop;
    QTimer sample;
    QObject::connect(&sample, &QTimer::timeout, &loop, [&]() {
        const double minute = wall.elapsed() / 60000.0;
        const QByteArray now = scrape(port);
        if (!now.isEmpty())
            metrics = now;
        last = residentKiB(pid);
        if (first == 0)
            first = last;
        peak = std::max(peak, last);
        if (minute >= warmup) {
            if (after.isEmpty())
                atWarmup = last;
            after << qMakePair(minute, double(last));
        }
        if (minute >= minutes || collect.state() != QProcess::Running)
            loop.quit();
    });
    sample.start(sampleMs);
    loop.exec();

    const bool ranThrough = collect.state() == QProcess::Running;
    ::kill(pid_t(pid), SIGTERM);
    collect.waitForFinished(30000);
    const double perMinute = slope(after);
    std::printf("kvarn-collect soak: %d installations (one with faults on about one request in 40), PollSeconds=2,\n"
                "  %.1f min, SQLite, /metrics scraped every %d s%s\n",
                kInstallations, wall.elapsed() / 60000.0, sampleMs / 1000,
                ranThrough ? "" : " -- the collector ended early!");
    std::printf("  memory       %ld KiB at 1st sample, %ld at %.0f min, %ld at the end, %ld peak\n", first, atWarmup,
                warmup, last, peak);
    std::printf("  slope        %.2f KiB/min after %.0f min over %lld samples (target < 1)\n", perMinute, warmup,
                (long long)after.size());
    std::printf("  polls        %.0f missed (target 0), %.0f exchanges failed, %.0f archive records stored\n",
                total(metrics, "kvarn_missed_polls_total"), total(metrics, "kvarn_exchange_failures_total"),
                total(metrics, "kvarn_archive_records_stored"));
    std::printf("  exit         %d\n", collect.exitCode());
    return ranThrough ? 0 : 1;
}
