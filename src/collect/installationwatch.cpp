#include "collect/installationwatch.h"

#include "base/cp1251.h"
#include "base/textutils.h"

namespace {

bool isOne(const std::optional<QByteArray> &flag)
{
    return flag && TrimControls(*flag) == "1";
}

// The words of the window's state panels.
QString faultName(qint64 bit)
{
    switch (bit) {
    case 0x10: return QStringLiteral("Состояние индикатора расхода");
    case 0x40: return QStringLiteral("Состояние электрометра");
    default: return QStringLiteral("Состояние силикагелевого патрона");
    }
}

} // namespace

int AlarmLevel(const std::optional<QByteArray> &alarm1On, const std::optional<QByteArray> &alarm2On)
{
    return isOne(alarm2On) ? 2 : isOne(alarm1On) ? 1 : 0;
}

std::optional<qint64> StatusBits(const std::optional<QByteArray> &status)
{
    if (!status)
        return std::nullopt;
    bool ok = false;
    const qint64 bits = StrToIntDef(TrimControls(*status), 0, &ok);
    return ok ? std::optional<qint64>(bits) : std::nullopt;
}

QStringList FaultNames(qint64 bits)
{
    QStringList names;
    for (qint64 bit : TInstallationWatch::kFaultBits)
        if (bits & bit)
            names << faultName(bit);
    return names;
}

bool EventRunsCommand(const QString &kind)
{
    static const QStringList kinds{"alarm", "fault", "link-lost", "link-restored", "stale", "stale-end", "stuck", "stuck-end"};
    return kinds.contains(kind);
}

TInstallationWatch::TInstallationWatch(const QDateTime &start, int staleSeconds, int stuckReadings)
    : lastReading_(start), staleSeconds_(staleSeconds), stuckReadings_(stuckReadings)
{
}

QList<TStoreEvent> TInstallationWatch::NoReading(const QDateTime &now)
{
    const qint64 quiet = lastReading_.secsTo(now);
    if (stale_ || quiet < staleSeconds_)
        return {};
    stale_ = true;
    return {TStoreEvent{now, QStringLiteral("stale"), QStringLiteral("no answered reading for %1 s").arg(quiet)}};
}

QList<TStoreEvent> TInstallationWatch::LinkFailed(const QDateTime &at, const QString &why)
{
    const bool wasUp = linkUp_;
    linkUp_ = false;
    linkKnown_ = true;
    if (!wasUp)
        return {};
    return {TStoreEvent{at, QStringLiteral("link-lost"), why}};
}

QList<TStoreEvent> TInstallationWatch::LinkAnswered(const QDateTime &at)
{
    const bool wasDown = linkKnown_ && !linkUp_;
    linkUp_ = true;
    linkKnown_ = true;
    if (!wasDown)
        return {};
    return {TStoreEvent{at, QStringLiteral("link-restored"), QString()}};
}

QList<TStoreEvent> TInstallationWatch::Reading(const TStoreReading &reading)
{
    QList<TStoreEvent> events;
    if (stale_)
        events << TStoreEvent{reading.At, QStringLiteral("stale-end"),
                              QStringLiteral("a reading after %1 s").arg(lastReading_.secsTo(reading.At))};
    stale_ = false;
    lastReading_ = reading.At;
    if (reading.Activity && reading.Activity == lastActivity_) {
        ++same_;
    } else {
        if (stuck_)
            events << TStoreEvent{reading.At, QStringLiteral("stuck-end"),
                                  QStringLiteral("ACTIVITY %1 after %2 readings of %3")
                                      .arg(FromCp1251(reading.Activity.value_or("@@")))
                                      .arg(same_)
                                      .arg(FromCp1251(lastActivity_.value_or("@@")))};
        stuck_ = false;
        same_ = reading.Activity ? 1 : 0;
        lastActivity_ = reading.Activity;
    }
    if (!stuck_ && stuckReadings_ > 0 && same_ >= stuckReadings_) {
        stuck_ = true;
        events << TStoreEvent{reading.At, QStringLiteral("stuck"),
                              QStringLiteral("ACTIVITY %1 in %2 readings in a row")
                                  .arg(FromCp1251(*lastActivity_))
                                  .arg(same_)};
    }
    const int level = AlarmLevel(reading.Alarm1On, reading.Alarm2On);
    if (level_ ? *level_ != level : level > 0)
        events << TStoreEvent{reading.At, QStringLiteral("alarm"), QString::number(level)};
    level_ = level;
    if (const std::optional<qint64> bits = StatusBits(reading.Status)) {
        const qint64 before = faults_.value_or(0);
        for (qint64 bit : kFaultBits)
            if ((before & bit) != (*bits & bit))
                events << TStoreEvent{reading.At, QStringLiteral("fault"),
                                      QStringLiteral("0x%1 %2: %3")
                                          .arg(bit, 2, 16, QChar(u'0'))
                                          .arg(faultName(bit), (*bits & bit) ? QStringLiteral("НЕИСПРАВЕН")
                                                                             : QStringLiteral("OK"))};
        faults_ = *bits;
    }
    return events;
}

QList<TStoreEvent> TInstallationWatch::Clock(const QDateTime &at, const QDateTime &installation, const QDateTime &pc)
{
    const qint64 off = pc.secsTo(installation);
    const bool wasOff = clockOff_;
    clockOff_ = std::abs(off) > kClockToleranceSeconds;
    if (!clockOff_ || wasOff)
        return {};
    return {TStoreEvent{at, QStringLiteral("clock"),
                        QStringLiteral("the installation's clock is %1 s %2 the PC's")
                            .arg(std::abs(off))
                            .arg(off > 0 ? QStringLiteral("ahead of") : QStringLiteral("behind"))}};
}
