#include "collect/storewriter.h"

#include "base/cp1251.h"
#include "store/sitestore.h"

#include <QThread>
#include <QTimer>

TStoreWriter::TStoreWriter(const TStoreUrl &url, int maxWaiting) : url_(url), maxWaiting_(std::max(1, maxWaiting)) {}

TStoreWriter::~TStoreWriter() = default;

bool TStoreWriter::reopen()
{
    store_.reset();
    store_ = std::make_unique<TSiteStore>(QStringLiteral("kvarn-collect-%1").arg(++connections_));
    up_ = store_->Open(url_) == TSiteStore::OpenResult::Ok;
    return up_;
}

TStoreWriter::Opened TStoreWriter::Open(const QStringList &installations, const QList<TStoreStart> &starts)
{
    Opened opened;
    store_ = std::make_unique<TSiteStore>(QStringLiteral("kvarn-collect-%1").arg(++connections_));
    opened.Result = int(store_->Open(url_));
    up_ = opened.Result == int(TSiteStore::OpenResult::Ok);
    if (!up_) {
        opened.Error = store_->LastError();
        return opened;
    }
    if (!starts.isEmpty() && !store_->RecordStarts(starts)) {
        opened.Result = int(TSiteStore::OpenResult::Unreachable);
        opened.Error = store_->LastError();
        return opened;
    }
    for (const QString &name : installations) {
        const std::optional<QByteArray> newest = store_->NewestDatetime(name);
        const std::optional<qint64> count = store_->RecordCount(name);
        if (!newest || !count) {
            opened.Result = int(TSiteStore::OpenResult::Unreachable);
            opened.Error = store_->LastError();
            return opened;
        }
        opened.Cursors.insert(name, *newest);
        opened.Counts.insert(name, *count);
    }
    retry_ = new QTimer(this);
    retry_->setInterval(kRetryMs);
    connect(retry_, &QTimer::timeout, this, &TStoreWriter::retry);
    return opened;
}

void TStoreWriter::Close()
{
    if (retry_)
        retry_->stop();
    store_.reset();
}

void TStoreWriter::Write(const TStoreBatch &batch)
{
    // An installation refused for its serial number: nothing of it goes
    // under that name (the refusal was logged and recorded once).
    if (refused_.contains(batch.Installation))
        return;
    Waiting &w = waiting_[batch.Installation];
    w.Readings += batch.Readings;
    w.Events += batch.Events;
    if (batch.Serial)
        w.Serial = batch.Serial;
    w.Collector = batch.Collector.isEmpty() ? collector_ : batch.Collector;
    while (w.Readings.size() > maxWaiting_) {
        w.Readings.removeFirst();
        ++w.Dropped;
    }
    QList<TStoreRecord> records = broken_.contains(batch.Installation) ? QList<TStoreRecord>() : batch.Records;
    if (!up_) {
        if (!records.isEmpty()) {
            broken_.insert(batch.Installation);
            lost_ = true;
            emit WriteFailed(batch.Installation);
        }
        return;
    }
    // Readings and events wait (as while the database is away) until the
    // installation has given its serial number in this run, so that none
    // lands under a name that belongs to another installation.
    if (records.isEmpty() && !w.Serial && !confirmed_.contains(batch.Installation) && w.Events.isEmpty())
        return;
    writeWaiting(batch.Installation, batch.Columns, std::move(records));
}

bool TStoreWriter::writeWaiting(const QString &installation, const QList<QByteArray> &columns,
                                QList<TStoreRecord> records)
{
    Waiting &w = waiting_[installation];
    TStoreBatch out;
    out.Installation = installation;
    out.Serial = w.Serial;
    out.Collector = w.Collector;
    out.Columns = columns;
    out.Records = std::move(records);
    // Events go out at once; readings of an installation not yet confirmed
    // wait for its serial number (or for the end of the run).
    const bool holdReadings = !out.Serial && !confirmed_.contains(installation) && !ending_;
    if (!holdReadings)
        out.Readings = w.Readings;
    out.Events = w.Events;
    if (w.Dropped > 0 && !holdReadings)
        out.Events << TStoreEvent{QDateTime::currentDateTimeUtc(), QStringLiteral("readings-dropped"),
                                  QStringLiteral("%1 readings dropped while the database could not be reached")
                                      .arg(w.Dropped)};
    const bool written = store_->Write(out);
    if (!written && store_->SerialMismatch()) {
        refuse(installation);
        return true;
    }
    if (!written) {
        CollectLog(QStringLiteral("%1: the database did not take the batch: %2").arg(installation, store_->LastError()));
        if (!out.Records.isEmpty()) {
            broken_.insert(installation);
            lost_ = true;
            emit WriteFailed(installation);
        }
        wentDown();
        return false;
    }
    if (holdReadings) {
        w.Events.clear();
        return true;
    }
    if (w.Dropped > 0)
        CollectLog(QStringLiteral("%1: readings-dropped %2").arg(installation).arg(w.Dropped));
    if (out.Serial)
        confirmed_.insert(installation);
    waiting_.remove(installation);
    if (!out.Records.isEmpty()) {
        CollectLog(QStringLiteral("%1: %2 archive records stored, the last of %3")
                       .arg(installation)
                       .arg(out.Records.size())
                       .arg(FromCp1251(out.Records.last().Datetime)));
        if (const std::optional<qint64> count = store_->RecordCount(installation))
            emit RecordsStored(installation, *count);
    }
    return true;
}

void TStoreWriter::refuse(const QString &installation)
{
    refused_.insert(installation);
    waiting_.remove(installation);
    lost_ = true; // the run did not store what it read
    const QString why = store_->LastError();
    CollectLog(QStringLiteral("%1: serial-mismatch %2").arg(installation, why));
    TStoreBatch event;
    event.Installation = installation;
    event.Events << TStoreEvent{QDateTime::currentDateTimeUtc(), QStringLiteral("serial-mismatch"), why};
    if (!store_->Write(event))
        CollectLog(QStringLiteral("%1: the event cannot be stored: %2").arg(installation, store_->LastError()));
}

void TStoreWriter::wentDown()
{
    up_ = false;
    if (retry_ && !retry_->isActive()) {
        CollectLog(QStringLiteral("the database %1 cannot be reached; readings wait in memory").arg(url_.Display()));
        retry_->start();
    }
}

void TStoreWriter::retry()
{
    if (!reopen())
        return;
    CollectLog(QStringLiteral("the database %1 answers again").arg(url_.Display()));
    retry_->stop();
    for (const QString &installation : waiting_.keys())
        if (!writeWaiting(installation, {}, {}))
            return;
    sendCursors();
}

void TStoreWriter::RefreshCursor(const QString &installation)
{
    broken_.remove(installation);
    wanted_.insert(installation);
    if (up_)
        sendCursors();
}

void TStoreWriter::sendCursors()
{
    for (const QString &installation : wanted_.values()) {
        const std::optional<QByteArray> newest = store_->NewestDatetime(installation);
        if (!newest) {
            wentDown();
            return;
        }
        wanted_.remove(installation);
        emit CursorKnown(installation, *newest);
    }
}

bool TStoreWriter::Flush()
{
    ending_ = true;
    if (!up_ && store_)
        reopen();
    if (up_)
        for (const QString &installation : waiting_.keys())
            if (!writeWaiting(installation, {}, {}))
                break;
    if (!waiting_.isEmpty())
        CollectLog(QStringLiteral("%1 installation(s) with readings or events the database did not take")
                       .arg(waiting_.size()));
    return waiting_.isEmpty() && !lost_;
}
