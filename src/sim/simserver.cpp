#include "sim/simserver.h"

#include <QFile>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

int g_signalPipe[2] = {-1, -1};
volatile sig_atomic_t g_stop = 0;

void onSignal(int)
{
    g_stop = 1;
    if (g_signalPipe[1] >= 0) {
        const char c = 1;
        const ssize_t ignored = ::write(g_signalPipe[1], &c, 1);
        (void)ignored;
    }
}

QString errnoText()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

bool setNonBlocking(int fd)
{
    const int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0
           && ::fcntl(fd, F_SETFD, FD_CLOEXEC) == 0;
}

void closeFd(int &fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

} // namespace

qint64 SimNowNs()
{
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

// --- log -------------------------------------------------------------------------

TSimLog::~TSimLog()
{
    if (file_ && ownFile_)
        std::fclose(file_);
}

bool TSimLog::Open(const QString &path, QString *error)
{
    if (path.isEmpty())
        return true;
    if (path == QLatin1String("-")) {
        file_ = stdout;
        return true;
    }
    file_ = std::fopen(QFile::encodeName(path).constData(), "wb");
    if (!file_) {
        if (error)
            *error = QStringLiteral("cannot write the log %1: %2").arg(path, errnoText());
        return false;
    }
    ownFile_ = true;
    return true;
}

void TSimLog::Write(const QByteArray &line)
{
    if (!file_)
        return;
    std::fwrite(line.constData(), 1, size_t(line.size()), file_);
    std::fputc('\n', file_);
    std::fflush(file_);
}

// --- server ------------------------------------------------------------------------

bool TSimServer::InstallSignalHandlers(QString *error)
{
    if (g_signalPipe[0] < 0 && ::pipe(g_signalPipe) != 0) {
        if (error)
            *error = QStringLiteral("cannot create a pipe: %1").arg(errnoText());
        return false;
    }
    setNonBlocking(g_signalPipe[0]);
    setNonBlocking(g_signalPipe[1]);
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(sig, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    return true;
}

TSimServer::TSimServer(const TSimOptions &options) : options_(options) {}

TSimServer::~TSimServer()
{
    removeLink();
    closeFd(client_);
    closeFd(listen_);
    closeFd(slave_);
    closeFd(master_);
}

bool TSimServer::Start(QString *error)
{
    startNs_ = SimNowNs();
    const QList<int> devices = SimStations(options_);
    for (int i = 0; i < devices.size(); ++i) {
        TSimSettings settings;
        settings.Seed = options_.Seed + quint64(i);
        settings.Records = options_.Records;
        settings.BlockSize = options_.BlockSize;
        settings.BlockCount = options_.BlockCount;
        settings.StartClockMs = TSimInstrument::LocalClockNowMs();
        Station station;
        station.Instrument =
            std::make_unique<TSimInstrument>(settings, [this] { return (SimNowNs() - startNs_) / 1'000'000; });
        QList<QPair<QByteArray, QByteArray>> sets = options_.Sets;
        if (!options_.Stations.isEmpty())
            sets.prepend({"SERIALN", QByteArray::number(1046 + devices[i])});
        for (const auto &set : sets) {
            QString why;
            if (!station.Instrument->SetStartValue(set.first, set.second, &why)) {
                if (error)
                    *error = QStringLiteral("--set %1: %2").arg(QString::fromLatin1(set.first), why);
                return false;
            }
        }
        station.Instrument->SetActivityReadings(options_.Activity);
        station.Responder =
            std::make_unique<TSimResponder>(*station.Instrument, quint8(devices[i]), options_.Faults);
        station.Responder->SetReplyDelay(options_.ReplyDelay);
        stations_.push_back(std::move(station));
    }
    output_.SetBaud(options_.Baud);
    // A frame is written in one go; a part of one that stays alone this long is stale.
    idleNs_ = std::max<qint64>(50'000'000, 20 * output_.ByteTimeNs());

    if (!log_.Open(options_.LogFile, error))
        return false;
    return options_.Link.isEmpty() ? openTcp(error) : openPty(error);
}

bool TSimServer::openPty(QString *error)
{
    auto fail = [&](const QString &what) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(what, errnoText());
        return false;
    };
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0)
        return fail(QStringLiteral("cannot open a pseudo-terminal"));
    char name[256] = {};
    if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0 || ::ptsname_r(master_, name, sizeof name) != 0)
        return fail(QStringLiteral("cannot unlock the pseudo-terminal"));
    slaveName_ = QFile::decodeName(name);
    // Holding the terminal side open keeps the master from hanging up between
    // clients and keeps the raw mode set here: no echo, no line editing, no
    // character translation, so frames pass byte for byte.
    slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave_ < 0)
        return fail(QStringLiteral("cannot open %1").arg(slaveName_));
    termios tio{};
    if (::tcgetattr(slave_, &tio) != 0)
        return fail(QStringLiteral("cannot read the terminal settings"));
    ::cfmakeraw(&tio);
    ::cfsetispeed(&tio, B9600);
    ::cfsetospeed(&tio, B9600);
    if (::tcsetattr(slave_, TCSANOW, &tio) != 0)
        return fail(QStringLiteral("cannot set the terminal raw"));
    if (!setNonBlocking(master_))
        return fail(QStringLiteral("cannot set up the pseudo-terminal"));

    const QByteArray link = QFile::encodeName(options_.Link);
    struct stat st {};
    if (::lstat(link.constData(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            errno = EEXIST;
            return fail(QStringLiteral("%1 exists and is not a symbolic link").arg(options_.Link));
        }
        ::unlink(link.constData()); // left behind by an emulator that did not end cleanly
    }
    // Made under a temporary name and renamed: the link appears whole or not at all.
    const QByteArray temp = link + ".tmp" + QByteArray::number(qint64(::getpid()));
    ::unlink(temp.constData());
    if (::symlink(name, temp.constData()) != 0)
        return fail(QStringLiteral("cannot create the link %1").arg(options_.Link));
    if (::rename(temp.constData(), link.constData()) != 0) {
        ::unlink(temp.constData());
        return fail(QStringLiteral("cannot create the link %1").arg(options_.Link));
    }
    linkMade_ = true;
    return true;
}

bool TSimServer::openTcp(QString *error)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE;
    addrinfo *found = nullptr;
    const QByteArray host = options_.TcpHost.toUtf8();
    const QByteArray port = QByteArray::number(options_.TcpPort);
    const int rc = ::getaddrinfo(host.constData(), port.constData(), &hints, &found);
    if (rc != 0) {
        if (error)
            *error = QStringLiteral("cannot resolve %1: %2").arg(options_.TcpHost, QString::fromLocal8Bit(gai_strerror(rc)));
        return false;
    }
    int lastErrno = 0;
    for (addrinfo *a = found; a && listen_ < 0; a = a->ai_next) {
        int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) {
            lastErrno = errno;
            continue;
        }
        const int yes = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        if (::bind(fd, a->ai_addr, a->ai_addrlen) == 0 && ::listen(fd, 4) == 0 && setNonBlocking(fd)) {
            listen_ = fd;
        } else {
            lastErrno = errno;
            ::close(fd);
        }
    }
    ::freeaddrinfo(found);
    if (listen_ < 0) {
        errno = lastErrno;
        if (error)
            *error = QStringLiteral("cannot listen on %1:%2: %3").arg(options_.TcpHost).arg(options_.TcpPort).arg(errnoText());
        return false;
    }
    sockaddr_storage addr{};
    socklen_t len = sizeof addr;
    ::getsockname(listen_, reinterpret_cast<sockaddr *>(&addr), &len);
    tcpPort_ = addr.ss_family == AF_INET6 ? ntohs(reinterpret_cast<sockaddr_in6 *>(&addr)->sin6_port)
                                          : ntohs(reinterpret_cast<sockaddr_in *>(&addr)->sin_port);
    return true;
}

QString TSimServer::Where() const
{
    if (!options_.Link.isEmpty())
        return QStringLiteral("%1 (-> %2)").arg(options_.Link, slaveName_);
    return QStringLiteral("%1:%2").arg(options_.TcpHost).arg(tcpPort_);
}

void TSimServer::removeLink()
{
    if (!linkMade_)
        return;
    linkMade_ = false;
    // Only our own link: another emulator may have taken the path over since.
    const QByteArray link = QFile::encodeName(options_.Link);
    char target[512] = {};
    const ssize_t n = ::readlink(link.constData(), target, sizeof target - 1);
    if (n > 0 && QFile::decodeName(QByteArray(target, int(n))) == slaveName_)
        ::unlink(link.constData());
}

void TSimServer::closeClient()
{
    if (client_ < 0)
        return;
    closeFd(client_);
    receiver_.Clear();
    output_.Clear();
    pending_.clear();
    log_.Write("!! client gone");
}

void TSimServer::onBytes(const QByteArray &bytes, qint64 nowNs)
{
    receiver_.Feed(bytes);
    lastRxNs_ = nowNs;
    drainFrames(nowNs);
}

void TSimServer::drainFrames(qint64 nowNs)
{
    ProtocolFrame frame;
    for (;;) {
        const bool got = receiver_.Next(frame);
        if (const int skipped = receiver_.TakeSkipped())
            log_.Write("!! " + QByteArray::number(skipped) + " bytes passed over");
        if (!got)
            break;
        // The station addressed answers; a frame for none is noted by the first.
        TSimResponder *responder = stations_.front().Responder.get();
        for (const Station &station : stations_)
            if (station.Responder->Device() == frame.Receiver)
                responder = station.Responder.get();
        TSimExchange ex = responder->Handle(frame);
        if (stations_.size() > 1) {
            const QByteArray tag = "[" + QByteArray::number(responder->Device()) + "] ";
            for (QByteArray &note : ex.Notes)
                note.prepend(tag);
            for (TSimChunk &chunk : ex.Output)
                for (QByteArray &line : chunk.LogLines)
                    line.prepend(tag);
        }
        for (const QByteArray &note : ex.Notes)
            log_.Write(note);
        output_.Enqueue(ex.Output, nowNs);
    }
}

void TSimServer::flushOutput(qint64 nowNs)
{
    QList<QByteArray> finished;
    pending_ += output_.TakeDue(nowNs, &finished);
    const int fd = options_.Link.isEmpty() ? client_ : master_;
    if (fd < 0) {
        pending_.clear();
    }
    while (!pending_.isEmpty() && fd >= 0) {
        const ssize_t n = ::write(fd, pending_.constData(), size_t(pending_.size()));
        if (n > 0) {
            pending_.remove(0, n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && fd == client_)
                closeClient();
            break;
        }
    }
    for (const QByteArray &line : finished)
        log_.Write(line);
}

int TSimServer::Run()
{
    char buffer[4096];
    while (!g_stop) {
        qint64 now = SimNowNs();
        flushOutput(now);
        if (receiver_.HasPartial() && now - lastRxNs_ >= idleNs_) {
            while (receiver_.HasPartial()) {
                receiver_.DropStale();
                drainFrames(now);
            }
            flushOutput(now);
        }

        qint64 deadline = output_.NextDueNs();
        if (receiver_.HasPartial()) {
            const qint64 stale = lastRxNs_ + idleNs_;
            deadline = deadline < 0 ? stale : std::min(deadline, stale);
        }
        const int lineFd = options_.Link.isEmpty() ? client_ : master_;
        pollfd fds[3];
        int count = 0;
        fds[count++] = pollfd{g_signalPipe[0], POLLIN, 0};
        const int lineIndex = lineFd >= 0 ? count : -1;
        if (lineFd >= 0)
            fds[count++] = pollfd{lineFd, short(POLLIN | (pending_.isEmpty() ? 0 : POLLOUT)), 0};
        const int listenIndex = listen_ >= 0 ? count : -1;
        if (listen_ >= 0)
            fds[count++] = pollfd{listen_, POLLIN, 0};

        timespec ts{};
        timespec *timeout = nullptr;
        if (deadline >= 0) {
            const qint64 wait = std::max<qint64>(0, deadline - now);
            ts.tv_sec = time_t(wait / 1'000'000'000);
            ts.tv_nsec = long(wait % 1'000'000'000);
            timeout = &ts;
        }
        const int ready = ::ppoll(fds, nfds_t(count), timeout, nullptr);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            std::fprintf(stderr, "kvarn-sim: poll failed: %s\n", std::strerror(errno));
            return 1;
        }
        now = SimNowNs();
        if (fds[0].revents & POLLIN) {
            while (::read(g_signalPipe[0], buffer, sizeof buffer) > 0) {
            }
        }
        if (listenIndex >= 0 && (fds[listenIndex].revents & POLLIN)) {
            const int fd = ::accept4(listen_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd >= 0) {
                if (client_ >= 0)
                    closeClient();
                client_ = fd;
                const int yes = 1;
                ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
                log_.Write("!! client connected");
            }
        }
        if (lineIndex >= 0 && fds[lineIndex].revents) {
            const short ev = fds[lineIndex].revents;
            if (ev & (POLLIN | POLLHUP | POLLERR)) {
                for (;;) {
                    const ssize_t n = ::read(lineFd, buffer, sizeof buffer);
                    if (n > 0) {
                        onBytes(QByteArray(buffer, int(n)), now);
                        continue;
                    }
                    if (n < 0 && errno == EINTR)
                        continue;
                    if (lineFd == client_ && (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)))
                        closeClient();
                    break;
                }
            }
        }
    }
    log_.Write("!! stopped");
    return 0;
}
