#include "sim/simprobe.h"

#include "protocol/frame.h"
#include "sim/simresponder.h"
#include "sim/simserver.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr qint64 kReplyWaitNs = 1'000'000'000; // whole reply
constexpr qint64 kQuietNs = 50'000'000;        // no more bytes: the reply is over

// Reads until a frame is complete, the line stays quiet after some bytes, or the wait is over.
QByteArray readReply(int fd)
{
    QByteArray got;
    const qint64 start = SimNowNs();
    qint64 last = start;
    for (;;) {
        const qint64 now = SimNowNs();
        const int expected = ExpectedFrameSize(got);
        if (expected > 0 && got.size() >= expected)
            return got;
        qint64 limit = start + kReplyWaitNs;
        if (!got.isEmpty())
            limit = std::min(limit, last + kQuietNs);
        if (now >= limit)
            return got;
        pollfd p{fd, POLLIN, 0};
        const int ms = int((limit - now + 999'999) / 1'000'000);
        if (::poll(&p, 1, ms) <= 0)
            continue;
        char buf[512];
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0) {
            got.append(buf, int(n));
            last = SimNowNs();
        } else if (n < 0 && errno != EINTR && errno != EAGAIN) {
            return got;
        }
    }
}

} // namespace

int RunSimProbe(const QString &path, int device, const QList<QByteArray> &names, std::FILE *out)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        std::fprintf(out, "cannot open %s: %s\n", QFile::encodeName(path).constData(), std::strerror(errno));
        return 2;
    }
    termios tio{};
    if (::tcgetattr(fd, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::cfsetispeed(&tio, B9600);
        ::cfsetospeed(&tio, B9600);
        ::tcsetattr(fd, TCSANOW, &tio);
        ::tcflush(fd, TCIFLUSH);
    }
    int failures = 0;
    for (const QByteArray &name : names) {
        const QByteArray text = ReadRequestText(name, QByteArray());
        const QByteArray wire = BuildFrame(MakeRequestFrame(0, quint8(device), text));
        std::fprintf(out, "-> %s\n", TSimResponder::Printable(text).constData());
        if (::write(fd, wire.constData(), size_t(wire.size())) != wire.size()) {
            std::fprintf(out, "<- \n");
            ++failures;
            continue;
        }
        const QByteArray reply = readReply(fd);
        ProtocolFrame frame;
        bool badChecksum = false;
        if (reply.isEmpty()) {
            std::fprintf(out, "<- \n");
            ++failures;
        } else if (!ParseFrame(reply, frame, &badChecksum)) {
            std::fprintf(out, "<- bad CRC [%d bytes total]\n", int(reply.size()));
            ++failures;
        } else if (frame.Receiver != 0 || frame.Sender != device) {
            std::fprintf(out, "<- \n");
            ++failures;
        } else {
            std::fprintf(out, "<- %s\n", TSimResponder::Printable(frame.Text()).constData());
        }
        std::fflush(out);
    }
    ::close(fd);
    return failures == 0 ? 0 : 1;
}
