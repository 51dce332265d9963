// Cost of reading one variable over the line, against the line's own floor.
//
// Starts kvarn-sim on a pseudo-terminal with its replies paced at the line
// rate, reads SERIALN through the program's channel and driver many times and
// compares the median with the least such a read can take:
//   the 10 ms pause before the request + the request's wire time + the
//   reply's wire time + the read interval time-out that ends the read + 2 ms.
// A ratio near 1 means the program adds nothing of its own. A pseudo-terminal
// does not pace what the program writes (the emulator paces only its replies),
// so the request's wire time is not spent there: the second floor leaves it
// out, and that is the one the measured time can be held against here.
//
//   bench_readvar [--sim PATH] [--baud RATE] [--count N]

#include "protocol/frame.h"
#include "protocol/openprotocoldriver.h"
#include "protocol/opvarlist.h"
#include "serial/comproperties.h"
#include "serial/rs232channel.h"

#include <QCoreApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

#ifndef KVARN_SIM_PATH
#define KVARN_SIM_PATH ""
#endif

namespace {
double wireMs(int bytes, int baud) { return bytes * 10.0 * 1000.0 / baud; }

double median(QList<double> v)
{
    std::sort(v.begin(), v.end());
    return v.isEmpty() ? 0 : v[v.size() / 2];
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser p;
    p.addHelpOption();
    p.addOption({"sim", "kvarn-sim executable", "path", qEnvironmentVariable("KVARN_SIM", KVARN_SIM_PATH)});
    p.addOption({"baud", "line rate", "rate", "9600"});
    p.addOption({"count", "reads to time", "n", "60"});
    p.process(app);
    const int baud = p.value("baud").toInt();
    const int count = std::max(5, p.value("count").toInt());

    QTemporaryDir dir;
    const QString link = dir.filePath("tty");
    QProcess sim;
    sim.setProgram(p.value("sim"));
    sim.setArguments({"--link", link, "--baud", QString::number(baud)});
    sim.start();
    QByteArray out;
    QElapsedTimer started;
    started.start();
    while (!out.contains("kvarn-sim: installation") && started.elapsed() < 15000) {
        if (!sim.waitForReadyRead(500) && sim.state() == QProcess::NotRunning)
            break;
        out += sim.readAllStandardOutput();
    }
    if (!QFileInfo::exists(link)) {
        std::fprintf(stderr, "kvarn-sim did not start (%s)\n", qPrintable(p.value("sim")));
        return 2;
    }

    TRS232Channel channel;
    TComSettings &s = channel.Settings();
    s.PortNumber = link.toLocal8Bit();
    s.TransferRate = QByteArray::number(baud) + " baud";
    s.DTRControl = s.RTSControl = "HandShake";
    if (!channel.Open()) {
        std::fprintf(stderr, "cannot open %s\n", qPrintable(link));
        return 2;
    }
    TOpenProtocolDriver driver(&channel);
    const ReadTimeouts timeouts = channel.Properties().LineReadTimeouts();

    TOPVarList list;
    list.Add("SERIALN");
    QList<double> times;
    int replyBytes = 0;
    for (int i = 0; i < count + 3; ++i) {
        QElapsedTimer t;
        t.start();
        if (!driver.ReadVars(1, list)) {
            std::fprintf(stderr, "read %d failed\n", i);
            return 1;
        }
        const double ms = t.nsecsElapsed() / 1e6;
        replyBytes = driver.LastReadSize();
        if (i >= 3) // the first reads warm up the line
            times << ms;
    }
    sim.terminate();
    sim.waitForFinished(5000);

    const int requestBytes = int(BuildFrame(MakeRequestFrame(0, 1, ReadRequestText("SERIALN", ""))).size());
    const double floor = TOpenProtocolDriver::kDefaultRequestPause + wireMs(requestBytes, baud)
                         + wireMs(replyBytes, baud) + timeouts.Interval + 2.0;
    const double ptyFloor = floor - wireMs(requestBytes, baud);
    const double med = median(times);
    std::printf("one-variable read at %d baud: request %d bytes, reply %d bytes, interval time-out %u ms\n",
                baud, requestBytes, replyBytes, timeouts.Interval);
    std::printf("  median %.1f ms over %d reads (min %.1f, max %.1f)\n", med, int(times.size()),
                *std::min_element(times.begin(), times.end()), *std::max_element(times.begin(), times.end()));
    std::printf("  floor on a real line      %.1f ms   ratio median/floor %.3f\n", floor, med / floor);
    std::printf("  floor on a pseudo-terminal %.1f ms   ratio median/floor %.3f  (%s)\n", ptyFloor,
                med / ptyFloor, med <= ptyFloor ? "within the floor" : "above the floor");
    return 0;
}
