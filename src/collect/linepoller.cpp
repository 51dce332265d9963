#include "collect/linepoller.h"

#include "base/cp1251.h"
#include "base/installationtime.h"
#include "base/sinks.h"
#include "instrument/archivesearch.h"
#include "instrument/ormak.h"
#include "protocol/openprotocoldriver.h"
#include "protocol/opvarlist.h"
#include "serial/comproperties.h"
#include "serial/portfailure.h"
#include "serial/rs232channel.h"

#include <QTimer>

namespace {
// A value as stored: the installation's "@@" (read as an empty text) is none.
std::optional<QByteArray> valueOrNone(const QByteArray &value)
{
    return value.isEmpty() ? std::nullopt : std::optional<QByteArray>(value);
}
} // namespace

struct TLinePoller::Installation {
    TSiteInstallation Site;
    TInstallationWatch Watch;
    std::optional<QByteArray> Cursor; // empty: nothing stored; nullopt: asked of the writer
    qint32 LastCount = -1;
    qint64 NextPoll = 0;
    qint64 NextArchive = 0;
    std::optional<QByteArray> Serial;
    QList<TStoreReading> Readings;
    QList<TStoreEvent> Events;
    TInstallationStatus Status;
    bool Failed = false;
};

// The driver's exchange lines: the last kept to say why an exchange failed,
// every one on standard error with --verbose.
class TLinePoller::Terminal : public TerminalSink {
public:
    explicit Terminal(bool verbose) : verbose_(verbose) {}
    int LineCount() const override { return 0; }
    void DeleteFirstLine() override {}
    void AppendLine(const QByteArray &line) override
    {
        last_ = line;
        if (verbose_)
            CollectLog(Prefix + FromCp1251(line));
    }
    QString Last() const { return FromCp1251(last_).trimmed(); }
    QString Prefix;

private:
    bool verbose_;
    QByteArray last_;
};

TLinePoller::TLinePoller(QList<TSiteInstallation> installations, QHash<QString, QByteArray> cursors, bool once,
                         std::shared_ptr<std::atomic<bool>> stop, bool verbose)
    : once_(once), stop_(std::move(stop)), verbose_(verbose)
{
    for (TSiteInstallation &site : installations) {
        auto inst = std::make_shared<Installation>();
        if (cursors.contains(site.Name))
            inst->Cursor = cursors.value(site.Name);
        inst->Status.Installation = site.Name;
        inst->Watch = TInstallationWatch(QDateTime::currentDateTimeUtc(), site.StaleSeconds, site.StuckReadings);
        inst->Site = std::move(site);
        installations_ << inst;
    }
}

TLinePoller::~TLinePoller() = default;

void TLinePoller::Run()
{
    terminal_ = std::make_unique<Terminal>(verbose_);
    channel_ = std::make_unique<TRS232Channel>();
    channel_->Settings() = installations_.first()->Site.Settings;
    driver_ = std::make_unique<TOpenProtocolDriver>(channel_.get());
    driver_->SetTerminal(terminal_.get());
    ormak_ = std::make_unique<TORMAK>(driver_.get());
    clock_.start();
    if (once_) {
        for (auto &inst : installations_) {
            if (stopping())
                break;
            poll(*inst);
            if (!inst->Failed && !stopping())
                fetchArchive(*inst);
            flush(*inst);
        }
        finish();
        return;
    }
    timer_ = new QTimer(this);
    timer_->setSingleShot(true);
    timer_->setTimerType(Qt::PreciseTimer);
    connect(timer_, &QTimer::timeout, this, &TLinePoller::tick);
    tick();
}

void TLinePoller::Wake()
{
    if (stopping())
        finish();
}

void TLinePoller::finish()
{
    if (finished_)
        return;
    finished_ = true;
    if (timer_)
        timer_->stop();
    QStringList failed;
    for (auto &inst : installations_) {
        flush(*inst);
        if (inst->Failed)
            failed << inst->Site.Name;
    }
    if (channel_)
        channel_->Close();
    emit Finished(failed);
}

void TLinePoller::SetCursor(const QString &installation, const QByteArray &datetime)
{
    for (auto &inst : installations_)
        if (inst->Site.Name == installation)
            inst->Cursor = datetime;
}

void TLinePoller::WriteFailed(const QString &installation)
{
    for (auto &inst : installations_)
        if (inst->Site.Name == installation && inst->Cursor) {
            inst->Cursor.reset();
            inst->LastCount = -1;
            emit NeedCursor(installation);
        }
}

void TLinePoller::tick()
{
    if (finished_)
        return;
    for (auto &inst : installations_) {
        if (stopping())
            break;
        pollDue(clock_.elapsed());
        if (!stopping() && inst->Cursor && clock_.elapsed() >= inst->NextArchive) {
            inst->NextArchive = clock_.elapsed() + qint64(inst->Site.ArchiveSeconds) * 1000;
            fetchArchive(*inst);
            flush(*inst);
        }
    }
    if (stopping()) {
        finish();
        return;
    }
    qint64 next = clock_.elapsed() + 1000;
    for (auto &inst : installations_) {
        next = std::min(next, inst->NextPoll);
        if (inst->Cursor)
            next = std::min(next, inst->NextArchive);
    }
    timer_->start(int(std::clamp<qint64>(next - clock_.elapsed(), 0, 1000)));
}

// Every installation whose live reading is due, including one whose archive
// is being read: a long first download does not stop the live values.
void TLinePoller::pollDue(qint64 now)
{
    for (auto &inst : installations_) {
        if (stopping() || now < inst->NextPoll)
            continue;
        const qint64 period = qint64(inst->Site.PollSeconds) * 1000;
        if (inst->Status.Polls > 0) {
            const qint64 missed = (now - inst->NextPoll) / period;
            inst->Status.MissedPolls += missed;
            inst->NextPoll += (missed + 1) * period;
        } else {
            inst->NextPoll = now + period;
        }
        poll(*inst);
        flush(*inst);
    }
}

bool TLinePoller::ensureOpen(Installation &inst)
{
    if (open_)
        return true;
    open_ = channel_->Open();
    if (!open_) {
        const TPortFailure failure = channel_->Failure();
        answered(inst, false,
                 QStringLiteral("the port %1 cannot be opened: %2")
                     .arg(QString::fromLocal8Bit(inst.Site.Settings.PortNumber), failure.Reason()));
    }
    return open_;
}

bool TLinePoller::lineWorks() const
{
    const TLine *line = channel_->Properties().Line();
    return line && line->IsOpen();
}

// The installation the next exchanges go to, and the name its terminal lines carry.
void TLinePoller::select(const Installation &inst)
{
    ormak_->SetDeviceNumber(inst.Site.Device);
    terminal_->Prefix = inst.Site.Name + QStringLiteral(": ");
}

bool TLinePoller::read(Installation &inst, TOPVarList &list)
{
    if (!ensureOpen(inst))
        return false;
    select(inst);
    const bool ok = driver_->ReadVars(inst.Site.Device, list);
    answered(inst, ok, ok ? QString() : terminal_->Last());
    return ok;
}

void TLinePoller::answered(Installation &inst, bool ok, const QString &why)
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    if (ok) {
        addEvents(inst, inst.Watch.LinkAnswered(now));
    } else {
        ++inst.Status.ExchangeFailures;
        inst.Failed = true;
        const QString reason = why.isEmpty() ? QStringLiteral("no answer") : why;
        // The failure that loses the link is logged with its event; the
        // ones after it, while the link stays lost, with --verbose.
        const QList<TStoreEvent> events = inst.Watch.LinkFailed(now, reason);
        if (events.isEmpty() && verbose_)
            CollectLog(QStringLiteral("%1: %2").arg(inst.Site.Name, reason));
        addEvents(inst, events);
        // A line that fails is opened afresh for the next exchange (an
        // adapter unplugged and plugged in again). A line shared by several
        // installations is reopened only when it broke itself (a device
        // server that dropped the connection, a device gone): a silent
        // station costs only its own time-outs.
        if (open_ && (installations_.size() == 1 || !lineWorks())) {
            channel_->Close();
            open_ = false;
        }
    }
    if (inst.Status.LinkUp != inst.Watch.LinkUp()) {
        inst.Status.LinkUp = inst.Watch.LinkUp();
        publish(inst);
    }
}

void TLinePoller::addEvents(Installation &inst, const QList<TStoreEvent> &events)
{
    for (const TStoreEvent &event : events) {
        CollectLog(QStringLiteral("%1: %2 %3").arg(inst.Site.Name, event.Kind, event.Detail).trimmed());
        inst.Events << event;
        const TAlarmNotice notice{inst.Site.Name, event.Kind, event.Detail, inst.Watch.Level(),
                                  inst.Status.Last && inst.Status.Last->Activity ? *inst.Status.Last->Activity
                                                                                 : QByteArray(),
                                  event.At};
        emit Recorded(notice);
        if (EventRunsCommand(event.Kind))
            emit Notice(notice);
    }
}

// One live reading from one measurement. Each variable is its own
// exchange, and a new measurement may come in between: ACTIVITY is read
// before the flags and STATUS and again after them, and only when both
// reads agree are the flags known to be of the activity stored (the second
// read, so the flags always come before the activity they go with). When
// they differ the reading is taken again, a few times at most; after that
// the flags go with the activity read after them.
void TLinePoller::poll(Installation &inst)
{
    ++inst.Status.Polls;
    TOPVarList guard, list;
    guard.Add("ACTIVITY");
    for (const char *name : {"STATUS", "ALARM1ON", "ALARM2ON", "ACTIVITY"})
        list.Add(name);
    for (int attempt = 1;; ++attempt) {
        if (!read(inst, guard) || !read(inst, list)) {
            addEvents(inst, inst.Watch.NoReading(QDateTime::currentDateTimeUtc()));
            publish(inst);
            return;
        }
        if (guard.GetItem(0)->Value == list.GetItem(3)->Value || attempt == kReadingAttempts || stopping())
            break;
        if (verbose_)
            CollectLog(QStringLiteral("%1: a new measurement came during the reading; read again").arg(inst.Site.Name));
    }
    auto value = [&](int i) { return valueOrNone(list.GetItem(i)->Value); };
    TStoreReading reading{QDateTime::currentDateTimeUtc(), value(3), value(0), value(1), value(2)};
    inst.Readings << reading;
    inst.Status.Last = reading;
    addEvents(inst, inst.Watch.Reading(reading));
    publish(inst);
}

void TLinePoller::publish(Installation &inst)
{
    inst.Status.LinkUp = inst.Watch.LinkUp();
    inst.Status.Stale = inst.Watch.Stale();
    inst.Status.Stuck = inst.Watch.Stuck();
    emit StatusChanged(inst.Status);
}

void TLinePoller::flush(Installation &inst, QList<TStoreRecord> records)
{
    if (records.isEmpty() && inst.Readings.isEmpty() && inst.Events.isEmpty() && !inst.Serial)
        return;
    TStoreBatch batch;
    batch.Installation = inst.Site.Name;
    batch.Serial = inst.Serial;
    batch.Columns = inst.Site.Columns;
    batch.Records = std::move(records);
    batch.Readings = std::move(inst.Readings);
    batch.Events = std::move(inst.Events);
    inst.Readings.clear();
    inst.Events.clear();
    inst.Serial.reset();
    emit Batch(batch);
}

// The clock and serial number, then the records after the newest stored.
bool TLinePoller::fetchArchive(Installation &inst)
{
    if (!inst.Cursor)
        return true; // asked of the writer; next time
    TOPVarList identity;
    identity.Add("DATETIME");
    identity.Add("SERIALN");
    if (!read(inst, identity))
        return false;
    const QDateTime pc = QDateTime::currentDateTime();
    if (const std::optional<QDateTime> clock = ParseInstallationTime(identity.GetItem(0)->Value))
        addEvents(inst, inst.Watch.Clock(pc.toUTC(), *clock,
                                         QDateTime(pc.date(), pc.time(), Qt::UTC)));
    inst.Serial = identity.GetItem(1)->Value;
    if (inst.Status.Serial != inst.Serial) {
        inst.Status.Serial = inst.Serial;
        publish(inst);
    }

    if (stopping())
        return true;
    select(inst);
    const bool counted = ormak_->ReadNumOfRecords();
    answered(inst, counted, counted ? QString() : QStringLiteral("NUMOFRECORDS: ") + terminal_->Last());
    if (!counted)
        return false;
    const int count = ormak_->NumOfRecords;

    TOPVarList datetime;
    datetime.Add("DATETIME");
    bool readFailed = false;
    TArchiveTimeSearch search(count, [&](int n) {
        std::unique_ptr<TOPVarList> record;
        const bool ok = ormak_->ReadArchiveRecord(&datetime, n, record);
        answered(inst, ok, ok ? QString() : terminal_->Last());
        if (!ok) {
            readFailed = true;
            return TRecordTimeRead{};
        }
        return TRecordTimeRead{true, record->GetItem(0)->Value};
    });

    bool reset = inst.LastCount >= 0 && count < inst.LastCount;
    const QByteArray cursor = *inst.Cursor;
    const std::optional<QDateTime> cursorTime = ParseInstallationTime(cursor);
    std::optional<int> first = 1;
    if (!reset && cursorTime && count > 0) {
        // The newest record first: nothing new when it is the one stored.
        std::unique_ptr<TOPVarList> record;
        const bool ok = ormak_->ReadArchiveRecord(&datetime, count, record);
        answered(inst, ok, ok ? QString() : terminal_->Last());
        if (!ok)
            return false;
        const QByteArray newestText = record->GetItem(0)->Value;
        const std::optional<QDateTime> newestTime = ParseInstallationTime(newestText);
        if (newestText == cursor) {
            first = count + 1;
        } else if (newestTime && *newestTime < *cursorTime) {
            reset = true;
        } else {
            QDateTime from = *cursorTime;
            bool strictly = true;
            if (inst.Site.Since && *inst.Site.Since > from) {
                from = *inst.Site.Since;
                strictly = false;
            }
            first = search.FirstFrom(from, strictly);
        }
    }
    if (reset) {
        CollectLog(QStringLiteral("%1: archive-reset").arg(inst.Site.Name));
        addEvents(inst, {TStoreEvent{QDateTime::currentDateTimeUtc(), QStringLiteral("archive-reset"),
                                     QStringLiteral("%1 records where %2 were; read again from the start")
                                         .arg(count)
                                         .arg(inst.LastCount)}});
    }
    if ((reset || !cursorTime) && count > 0 && inst.Site.Since)
        first = search.FirstFrom(*inst.Site.Since, false);
    else if (reset || !cursorTime)
        first = 1;
    for (const QString &note : search.Notes())
        CollectLog(QStringLiteral("%1: %2").arg(inst.Site.Name, note));
    if (!first || readFailed)
        return false;
    inst.LastCount = count;
    return downloadFrom(inst, *first, count);
}

bool TLinePoller::downloadFrom(Installation &inst, int first, int count)
{
    TOPVarList templ;
    templ.Add("DATETIME");
    for (const QByteArray &column : inst.Site.Columns)
        templ.Add(column);
    QList<TStoreRecord> records;
    QElapsedTimer batchAge;
    batchAge.start();
    for (int n = first; n <= count && !stopping(); ++n) {
        select(inst);
        std::unique_ptr<TOPVarList> record;
        const bool ok = ormak_->ReadArchiveRecord(&templ, n, record);
        answered(inst, ok, ok ? QString() : QStringLiteral("archive record %1: %2").arg(n).arg(terminal_->Last()));
        if (!ok) {
            flush(inst, records);
            return false;
        }
        TStoreRecord stored;
        stored.Datetime = record->GetItem(0)->Value;
        for (int i = 1; i < record->Count(); ++i) {
            stored.Values << valueOrNone(record->GetItem(i)->Value);
        }
        if (ParseInstallationTime(stored.Datetime))
            inst.Cursor = stored.Datetime;
        records << stored;
        if (records.size() >= kBatchRecords || batchAge.elapsed() >= kBatchMs) {
            flush(inst, std::move(records));
            records.clear();
            batchAge.restart();
        }
        if (!once_)
            pollDue(clock_.elapsed());
    }
    flush(inst, std::move(records));
    return true;
}
