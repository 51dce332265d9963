#include "collect/mqttclient.h"

#include <QHash>
#include <QSet>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mosquitto.h>
#include <mutex>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

struct Message {
    QString Topic;
    QByteArray Payload;
    TMqttLink::Kind Kind;
};

void initLibrary()
{
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

QString describe(int rc, int error)
{
    if (rc == MOSQ_ERR_ERRNO && error != 0)
        return QString::fromLocal8Bit(std::strerror(error));
    return QString::fromUtf8(mosquitto_strerror(rc));
}

} // namespace

struct TMqttClient::Shared {
    TMqttSettings Settings;
    QString StatusTopic;
    QStringList Subscriptions;
    std::function<void(const QString &, const QByteArray &)> OnMessage;
    std::function<void(const QString &)> Log;
    int MaxQueued;

    mutable std::mutex Mutex;
    std::condition_variable Wake;
    std::deque<Message> Queue;
    QHash<QString, Message> Retained; // the newest of each retained topic
    Counts Count;
    bool Stopping = false;
    int StopWaitMs = 2000;
    bool Finished = false;
    std::thread Thread;

    void Run();
};

namespace {

// The client thread's own state; the callbacks run inside mosquitto_loop.
struct Loop {
    TMqttClient::Shared *S = nullptr;
    mosquitto *M = nullptr;
    enum { Down, Connecting, Up } State = Down;
    QString Refusal;       // the broker's words in a refused CONNACK
    QString Problem;       // the last reason logged; empty while connected
    bool EverUp = false;
    QSet<QString> Pending; // retained topics to publish again after the queue
    bool Fresh = false;    // connected, "online" not yet sent
    int StopMid = -1;
    bool StopAcked = false;
};

} // namespace

TMqttClient::TMqttClient(TMqttSettings settings, QString statusTopic, QStringList subscriptions,
                         std::function<void(const QString &, const QByteArray &)> onMessage,
                         std::function<void(const QString &)> log, int maxQueued)
    : shared_(std::make_shared<Shared>())
{
    shared_->Settings = std::move(settings);
    shared_->StatusTopic = std::move(statusTopic);
    shared_->Subscriptions = std::move(subscriptions);
    shared_->OnMessage = std::move(onMessage);
    shared_->Log = std::move(log);
    shared_->MaxQueued = std::max(1, maxQueued);
}

TMqttClient::~TMqttClient()
{
    Stop(0);
}

void TMqttClient::Start()
{
    initLibrary();
    std::shared_ptr<Shared> shared = shared_;
    shared_->Thread = std::thread([shared]() { shared->Run(); });
}

void TMqttClient::Stop(int waitMs)
{
    std::unique_lock lock(shared_->Mutex);
    if (!shared_->Thread.joinable())
        return;
    shared_->Stopping = true;
    shared_->StopWaitMs = waitMs;
    shared_->Wake.notify_all();
    // A connection under way ends within the loop's time-out; a thread held
    // longer (a name lookup that hangs) is left to end by itself.
    const bool ended = shared_->Wake.wait_for(lock, std::chrono::milliseconds(waitMs + 1000),
                                              [this] { return shared_->Finished; });
    lock.unlock();
    if (ended)
        shared_->Thread.join();
    else
        shared_->Thread.detach();
}

void TMqttClient::Publish(const QString &topic, const QByteArray &payload, Kind kind)
{
    std::lock_guard lock(shared_->Mutex);
    if (kind != Kind::Event)
        shared_->Retained[topic] = Message{topic, payload, kind};
    std::deque<Message> &queue = shared_->Queue;
    if (int(queue.size()) >= shared_->MaxQueued) {
        auto victim = std::find_if(queue.begin(), queue.end(), [](const Message &m) { return m.Kind != Kind::Event; });
        if (victim == queue.end()) {
            victim = queue.begin();
            ++shared_->Count.DroppedEvents;
        } else if (victim->Kind == Kind::State) {
            ++shared_->Count.DroppedStates;
        }
        queue.erase(victim);
    }
    queue.push_back(Message{topic, payload, kind});
    shared_->Wake.notify_all();
}

TMqttClient::Counts TMqttClient::Statistics() const
{
    std::lock_guard lock(shared_->Mutex);
    return shared_->Count;
}

void TMqttClient::Shared::Run()
{
    Loop loop;
    loop.S = this;
    const QByteArray clientId = Settings.ClientId.toUtf8();
    loop.M = mosquitto_new(clientId.constData(), true, &loop);
    if (!loop.M) {
        Log(QStringLiteral("the MQTT client cannot be made: %1").arg(QString::fromLocal8Bit(std::strerror(errno))));
        std::lock_guard lock(Mutex);
        Finished = true;
        Wake.notify_all();
        return;
    }
    mosquitto *m = loop.M;
    mosquitto_int_option(m, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    const int qos = Settings.Qos;
    const QByteArray will = StatusTopic.toUtf8();
    mosquitto_will_set(m, will.constData(), 7, "offline", qos, true);
    if (!Settings.User.isEmpty())
        mosquitto_username_pw_set(m, Settings.User.toUtf8().constData(),
                                  Settings.Password.isEmpty() ? nullptr : Settings.Password.toUtf8().constData());
    if (Settings.Tls) {
        const QByteArray ca = Settings.CaFile.toLocal8Bit(), cert = Settings.CertFile.toLocal8Bit(),
                         key = Settings.KeyFile.toLocal8Bit();
        const int rc = mosquitto_tls_set(m, ca.isEmpty() ? nullptr : ca.constData(), ca.isEmpty() ? "/etc/ssl/certs" : nullptr,
                                         cert.isEmpty() ? nullptr : cert.constData(), key.isEmpty() ? nullptr : key.constData(),
                                         nullptr);
        if (rc != MOSQ_ERR_SUCCESS)
            Log(QStringLiteral("MQTT: TLS cannot be set up: %1").arg(describe(rc, errno)));
    }
    mosquitto_connect_callback_set(m, [](mosquitto *mosq, void *obj, int rc) {
        Loop &l = *static_cast<Loop *>(obj);
        if (rc != 0) {
            l.Refusal = QString::fromUtf8(mosquitto_connack_string(rc));
            return;
        }
        l.State = Loop::Up;
        l.Fresh = true;
        for (const QString &topic : l.S->Subscriptions)
            mosquitto_subscribe(mosq, nullptr, topic.toUtf8().constData(), 1);
    });
    mosquitto_publish_callback_set(m, [](mosquitto *, void *obj, int mid) {
        Loop &l = *static_cast<Loop *>(obj);
        if (mid == l.StopMid)
            l.StopAcked = true;
    });
    mosquitto_message_callback_set(m, [](mosquitto *, void *obj, const mosquitto_message *message) {
        Loop &l = *static_cast<Loop *>(obj);
        if (l.S->OnMessage)
            l.S->OnMessage(QString::fromUtf8(message->topic),
                           QByteArray(static_cast<const char *>(message->payload), message->payloadlen));
    });

    const QByteArray host = Settings.Host.toUtf8();
    int backoffMs = 1000;
    Clock::time_point nextTry = Clock::now(), started;
    auto fail = [&](const QString &why) {
        loop.State = Loop::Down;
        loop.Refusal.clear();
        if (why != loop.Problem) {
            loop.Problem = why;
            Log(QStringLiteral("MQTT %1: %2 (collecting goes on; trying again)").arg(Settings.Display(), why));
        }
        nextTry = Clock::now() + std::chrono::milliseconds(backoffMs);
        backoffMs = std::min(2 * backoffMs, kMaxBackoffMs);
        std::lock_guard lock(Mutex);
        Count.Connected = false;
    };
    // Hands what waits to the library: "online" first on a new connection,
    // then the queue in order, then the retained topics the queue did not hold.
    auto drain = [&]() {
        std::unique_lock lock(Mutex);
        if (loop.Fresh) {
            loop.Fresh = false;
            Count.Connected = true;
            loop.Pending = QSet<QString>(Retained.keyBegin(), Retained.keyEnd());
            const qint64 states = Count.DroppedStates, events = Count.DroppedEvents;
            lock.unlock();
            Log(QStringLiteral("MQTT %1: connected%2").arg(Settings.Display(),
                                                            states + events > 0 ? QStringLiteral(" (%1 states and %2 events dropped while away so far)").arg(states).arg(events)
                                                                                : QString()));
            loop.Problem.clear();
            loop.EverUp = true;
            backoffMs = 1000;
            mosquitto_publish(m, nullptr, will.constData(), 6, "online", qos, true);
            lock.lock();
        }
        for (int n = 0; n < 1000; ++n) {
            Message message;
            if (!Queue.empty()) {
                message = std::move(Queue.front());
                Queue.pop_front();
                loop.Pending.remove(message.Topic);
            } else if (!loop.Pending.isEmpty()) {
                const QString topic = *loop.Pending.begin();
                loop.Pending.erase(loop.Pending.begin());
                message = Retained.value(topic);
            } else {
                break;
            }
            const QByteArray topic = message.Topic.toUtf8();
            const int rc = mosquitto_publish(m, nullptr, topic.constData(), int(message.Payload.size()),
                                             message.Payload.constData(), qos, message.Kind != TMqttLink::Kind::Event);
            if (rc != MOSQ_ERR_SUCCESS) {
                Queue.push_front(std::move(message));
                break;
            }
            ++Count.Published;
            if (message.Kind == TMqttLink::Kind::State)
                ++Count.PublishedStates;
        }
    };

    for (;;) {
        bool stopping;
        {
            std::unique_lock lock(Mutex);
            stopping = Stopping;
            if (loop.State == Loop::Down && !stopping)
                Wake.wait_until(lock, std::min(nextTry, Clock::now() + std::chrono::milliseconds(200)),
                                [this] { return Stopping; });
            stopping = Stopping;
        }
        if (stopping && loop.State != Loop::Up)
            break;
        if (stopping) {
            // What waits, then "offline", each given the time left to go out.
            const Clock::time_point until = Clock::now() + std::chrono::milliseconds(StopWaitMs);
            for (bool empty = false; !empty && Clock::now() < until && loop.State == Loop::Up;) {
                drain();
                {
                    std::lock_guard lock(Mutex);
                    empty = Queue.empty() && loop.Pending.isEmpty();
                }
                if (mosquitto_loop(m, 20, 1) != MOSQ_ERR_SUCCESS)
                    loop.State = Loop::Down;
            }
            if (loop.State == Loop::Up) {
                mosquitto_publish(m, &loop.StopMid, will.constData(), 7, "offline", qos, true);
                while (Clock::now() < until && (qos == 0 ? mosquitto_want_write(m) : !loop.StopAcked))
                    if (mosquitto_loop(m, 20, 1) != MOSQ_ERR_SUCCESS)
                        break;
                mosquitto_disconnect(m);
                mosquitto_loop(m, 20, 1);
            }
            break;
        }
        if (loop.State == Loop::Down) {
            if (Clock::now() < nextTry)
                continue;
            errno = 0;
            const int rc = mosquitto_connect_async(m, host.constData(), Settings.Port, 30);
            if (rc != MOSQ_ERR_SUCCESS) {
                fail(describe(rc, errno));
                continue;
            }
            loop.State = Loop::Connecting;
            started = Clock::now();
        }
        if (loop.State == Loop::Up)
            drain();
        errno = 0;
        const int rc = mosquitto_loop(m, 50, 1);
        if (rc != MOSQ_ERR_SUCCESS) {
            fail(loop.Refusal.isEmpty() ? describe(rc, errno) : QStringLiteral("the broker refused: ") + loop.Refusal);
            mosquitto_disconnect(m);
        } else if (loop.State == Loop::Connecting && Clock::now() - started > std::chrono::milliseconds(kConnectTimeoutMs)) {
            mosquitto_disconnect(m);
            fail(QStringLiteral("no answer within %1 s").arg(kConnectTimeoutMs / 1000));
        }
    }
    mosquitto_destroy(m);
    std::lock_guard lock(Mutex);
    Count.Connected = false;
    Finished = true;
    Wake.notify_all();
}
