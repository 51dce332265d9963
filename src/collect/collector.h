#pragma once
// kvarn-collect: every installation of a site file read into one database.
// One thread per line (the installations on one port polled in turn on
// it), one thread that writes the database, and the main thread with the
// metrics and the alarm command. Data crosses between them only by queued
// signals, by value.
//
// Exit codes: 0 every installation answered (or the service was stopped),
// 1 an installation did not answer (the others are still stored), 2 a bad
// site file, command line or database.

#include "collect/siteconfig.h"
#include "store/sitestore.h"

#include <QObject>
#include <QStringList>
#include <atomic>
#include <memory>

class QThread;
class TAlarmCommand;
class TCollectMetrics;
class TEurdepWriter;
class TLinePoller;
class TMqttClient;
class TMqttPublisher;
class TStoreWriter;

constexpr int kCollectOk = 0;
constexpr int kCollectFailed = 1;
constexpr int kCollectBad = 2;

class TCollector : public QObject {
    Q_OBJECT
public:
    TCollector(TSiteConfig config, const TStoreUrl &url, bool once, bool verbose, QObject *parent = nullptr);
    ~TCollector() override;

    // Opens the database and starts the lines and the metrics; kCollectOk
    // when running (Finished follows), otherwise the exit code, with the
    // reason logged.
    int Start(const std::optional<TMetricsAddress> &metrics);
    // Ends after the exchange in progress, writing what was read.
    void Stop();

    TCollectMetrics &Metrics() { return *metrics_; }
    quint16 MetricsPort() const { return metricsPort_; }
    // The broker connection of an [mqtt] section, once started.
    const TMqttClient *MqttClient() const { return mqttClient_.get(); }

signals:
    void Finished(int exitCode);

private:
    void lineFinished(const QStringList &failed);
    void end();

    TSiteConfig config_;
    TStoreUrl url_;
    bool once_;
    bool verbose_;
    std::shared_ptr<std::atomic<bool>> stop_;
    std::unique_ptr<QThread> writerThread_;
    std::unique_ptr<TStoreWriter> writer_;
    // EURDEP files, in a thread and on a connection of their own (none with --once).
    bool startEurdep();
    std::unique_ptr<QThread> eurdepThread_;
    std::unique_ptr<TEurdepWriter> eurdep_;
    QList<QThread *> lineThreads_;
    QList<TLinePoller *> pollers_;
    TCollectMetrics *metrics_ = nullptr;
    TAlarmCommand *alarm_ = nullptr;
    TMqttPublisher *mqtt_ = nullptr;
    std::unique_ptr<TMqttClient> mqttClient_;
    quint16 metricsPort_ = 0;
    int running_ = 0;
    bool anyFailed_ = false;
    bool ended_ = false;
};

// Open files the process needs besides its lines (the database, the
// metrics, the alarm command, the threads of its own), and per line.
constexpr int kBaseFileDescriptors = 64;
constexpr int kFileDescriptorsPerLine = 4;
// Raises the soft limit of open files up to the hard one when lines need
// more: the limit now in force, or empty with error saying how many lines
// the process can serve.
std::optional<int> ReserveFileDescriptors(int lines, QString *error);

// The whole program: arguments (without the program name) to exit code.
int KvarnCollectMain(const QStringList &arguments);
QString CollectHelpText();
