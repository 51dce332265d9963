#pragma once
// The site's OnAlarm command, run without a shell on every change of alarm
// level, link state or fault, the values only in its environment:
// KVARN_INSTALLATION, KVARN_EVENT, KVARN_LEVEL, KVARN_ACTIVITY, KVARN_TIME.
// At most one run per installation at a time (later notices wait their
// turn, at most kMaxWaiting of them); a run is killed after kTimeoutMs; its
// failure is logged and changes nothing else.

#include "collect/collecttypes.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QStringList>

class QProcess;

class TAlarmCommand : public QObject {
    Q_OBJECT
public:
    static constexpr int kTimeoutMs = 30000;
    static constexpr int kMaxWaiting = 16;

    explicit TAlarmCommand(const QStringList &command, QObject *parent = nullptr);
    ~TAlarmCommand() override;

    bool Idle() const { return running_.isEmpty(); }
    int Failures() const { return failures_; }

public slots:
    void Notify(const TAlarmNotice &notice);

signals:
    void BecameIdle();

private:
    void start(const TAlarmNotice &notice);
    void done(const QString &installation, QProcess *process, const QString &failure);

    QStringList command_;
    QHash<QString, QProcess *> running_;
    QHash<QString, QList<TAlarmNotice>> waiting_;
    int failures_ = 0;
};
