#pragma once
// A serial port (or a pseudo-terminal) through QSerialPort, read and written
// by the rule of TIODeviceLine.
//
// The port is opened exclusively and in raw mode. Where Qt cannot express a
// setting the nearest sound behaviour is taken:
// - 1.5 stop bits exist on Windows only; elsewhere 2 stop bits are sent. A
//   receiver expecting 1.5 accepts 2, and receivers check only the first stop
//   bit, so the link keeps working.
// - DTR and RTS can be set only on a line that reports its modem lines;
//   a pseudo-terminal reports none (HasModemLines() false), and the requests
//   are not made there.
// - A parity or stop-bit setting left empty keeps what the port was opened
//   with: no parity, one stop bit.

#include "serial/iodeviceline.h"

#include <QSerialPort>
#include <QString>

class TSerialLine : public TIODeviceLine {
public:
    // path: "/dev/ttyS0", "/dev/pts/3", a symlink to one, or "COM1" on Windows.
    explicit TSerialLine(const QString &path);
    ~TSerialLine() override;

    bool Open() override;
    void Close() override;
    bool IsOpen() const override { return port_.isOpen(); }
    QString ErrorText() const override { return error_; }
    TPortFailure OpenFailure() const override { return failure_; }
    bool ApplyLineSettings(const LineSettings &settings) override;
    bool HasModemLines() const override;
    bool SetDtr(bool on) override;
    bool SetRts(bool on) override;

    QString Path() const { return path_; }

protected:
    QIODevice *Device() const override;
    bool Broken() const override;
    void ClearError() override;
    void DropPendingOutput() override;
    qint64 CharacterTimeNs() const override { return characterNs_; }

private:
    bool Refuse(const QString &what);

    QString path_;
    mutable QSerialPort port_;
    QString error_;
    TPortFailure failure_;
    bool closePosted_ = false;
    qint64 characterNs_ = 0; // from the settings applied last
};
