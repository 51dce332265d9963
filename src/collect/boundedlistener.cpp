#include "collect/boundedlistener.h"

#include "collect/collecttypes.h"

#include <QTcpSocket>
#include <QTimer>
#include <sys/resource.h>
#include <unistd.h>

namespace {

int descriptorShare()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return 64;
    return int(std::clamp<rlim_t>(limit.rlim_cur / 8, 4, 64));
}

constexpr QByteArrayView kEndOfHead = "\r\n\r\n";

} // namespace

TBoundedListener::TBoundedListener(int maxConnections, int idleMs, QObject *parent)
    : QTcpServer(parent), maxConnections_(maxConnections > 0 ? maxConnections : descriptorShare()), idleMs_(idleMs)
{
    connect(this, &QTcpServer::acceptError, this, [this](QAbstractSocket::SocketError) {
        // Qt stops accepting on such an error; the listening socket stays
        // readable, so a retry at once would spin.
        if (!acceptFailing_)
            CollectLog(QStringLiteral("the metrics cannot accept a connection: %1; trying again every second")
                           .arg(errorString()));
        acceptFailing_ = true;
        QTimer::singleShot(kRetryAcceptMs, this, [this]() { resumeAccepting(); });
    });
}

void TBoundedListener::incomingConnection(qintptr descriptor)
{
    acceptFailing_ = false;
    if (heads_.size() >= maxConnections_) {
        ::close(int(descriptor));
        ++refused_;
        return;
    }
    auto *socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        ::close(int(descriptor));
        delete socket;
        return;
    }
    Head &head = heads_[socket];
    head.Idle = new QTimer(socket);
    head.Idle->setSingleShot(true);
    connect(head.Idle, &QTimer::timeout, socket, [socket]() {
        socket->abort();
        socket->deleteLater();
    });
    head.Idle->start(idleMs_);
    // Connected before the HTTP server's own slot, so this one sees the
    // bytes first and can refuse them before they are parsed.
    connect(socket, &QTcpSocket::readyRead, this, [this, socket]() { received(socket); });
    connect(socket, &QObject::destroyed, this, [this, socket]() { heads_.remove(socket); });
    addPendingConnection(socket);
}

void TBoundedListener::received(QTcpSocket *socket)
{
    const auto it = heads_.find(socket);
    if (it == heads_.end())
        return;
    Head &head = *it;
    if (head.Refused) {
        socket->readAll();
        return;
    }
    const QByteArray fresh = socket->peek(socket->bytesAvailable());
    const QByteArray seen = head.Tail + fresh;
    const qsizetype end = seen.lastIndexOf(kEndOfHead);
    if (end >= 0) {
        // A head ended: what follows is the next request's (or a body).
        head.Bytes = seen.size() - end - kEndOfHead.size();
        head.Idle->start(idleMs_);
    } else {
        head.Bytes += fresh.size();
    }
    head.Tail = seen.right(kEndOfHead.size() - 1);
    if (head.Bytes > kMaxHeadBytes || socket->bytesToWrite() > kMaxUnsentBytes)
        refuse(socket, head);
}

// 431 and the connection closed once it is sent; what the client sends
// meanwhile is read and dropped, never parsed.
void TBoundedListener::refuse(QTcpSocket *socket, Head &head)
{
    head.Refused = true;
    socket->readAll();
    socket->write("HTTP/1.1 431 Request Header Fields Too Large\r\nConnection: close\r\nContent-Length: 0\r\n\r\n");
    socket->disconnectFromHost();
}
