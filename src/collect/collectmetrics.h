#pragma once
// The live values of every installation in the Prometheus text exposition
// format, served as GET /metrics by Qt HttpServer behind a listener that
// bounds its connections (collect/boundedlistener.h).

#include "collect/collecttypes.h"

#include <QHash>
#include <QObject>
#include <QStringList>
#include <memory>

class QHttpServer;
class TBoundedListener;
struct TMetricsAddress;

class TCollectMetrics : public QObject {
    Q_OBJECT
public:
    explicit TCollectMetrics(const QStringList &installations, QObject *parent = nullptr);
    ~TCollectMetrics() override;

    // Listens at the address; the port listened on (the one asked, or a
    // free one for port 0), 0 when it cannot listen.
    quint16 Listen(const TMetricsAddress &address);
    QByteArray Text() const;
    const TInstallationStatus *Status(const QString &installation) const;

public slots:
    void Update(const TInstallationStatus &status);
    void SetRecordsStored(const QString &installation, qint64 count);
    void SetDatabaseUp(bool up) { databaseUp_ = up; }
    void SetReadingsHeld(const QString &installation, qint64 waiting, qint64 droppedTotal);

private:
    QStringList order_;
    QHash<QString, TInstallationStatus> status_;
    QHash<QString, qint64> stored_;
    bool databaseUp_ = true;
    QHash<QString, QPair<qint64, qint64>> held_; // readings waiting, dropped in all
    std::unique_ptr<QHttpServer> server_;
    TBoundedListener *listener_ = nullptr;
};
