#include "collect/alarmcommand.h"

#include "base/cp1251.h"

#include <QProcess>
#include <QTimer>

TAlarmCommand::TAlarmCommand(const QStringList &command, QObject *parent) : QObject(parent), command_(command) {}

TAlarmCommand::~TAlarmCommand()
{
    for (QProcess *process : running_) {
        process->disconnect();
        process->kill();
        process->waitForFinished(1000);
        delete process;
    }
}

void TAlarmCommand::Notify(const TAlarmNotice &notice)
{
    if (command_.isEmpty())
        return;
    if (running_.contains(notice.Installation)) {
        QList<TAlarmNotice> &queue = waiting_[notice.Installation];
        if (queue.size() >= kMaxWaiting) {
            CollectLog(QStringLiteral("%1: the alarm command is still running; an earlier notice is dropped")
                           .arg(notice.Installation));
            queue.removeFirst();
        }
        queue << notice;
        return;
    }
    start(notice);
}

void TAlarmCommand::start(const TAlarmNotice &notice)
{
    auto *process = new QProcess(this);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("KVARN_INSTALLATION"), notice.Installation);
    env.insert(QStringLiteral("KVARN_EVENT"), notice.Event);
    env.insert(QStringLiteral("KVARN_LEVEL"), QString::number(notice.Level));
    env.insert(QStringLiteral("KVARN_ACTIVITY"), FromCp1251(notice.Activity));
    env.insert(QStringLiteral("KVARN_TIME"), notice.At.toUTC().toString(Qt::ISODate));
    process->setProcessEnvironment(env);
    process->setProgram(command_.first());
    process->setArguments(command_.mid(1));
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    process->setStandardInputFile(QProcess::nullDevice());
    const QString installation = notice.Installation;
    running_.insert(installation, process);
    auto *timer = new QTimer(process);
    timer->setSingleShot(true);
    connect(timer, &QTimer::timeout, process, [this, process, installation]() {
        CollectLog(QStringLiteral("%1: the alarm command ran %2 s and is killed").arg(installation).arg(kTimeoutMs / 1000));
        process->kill();
    });
    connect(process, &QProcess::finished, this, [this, process, installation](int code, QProcess::ExitStatus status) {
        done(installation, process,
             status != QProcess::NormalExit ? QStringLiteral("ended abnormally")
             : code != 0                    ? QStringLiteral("exited with %1").arg(code)
                                            : QString());
    });
    connect(process, &QProcess::errorOccurred, this, [this, process, installation](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            done(installation, process, QStringLiteral("could not be started: ") + process->errorString());
    });
    timer->start(kTimeoutMs);
    process->start();
}

void TAlarmCommand::done(const QString &installation, QProcess *process, const QString &failure)
{
    if (running_.value(installation) != process)
        return;
    running_.remove(installation);
    process->disconnect(this);
    process->deleteLater();
    if (!failure.isEmpty()) {
        ++failures_;
        CollectLog(QStringLiteral("%1: the alarm command %2 %3").arg(installation, command_.first(), failure));
    }
    QList<TAlarmNotice> &queue = waiting_[installation];
    if (!queue.isEmpty()) {
        start(queue.takeFirst());
        return;
    }
    waiting_.remove(installation);
    if (running_.isEmpty())
        emit BecameIdle();
}
