#pragma once
// The one thread that writes the site database. Batches arrive by queued
// signal from the line threads and are written each in one transaction.
// While the database cannot be reached, the readings and events wait here
// (at most kMaxWaiting readings per installation, the oldest dropped first
// and counted in an event) and are written once it answers again; archive
// records are not kept: the line thread is told, and reads them again from
// the newest stored record.

#include "collect/collecttypes.h"

#include <QHash>
#include <QObject>
#include <QSet>
#include <memory>

class TSiteStore;
class QTimer;

class TStoreWriter : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxWaiting = 10000;
    static constexpr int kRetryMs = 2000;

    TStoreWriter(const TStoreUrl &url, int maxWaiting = kMaxWaiting);
    ~TStoreWriter() override;

    // In the writer's thread (a blocking call from the main thread): opens
    // the database, records each installation's intervals and this start,
    // and gives each installation's newest stored DATETIME and record count.
    struct Opened {
        int Result = 0; // TSiteStore::OpenResult
        QString Error;
        QHash<QString, QByteArray> Cursors;
        QHash<QString, qint64> Counts;
    };
    Opened Open(const QStringList &installations, const QList<TStoreStart> &starts = {});
    // The name its readings carry, before the writer's thread starts.
    void SetCollector(const QString &name) { collector_ = name; }
    // Tries once more to write what waits; true when nothing waits and no
    // batch of records was lost. For the end of a run.
    bool Flush();
    // Ends the retries and closes the database, in the writer's thread.
    void Close();

public slots:
    void Write(const TStoreBatch &batch);
    void RefreshCursor(const QString &installation);

signals:
    void CursorKnown(const QString &installation, const QByteArray &datetime);
    void WriteFailed(const QString &installation);
    void RecordsStored(const QString &installation, qint64 count);

private:
    struct Waiting {
        QList<TStoreReading> Readings;
        QList<TStoreEvent> Events;
        std::optional<QByteArray> Serial;
        QString Collector;
        qint64 Dropped = 0;
    };
    bool writeWaiting(const QString &installation, const QList<QByteArray> &columns, QList<TStoreRecord> records);
    void wentDown();
    // The installation's serial number is not the one stored under its
    // name: logged, recorded as an event, and nothing more written of it.
    void refuse(const QString &installation);
    void retry();
    bool reopen();
    void sendCursors();

    TStoreUrl url_;
    int maxWaiting_;
    std::unique_ptr<TSiteStore> store_;
    int connections_ = 0;
    bool up_ = false;
    bool lost_ = false;
    QHash<QString, Waiting> waiting_;
    QSet<QString> broken_;
    QSet<QString> wanted_;
    QSet<QString> confirmed_; // gave a serial number the database took in this run
    QSet<QString> refused_;
    QString collector_;
    bool ending_ = false; // Flush: what waits is written, confirmed or not
    QTimer *retry_ = nullptr;
};
