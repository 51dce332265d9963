#pragma once
// What one installation's answers mean for the site: the events a change of
// link, alarm level, fault bit or clock gives. Plain logic, fed by the line
// thread with each outcome; the first reading after start counts as a change
// when its level is above 0 or a fault bit is set, so a standing alarm is
// never silent. An installation is stale after staleSeconds without an
// answered reading (counted from the start), and stuck when stuckReadings
// answered readings in a row gave the same ACTIVITY text.

#include "store/sitestore.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QStringList>
#include <optional>

// The alarm level from ALARM1ON/ALARM2ON: 2 when the second is "1", else 1
// when the first is, else 0.
int AlarmLevel(const std::optional<QByteArray> &alarm1On, const std::optional<QByteArray> &alarm2On);
// STATUS as a whole number; empty when it is none.
std::optional<qint64> StatusBits(const std::optional<QByteArray> &status);
// The names of the fault bits set in STATUS.
QStringList FaultNames(qint64 bits);

class TInstallationWatch {
public:
    static constexpr qint64 kClockToleranceSeconds = 60;
    static constexpr qint64 kFaultBits[3] = {0x10, 0x40, 0x80};

    explicit TInstallationWatch(const QDateTime &start = QDateTime::currentDateTimeUtc(), int staleSeconds = 30,
                                int stuckReadings = 0);

    // An exchange failed (why: the port's or the exchange's failure).
    QList<TStoreEvent> LinkFailed(const QDateTime &at, const QString &why);
    // An exchange was answered.
    QList<TStoreEvent> LinkAnswered(const QDateTime &at);
    // A whole live reading.
    QList<TStoreEvent> Reading(const TStoreReading &reading);
    // A reading that was not answered, at now.
    QList<TStoreEvent> NoReading(const QDateTime &now);
    // The installation's clock (wall clock as UTC) against the PC's local
    // wall clock (as UTC) at the same moment; at is the event's UTC time.
    QList<TStoreEvent> Clock(const QDateTime &at, const QDateTime &installation, const QDateTime &pc);

    bool LinkUp() const { return linkUp_; }
    int Level() const { return level_.value_or(0); }
    bool Stale() const { return stale_; }
    bool Stuck() const { return stuck_; }

private:
    QDateTime lastReading_;
    int staleSeconds_;
    int stuckReadings_;
    bool stale_ = false;
    std::optional<QByteArray> lastActivity_;
    int same_ = 0;
    bool stuck_ = false;
    bool linkUp_ = true;
    bool linkKnown_ = false;
    std::optional<int> level_;
    std::optional<qint64> faults_;
    bool clockOff_ = false;
};

// Events that run the alarm command: alarm level, link state, fault.
bool EventRunsCommand(const QString &kind);
