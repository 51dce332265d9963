#include "collect/collectmetrics.h"

#include "base/textutils.h"
#include "collect/installationwatch.h"
#include "collect/siteconfig.h"

#include <QHttpServer>
#include <QHttpServerResponse>

namespace {

QByteArray label(const QString &name)
{
    QByteArray v = name.toUtf8();
    v.replace('\\', "\\\\").replace('"', "\\\"").replace('\n', "\\n");
    return "{installation=\"" + v + "\"}";
}

QByteArray number(double v)
{
    return QByteArray::number(v, 'g', 15);
}

} // namespace

TCollectMetrics::TCollectMetrics(const QStringList &installations, QObject *parent)
    : QObject(parent), order_(installations)
{
    for (const QString &name : installations) {
        status_[name].Installation = name;
        stored_[name] = 0;
    }
}

TCollectMetrics::~TCollectMetrics() = default;

quint16 TCollectMetrics::Listen(const TMetricsAddress &address)
{
    server_ = std::make_unique<QHttpServer>();
    server_->route(QStringLiteral("/metrics"), QHttpServerRequest::Method::Get, [this]() {
        return QHttpServerResponse(QByteArrayLiteral("text/plain; version=0.0.4; charset=utf-8"), Text());
    });
    return server_->listen(address.Host, address.Port);
}

void TCollectMetrics::Update(const TInstallationStatus &status)
{
    status_[status.Installation] = status;
}

void TCollectMetrics::SetRecordsStored(const QString &installation, qint64 count)
{
    stored_[installation] = count;
}

const TInstallationStatus *TCollectMetrics::Status(const QString &installation) const
{
    const auto it = status_.constFind(installation);
    return it == status_.constEnd() ? nullptr : &*it;
}

QByteArray TCollectMetrics::Text() const
{
    QByteArray out;
    auto family = [&](const char *name, const char *type, const char *help,
                      const std::function<std::optional<double>(const QString &, const TInstallationStatus &)> &value) {
        out += QByteArray("# HELP ") + name + ' ' + help + "\n# TYPE " + name + ' ' + type + '\n';
        for (const QString &installation : order_) {
            const std::optional<double> v = value(installation, status_.value(installation));
            if (v)
                out += name + label(installation) + ' ' + number(*v) + '\n';
        }
    };
    auto reading = [](const TInstallationStatus &s) -> const TStoreReading * { return s.Last ? &*s.Last : nullptr; };
    family("kvarn_activity_bq_per_m3", "gauge", "The activity of the last live reading, Bq/m3.",
           [&](const QString &, const TInstallationStatus &s) -> std::optional<double> {
               const TStoreReading *r = reading(s);
               bool ok = false;
               const double v = r && r->Activity ? double(StrToFloatDot(*r->Activity, &ok)) : 0;
               return ok ? std::optional<double>(v) : std::nullopt;
           });
    family("kvarn_alarm_level", "gauge", "The alarm level of the last live reading: 0, 1 or 2.",
           [&](const QString &, const TInstallationStatus &s) -> std::optional<double> {
               const TStoreReading *r = reading(s);
               return r ? std::optional<double>(AlarmLevel(r->Alarm1On, r->Alarm2On)) : std::nullopt;
           });
    family("kvarn_status", "gauge", "The STATUS bits of the last live reading.",
           [&](const QString &, const TInstallationStatus &s) -> std::optional<double> {
               const TStoreReading *r = reading(s);
               const std::optional<qint64> bits = r ? StatusBits(r->Status) : std::nullopt;
               return bits ? std::optional<double>(double(*bits)) : std::nullopt;
           });
    family("kvarn_link_up", "gauge", "1 while the installation answers, 0 after an exchange failed.",
           [&](const QString &, const TInstallationStatus &s) -> std::optional<double> {
               return s.LinkUp ? 1.0 : 0.0;
           });
    family("kvarn_stale", "gauge", "1 while the installation has given no reading for its StaleSeconds.",
           [&](const QString &, const TInstallationStatus &s) -> std::optional<double> { return s.Stale ? 1.0 : 0.0; });
    family("kvarn_stuck", "gauge", "1 while the installation's ACTIVITY has stayed the same for its StuckReadings.",
           [&](const QString &, const TInstallationStatus &s) -> std::optional<double> { return s.Stuck ? 1.0 : 0.0; });
    family("kvarn_last_reading_timestamp_seconds", "gauge", "When the last live reading was taken (Unix time).",
           [&](const QString &, const TInstallationStatus &s) -> std::optional<double> {
               const TStoreReading *r = reading(s);
               return r ? std::optional<double>(r->At.toMSecsSinceEpoch() / 1000.0) : std::nullopt;
           });
    family("kvarn_archive_records_stored", "gauge", "Archive records of the installation in the database.",
           [&](const QString &installation, const TInstallationStatus &) -> std::optional<double> {
               return double(stored_.value(installation));
           });
    family("kvarn_exchange_failures_total", "counter", "Exchanges with the installation that failed.",
           [&](const QString &, const TInstallationStatus &s) -> std::optional<double> {
               return double(s.ExchangeFailures);
           });
    family("kvarn_missed_polls_total", "counter", "Live readings that could not be taken in their period.",
           [&](const QString &, const TInstallationStatus &s) -> std::optional<double> {
               return double(s.MissedPolls);
           });
    return out;
}
