// The site's overview on a large site database: 64 installations with a year
// of 10-minute records (3.4 M) and 30 days of 10-second readings (16.6 M),
// SQLite and PostgreSQL. One refresh of the whole table (every installation's
// state and rows), on the full database and on one with a tenth of the rows
// (the same within 1.5 x when the queries use the indexes); a year of one
// installation's records into the program's archive.
//
//   bench_site [FOLDER] [sqlite|postgresql|both]
// The databases are generated once into FOLDER (default /tmp/kvarn-site-bench)
// with bulk SQL and reused; the PostgreSQL cluster lives there too.

#include "analysis/sitestate.h"
#include "benchmeasure.h"
#include "instrument/devicearchive.h"
#include "instrument/storedrecords.h"
#include "store/sitestore.h"
#include "support/pgserver.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <algorithm>
#include <cstdio>

namespace {

constexpr int kInstallations = 64;
constexpr int kRecords = 365 * 144;     // a year of 10-minute records
constexpr int kReadings = 30 * 8640;    // 30 days of 10-second readings
constexpr qint64 kEnd = 1796083200;      // 2026-12-01 00:00 UTC: the newest row of each

bool Exec(QSqlQuery &query, const QString &text)
{
    if (query.exec(text))
        return true;
    std::fprintf(stderr, "%s: %s\n", qPrintable(text.left(120)), qPrintable(query.lastError().text()));
    return false;
}

// Rows generated in the database itself, `fraction` of the full counts.
bool Generate(const QString &url, bool postgres, int fraction)
{
    QString error;
    const std::optional<TStoreUrl> parsed = TStoreUrl::Parse(url, &error);
    TSiteStore store(QStringLiteral("generate"));
    if (!parsed || store.Open(*parsed) != TSiteStore::OpenResult::Ok) {
        std::fprintf(stderr, "%s\n", qPrintable(parsed ? store.LastError() : error));
        return false;
    }
    QList<TStoreStart> starts;
    for (int i = 1; i <= kInstallations; ++i)
        starts << TStoreStart{QStringLiteral("inst-%1").arg(i, 2, 10, QChar('0')), 10, 600,
                              QDateTime::fromSecsSinceEpoch(kEnd, Qt::UTC)};
    if (!store.RecordStarts(starts)) {
        std::fprintf(stderr, "%s\n", qPrintable(store.LastError()));
        return false;
    }
    const int records = kRecords / fraction, readings = kReadings / fraction;
    bool ok = true;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(parsed->Driver, QStringLiteral("bulk"));
        db.setDatabaseName(postgres ? parsed->DatabaseName : parsed->Path);
        db.setHostName(parsed->Host);
        db.setUserName(parsed->User);
        if (parsed->Port > 0)
            db.setPort(parsed->Port);
        ok = db.open();
        QSqlQuery q(db);
        const QString series = postgres ? QStringLiteral("generate_series(0, %1) AS n(i)")
                                        : QStringLiteral("(WITH RECURSIVE s(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM s "
                                                         "WHERE i < %1) SELECT i FROM s) AS n");
        auto wall = [&](const QString &seconds, const char *pgFormat, const char *liteFormat) {
            return postgres ? QStringLiteral("to_char(to_timestamp(%1) AT TIME ZONE 'UTC', '%2')").arg(seconds, pgFormat)
                            : QStringLiteral("strftime('%1', %2, 'unixepoch')").arg(liteFormat, seconds);
        };
        ok = ok && db.transaction();
        for (int id = 1; ok && id <= kInstallations; ++id) {
            const QString recordAt = QStringLiteral("%1 - (%2 - i) * 600").arg(kEnd).arg(records - 1);
            const QString readingAt = QStringLiteral("%1 - (%2 - i) * 10").arg(kEnd).arg(readings - 1);
            ok = Exec(q, QStringLiteral("INSERT INTO records (installation_id, datetime, recorded_at, alarm1, activity, "
                                        "activity_value) SELECT %1, %2, %3, '400', (i %% 97) || '.5', (i %% 97) + 0.5 FROM %4")
                             .arg(id)
                             .arg(wall(recordAt, "DD/MM/YYYY HH24.MI.SS", "%d/%m/%Y %H.%M.%S"),
                                  postgres ? QStringLiteral("to_timestamp(%1) AT TIME ZONE 'UTC'").arg(recordAt)
                                           : wall(recordAt, "", "%Y-%m-%d %H:%M:%S"),
                                  series.arg(records - 1))
                             .replace(QStringLiteral("%%"), QStringLiteral("%"))) &&
                 Exec(q, QStringLiteral("INSERT INTO readings (installation_id, at, activity, activity_value, status, "
                                        "alarm1on, alarm2on) SELECT %1, %2, (i %% 89) || '.5', (i %% 89) + 0.5, '0', '0', "
                                        "'0' FROM %3")
                             .arg(id)
                             .arg(postgres ? QStringLiteral("to_timestamp(%1)").arg(readingAt)
                                           : wall(readingAt, "", "%Y-%m-%d %H:%M:%S.000Z"),
                                  series.arg(readings - 1))
                             .replace(QStringLiteral("%%"), QStringLiteral("%")));
        }
        ok = ok && Exec(q, QStringLiteral("UPDATE installations SET record_count = %1").arg(records)) && db.commit();
        if (ok && postgres)
            ok = Exec(q, QStringLiteral("ANALYZE"));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("bulk"));
    return ok;
}

double Median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0 : values[values.size() / 2];
}

// The median of 11 refreshes of the whole table.
double Refresh(const TStoreUrl &url, int *rows)
{
    TSiteStore store(QStringLiteral("refresh"));
    if (store.Open(url, TSiteStore::Access::ReadOnly) != TSiteStore::OpenResult::Ok) {
        std::fprintf(stderr, "%s\n", qPrintable(store.LastError()));
        return -1;
    }
    QList<double> times;
    for (int run = 0; run < 11; ++run) {
        QElapsedTimer t;
        t.start();
        const auto states = store.SiteState();
        if (!states)
            return -1;
        *rows = int(SiteRows(*states, QDateTime::fromSecsSinceEpoch(kEnd, Qt::UTC)).size());
        times << bench::MsSince(t);
    }
    return Median(times);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("/tmp/kvarn-site-bench");
    const QString which = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QStringLiteral("both");
    QDir().mkpath(folder);
    std::unique_ptr<PgServer> server;
    std::printf("site overview: %d installations, %d records and %d readings each (full)\n", kInstallations,
                kRecords, kReadings);
    for (const bool postgres : {false, true}) {
        if ((postgres && which == QLatin1String("sqlite")) || (!postgres && which == QLatin1String("postgresql")))
            continue;
        if (postgres && !server) {
            server = std::make_unique<PgServer>(false);
            if (!server->Start()) {
                std::fprintf(stderr, "%s\n", qPrintable(server->ErrorText()));
                return 1;
            }
        }
        double refresh[2] = {0, 0};
        for (const int fraction : {1, 10}) {
            const QString name = QStringLiteral("site-%1").arg(fraction);
            QString url = QStringLiteral("sqlite:%1/%2.db").arg(folder, name);
            const bool present = !postgres && QFileInfo::exists(url.mid(7));
            if (postgres) {
                server->CreateDatabase(name);
                url = server->Url(name);
            }
            QElapsedTimer made;
            made.start();
            if (!present && !Generate(url, postgres, fraction))
                return 1;
            if (!present)
                std::printf("%-10s 1/%-2d generated in %.0f s\n", postgres ? "postgresql" : "sqlite", fraction,
                            made.elapsed() / 1000.0);
            const TStoreUrl parsed = *TStoreUrl::Parse(url, nullptr);
            int rows = 0;
            refresh[fraction == 1 ? 0 : 1] = Refresh(parsed, &rows);
            if (fraction != 1)
                continue;
            // A year of one installation's records into the archive.
            TSiteStore store(QStringLiteral("year"));
            store.Open(parsed, TSiteStore::Access::ReadOnly);
            const long before = bench::ResidentKiB();
            QElapsedTimer t;
            t.start();
            TDeviceArchive archive;
            QList<QByteArray> columns;
            store.Records(QStringLiteral("inst-01"), std::nullopt, std::nullopt, &columns,
                          [&](const QList<std::optional<QByteArray>> &values) {
                              if (!archive.Names())
                                  SetStoredColumns(columns, archive);
                              AddStoredRecord(columns, values, archive);
                              return true;
                          });
            std::printf("%-10s a year of one installation (%d records) into the archive: %.0f ms, +%.0f MiB "
                        "(peak %.0f MiB)\n",
                        postgres ? "postgresql" : "sqlite", archive.RecordCount(), bench::MsSince(t),
                        (bench::ResidentKiB() - before) / 1024.0, bench::PeakMiB());
        }
        std::printf("%-10s one refresh of %d rows: median %.1f ms (full), %.1f ms (a tenth): ratio %.2f "
                    "(target under 100 ms, ratio under 1.5)\n",
                    postgres ? "postgresql" : "sqlite", kInstallations, refresh[0], refresh[1],
                    refresh[1] > 0 ? refresh[0] / refresh[1] : 0.0);
    }
    return 0;
}
