// Cost of reading one variable over the line, against the line's own floor.
//
// Starts kvarn-sim on a pseudo-terminal with its replies paced at the line
// rate, reads SERIALN through the program's channel and driver many times and
// compares the median with the least such a read can take: the 10 ms pause
// before the request, the request's wire time and the reply's wire time, at
// ten bits per byte. The read ends when the reply's frame is complete, so no
// time-out is part of it. A pseudo-terminal does not pace what the program
// writes (the emulator paces only its replies), so there the request's wire
// time is not spent: the second floor leaves it out, and that is the one the
// measured time is held against. Targets: within 1.05 x that floor at 9600
// baud and 1.15 x at 115200.
//
// The first read after the port opens also waits the read interval time-out
// after its reply, for replies an earlier user of the line may still be owed;
// the port is opened again and again to time those first reads. Target: the
// median first read costs at most one interval time-out more than the median
// of the later reads (1.05 x that time-out, for the wait's own overhead).
//
//   bench_readvar [--sim PATH] [--baud RATE[,RATE...]] [--count N]

#include "benchsim.h"

#include "protocol/frame.h"
#include "protocol/openprotocoldriver.h"
#include "protocol/opvarlist.h"
#include "serial/comproperties.h"

#include <QCoreApplication>
#include <QCommandLineParser>

namespace {

int measure(const QString &simPath, int baud, int count)
{
    bench::SimLine line;
    if (!line.Open(simPath, {"--baud", QString::number(baud)}, baud))
        return 2;
    TOpenProtocolDriver &driver = line.Driver;

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
        const double ms = bench::MsSince(t);
        replyBytes = driver.LastReadSize();
        if (i >= 3) // the first reads warm up the line
            times << ms;
    }

    // First reads after an opening.
    QList<double> firsts;
    for (int i = 0; i < std::max(5, count / 4); ++i) {
        line.Channel().Close();
        if (!line.Channel().Open()) {
            std::fprintf(stderr, "cannot open the line again: %s\n", qPrintable(line.Channel().ErrorText()));
            return 2;
        }
        QElapsedTimer t;
        t.start();
        if (!driver.ReadVars(1, list)) {
            std::fprintf(stderr, "first read %d failed\n", i);
            return 1;
        }
        firsts << bench::MsSince(t);
    }

    const int requestBytes = int(BuildFrame(MakeRequestFrame(0, 1, ReadRequestText("SERIALN", ""))).size());
    const double floor = TOpenProtocolDriver::kDefaultRequestPause + bench::WireMs(requestBytes, baud)
                         + bench::WireMs(replyBytes, baud);
    const double ptyFloor = floor - bench::WireMs(requestBytes, baud);
    const double med = bench::Median(times);
    const double target = baud <= 9600 ? 1.05 : 1.15;
    std::printf("one-variable read at %d baud: request %d bytes, reply %d bytes\n", baud, requestBytes, replyBytes);
    std::printf("  median %.2f ms over %d reads (min %.2f, max %.2f)\n", med, int(times.size()),
                *std::min_element(times.begin(), times.end()), *std::max_element(times.begin(), times.end()));
    std::printf("  floor on a real line       %.2f ms   ratio median/floor %.3f\n", floor, med / floor);
    std::printf("  floor on a pseudo-terminal %.2f ms   ratio median/floor %.3f  (target %.2f: %s)\n", ptyFloor,
                med / ptyFloor, target, med / ptyFloor <= target ? "met" : "missed");
    const double interval = line.Channel().Properties().LineReadTimeouts().Interval;
    const double extra = bench::Median(firsts) - med;
    std::printf("  first read after opening: median %.2f ms over %d openings, %.2f ms more than the later reads"
                " (one interval time-out: %.0f ms; target within 1.05 x: %s)\n",
                bench::Median(firsts), int(firsts.size()), extra, interval, extra <= 1.05 * interval ? "met" : "missed");
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser p;
    bench::ParseOptions(p, app,
                        {{"baud", "line rates, comma-separated", "rates", "9600,115200"},
                         {"count", "reads to time", "n", "60"}});
    const int count = std::max(5, p.value("count").toInt());
    for (const QString &rate : p.value("baud").split(u',')) {
        const int baud = rate.toInt();
        if (baud < 50) {
            std::fprintf(stderr, "\"%s\" is no line rate\n", qPrintable(rate));
            return 2;
        }
        if (const int rc = measure(p.value("sim"), baud, count))
            return rc;
    }
    return 0;
}
