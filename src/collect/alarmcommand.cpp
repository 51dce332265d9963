#include "collect/alarmcommand.h"

#include "base/cp1251.h"

#include <QProcess>
#include <QTimer>
#include <csignal>
#include <unistd.h>

std::optional<QStringList> SplitCommandWords(const QString &text, QString *why)
{
    QStringList words;
    QString word;
    bool inWord = false;
    enum { Plain, Single, Double } quote = Plain;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (quote == Single) {
            if (c == u'\'')
                quote = Plain;
            else
                word += c;
        } else if (quote == Double) {
            if (c == u'"') {
                quote = Plain;
            } else if (c == u'\\' && i + 1 < text.size() && QStringView(u"$`\"\\\n").contains(text[i + 1])) {
                if (text[++i] != u'\n')
                    word += text[i];
            } else {
                word += c;
            }
        } else if (c == u' ' || c == u'\t' || c == u'\n') {
            if (inWord)
                words << word;
            word.clear();
            inWord = false;
        } else {
            inWord = true;
            if (c == u'\'') {
                quote = Single;
            } else if (c == u'"') {
                quote = Double;
            } else if (c == u'\\') {
                if (++i == text.size()) {
                    *why = QStringLiteral("a \\ ends the command");
                    return std::nullopt;
                }
                if (text[i] != u'\n')
                    word += text[i];
            } else {
                word += c;
            }
        }
    }
    if (quote != Plain) {
        *why = QStringLiteral("a %1 quote is not closed").arg(quote == Single ? QStringLiteral("single") : QStringLiteral("double"));
        return std::nullopt;
    }
    if (inWord)
        words << word;
    return words;
}

namespace {

// Whether any process of the run's group is left.
bool groupLives(qint64 group)
{
    return group > 0 && ::kill(-pid_t(group), 0) == 0;
}

void signalGroup(qint64 group, int signal)
{
    if (group > 0)
        ::kill(-pid_t(group), signal);
}

// SIGTERM to what is left of a finished run's group, SIGKILL after the grace time.
void endLeftovers(qint64 group, QObject *context)
{
    if (!groupLives(group))
        return;
    signalGroup(group, SIGTERM);
    QTimer::singleShot(TAlarmCommand::kGraceMs, context, [group]() { signalGroup(group, SIGKILL); });
}

} // namespace

TAlarmCommand::TAlarmCommand(const QStringList &command, QObject *parent, int timeoutMs)
    : QObject(parent), command_(command), timeoutMs_(timeoutMs)
{
}

TAlarmCommand::~TAlarmCommand()
{
    for (QProcess *process : running_) {
        process->disconnect();
        const qint64 group = process->property("group").toLongLong();
        signalGroup(group, SIGTERM);
        if (!process->waitForFinished(kGraceMs))
            signalGroup(group, SIGKILL);
        process->waitForFinished(kGraceMs);
        signalGroup(group, SIGKILL); // what the program left behind
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
    env.insert(QStringLiteral("KVARN_DETAIL"), notice.Detail);
    process->setProcessEnvironment(env);
    process->setProgram(command_.first());
    process->setArguments(command_.mid(1));
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    process->setStandardInputFile(QProcess::nullDevice());
    // A group of its own, so that what the program starts ends with it.
    process->setChildProcessModifier([]() { ::setpgid(0, 0); });
    const QString installation = notice.Installation;
    running_.insert(installation, process);
    auto *timer = new QTimer(process);
    timer->setSingleShot(true);
    timer->setTimerType(Qt::PreciseTimer); // a coarse one may end the run 5 % early
    connect(timer, &QTimer::timeout, process, [this, process, installation]() {
        CollectLog(QStringLiteral("%1: the alarm command ran %2 s and is ended with all it started")
                       .arg(installation)
                       .arg(timeoutMs_ / 1000.0));
        const qint64 group = process->property("group").toLongLong();
        signalGroup(group, SIGTERM);
        QTimer::singleShot(kGraceMs, process, [group]() { signalGroup(group, SIGKILL); });
    });
    connect(process, &QProcess::finished, this, [this, process, installation](int code, QProcess::ExitStatus status) {
        endLeftovers(process->property("group").toLongLong(), this);
        done(installation, process,
             status != QProcess::NormalExit ? QStringLiteral("ended abnormally")
             : code != 0                    ? QStringLiteral("exited with %1").arg(code)
                                            : QString());
    });
    connect(process, &QProcess::errorOccurred, this, [this, process, installation](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            done(installation, process, QStringLiteral("could not be started: ") + process->errorString());
    });
    timer->start(timeoutMs_);
    process->start();
    process->setProperty("group", process->processId()); // gone from the process once it ends
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
