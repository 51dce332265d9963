#pragma once
// The site's OnAlarm command, run without a shell on every change of alarm
// level, link state or fault, the values only in its environment:
// KVARN_INSTALLATION, KVARN_EVENT, KVARN_LEVEL, KVARN_ACTIVITY, KVARN_TIME.
// At most one run per installation at a time (later notices wait their
// turn, at most kMaxWaiting of them). Each run is a process group of its
// own: after kTimeoutMs, at the collector's stop, and when the program ends
// leaving processes behind, the whole group gets SIGTERM, then SIGKILL after
// kGraceMs. A failure is logged and changes nothing else.

#include "collect/collecttypes.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QStringList>
#include <optional>

class QProcess;

// A command line split into words as a POSIX shell splits them, without
// any expansion: blanks separate words; '…' keeps everything literally;
// "…" keeps everything but \ before $ ` " \ or a newline; a \ outside
// quotes keeps the next character. An unbalanced quote or a trailing \ is
// refused (nullopt, with why).
std::optional<QStringList> SplitCommandWords(const QString &text, QString *why);

class TAlarmCommand : public QObject {
    Q_OBJECT
public:
    static constexpr int kTimeoutMs = 30000;
    static constexpr int kMaxWaiting = 16;
    static constexpr int kGraceMs = 2000;

    explicit TAlarmCommand(const QStringList &command, QObject *parent = nullptr, int timeoutMs = kTimeoutMs);
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
    int timeoutMs_;
    QHash<QString, QProcess *> running_;
    QHash<QString, QList<TAlarmNotice>> waiting_;
    int failures_ = 0;
};
