#pragma once
// What the collector tells systemd through sd_notify: READY once the lines
// have begun their first cycle, STOPPING when told to end, and WATCHDOG
// pings from the main thread's event loop at half the unit's WatchdogSec,
// sent only while every line thread has made progress within its own
// deadline (a hung line thread stops the pings, and systemd restarts the
// service). Without NOTIFY_SOCKET (not run by systemd) nothing is sent.

#include <QObject>
#include <QString>
#include <functional>

class QTimer;

class TServiceNotify : public QObject {
    Q_OBJECT
public:
    // stuck: empty while every line is alive, otherwise which one is not.
    explicit TServiceNotify(std::function<QString()> stuck, QObject *parent = nullptr);

    void Ready(const QString &status);
    void Stopping();
    // The ping interval, 0 when systemd asked for no watchdog.
    int WatchdogMs() const;

private:
    void ping();

    std::function<QString()> stuck_;
    QTimer *watchdog_ = nullptr;
    bool starving_ = false;
};
