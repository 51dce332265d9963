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
    // The server's serial line has these settings: nothing is changed, but
    // reads know how fast the bytes of a frame come through.
    bool ApplyLineSettings(const LineSettings &settings) override
    {
        characterNs_ = CharacterNs(settings);
        return true;
    }

protected:
    QIODevice *Device() const override;
    bool Broken() const override;
    // Unsent bytes cannot be taken back from a socket: the connection is
    // dropped instead, and later reads and writes fail.
    void DropPendingOutput() override;
    qint64 CharacterTimeNs() const override { return characterNs_; }

private:
    QString host_;
    quint16 port_;
    mutable QTcpSocket socket_;
    QString error_;
    qint64 characterNs_ = 0;
};
