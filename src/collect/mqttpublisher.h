#pragma once
// The live state of a site's installations as MQTT messages, in the main
// thread, handed to a TMqttLink (which never blocks). Per installation
// (NAME made safe for a topic level):
//
//   PREFIX/NAME/state         retained JSON: activity, unit, alarm, status,
//                             faults, link, at, serialn; on every reading that
//                             changes anything but its time, and at least
//                             every kRepeatSeconds
//   PREFIX/NAME/event         one JSON object per event recorded
//   PREFIX/NAME/availability  retained "online"/"offline", following the link
//
// With a discovery prefix, Home Assistant's retained configs under it: per
// installation a sensor for the activity, one for the alarm level, one for
// the faults and a binary sensor for the link, in one device; sent again
// when Home Assistant says "online" on DISCOVERY/status. A config of this
// site's whose installation is no longer in the site file is emptied, so it
// disappears.

#include "collect/collecttypes.h"
#include "collect/siteconfig.h"

#include <QHash>
#include <QJsonObject>
#include <QObject>
#include <QStringList>
#include <functional>

class QTimer;
class TMqttLink;

class TMqttPublisher : public QObject {
    Q_OBJECT
public:
    static constexpr int kRepeatSeconds = 60;

    TMqttPublisher(const TMqttSettings &settings, const QString &site, const QStringList &installations,
                   QObject *parent = nullptr);
    ~TMqttPublisher() override;

    // Starts publishing through link (not owned; outlives this object).
    void Start(TMqttLink *link);

    // The topics the link subscribes to for Received.
    QStringList Subscriptions() const;
    QString StatusTopic() const { return prefix_ + QStringLiteral("/status"); }

    // The payloads, for the tests.
    static QJsonObject StatePayload(const TInstallationStatus &status);
    static QJsonObject EventPayload(const TAlarmNotice &event);

public slots:
    void Update(const TInstallationStatus &status);
    void Event(const TAlarmNotice &event);
    // A message on a subscribed topic.
    void Received(const QString &topic, const QByteArray &payload);

private:
    struct Installation {
        QString Name;
        QString Level; // the topic level
        QString Id;    // for unique ids and discovery topics: [A-Za-z0-9_-]
        std::optional<QByteArray> Serial;
        QJsonObject Last; // the last state published, without its time
        QByteArray LastPayload;
        qint64 LastMs = 0;
        std::optional<bool> Online;
    };
    void publishState(Installation &inst, const QByteArray &payload);
    void discover(const Installation &inst);
    void repeat();

    TMqttSettings settings_;
    QString prefix_;
    QString node_; // the site's discovery node id
    QList<Installation> installations_;
    QHash<QString, int> byName_;
    TMqttLink *link_ = nullptr;
    QTimer *timer_ = nullptr;
};
