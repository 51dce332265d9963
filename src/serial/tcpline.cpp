#include "serial/tcpline.h"

#include <QUrl>

TTcpLine::TTcpLine(const QString &host, quint16 port) : host_(host), port_(port)
{
    // Like a serial driver's input queue: what nobody reads waits in the
    // system's socket buffer, and TCP holds the sender back.
    socket_.setReadBufferSize(kLineInputQueue);
}

TTcpLine::~TTcpLine()
{
    Close();
}

bool TTcpLine::ParseAddress(const QByteArray &portName, QString &host, quint16 &port)
{
    if (!portName.startsWith("socket://"))
        return false;
    const QUrl url(QString::fromLatin1(portName), QUrl::StrictMode);
    if (!url.isValid() || url.scheme() != QLatin1String("socket") || url.host().isEmpty()
        || !url.userInfo().isEmpty() || url.hasQuery() || url.hasFragment()
        || !(url.path().isEmpty() || url.path() == QLatin1String("/")))
        return false;
    const int p = url.port(-1);
    if (p < 1 || p > 65535)
        return false;
    host = url.host();
    port = quint16(p);
    return true;
}

bool TTcpLine::Open()
{
    error_.clear();
    if (IsOpen())
        return true;
    socket_.abort();
    socket_.connectToHost(host_, port_);
    if (!socket_.waitForConnected(ConnectTimeoutMs)) {
        error_ = QStringLiteral("%1:%2: %3").arg(host_).arg(port_).arg(socket_.errorString());
        socket_.abort();
        return false;
    }
    // Frames are small and each one is waited for: send them at once.
    socket_.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    return true;
}

void TTcpLine::Close()
{
    if (socket_.state() != QAbstractSocket::UnconnectedState || socket_.isOpen())
        socket_.abort();
}

bool TTcpLine::IsOpen() const
{
    return socket_.state() == QAbstractSocket::ConnectedState;
}

QIODevice *TTcpLine::Device() const
{
    return &socket_;
}

bool TTcpLine::Broken() const
{
    return socket_.state() != QAbstractSocket::ConnectedState;
}

void TTcpLine::DropPendingOutput()
{
    socket_.abort();
}
