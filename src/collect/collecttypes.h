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
    std::optional<TStoreReading> Last; // the last whole live reading
    qint64 ExchangeFailures = 0;
    qint64 Polls = 0;
    qint64 MissedPolls = 0;
};

// A change that runs the alarm command.
struct TAlarmNotice {
    QString Installation;
    QString Event;
    int Level = 0;
    QByteArray Activity; // code page 1251, as read
    QDateTime At;        // UTC
    QString Detail;      // why, for a link lost: "no reply: …", "port gone: …", "permission: …"
};

// One line of the log on standard error.
void CollectLog(const QString &line);

Q_DECLARE_METATYPE(TStoreBatch)
Q_DECLARE_METATYPE(TInstallationStatus)
Q_DECLARE_METATYPE(TAlarmNotice)
