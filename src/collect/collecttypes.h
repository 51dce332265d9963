#pragma once
// What crosses between the collector's threads, always by value.

#include "store/sitestore.h"

#include <QByteArray>
#include <QDateTime>
#include <QMetaType>
#include <QString>
#include <optional>

// One installation as the metrics show it.
struct TInstallationStatus {
    QString Installation;
    bool LinkUp = false;
    bool Stale = false;
    bool Stuck = false;
    std::optional<QByteArray> Serial; // SERIALN, once read
    std::optional<TStoreReading> Last; // the last whole live reading
    qint64 ExchangeFailures = 0;
    qint64 Polls = 0;
    qint64 MissedPolls = 0;
};

// An event as recorded (the ones EventRunsCommand names run the alarm command).
struct TAlarmNotice {
    QString Installation;
    QString Event;
    QString Detail;
    int Level = 0;
    QByteArray Activity; // code page 1251, as read
    QDateTime At;        // UTC
};

// One line of the log on standard error.
void CollectLog(const QString &line);

Q_DECLARE_METATYPE(TStoreBatch)
Q_DECLARE_METATYPE(TInstallationStatus)
Q_DECLARE_METATYPE(TAlarmNotice)
