#include "analysis/sitestate.h"

#include "base/cp1251.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>

namespace {

bool IsOne(const std::optional<QByteArray> &flag) { return flag && flag->trimmed() == "1"; }

// Whether the newest event of `begins` came after the newest of `ends`.
std::optional<QDateTime> Open(const TStoreInstallationState &state, const QString &begins, const QString &ends)
{
    const QDateTime begun = state.NewestEvent.value(begins);
    const QDateTime ended = state.NewestEvent.value(ends);
    if (begun.isValid() && (!ended.isValid() || ended < begun))
        return begun;
    return std::nullopt;
}

QString Minutes(qint64 seconds) { return QString::number(std::max<qint64>(0, seconds) / 60); }

} // namespace

bool TSiteRow::NeedsAttention() const
{
    return LinkState != Link::Up || Alarm > 0 || !Faults.isEmpty() || Stuck;
}

QString TSiteRow::AlarmText() const
{
    if (!AlarmKnown)
        return QStringLiteral("нет данных");
    return Alarm == 2 ? QStringLiteral("порог 2") : Alarm == 1 ? QStringLiteral("порог 1") : QStringLiteral("норма");
}

QString TSiteRow::AgeText() const
{
    if (AgeSeconds < 0)
        return QString();
    if (AgeSeconds < 120)
        return QStringLiteral("%1 с").arg(AgeSeconds);
    if (AgeSeconds < 2 * 3600)
        return QStringLiteral("%1 мин").arg(AgeSeconds / 60);
    if (AgeSeconds < 2 * 86400)
        return QStringLiteral("%1 ч").arg(AgeSeconds / 3600);
    return QStringLiteral("%1 сут").arg(AgeSeconds / 86400);
}

QStringList FaultWords(const std::optional<QByteArray> &status)
{
    if (!status)
        return {};
    bool ok = false;
    const qint64 bits = status->trimmed().toLongLong(&ok);
    if (!ok)
        return {};
    QStringList words;
    if (bits & 0x10)
        words << QStringLiteral("индикатор расхода");
    if (bits & 0x40)
        words << QStringLiteral("электрометр");
    if (bits & 0x80)
        words << QStringLiteral("силикагелевый патрон");
    return words;
}

QStringList EventKinds()
{
    return {"link-lost", "link-restored", "alarm", "fault", "clock", "archive-reset",
            "readings-dropped", "stale", "stale-end", "stuck", "stuck-end"};
}

QString EventKindText(const QString &kind)
{
    static const QHash<QString, QString> words{
        {"link-lost", QStringLiteral("связь потеряна")},
        {"link-restored", QStringLiteral("связь восстановлена")},
        {"alarm", QStringLiteral("тревога")},
        {"fault", QStringLiteral("неисправность")},
        {"clock", QStringLiteral("часы установки")},
        {"archive-reset", QStringLiteral("архив установки начат заново")},
        {"readings-dropped", QStringLiteral("показания потеряны")},
        {"stale", QStringLiteral("нет данных")},
        {"stale-end", QStringLiteral("данные снова поступают")},
        {"stuck", QStringLiteral("показания не меняются")},
        {"stuck-end", QStringLiteral("показания снова меняются")},
    };
    return words.value(kind, kind);
}

QList<TSiteRow> SiteRows(const QList<TStoreInstallationState> &states, const QDateTime &now)
{
    QList<TSiteRow> rows;
    for (const TStoreInstallationState &state : states) {
        TSiteRow row;
        row.Installation = state.Installation;
        row.Serial = FromCp1251(state.Serial);
        row.Records = state.Records;
        row.NewestRecord = FromCp1251(state.NewestDatetime);
        row.Threshold1 = state.Threshold1;
        for (const auto &[at, value] : state.Day)
            row.Day << QPointF(double(at.toSecsSinceEpoch()), value);
        if (state.LastReading) {
            const TStoreReading &r = *state.LastReading;
            row.Activity = FromCp1251(r.Activity.value_or(QByteArray()));
            row.ActivityValue = state.Activity;
            row.At = r.At;
            row.AgeSeconds = std::max<qint64>(0, r.At.secsTo(now));
            row.Alarm = IsOne(r.Alarm2On) ? 2 : IsOne(r.Alarm1On) ? 1 : 0;
            row.AlarmKnown = true;
            row.Faults = FaultWords(r.Status);
        }
        row.Stuck = Open(state, QStringLiteral("stuck"), QStringLiteral("stuck-end")).has_value();

        const qint64 staleAfter = state.PollSeconds && *state.PollSeconds > 0 ? qint64(kStalePolls) * *state.PollSeconds
                                                                               : kStaleSecondsWithoutInterval;
        const std::optional<QDateTime> lost = Open(state, QStringLiteral("link-lost"), QStringLiteral("link-restored"));
        const bool stale = Open(state, QStringLiteral("stale"), QStringLiteral("stale-end")).has_value() ||
                           row.AgeSeconds < 0 || row.AgeSeconds > staleAfter;
        if (lost) {
            row.LinkState = TSiteRow::Link::Lost;
            row.Since = *lost;
            row.LinkText = QStringLiteral("нет связи с %1").arg(lost->toLocalTime().toString(QStringLiteral("HH:mm")));
        } else if (stale) {
            row.LinkState = TSiteRow::Link::Stale;
            row.Since = row.At;
            row.LinkText = row.AgeSeconds < 0 ? QStringLiteral("нет данных")
                                              : QStringLiteral("нет данных %1 мин").arg(Minutes(row.AgeSeconds));
        } else {
            row.LinkState = TSiteRow::Link::Up;
            row.Since = state.NewestEvent.value(QStringLiteral("link-restored"));
            row.LinkText = QStringLiteral("есть");
        }
        rows << row;
    }
    std::stable_sort(rows.begin(), rows.end(), [](const TSiteRow &a, const TSiteRow &b) {
        if (a.NeedsAttention() != b.NeedsAttention())
            return a.NeedsAttention();
        return a.Installation < b.Installation;
    });
    return rows;
}

int AttentionCount(const QList<TSiteRow> &rows)
{
    return int(std::count_if(rows.begin(), rows.end(), [](const TSiteRow &row) { return row.NeedsAttention(); }));
}

static QString UtcText(const QDateTime &at)
{
    return at.isValid() ? at.toUTC().toString(Qt::ISODate) : QString();
}

QString SiteRowLine(const TSiteRow &row)
{
    QStringList parts{row.Installation, row.Serial.isEmpty() ? QStringLiteral("-") : row.Serial, row.LinkText};
    parts << (row.At.isValid() ? QStringLiteral("%1 Бк/м³ at %2 (%3)").arg(row.Activity, UtcText(row.At), row.AgeText())
                               : QStringLiteral("no reading"));
    parts << row.AlarmText();
    parts << (row.Faults.isEmpty() ? QStringLiteral("исправна") : row.Faults.join(QStringLiteral(", ")));
    if (row.Stuck)
        parts << EventKindText(QStringLiteral("stuck"));
    parts << QStringLiteral("%1 records, newest %2").arg(row.Records).arg(row.NewestRecord.isEmpty() ? "-" : row.NewestRecord);
    return (row.NeedsAttention() ? QStringLiteral("! ") : QStringLiteral("  ")) + parts.join(QStringLiteral("; "));
}

QByteArray SiteRowsJson(const QList<TSiteRow> &rows)
{
    QJsonArray array;
    for (const TSiteRow &row : rows) {
        const char *link = row.LinkState == TSiteRow::Link::Up ? "up" : row.LinkState == TSiteRow::Link::Lost ? "lost" : "stale";
        QJsonObject o{
            {"installation", row.Installation},
            {"serialn", row.Serial},
            {"link", QLatin1String(link)},
            {"since", row.Since.isValid() ? QJsonValue(UtcText(row.Since)) : QJsonValue()},
            {"activity", row.ActivityValue ? QJsonValue(*row.ActivityValue)
                                           : row.At.isValid() ? QJsonValue(row.Activity) : QJsonValue()},
            {"at", row.At.isValid() ? QJsonValue(UtcText(row.At)) : QJsonValue()},
            {"alarm", row.AlarmKnown ? QJsonValue(row.Alarm) : QJsonValue()},
            {"faults", QJsonArray::fromStringList(row.Faults)},
            {"stuck", row.Stuck},
            {"records", row.Records},
            {"newest_record", row.NewestRecord.isEmpty() ? QJsonValue() : QJsonValue(row.NewestRecord)},
            {"attention", row.NeedsAttention()},
        };
        array << o;
    }
    return QJsonDocument(array).toJson(QJsonDocument::Indented);
}
