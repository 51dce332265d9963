#include "instrument/archivesearch.h"

#include "base/installationtime.h"
#include "protocol/frame.h"
#include "protocol/openprotocoldriver.h"

#include <QRegularExpression>
#include <QTimeZone>

#include <algorithm>

namespace {

QString recordTime(int record, const QByteArray &text)
{
    return QStringLiteral("record %1 (%2)").arg(record).arg(QString::fromLatin1(text));
}

} // namespace

TArchiveTimeSearch::TArchiveTimeSearch(int recordCount, Reader reader)
    : count_(std::max(0, recordCount)), reader_(std::move(reader))
{
}

std::optional<QDateTime> TArchiveTimeSearch::KnownTime(int record) const
{
    const auto it = known_.constFind(record);
    if (it == known_.constEnd() || !it->Good)
        return std::nullopt;
    return it->Time;
}

const TArchiveTimeSearch::Entry *TArchiveTimeSearch::entry(int record)
{
    auto it = known_.find(record);
    if (it != known_.end())
        return &it.value();
    ++reads_;
    const TRecordTimeRead read = reader_(record);
    if (!read.Answered) {
        failed_ = record;
        return nullptr;
    }
    Entry e;
    e.Text = read.Text;
    if (const std::optional<QDateTime> t = ParseInstallationTime(read.Text)) {
        e.Good = true;
        e.Time = *t;
    } else {
        notes_ << QStringLiteral("record %1: DATETIME \"%2\" is no time; the search goes on from the nearest record that reads")
                      .arg(record)
                      .arg(QString::fromLatin1(read.Text));
    }
    return &known_.insert(record, e).value();
}

// Bisection over the records still in doubt, (Lo, Hi). Each step reads the
// record in the middle or, when its time does not read, the nearest one that
// does (middle, middle + 1, middle - 1, ...); when none in the bracket reads,
// Lo and Hi are the answer, with nothing but unreadable records between them.
std::optional<TArchiveTimeSearch::Bracket> TArchiveTimeSearch::bisect(const Predicate &pred)
{
    Bracket b{0, count_ + 1};
    while (b.Hi - b.Lo > 1) {
        const int mid = b.Lo + (b.Hi - b.Lo) / 2;
        int good = -1;
        for (int d = 0; good < 0; ++d) {
            bool inside = false;
            for (int k = 0; k < (d == 0 ? 1 : 2); ++k) {
                const int c = k == 0 ? mid + d : mid - d;
                if (c <= b.Lo || c >= b.Hi)
                    continue;
                inside = true;
                const Entry *e = entry(c);
                if (!e)
                    return std::nullopt;
                if (e->Good) {
                    good = c;
                    break;
                }
            }
            if (!inside)
                break;
        }
        if (good < 0)
            break;
        const QDateTime t = known_.value(good).Time;
        const bool beforeLo = b.Lo > 0 && t < known_.value(b.Lo).Time;
        const bool afterHi = b.Hi <= count_ && t > known_.value(b.Hi).Time;
        if (beforeLo || afterHi) {
            const int early = beforeLo ? b.Lo : good;
            const int late = beforeLo ? good : b.Hi;
            notes_ << QStringLiteral("%1 is later than %2: the records are not in time order there, so records "
                                     "%3 to %4 are read one by one")
                          .arg(recordTime(early, known_.value(early).Text), recordTime(late, known_.value(late).Text))
                          .arg(b.Lo + 1)
                          .arg(b.Hi - 1);
            return scan(b, pred);
        }
        if (pred(t))
            b.Hi = good;
        else
            b.Lo = good;
    }
    return b;
}

// The linear scan: the first record of (Lo, Hi) whose time reads and meets
// the predicate becomes Hi, the last good record before it Lo.
std::optional<TArchiveTimeSearch::Bracket> TArchiveTimeSearch::scan(Bracket b, const Predicate &pred)
{
    int lastGood = b.Lo;
    for (int n = b.Lo + 1; n < b.Hi; ++n) {
        const Entry *e = entry(n);
        if (!e)
            return std::nullopt;
        if (!e->Good)
            continue;
        if (pred(e->Time))
            return Bracket{lastGood, n};
        lastGood = n;
    }
    return Bracket{lastGood, b.Hi};
}

std::optional<int> TArchiveTimeSearch::FirstFrom(const QDateTime &time, bool strictlyAfter)
{
    const std::optional<Bracket> b =
        bisect([&](const QDateTime &t) { return strictlyAfter ? t > time : t >= time; });
    if (!b)
        return std::nullopt;
    return b->Lo + 1;
}

std::optional<int> TArchiveTimeSearch::LastUpTo(const QDateTime &time)
{
    const std::optional<Bracket> b = bisect([&](const QDateTime &t) { return t > time; });
    if (!b)
        return std::nullopt;
    return b->Hi - 1;
}

std::optional<QDateTime> ParseCliTime(const QString &text)
{
    static const QRegularExpression iso(
        QStringLiteral("^(\\d{4})-(\\d{1,2})-(\\d{1,2})(?:[ T](\\d{1,2}):(\\d{2})(?::(\\d{2}))?)?$"));
    const QString t = text.trimmed();
    const QRegularExpressionMatch m = iso.match(t);
    if (!m.hasMatch())
        return ParseInstallationTime(t.toLatin1());
    const QDate date(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
    const QTime time(m.captured(4).toInt(), m.captured(5).toInt(), m.captured(6).toInt());
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    return QDateTime(date, time, QTimeZone::utc());
}

qint64 EstimateArchiveReadMs(const QList<QByteArray> &columns, int first, int last, int step, quint32 rate,
                             quint32 intervalMs)
{
    if (last < first || rate == 0)
        return 0;
    step = std::max(1, step);
    const qint64 records = (qint64(last) - first) / step + 1;
    // Index texts grow with the record number: the widest one stands for all.
    const QByteArray index = 'A' + QByteArray::number(last).rightJustified(3, '0');
    double perRecordMs = 0;
    for (const QByteArray &name : columns) {
        const QByteArray value(name == "DATETIME" ? 19 : 8, '0');
        const qint64 request = BuildFrame(MakeRequestFrame(0, 1, ReadRequestText(name, index))).size();
        const qint64 reply = BuildFrame(MakeRequestFrame(1, 0, VarReference(name, index) + '=' + value + ';')).size();
        perRecordMs += TOpenProtocolDriver::kDefaultRequestPause + (request + reply) * 10.0 * 1000.0 / rate
                       + intervalMs;
    }
    return qint64(perRecordMs * double(records) + 0.5);
}

QString DurationText(qint64 ms)
{
    const qint64 s = (ms + 500) / 1000;
    if (s < 60)
        return QStringLiteral("%1 s").arg(s);
    if (s < 3600)
        return QStringLiteral("%1 min %2 s").arg(s / 60).arg(s % 60);
    return QStringLiteral("%1 h %2 min").arg(s / 3600).arg(s % 3600 / 60);
}
