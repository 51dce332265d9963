// A soak of the exchange: 10 000 exchanges (request frames sent) against
// kvarn-sim on a pseudo-terminal with every fault the emulator knows scheduled
// among them, late replies included, run as kvarnctl runs: no event loop.
// It reads values the installation holds fixed, writes ALARM1 and reads it
// back, and reads the main spectrum, over and over. Every value a successful
// transaction hands back is compared with the installation's; the figures to
// watch are the wrong values accepted (must be 0) and the resident memory,
// which must stay flat once the first thousand exchanges have warmed it up.
//
//   bench_soak [--sim PATH] [--exchanges N]

#include "benchsim.h"

#include "protocol/openprotocoldriver.h"
#include "protocol/opvarlist.h"
#include "sim/simspectrum.h"

#include <QCoreApplication>
#include <QCommandLineParser>

namespace {

// The faults, each on its own requests: kind k hits request n when
// n mod kCycle = 6k + 1, so about one request in seven is spoilt. The delay
// is longer than a whole attempt (101 ms here): a late reply.
const char *const kFaults[] = {"silent",   "bad-header",    "bad-payload", "wrong-sender", "wrong-receiver",
                               "split:5",  "double",        "garbage",     "delay:150",    "block-count-0",
                               "wrong-block", "wrong-kind", "cut:5"};
constexpr int kCycle = 89;

QStringList faultOptions(int requests)
{
    QStringList options;
    int k = 0;
    for (const char *fault : kFaults) {
        QStringList when;
        for (int n = 6 * k + 1; n <= requests; n += kCycle)
            when << QString::number(n);
        options << "--fault" << when.join(u',') + ':' + QString::fromLatin1(fault);
        ++k;
    }
    return options;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser p;
    bench::ParseOptions(p, app, {{"exchanges", "request frames to send", "n", "10000"}});
    const qint64 exchanges = std::max(100, p.value("exchanges").toInt());

    bench::SimLine line;
    // Requests beyond the exchanges are never made: the schedule covers them all.
    if (!line.Open(p.value("sim"),
                   faultOptions(int(exchanges) + 200)
                       + QStringList{"--activity", "42", "--set", "STATUS=3", "--set", "KOEFFICIENT=0.5"},
                   9600, "100 millisecond"))
        return 2;
    TOpenProtocolDriver &driver = line.Driver;
    bench::Terminal terminal(false);
    driver.SetTerminal(&terminal);

    const QList<QPair<QByteArray, QByteArray>> fixed{
        {"SERIALN", "1047"}, {"KOEFFICIENT", "0.5"}, {"ALARM2", "5000"}, {"STATUS", "3"}, {"ACTIVITY", "42"}};
    TOPVarList reads;
    for (const auto &f : fixed)
        reads.Add(f.first);
    TOPVarList alarm;
    alarm.Add("ALARM1");
    TOPVarList spectrum;
    spectrum.Add("SPECTRUM1");
    const QByteArray spectrumBytes = SimSpectrumBytes(SimSpectrumCounts(TSimSpectrumKind::Main, 1));

    qint64 transactions = 0, failed = 0, values = 0, wrong = 0;
    QList<long> memory; // KiB after each thousand exchanges
    QElapsedTimer t;
    t.start();
    int round = 0;
    while (terminal.Requests < exchanges) {
        ++round;
        bool ok = true;
        switch (round % 3) {
        case 0: {
            for (int i = 0; i < reads.Count(); ++i)
                reads.GetItem(i)->Value = "?";
            ok = driver.ReadVars(1, reads);
            if (ok)
                for (int i = 0; i < reads.Count(); ++i, ++values)
                    wrong += reads.GetItem(i)->Value != fixed[i].second;
            break;
        }
        case 1: {
            // Written, then read back: the installation holds what was sent,
            // even when the echo was lost (a write is carried out whatever
            // becomes of its reply).
            const QByteArray v = QByteArray::number(1000 + round);
            alarm.GetItem(0)->Value = v;
            ok = driver.WriteVars(1, alarm);
            if (ok)
                ++values, wrong += alarm.GetItem(0)->Value != v;
            alarm.GetItem(0)->Value = "?";
            const bool back = driver.ReadVars(1, alarm);
            ++transactions;
            failed += !back;
            if (back)
                ++values, wrong += alarm.GetItem(0)->Value != v;
            break;
        }
        case 2: {
            QByteArray data;
            int size = 0;
            ok = driver.ReadBlock(1, spectrum, data, size);
            if (ok)
                ++values, wrong += data != spectrumBytes;
            break;
        }
        }
        ++transactions;
        failed += !ok;
        while (terminal.Requests >= 1000 * (memory.size() + 1))
            memory << bench::ResidentKiB();
    }
    const double seconds = t.elapsed() / 1000.0;

    std::printf("soak: %lld exchanges in %lld transactions, %.0f s, faults on about 1 request in %d\n",
                static_cast<long long>(terminal.Requests), static_cast<long long>(transactions), seconds,
                kCycle / int(sizeof kFaults / sizeof kFaults[0]));
    std::printf("  transactions failed     %lld (every attempt of one frame spoilt, or a count of 0 blocks)\n",
                static_cast<long long>(failed));
    std::printf("  values checked          %lld\n", static_cast<long long>(values));
    std::printf("  wrong values accepted   %lld\n", static_cast<long long>(wrong));
    std::printf("  resident memory (KiB) after each 1000 exchanges:");
    for (long kib : memory)
        std::printf(" %ld", kib);
    std::printf("\n");
    if (memory.size() >= 2)
        std::printf("  growth after the first 1000 exchanges: %ld KiB\n", memory.last() - memory.first());
    return wrong == 0 ? 0 : 1;
}
