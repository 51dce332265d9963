#include "collect/installationwatch.h"

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

bool EventRunsCommand(const QString &kind)
{
    return kind == QLatin1String("alarm") || kind == QLatin1String("fault") || kind == QLatin1String("link-lost") ||
           kind == QLatin1String("link-restored");
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
