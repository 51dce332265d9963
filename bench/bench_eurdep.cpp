// EURDEP export from the site database: a month of 10-minute records of all
// twelve archive variables for 64 installations in SQLite, read back and
// written as one message of hourly means, as kvarnctl export --format eurdep
// does. Prints the time of each of five runs and their median, the rows
// written and the peak memory. Target: under 2 s.
//
//   bench_eurdep [installations] [days]

#include "benchmeasure.h"
#include "base/installationtime.h"
#include "collect/eurdepsite.h"
#include "store/sitestore.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>

namespace {

const QList<QByteArray> kColumns{"SERIALN", "DRYCONTACTIN", "DRYCONTACTOUT", "DRYCONTACTTHR", "KOEFFICIENT",
                                 "ALARM1", "ALARM2", "ALARM1ON", "ALARM2ON", "STATUS", "ACTIVITY"};
const QDateTime kStart(QDate(2026, 11, 1), QTime(0, 0), Qt::UTC);

bool Fill(TSiteStore &store, const QString &name, int records)
{
    constexpr int kBatch = 2000;
    for (int first = 0; first < records; first += kBatch) {
        TStoreBatch batch{name, QByteArray("4711"), kColumns, {}, {}, {}};
        for (int n = first; n < std::min(records, first + kBatch); ++n)
            batch.Records << TStoreRecord{InstallationTimeText(kStart.addSecs(qint64(n) * 600)),
                                          {QByteArray("4711"), QByteArray("0"), QByteArray("0"), QByteArray("1"),
                                           QByteArray("0.0123"), QByteArray("200"), QByteArray("1000"),
                                           QByteArray("0"), QByteArray("0"), QByteArray(n % 53 ? "0" : "16"),
                                           QByteArray::number(20 + n % 150) + ".5"}};
        if (!store.Write(batch))
            return false;
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int installations = argc > 1 ? std::max(1, atoi(argv[1])) : 64;
    const int days = argc > 2 ? std::max(1, atoi(argv[2])) : 30;
    QTemporaryDir dir;
    const std::optional<TStoreUrl> url = TStoreUrl::Parse(QStringLiteral("sqlite:") + dir.filePath("site.db"), nullptr);
    TSiteConfig site;
    {
        TSiteStore store(QStringLiteral("fill"));
        if (!dir.isValid() || !url || store.Open(*url) != TSiteStore::OpenResult::Ok)
            return 1;
        for (int i = 0; i < installations; ++i) {
            TSiteInstallation inst;
            inst.Name = QStringLiteral("room-%1").arg(i + 1);
            inst.Locality.Code = QStringLiteral("RU%1").arg(i + 1, 4, 10, QLatin1Char('0'));
            inst.TimeZone = QTimeZone("Europe/Moscow");
            site.Installations << inst;
            if (!Fill(store, inst.Name, days * 144))
                return 1;
        }
    }
    std::printf("EURDEP export of %d installations x %d days of 10-minute records (%d records), hourly, SQLite\n",
                installations, days, installations * days * 144);
    QList<double> times;
    qsizetype bytes = 0;
    for (int run = 0; run < 5; ++run) {
        QElapsedTimer t;
        t.start();
        TSiteStore store(QStringLiteral("read"));
        if (store.Open(*url, TSiteStore::Access::ReadOnly) != TSiteStore::OpenResult::Ok)
            return 1;
        QString error;
        std::optional<QList<TEurdepSeries>> series =
            ReadEurdepSeries(store, site.Installations, kStart, kStart.addDays(days), 3600, &error);
        if (!series)
            return 1;
        bytes = EurdepText(EurdepSiteMessage(site, std::move(*series), QStringLiteral("RU.EUR"))).size();
        times << bench::MsSince(t);
        std::printf("  run %d: %.0f ms\n", run + 1, times.last());
    }
    std::sort(times.begin(), times.end());
    std::printf("median %.0f ms (target < 2000 ms), message %lld bytes, peak memory %.0f MiB\n", times[2],
                qlonglong(bytes), bench::PeakMiB());
    return 0;
}
