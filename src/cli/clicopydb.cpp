#include "cli/clicopydb.h"

#include "cli/cliconsole.h"
#include "cli/kvarnctl.h"
#include "store/sitestore.h"

#include <QFileInfo>

namespace {

// One installation: its records (an existing one is left as it is, so a
// second run passes over what the first wrote), then its readings and
// events after the newest already there. A batch ends only where the time
// changes, so that the newest time there always closes a whole batch.
bool copyInstallation(TSiteStore &from, TSiteStore &to, const TSiteStore::Summary &summary, QString *why)
{
    const QString &name = summary.Installation;
    TStoreBatch batch;
    batch.Installation = name;
    if (!summary.Serial.isEmpty())
        batch.Serial = summary.Serial;
    bool failed = false;
    auto write = [&]() {
        if (!to.Write(batch)) {
            *why = to.LastError();
            failed = true;
            return false;
        }
        batch.Records.clear();
        batch.Readings.clear();
        batch.Events.clear();
        return true;
    };

    QList<QByteArray> columns;
    const bool walked = from.Records(name, std::nullopt, std::nullopt, &columns,
                                     [&](const QList<std::optional<QByteArray>> &values) {
                                         batch.Columns = columns.mid(1);
                                         batch.Records << TStoreRecord{values[0].value_or(QByteArray()), values.mid(1)};
                                         return batch.Records.size() < kCopyRows || write();
                                     });
    if (!walked)
        return *why = from.LastError(), false;
    if (failed || !write()) // also enters the installation and its serial number when it has no records
        return false;
    batch.Serial.reset();

    std::optional<QDateTime> newest = to.NewestAt(name, false);
    if (!newest)
        return *why = to.LastError(), false;
    QDateTime last;
    const bool readings = from.ReadingsAfter(name, *newest, [&](const TStoreReading &reading, const QString &collector) {
        // Each reading keeps its own collector, so that readings of one
        // time from several collectors never straddle two batches.
        if (batch.Readings.size() >= kCopyRows && reading.At != last && !write())
            return false;
        batch.Readings << reading;
        batch.Readings.last().Collector = collector;
        last = reading.At;
        return true;
    });
    if (!readings)
        return *why = from.LastError(), false;
    if (failed || (!batch.Readings.isEmpty() && !write()))
        return false;

    last = QDateTime();
    newest = to.NewestAt(name, true);
    if (!newest)
        return *why = to.LastError(), false;
    const bool events = from.EventsAfter(name, *newest, [&](const TStoreEvent &event) {
        if (batch.Events.size() >= kCopyRows && event.At != last && !write())
            return false;
        batch.Events << event;
        last = event.At;
        return true;
    });
    if (!events)
        return *why = from.LastError(), false;
    return !failed && (batch.Events.isEmpty() || write());
}

} // namespace

int RunCliCopyDb(TCliConsole &console, const TCliRequest &r)
{
    const std::optional<TStoreUrl> fromUrl = TStoreUrl::Parse(r.CopyFrom, nullptr);
    const std::optional<TStoreUrl> toUrl = TStoreUrl::Parse(r.CopyTo, nullptr);
    if (fromUrl->Driver == u"QSQLITE" && !QFileInfo(fromUrl->Path).isFile()) {
        console.Error(QStringLiteral("there is no database file %1").arg(fromUrl->Path));
        return kCliUsage;
    }
    TSiteStore from(QStringLiteral("kvarnctl-copy-from"));
    TSiteStore to(QStringLiteral("kvarnctl-copy-to"));
    if (from.Open(*fromUrl, TSiteStore::Access::ReadOnly) != TSiteStore::OpenResult::Ok) {
        console.Error(from.LastError());
        return kCliUsage;
    }
    if (to.Open(*toUrl) != TSiteStore::OpenResult::Ok) {
        console.Error(to.LastError());
        return kCliUsage;
    }
    const std::optional<QList<TSiteStore::Summary>> installations = from.Installations();
    if (!installations) {
        console.Error(QStringLiteral("%1: %2").arg(fromUrl->Display(), from.LastError()));
        return kCliUsage;
    }
    for (const TSiteStore::Summary &summary : *installations) {
        QString why;
        if (!copyInstallation(from, to, summary, &why)) {
            console.Error(QStringLiteral("%1: %2 (run copy-db again to go on)").arg(summary.Installation, why));
            return kCliUsage;
        }
        console.Out(QStringLiteral("%1: copied, %2 records there").arg(summary.Installation).arg(to.RecordCount(summary.Installation).value_or(0)));
    }
    return kCliOk;
}
