// An archive download at 9600 baud: 200 records of DATETIME and ACTIVITY read
// through the installation's variable set from kvarn-sim on a pseudo-terminal
// (replies paced at the line rate), against the line's floor. The floor is
// what the exchanges that were made must take: for each, the 10 ms pause and
// the wire time of its reply (and, on a real line, of its request) at ten
// bits per byte. A ratio near 1 means the program adds nothing of its own.
//
//   bench_archivedownload [--sim PATH] [--baud RATE] [--records N]

#include "benchsim.h"

#include "instrument/devicearchive.h"
#include "instrument/ormak.h"
#include "protocol/openprotocoldriver.h"
#include "protocol/opvarlist.h"

#include <QCoreApplication>
#include <QCommandLineParser>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser p;
    bench::ParseOptions(p, app, {{"baud", "line rate", "rate", "9600"}, {"records", "records to read", "n", "200"}});
    const int baud = std::max(50, p.value("baud").toInt());
    const int records = std::max(1, p.value("records").toInt());

    bench::SimLine line;
    if (!line.Open(p.value("sim"), {"--baud", QString::number(baud), "--records", QString::number(records)}, baud))
        return 2;
    bench::Terminal terminal;
    line.Driver.SetTerminal(&terminal);
    TORMAK ormak(&line.Driver);
    ormak.SetDeviceNumber(1);
    TOPVarList columns;
    columns.Add("DATETIME");
    columns.Add("ACTIVITY");

    QElapsedTimer t;
    t.start();
    const bool ok = ormak.ReadNumOfRecords() && ormak.ReadArchive(1, 1, records, &columns);
    const double ms = bench::MsSince(t);
    if (!ok || ormak.Archive->RecordCount() != records) {
        std::fprintf(stderr, "the download failed after %d records\n", ok ? ormak.Archive->RecordCount() : -1);
        return 1;
    }

    // Every text frame is its text and 13 bytes: header, payload's first two
    // bytes, payload checksum.
    double ptyFloor = 0;
    double requestWire = 0;
    int exchanges = 0;
    for (const QByteArray &shown : terminal.Lines) {
        if (shown.startsWith("-> ")) {
            ++exchanges;
            ptyFloor += TOpenProtocolDriver::kDefaultRequestPause;
            requestWire += bench::WireMs(shown.size() - 3 + 13, baud);
        } else if (shown.startsWith("<- ")) {
            ptyFloor += bench::WireMs(shown.size() - 3 + 13, baud);
        }
    }
    const double floor = ptyFloor + requestWire;
    std::printf("archive download at %d baud: %d records of DATETIME and ACTIVITY, %d exchanges\n", baud, records,
                exchanges);
    std::printf("  %.0f ms in all, %.2f ms a record\n", ms, ms / records);
    std::printf("  floor on a real line       %.0f ms   ratio %.3f\n", floor, ms / floor);
    std::printf("  floor on a pseudo-terminal %.0f ms   ratio %.3f\n", ptyFloor, ms / ptyFloor);
    return 0;
}
