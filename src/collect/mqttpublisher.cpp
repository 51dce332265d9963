#include "collect/mqttpublisher.h"

#include "base/cp1251.h"
#include "base/textutils.h"
#include "collect/installationwatch.h"
#include "collect/mqttclient.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTimer>

namespace {

const QStringList kSensors{"activity", "alarm", "faults", "link"};

// Letters, digits, '_' and '-' as they are; any other name gets them with
// the rest as '_' and a short hash of the whole, so two names stay apart.
QString idOf(const QString &name)
{
    QString id;
    bool changed = false;
    for (const QChar c : name) {
        const bool plain = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'_' || c == u'-';
        id += plain ? c : u'_';
        changed |= !plain;
    }
    if (changed || id.isEmpty())
        id += u'_' + QString::fromLatin1(QCryptographicHash::hash(name.toUtf8(), QCryptographicHash::Sha1).toHex().left(8));
    return id;
}

QJsonValue numberOrNull(const std::optional<QByteArray> &text)
{
    bool ok = false;
    const double v = text ? double(StrToFloatDot(TrimControls(*text), &ok)) : 0;
    return ok ? QJsonValue(v) : QJsonValue();
}

QString utc(const QDateTime &at)
{
    return at.toUTC().toString(Qt::ISODate);
}

QByteArray compact(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

} // namespace

TMqttPublisher::TMqttPublisher(const TMqttSettings &settings, const QString &site, const QStringList &installations,
                               QObject *parent)
    : QObject(parent), settings_(settings), prefix_(settings.Topic), node_(QStringLiteral("kvarn_") + idOf(site))
{
    for (const QString &name : installations) {
        byName_[name] = int(installations_.size());
        Installation inst;
        inst.Name = name;
        inst.Level = TopicLevel(name);
        inst.Id = idOf(name);
        installations_ << inst;
    }
}

TMqttPublisher::~TMqttPublisher() = default;

QStringList TMqttPublisher::Subscriptions() const
{
    if (settings_.Discovery.isEmpty())
        return {};
    return {settings_.Discovery + QStringLiteral("/status"), settings_.Discovery + QStringLiteral("/+/") + node_ + QStringLiteral("/+/config")};
}

void TMqttPublisher::Start(TMqttLink *link)
{
    link_ = link;
    for (const Installation &inst : installations_)
        discover(inst);
    timer_ = new QTimer(this);
    connect(timer_, &QTimer::timeout, this, &TMqttPublisher::repeat);
    timer_->start(5000);
}

QJsonObject TMqttPublisher::StatePayload(const TInstallationStatus &status)
{
    const std::optional<TStoreReading> &r = status.Last;
    QJsonObject state;
    state[QStringLiteral("activity")] = r ? numberOrNull(r->Activity) : QJsonValue();
    state[QStringLiteral("unit")] = QStringLiteral("Bq/m3");
    state[QStringLiteral("alarm")] = r ? AlarmLevel(r->Alarm1On, r->Alarm2On) : QJsonValue();
    const std::optional<qint64> bits = r ? StatusBits(r->Status) : std::nullopt;
    state[QStringLiteral("status")] = bits ? QJsonValue(double(*bits)) : QJsonValue();
    state[QStringLiteral("faults")] = QJsonArray::fromStringList(bits ? FaultNames(*bits) : QStringList());
    state[QStringLiteral("link")] = status.Stale     ? QStringLiteral("stale")
                                    : !status.LinkUp ? QStringLiteral("lost")
                                    : status.Stuck   ? QStringLiteral("stuck")
                                                     : QStringLiteral("up");
    state[QStringLiteral("at")] = r ? QJsonValue(utc(r->At)) : QJsonValue();
    state[QStringLiteral("serialn")] = status.Serial ? QJsonValue(FromCp1251(TrimControls(*status.Serial))) : QJsonValue();
    return state;
}

QJsonObject TMqttPublisher::EventPayload(const TAlarmNotice &event)
{
    return QJsonObject{{"kind", event.Event},
                       {"at", utc(event.At)},
                       {"detail", event.Detail},
                       {"level", event.Level},
                       {"activity", numberOrNull(event.Activity.isEmpty() ? std::nullopt : std::optional(event.Activity))}};
}

void TMqttPublisher::Update(const TInstallationStatus &status)
{
    const auto it = byName_.constFind(status.Installation);
    if (!link_ || it == byName_.constEnd())
        return;
    Installation &inst = installations_[*it];
    QJsonObject state = StatePayload(status);
    const QByteArray payload = compact(state);
    state.remove(QStringLiteral("at"));
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (state != inst.Last || now - inst.LastMs >= kRepeatSeconds * 1000LL) {
        inst.Last = state;
        publishState(inst, payload);
    }
    const bool online = status.LinkUp && !status.Stale;
    if (inst.Online != online) {
        inst.Online = online;
        link_->Publish(prefix_ + u'/' + inst.Level + QStringLiteral("/availability"),
                       online ? QByteArrayLiteral("online") : QByteArrayLiteral("offline"), TMqttLink::Kind::Retained);
    }
    if (status.Serial && status.Serial != inst.Serial) {
        inst.Serial = status.Serial;
        discover(inst);
    }
}

void TMqttPublisher::publishState(Installation &inst, const QByteArray &payload)
{
    inst.LastPayload = payload;
    inst.LastMs = QDateTime::currentMSecsSinceEpoch();
    link_->Publish(prefix_ + u'/' + inst.Level + QStringLiteral("/state"), payload, TMqttLink::Kind::State);
}

void TMqttPublisher::repeat()
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    for (Installation &inst : installations_)
        if (!inst.LastPayload.isEmpty() && now - inst.LastMs >= kRepeatSeconds * 1000LL)
            publishState(inst, inst.LastPayload);
}

void TMqttPublisher::Event(const TAlarmNotice &event)
{
    const auto it = byName_.constFind(event.Installation);
    if (!link_ || it == byName_.constEnd())
        return;
    link_->Publish(prefix_ + u'/' + installations_[*it].Level + QStringLiteral("/event"), compact(EventPayload(event)),
                   TMqttLink::Kind::Event);
}

void TMqttPublisher::discover(const Installation &inst)
{
    if (!link_ || settings_.Discovery.isEmpty())
        return;
    const QString base = prefix_ + u'/' + inst.Level;
    QJsonObject device{{"identifiers", QJsonArray{node_ + u'_' + inst.Id}},
                       {"name", inst.Name},
                       {"model", QStringLiteral("КВАРН-Т")},
                       {"manufacturer", QStringLiteral("КВАРН-Т")}};
    if (inst.Serial)
        device[QStringLiteral("serial_number")] = FromCp1251(TrimControls(*inst.Serial));
    for (const QString &sensor : kSensors) {
        const QString object = inst.Id + u'_' + sensor;
        QJsonObject config{{"name", sensor == QLatin1String("activity") ? QStringLiteral("Activity")
                                    : sensor == QLatin1String("alarm")  ? QStringLiteral("Alarm level")
                                    : sensor == QLatin1String("faults") ? QStringLiteral("Faults")
                                                                        : QStringLiteral("Link")},
                           {"unique_id", node_ + u'_' + object},
                           {"object_id", node_ + u'_' + object},
                           {"state_topic", base + QStringLiteral("/state")},
                           {"availability_topic", base + QStringLiteral("/availability")},
                           {"device", device}};
        QString component = QStringLiteral("sensor");
        if (sensor == QLatin1String("activity")) {
            config[QStringLiteral("value_template")] = QStringLiteral("{{ value_json.activity }}");
            config[QStringLiteral("unit_of_measurement")] = QStringLiteral("Bq/m³");
            config[QStringLiteral("state_class")] = QStringLiteral("measurement");
        } else if (sensor == QLatin1String("alarm")) {
            config[QStringLiteral("value_template")] = QStringLiteral("{{ value_json.alarm }}");
        } else if (sensor == QLatin1String("faults")) {
            config[QStringLiteral("value_template")] =
                QStringLiteral("{{ value_json.faults | join(', ') if value_json.faults else 'OK' }}");
        } else {
            // The link stays shown while the installation is away: it follows the collector.
            component = QStringLiteral("binary_sensor");
            config[QStringLiteral("device_class")] = QStringLiteral("connectivity");
            config[QStringLiteral("value_template")] = QStringLiteral("{{ 'ON' if value_json.link == 'up' else 'OFF' }}");
            config[QStringLiteral("availability_topic")] = StatusTopic();
        }
        link_->Publish(settings_.Discovery + u'/' + component + u'/' + node_ + u'/' + object + QStringLiteral("/config"),
                       compact(config), TMqttLink::Kind::Retained);
    }
}

void TMqttPublisher::Received(const QString &topic, const QByteArray &payload)
{
    if (!link_ || settings_.Discovery.isEmpty())
        return;
    if (topic == settings_.Discovery + QStringLiteral("/status")) {
        if (payload.trimmed() == "online")
            for (const Installation &inst : installations_)
                discover(inst);
        return;
    }
    // DISCOVERY/COMPONENT/NODE/OBJECT/config of this site's node.
    const QStringList levels = topic.mid(settings_.Discovery.size() + 1).split(u'/');
    if (payload.isEmpty() || levels.size() != 4 || levels[1] != node_ || levels[3] != QLatin1String("config"))
        return;
    for (const Installation &inst : installations_)
        for (const QString &sensor : kSensors)
            if (levels[2] == inst.Id + u'_' + sensor)
                return;
    link_->Publish(topic, QByteArray(), TMqttLink::Kind::Retained);
}
