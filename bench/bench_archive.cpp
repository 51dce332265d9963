// Times the archive at the size of a large instrument archive: 100 000
// records of all twelve archive variables, saved to a file, loaded back and
// copied (as the archive view does). Each should take well under a second.
//
//   bench_archive [records]

#include "instrument/devicearchive.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>
#include <functional>

namespace {

const char *const kColumns[] = {"DATETIME", "SERIALN",  "DRYCONTACTIN", "DRYCONTACTOUT",
                                "DRYCONTACTTHR", "KOEFFICIENT", "ALARM1", "ALARM2",
                                "ALARM1ON", "ALARM2ON", "STATUS", "ACTIVITY"};
constexpr int kColumnCount = int(sizeof kColumns / sizeof kColumns[0]);

QByteArray valueOf(int column, int record)
{
    switch (column) {
    case 0: {
        const int s = record * 600; // one record every ten minutes
        char text[32];
        std::snprintf(text, sizeof text, "%02d/%02d/2004 %02d.%02d.%02d", 1 + s / 86400 % 28,
                      1 + s / (86400 * 28) % 12, s / 3600 % 24, s / 60 % 60, s % 60);
        return text;
    }
    case 1: return "1047";
    case 2: case 3: case 8: case 9: return record % 7 == 0 ? "1" : "0";
    case 4: return "250.5";
    case 5: return "0.0132";
    case 6: return "200";
    case 7: return "1000";
    case 10: return QByteArray::number(16 * (record % 16));
    default: return QByteArray::number(80.0 + record % 997 / 10.0, 'g', 6);
    }
}

// Milliseconds of the fastest of three runs.
double timeIt(const std::function<void()> &work)
{
    double best = 1e300;
    for (int run = 0; run < 3; ++run) {
        QElapsedTimer t;
        t.start();
        work();
        best = std::min(best, t.nsecsElapsed() / 1e6);
    }
    return best;
}

void report(const char *what, double ms)
{
    std::printf("%-28s %9.1f ms  %s\n", what, ms, ms < 1000 ? "(under 1 s)" : "(SLOWER THAN 1 s)");
}

} // namespace

int main(int argc, char **argv)
{
    const int records = argc > 1 ? std::atoi(argv[1]) : 100000;
    QTemporaryDir dir;
    if (!dir.isValid()) {
        std::fprintf(stderr, "no temporary folder\n");
        return 1;
    }

    TDeviceArchive archive;
    TOPVarList names, descriptions;
    for (const char *c : kColumns) {
        names.Add(c);
        descriptions.Add(QByteArray("description of ") + c);
    }
    archive.SetNames(names);
    archive.SetDescriptions(descriptions);
    for (int r = 0; r < records; ++r) {
        TOPVarList vars;
        const QByteArray index = "A" + QByteArray::number(r + 1).rightJustified(3, '0');
        for (int c = 0; c < kColumnCount; ++c)
            vars.Add(kColumns[c], index, valueOf(c, r));
        archive.AddRecord(vars);
    }
    std::printf("archive: %d records x %d columns, %lld bytes as a file\n", records, kColumnCount,
                (long long)archive.ToFileText().size());

    const QString path = dir.filePath("bench.daf");
    bool ok = true;
    report("SaveToFile", timeIt([&] { ok = archive.SaveToFile(path) && ok; }));

    TDeviceArchive loaded;
    report("LoadFromFile", timeIt([&] { ok = loaded.LoadFromFile(path) && ok; }));
    ok = ok && loaded.RecordCount() == records && loaded.Names()->Count() == kColumnCount;

    std::unique_ptr<TDeviceArchive> copy;
    report("CopyTo", timeIt([&] { archive.CopyTo(copy); }));
    ok = ok && copy->RecordCount() == records;

    qint64 sum = 0;
    report("GetRecord, every record", timeIt([&] {
        for (int r = 0; r < copy->RecordCount(); ++r)
            sum += copy->GetRecord(r)->VarList->GetItem(kColumnCount - 1)->Value.size();
    }));

    if (!ok || sum == 0) {
        std::fprintf(stderr, "the archive did not survive the round trip\n");
        return 1;
    }
    return 0;
}
