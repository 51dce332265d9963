#pragma once
// TCP to a serial device server ("socket://HOST:PORT"): the server owns the
// serial port and its settings, so no line settings are applied here; reads
// follow the same time-out rule as on a serial port.

#include "serial/iodeviceline.h"

#include <QByteArray>
#include <QString>
#include <QTcpSocket>

class TTcpLine : public TIODeviceLine {
public:
    // How long Open waits for the connection.
    static constexpr int ConnectTimeoutMs = 3000;

    TTcpLine(const QString &host, quint16 port);
    ~TTcpLine() override;

    // "socket://HOST:PORT" (HOST may be "[v6 address]"); false for anything else.
    static bool ParseAddress(const QByteArray &portName, QString &host, quint16 &port);

    bool Open() override;
    void Close() override;
    bool IsOpen() const override;
    QString ErrorText() const override { return error_; }

protected:
    QIODevice *Device() const override;
    bool Broken() const override;
    // Unsent bytes cannot be taken back from a socket: the connection is
    // dropped instead, and later reads and writes fail.
    void DropPendingOutput() override;

private:
    QString host_;
    quint16 port_;
    mutable QTcpSocket socket_;
    QString error_;
};
