#include "collect/servicenotify.h"

#include "collect/collecttypes.h"

#include <QTimer>
#include <systemd/sd-daemon.h>

TServiceNotify::TServiceNotify(std::function<QString()> stuck, QObject *parent)
    : QObject(parent), stuck_(std::move(stuck))
{
    uint64_t usec = 0;
    if (sd_watchdog_enabled(0, &usec) > 0 && usec > 0) {
        watchdog_ = new QTimer(this);
        watchdog_->setInterval(int(std::clamp<uint64_t>(usec / 2000, 1, 3600 * 1000)));
        connect(watchdog_, &QTimer::timeout, this, &TServiceNotify::ping);
    }
}

int TServiceNotify::WatchdogMs() const
{
    return watchdog_ ? watchdog_->interval() : 0;
}

void TServiceNotify::Ready(const QString &status)
{
    sd_notify(0, (QStringLiteral("READY=1\nSTATUS=") + status).toUtf8().constData());
    if (watchdog_) {
        ping();
        watchdog_->start();
    }
}

void TServiceNotify::Stopping()
{
    if (watchdog_)
        watchdog_->stop();
    sd_notify(0, "STOPPING=1\nSTATUS=stopping after the exchanges in progress");
}

void TServiceNotify::ping()
{
    const QString stuck = stuck_();
    if (stuck.isEmpty()) {
        if (starving_)
            CollectLog(QStringLiteral("every line makes progress again; the watchdog is fed"));
        starving_ = false;
        sd_notify(0, "WATCHDOG=1");
        return;
    }
    if (!starving_)
        CollectLog(QStringLiteral("%1; the watchdog is no longer fed, so systemd will restart the service").arg(stuck));
    starving_ = true;
}
