#pragma once
// One line of the site in a thread of its own: its channel, driver and
// installation model, and the installations on it polled in turn. Each
// installation gets a live reading every PollSeconds and its new archive
// records every ArchiveSeconds; what is read leaves the thread as batches
// for the database writer, statuses for the metrics and notices for the
// alarm command, all by value through queued signals.
//
// New archive records are found from the newest DATETIME stored: the
// newest record's time is read first (nothing new when it is that one),
// then the bisection finds the first record after it. An archive that got
// shorter, or whose newest time went back, is read again from the start
// (what is stored stays; records already there are not written twice).

#include "collect/collecttypes.h"
#include "collect/installationwatch.h"
#include "collect/siteconfig.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QStringList>
#include <atomic>
#include <memory>

class TRS232Channel;
class TOpenProtocolDriver;
class TORMAK;
class TOPVarList;
class QTimer;

class TLinePoller : public QObject {
    Q_OBJECT
public:
    // Records sent to the writer in one batch at most, and the longest a
    // batch of a running download waits.
    static constexpr int kBatchRecords = 200;
    static constexpr int kBatchMs = 2000;
    // Readings taken at most when a new measurement keeps coming in between.
    static constexpr int kReadingAttempts = 3;

    // cursors: the newest stored DATETIME of each installation (an empty text
    // when none is stored). stop is looked at between exchanges.
    TLinePoller(QList<TSiteInstallation> installations, QHash<QString, QByteArray> cursors, bool once,
                std::shared_ptr<std::atomic<bool>> stop, bool verbose);
    ~TLinePoller() override;

public slots:
    // In the poller's thread: once, a whole cycle and Finished; otherwise
    // polling until stop is set and Wake is called.
    void Run();
    void Wake();
    void SetCursor(const QString &installation, const QByteArray &datetime);
    // The writer could not store a batch of records: they are read again
    // from the newest stored one.
    void WriteFailed(const QString &installation);

signals:
    void Batch(const TStoreBatch &batch);
    void NeedCursor(const QString &installation);
    void StatusChanged(const TInstallationStatus &status);
    void Notice(const TAlarmNotice &notice);
    // Every event recorded, in order.
    void Recorded(const TAlarmNotice &event);
    // The installations whose exchanges did not all succeed.
    void Finished(const QStringList &failed);

private:
    struct Installation;
    class Terminal;

    void tick();
    void finish();
    bool stopping() const { return stop_->load(); }
    bool ensureOpen(Installation &inst);
    bool lineWorks() const;
    void select(const Installation &inst);
    bool read(Installation &inst, TOPVarList &list);
    void answered(Installation &inst, bool ok, const QString &why = QString());
    void addEvents(Installation &inst, const QList<TStoreEvent> &events);
    void poll(Installation &inst);
    void pollDue(qint64 now);
    bool fetchArchive(Installation &inst);
    bool downloadFrom(Installation &inst, int first, int count);
    void flush(Installation &inst, QList<TStoreRecord> records = {});
    void publish(Installation &inst);

    QList<std::shared_ptr<Installation>> installations_;
    bool once_;
    std::shared_ptr<std::atomic<bool>> stop_;
    bool verbose_;
    std::unique_ptr<Terminal> terminal_;
    std::unique_ptr<TRS232Channel> channel_;
    std::unique_ptr<TOpenProtocolDriver> driver_;
    std::unique_ptr<TORMAK> ormak_;
    bool open_ = false;
    bool finished_ = false;
    QElapsedTimer clock_;
    QTimer *timer_ = nullptr;
};
