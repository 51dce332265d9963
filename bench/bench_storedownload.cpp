// A first download of an installation's whole archive, database side only:
// 100 000 records of all twelve archive variables written into the site
// database in batches as kvarn-collect writes them (one transaction each),
// into SQLite and into a PostgreSQL server this program starts itself with
// the server's default durability. Prints per database the time spent in the
// database, records per second and the time per batch (median, 95th
// percentile, largest), each the median of three runs on a fresh database,
// and the time to read every record back (as kvarnctl export does).
// Compare the time per record with the line's time per record (twelve
// exchanges) from the collector's benchmark: the target is the database
// under 5 % of the total at 115200 baud.
//
// Then one installation grown to a million records, batch after batch as the
// collector writes them (with the stored count it reads back after each):
// the median time of the first batches against that of the last ones, which
// must stay within 1.5 times (nothing on a batch's way costs more as the
// table grows).
//
//   bench_storedownload [records] [records per batch] [records grown to]

#include "benchmeasure.h"
#include "base/installationtime.h"
#include "store/sitestore.h"
#include "support/pgserver.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

const QList<QByteArray> kColumns{"SERIALN", "DRYCONTACTIN", "DRYCONTACTOUT", "DRYCONTACTTHR", "KOEFFICIENT",
                                 "ALARM1", "ALARM2", "ALARM1ON", "ALARM2ON", "STATUS", "ACTIVITY"};

// Records as the emulator's archive gives them: one every ten minutes.
TStoreBatch MakeBatch(int first, int count)
{
    static const QDateTime start(QDate(2024, 1, 1), QTime(0, 0), Qt::UTC);
    TStoreBatch batch{QStringLiteral("hall-1"), QByteArray("4711"), kColumns, {}, {}, {}};
    batch.Records.reserve(count);
    for (int n = first; n < first + count; ++n) {
        TStoreRecord record{InstallationTimeText(start.addSecs(qint64(n) * 600)), {}};
        record.Values = {QByteArray("4711"), QByteArray("0"), QByteArray("0"), QByteArray("1"),
                         QByteArray("0.0123"), QByteArray("200"), QByteArray("1000"), QByteArray(n % 97 ? "0" : "1"),
                         QByteArray("0"), QByteArray("0"), QByteArray::number(20 + n % 150) + ".5"};
        batch.Records << record;
    }
    return batch;
}

struct Run {
    double TotalMs = 0;
    double ReadMs = 0;
    QList<double> BatchMs;
};

double Percentile(QList<double> values, double p)
{
    if (values.isEmpty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min<qsizetype>(values.size() - 1, qsizetype(p * (values.size() - 1) + 0.5))];
}

bool Download(const QString &url, int records, int perBatch, Run &run, bool readBack = true)
{
    QString error;
    const std::optional<TStoreUrl> parsed = TStoreUrl::Parse(url, &error);
    TSiteStore store(QStringLiteral("bench"));
    if (!parsed || store.Open(*parsed) != TSiteStore::OpenResult::Ok) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(url), qPrintable(parsed ? store.LastError() : error));
        return false;
    }
    for (int first = 0; first < records; first += perBatch) {
        const TStoreBatch batch = MakeBatch(first, std::min(perBatch, records - first));
        QElapsedTimer t;
        t.start();
        if (!store.Write(batch) || !store.RecordCount(batch.Installation)) {
            std::fprintf(stderr, "%s\n", qPrintable(store.LastError()));
            return false;
        }
        const double ms = bench::MsSince(t);
        run.BatchMs << ms;
        run.TotalMs += ms;
    }
    // Reading them back, as kvarnctl export does.
    QElapsedTimer t;
    t.start();
    QList<QByteArray> columns;
    qint64 rows = 0;
    if (!readBack)
        return true;
    if (!store.Records(QStringLiteral("hall-1"), std::nullopt, std::nullopt, &columns,
                       [&](const QList<std::optional<QByteArray>> &) { return ++rows > 0; })
        || rows != records) {
        std::fprintf(stderr, "%s: not every record was stored\n", qPrintable(url));
        return false;
    }
    run.ReadMs = bench::MsSince(t);
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int records = argc > 1 ? std::atoi(argv[1]) : 100000;
    const int perBatch = argc > 2 ? std::atoi(argv[2]) : 200;
    if (records < 1 || perBatch < 1) {
        std::fprintf(stderr, "usage: bench_storedownload [records] [records per batch]\n");
        return 2;
    }
    QTemporaryDir dir;
    PgServer server(true);
    if (!dir.isValid() || !server.Start()) {
        std::fprintf(stderr, "%s\n", qPrintable(server.ErrorText()));
        return 1;
    }
    std::printf("first download of %d records x 12 variables, %d records per batch (one transaction each)\n",
                records, perBatch);
    for (const char *kind : {"sqlite", "postgresql"}) {
        QList<Run> runs;
        for (int r = 0; r < 3; ++r) {
            const QString name = QStringLiteral("site%1").arg(r);
            QString url = QStringLiteral("sqlite:%1/%2.db").arg(dir.path(), name);
            if (kind == QByteArray("postgresql")) {
                if (!server.CreateDatabase(name)) {
                    std::fprintf(stderr, "%s\n", qPrintable(server.ErrorText()));
                    return 1;
                }
                url = server.Url(name);
            }
            Run run;
            if (!Download(url, records, perBatch, run))
                return 1;
            runs << run;
        }
        std::sort(runs.begin(), runs.end(), [](const Run &a, const Run &b) { return a.TotalMs < b.TotalMs; });
        const Run &median = runs[1];
        std::printf("%-10s  in the database %8.0f ms  %8.0f records/s  %6.1f us/record  "
                    "per batch: median %6.2f ms, 95%% %6.2f ms, max %6.2f ms; all read back in %6.0f ms\n",
                    kind, median.TotalMs, records / (median.TotalMs / 1000), median.TotalMs * 1000 / records,
                    Percentile(median.BatchMs, 0.5), Percentile(median.BatchMs, 0.95),
                    Percentile(median.BatchMs, 1.0), median.ReadMs);
    }
    const int grown = argc > 3 ? std::atoi(argv[3]) : 1000000;
    std::printf("one installation grown to %d records, %d per batch: the batch's time first and last\n", grown,
                perBatch);
    for (const char *kind : {"sqlite", "postgresql"}) {
        QString url = QStringLiteral("sqlite:%1/grown.db").arg(dir.path());
        if (kind == QByteArray("postgresql")) {
            if (!server.CreateDatabase(QStringLiteral("grown"))) {
                std::fprintf(stderr, "%s\n", qPrintable(server.ErrorText()));
                return 1;
            }
            url = server.Url(QStringLiteral("grown"));
        }
        Run run;
        if (!Download(url, grown, perBatch, run, false))
            return 1;
        const int window = int(std::min<qsizetype>(200, run.BatchMs.size() / 4));
        const double first = Percentile(run.BatchMs.mid(0, window), 0.5);
        const double last = Percentile(run.BatchMs.mid(run.BatchMs.size() - window), 0.5);
        std::printf("%-10s  median of the first %d batches %6.2f ms, of the last %d %6.2f ms: %.2f x (target < 1.5 x)\n",
                    kind, window, first, window, last, first > 0 ? last / first : 0.0);
    }
    return server.Stop() ? 0 : 1;
}
