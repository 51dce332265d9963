#include "support/simprocess.h"

#include "protocol/frame.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

qint64 nowNs()
{
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

QList<QByteArray> withPrefix(const QList<QByteArray> &lines, const QByteArray &prefix)
{
    QList<QByteArray> out;
    for (const QByteArray &line : lines)
        if (line.startsWith(prefix))
            out.append(line.mid(prefix.size()));
    return out;
}

} // namespace

SimProcess::SimProcess() = default;

SimProcess::~SimProcess()
{
    Stop();
}

QString SimProcess::Executable()
{
    return QString::fromLocal8Bit(qgetenv("KVARN_SIM"));
}

QString SimProcess::Folder() const
{
    return dir_ ? dir_->path() : QString();
}

QString SimProcess::LogPath() const
{
    return dir_ ? dir_->filePath(QStringLiteral("sim.log")) : QString();
}

QString SimProcess::TcpAddress() const
{
    return QStringLiteral("socket://127.0.0.1:%1").arg(port_);
}

bool SimProcess::IsRunning() const
{
    return process_ && process_->state() != QProcess::NotRunning;
}

qint64 SimProcess::ProcessId() const
{
    return process_ ? process_->processId() : 0;
}

int SimProcess::WaitForExit(int timeoutMs)
{
    if (!process_)
        return -1;
    if (process_->state() != QProcess::NotRunning && !process_->waitForFinished(timeoutMs))
        return -1;
    return process_->exitStatus() == QProcess::NormalExit ? process_->exitCode() : -1;
}

bool SimProcess::Start(const QStringList &options, int timeoutMs)
{
    Stop();
    dir_ = std::make_unique<QTemporaryDir>();
    link_ = dir_->filePath(QStringLiteral("tty"));
    if (!launch(QStringList{QStringLiteral("--link"), link_} + options, timeoutMs))
        return false;
    if (!QFileInfo(link_).isSymLink()) {
        error_ = QStringLiteral("kvarn-sim said it started, but %1 is missing").arg(link_);
        return false;
    }
    return true;
}

bool SimProcess::StartTcp(const QStringList &options, int timeoutMs, int port)
{
    Stop();
    dir_ = std::make_unique<QTemporaryDir>();
    link_.clear();
    return launch(QStringList{QStringLiteral("--tcp"), QStringLiteral("127.0.0.1:%1").arg(port)} + options, timeoutMs);
}

bool SimProcess::launch(const QStringList &arguments, int timeoutMs)
{
    error_.clear();
    port_ = -1;
    const QString exe = Executable();
    if (exe.isEmpty() || !QFileInfo(exe).isExecutable()) {
        error_ = QStringLiteral("KVARN_SIM does not name the kvarn-sim executable (\"%1\")").arg(exe);
        return false;
    }
    if (!dir_->isValid()) {
        error_ = QStringLiteral("no temporary folder");
        return false;
    }
    process_ = std::make_unique<QProcess>();
    process_->setProgram(exe);
    process_->setArguments(arguments + QStringList{QStringLiteral("--log"), LogPath()});
    // The emulator goes with the test process, however that one ends.
    process_->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    process_->start();

    // The emulator prints its start-up line once the line is ready.
    const QRegularExpression ready(QStringLiteral("^kvarn-sim: installations? [\\d,]+ on (\\S+)"),
                                   QRegularExpression::MultilineOption);
    QByteArray out;
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        out += process_->readAllStandardOutput();
        const QRegularExpressionMatch m = ready.match(QString::fromLocal8Bit(out));
        if (m.hasMatch()) {
            if (arguments.first() == QLatin1String("--tcp"))
                port_ = m.captured(1).section(u':', -1).toInt();
            return true;
        }
        if (process_->state() == QProcess::NotRunning)
            break;
        process_->waitForReadyRead(int(std::max<qint64>(1, deadline.remainingTime())));
    }
    process_->waitForFinished(1000);
    error_ = QStringLiteral("kvarn-sim did not start: %1 %2")
                 .arg(QString::fromLocal8Bit(process_->readAllStandardError()).trimmed(), process_->errorString());
    process_->kill();
    process_->waitForFinished(1000);
    return false;
}

bool SimProcess::Stop(int timeoutMs)
{
    if (!process_)
        return true;
    bool clean = false;
    if (process_->state() != QProcess::NotRunning) {
        process_->terminate(); // SIGTERM
        if (process_->waitForFinished(timeoutMs)) {
            clean = process_->exitStatus() == QProcess::NormalExit && process_->exitCode() == 0;
        } else {
            process_->kill();
            process_->waitForFinished(2000);
        }
    } else {
        clean = process_->exitStatus() == QProcess::NormalExit && process_->exitCode() == 0;
    }
    if (!clean)
        error_ = QString::fromLocal8Bit(process_->readAllStandardError()).trimmed();
    process_.reset();
    return clean;
}

QList<QByteArray> SimProcess::LogLines() const
{
    QFile f(LogPath());
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QList<QByteArray> lines = f.readAll().split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

QList<QByteArray> SimProcess::RequestLines() const
{
    return withPrefix(LogLines(), "<- ");
}

QList<QByteArray> SimProcess::ReplyLines() const
{
    return withPrefix(LogLines(), "-> ");
}

bool SimProcess::WaitForLog(const QByteArray &prefix, int count, int timeoutMs) const
{
    return QTest::qWaitFor([&] { return withPrefix(LogLines(), prefix).size() >= count; }, timeoutMs);
}

// --- the test's end of the line ---------------------------------------------------

bool SimTerminal::Open(const QString &path)
{
    Close();
    fd_ = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0)
        return false;
    termios tio{};
    if (::tcgetattr(fd_, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::tcsetattr(fd_, TCSANOW, &tio);
    }
    return true;
}

void SimTerminal::Close()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

bool SimTerminal::Write(const QByteArray &bytes)
{
    qsizetype done = 0;
    while (fd_ >= 0 && done < bytes.size()) {
        const ssize_t n = ::write(fd_, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0) {
            done += n;
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            pollfd p{fd_, POLLOUT, 0};
            ::poll(&p, 1, 100);
        } else {
            return false;
        }
    }
    return fd_ >= 0;
}

QByteArray SimTerminal::Read(int totalMs, int quietMs, int maxBytes, QList<qint64> *arrivalsNs)
{
    QByteArray got;
    if (fd_ < 0)
        return got;
    const qint64 start = nowNs();
    qint64 last = start;
    while (got.size() < maxBytes) {
        const qint64 now = nowNs();
        qint64 limit = start + qint64(totalMs) * 1'000'000;
        if (!got.isEmpty())
            limit = std::min(limit, last + qint64(quietMs) * 1'000'000);
        if (now >= limit)
            break;
        pollfd p{fd_, POLLIN, 0};
        timespec ts{time_t((limit - now) / 1'000'000'000), long((limit - now) % 1'000'000'000)};
        if (::ppoll(&p, 1, &ts, nullptr) <= 0)
            continue;
        char buf[1024];
        const ssize_t n = ::read(fd_, buf, size_t(std::min<qsizetype>(sizeof buf, maxBytes - got.size())));
        if (n > 0) {
            last = nowNs();
            got.append(buf, int(n));
            if (arrivalsNs)
                for (ssize_t i = 0; i < n; ++i)
                    arrivalsNs->append(last);
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            break;
        }
    }
    return got;
}

QByteArray SimTerminal::Ask(quint8 device, const QByteArray &text, int totalMs, int quietMs)
{
    if (!Write(BuildFrame(MakeRequestFrame(0, device, text))))
        return QByteArray();
    // A whole frame at the start ends the wait at once; anything else waits for quiet.
    QByteArray got;
    const qint64 start = nowNs();
    for (;;) {
        const int left = int(totalMs - (nowNs() - start) / 1'000'000);
        if (left <= 0)
            break;
        const int expected = ExpectedFrameSize(got);
        const QByteArray more = Read(left, quietMs, expected > 0 && expected > got.size() ? int(expected - got.size()) : 1);
        if (more.isEmpty())
            break;
        got += more;
        const int size = ExpectedFrameSize(got);
        if (size > 0 && got.size() >= size) {
            ProtocolFrame f;
            if (ParseFrame(got, f))
                break;
        }
    }
    return got;
}
