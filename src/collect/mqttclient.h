#pragma once
// The collector's connection to an MQTT broker (libmosquitto), in a thread
// of its own. Publish never blocks: messages wait in a bounded queue and are
// handed to the library while the broker is connected. While it is away the
// queue keeps the newest: when full, the oldest state goes first, an event
// only when no state is left (both counted). The newest payload of every
// retained topic is kept apart and published again on each connection, after
// what waited, so a broker that lost its retained messages gets them back.
//
// The client reconnects with a backoff of 1 s doubling to 30 s; each change
// between connected and a reason it is not (the broker's refusal, the
// system's error) is logged once. PREFIX/status is "online" while connected
// and "offline" as the connection's last will and on a clean stop.

#include "collect/siteconfig.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

// What the publisher needs of a broker connection.
class TMqttLink {
public:
    enum class Kind {
        Retained, // kept and published again on reconnection
        State,    // retained as well; the first dropped from a full queue
        Event,    // not retained; dropped only when no state is left
    };
    virtual ~TMqttLink() = default;
    // From any thread.
    virtual void Publish(const QString &topic, const QByteArray &payload, Kind kind) = 0;
};

class TMqttClient : public TMqttLink {
public:
    static constexpr int kMaxQueued = 10000;
    static constexpr int kConnectTimeoutMs = 10000;
    static constexpr int kMaxBackoffMs = 30000;

    // statusTopic: PREFIX/status. subscriptions: topics whose messages go to
    // onMessage (in the client's thread), subscribed on each connection.
    // log: one line per change of the connection's state.
    TMqttClient(TMqttSettings settings, QString statusTopic, QStringList subscriptions,
                std::function<void(const QString &topic, const QByteArray &payload)> onMessage,
                std::function<void(const QString &line)> log, int maxQueued = kMaxQueued);
    ~TMqttClient() override;

    void Start();
    // Publishes what waits and "offline" while connected (at most waitMs),
    // then disconnects and ends the thread.
    void Stop(int waitMs = 2000);

    void Publish(const QString &topic, const QByteArray &payload, Kind kind) override;

    struct Counts {
        qint64 Published = 0;
        qint64 PublishedStates = 0;
        qint64 DroppedStates = 0;
        qint64 DroppedEvents = 0;
        bool Connected = false;
    };
    Counts Statistics() const;

    struct Shared; // between the caller and the client's thread

private:
    std::shared_ptr<Shared> shared_;
};
