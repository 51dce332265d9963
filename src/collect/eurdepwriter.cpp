#include "collect/eurdepwriter.h"

#include "base/savefile.h"
#include "collect/collecttypes.h"
#include "collect/eurdepsite.h"

#include <QDir>
#include <QFile>
#include <QTimer>
#include <algorithm>

namespace {
const QString kTimeFormat = QStringLiteral("yyyyMMddHHmm");

QString timeText(qint64 seconds)
{
    return QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC).toString(kTimeFormat);
}

std::optional<qint64> timeValue(const QString &text)
{
    QDateTime t = QDateTime::fromString(text, kTimeFormat);
    if (!t.isValid())
        return std::nullopt;
    t.setTimeSpec(Qt::UTC);
    return t.toSecsSinceEpoch();
}
} // namespace

TEurdepWriter::TEurdepWriter(TSiteConfig config, const TStoreUrl &url) : config_(std::move(config)), url_(url)
{
    for (const TSiteInstallation &inst : config_.Installations)
        waitSeconds_ = std::max(waitSeconds_, inst.ArchiveSeconds);
}

TEurdepWriter::~TEurdepWriter() = default;

bool TEurdepWriter::Open(QString *error)
{
    if (!QDir().mkpath(config_.EurdepDir)) {
        *error = QStringLiteral("the EURDEP folder %1 cannot be made").arg(config_.EurdepDir);
        return false;
    }
    store_ = std::make_unique<TSiteStore>(QStringLiteral("kvarn-eurdep"));
    if (store_->Open(url_, TSiteStore::Access::ReadOnly) != TSiteStore::OpenResult::Ok) {
        *error = store_->LastError();
        return false;
    }
    // "since END" and then "END MESSAGE_ID" per period written.
    QFile file(QDir(config_.EurdepDir).filePath(QLatin1String(kStateFile)));
    if (!file.open(QIODevice::ReadOnly))
        return true; // a folder never written to
    bool whole = file.size() < (1 << 20);
    QMap<qint64, QString> written;
    std::optional<qint64> since;
    while (whole && !file.atEnd()) {
        const QStringList parts = QString::fromLatin1(file.readLine()).trimmed().split(u' ');
        const std::optional<qint64> end = parts.size() == 2 ? timeValue(parts[parts[0] == u"since" ? 1 : 0]) : std::nullopt;
        whole = end.has_value();
        if (whole && parts[0] == u"since")
            since = end;
        else if (whole)
            written.insert(*end, parts[1]);
    }
    if (!whole || !since) {
        CollectLog(QStringLiteral("warning: %1 cannot be read; the EURDEP files start again from the next period")
                       .arg(file.fileName()));
        return true;
    }
    since_ = since;
    written_ = written;
    return true;
}

bool TEurdepWriter::saveState()
{
    QByteArray text = "since " + timeText(*since_).toLatin1() + '\n';
    for (auto it = written_.cbegin(); it != written_.cend(); ++it)
        text += timeText(it.key()).toLatin1() + ' ' + it.value().toLatin1() + '\n';
    return SaveFileAtomically(QDir(config_.EurdepDir).filePath(QLatin1String(kStateFile)), text);
}

int TEurdepWriter::Pass(const QDateTime &now)
{
    const int period = config_.EurdepPeriodSeconds;
    const qint64 lastEnd = PeriodStart(now.addSecs(-waitSeconds_), period).toSecsSinceEpoch();
    if (!since_) {
        since_ = lastEnd;
        if (!saveState()) {
            CollectLog(QStringLiteral("EURDEP: %1 cannot be written").arg(config_.EurdepDir));
            return -1;
        }
    }
    const qint64 firstEnd = std::max(*since_, lastEnd - kCatchUpSeconds);
    if (firstEnd > lastEnd)
        return 0;
    QString error;
    const std::optional<QList<TEurdepSeries>> series =
        ReadEurdepSeries(*store_, config_.Installations, QDateTime::fromSecsSinceEpoch(firstEnd - period, Qt::UTC),
                         QDateTime::fromSecsSinceEpoch(lastEnd, Qt::UTC), period, &error);
    if (!series) {
        CollectLog(QStringLiteral("EURDEP: the database cannot be read: %1").arg(error));
        return -1;
    }
    int files = 0;
    for (qint64 end = firstEnd; end <= lastEnd; end += period) {
        const QDateTime endTime = QDateTime::fromSecsSinceEpoch(end, Qt::UTC);
        QList<TEurdepSeries> periodSeries;
        bool any = false;
        for (const TEurdepSeries &s : *series) {
            TEurdepSeries one{s.Locality, {}};
            for (const TPeriodValue &v : s.Values)
                if (v.End == endTime)
                    one.Values << v;
            any = any || !one.Values.isEmpty();
            periodSeries << one;
        }
        if (!any)
            continue;
        const QString name = EurdepFileName(config_.CountryCode, endTime);
        const TEurdepMessage message = EurdepSiteMessage(config_, periodSeries, name);
        const QString id = EurdepMessageId(message);
        const auto before = written_.constFind(end);
        if (before != written_.constEnd() && *before == id)
            continue;
        const QString path = QDir(config_.EurdepDir).filePath(name);
        if (!SaveFileAtomically(path, EurdepText(message))) {
            CollectLog(QStringLiteral("EURDEP: %1 cannot be written").arg(path));
            return -1;
        }
        const bool corrected = before != written_.constEnd();
        written_.insert(end, id);
        // Periods older than the look-back are never looked at again.
        while (!written_.isEmpty() && written_.firstKey() < lastEnd - kCatchUpSeconds)
            written_.erase(written_.begin());
        if (!saveState()) {
            CollectLog(QStringLiteral("EURDEP: %1 cannot be written").arg(config_.EurdepDir));
            return -1;
        }
        CollectLog(QStringLiteral("EURDEP: %1 written%2 (%3)")
                       .arg(name, corrected ? QStringLiteral(", a correction") : QString(), id));
        ++files;
    }
    return files;
}

void TEurdepWriter::Run()
{
    Pass(QDateTime::currentDateTimeUtc());
    timer_ = new QTimer(this);
    connect(timer_, &QTimer::timeout, this, [this]() { Pass(QDateTime::currentDateTimeUtc()); });
    timer_->start(kPassMs);
}

void TEurdepWriter::Close()
{
    delete timer_;
    timer_ = nullptr;
    store_.reset();
}
