#include "serial/serialline.h"

#include <limits>

#ifdef Q_OS_UNIX
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#endif

TSerialLine::TSerialLine(const QString &path) : path_(path)
{
    port_.setPortName(path);
    // A serial driver's input queue holds a few KiB; so does the port object.
    // While nothing reads (the window between exchanges), a babbling line
    // then fills this much and no more, and the rest waits in the system's
    // own bounded buffer until the next exchange drops it.
    port_.setReadBufferSize(kLineInputQueue);
    // A device that is gone (an unplugged adapter, a pseudo-terminal whose
    // far end hung up) keeps signalling input that fails to read, and the
    // event loop would spin on it. The port is closed instead; later reads
    // and writes fail until the channel is opened again.
    //
    // The close cannot happen inside the port's own signal, so it is posted;
    // but the signal itself is taken directly. Every wait that times out
    // signals an error too, and a process without an event loop (kvarnctl)
    // would keep every queued emission for ever. Here only a failure posts
    // anything, and at most one close is ever waiting.
    QObject::connect(
        &port_, &QSerialPort::errorOccurred, &port_,
        [this](QSerialPort::SerialPortError e) {
            if ((e != QSerialPort::ResourceError && e != QSerialPort::ReadError) || closePosted_)
                return;
            closePosted_ = true;
            QMetaObject::invokeMethod(
                &port_,
                [this] {
                    closePosted_ = false;
                    if (port_.isOpen())
                        port_.close();
                },
                Qt::QueuedConnection);
        },
        Qt::DirectConnection);
}

TSerialLine::~TSerialLine()
{
    Close();
}

bool TSerialLine::Refuse(const QString &what)
{
    error_ = QStringLiteral("%1: %2 (%3)").arg(path_, what, port_.errorString());
    return false;
}

bool TSerialLine::Open()
{
    error_.clear();
    failure_ = TPortFailure();
    if (port_.isOpen())
        return true;
    // A fresh port object per line: raw mode, 8 data bits, no parity, one
    // stop bit, no flow control; exclusive (QSerialPort locks the port).
    port_.setFlowControl(QSerialPort::NoFlowControl);
    if (!port_.open(QIODevice::ReadWrite)) {
        // Qt's error tells a refusal from a missing device only roughly; the
        // path itself says which it was. Where it shows nothing wrong, Qt's
        // permission error can only be the lock of another program.
        const QSerialPort::SerialPortError qtError = port_.error();
        failure_ = DiagnosePort(path_);
        if (!failure_.Failed()) {
            failure_.Problem = qtError == QSerialPort::PermissionError ? TPortProblem::InUse : TPortProblem::Other;
            failure_.Detail = port_.errorString();
        }
        error_ = QStringLiteral("%1: %2").arg(path_, failure_.Reason());
        return false;
    }
#ifdef Q_OS_UNIX
    // QSerialPort's lock file is named after the path, so a symlink escapes
    // it, and the kernel's exclusive mode does not bind root. A lock on the
    // device itself holds for every path and every user.
    if (::flock(int(port_.handle()), LOCK_EX | LOCK_NB) != 0) {
        port_.close();
        failure_ = TPortFailure::Of(TPortProblem::InUse, path_);
        error_ = QStringLiteral("%1: %2").arg(path_, failure_.Reason());
        return false;
    }
#endif
    return true;
}

void TSerialLine::Close()
{
    characterNs_ = 0;
    if (port_.isOpen())
        port_.close();
}

bool TSerialLine::ApplyLineSettings(const LineSettings &s)
{
    if (!port_.isOpen())
        return Refuse(QStringLiteral("not open"));
    if (s.Rate == 0 || s.Rate > quint32(std::numeric_limits<qint32>::max()))
        return Refuse(QStringLiteral("rate out of range"));
    if (!port_.setBaudRate(qint32(s.Rate)))
        return Refuse(QStringLiteral("rate %1 refused").arg(s.Rate));
    if (s.DataBits < 5 || s.DataBits > 8 || !port_.setDataBits(QSerialPort::DataBits(s.DataBits)))
        return Refuse(QStringLiteral("data bits refused"));
    if (s.Parity) {
        QSerialPort::Parity p = QSerialPort::NoParity;
        switch (*s.Parity) {
        case LineParity::None: p = QSerialPort::NoParity; break;
        case LineParity::Odd: p = QSerialPort::OddParity; break;
        case LineParity::Even: p = QSerialPort::EvenParity; break;
        case LineParity::Mark: p = QSerialPort::MarkParity; break;
        case LineParity::Space: p = QSerialPort::SpaceParity; break;
        }
        if (!port_.setParity(p))
            return Refuse(QStringLiteral("parity refused"));
    }
    if (s.StopBits) {
        QSerialPort::StopBits b = QSerialPort::OneStop;
        switch (*s.StopBits) {
        case LineStopBits::One: b = QSerialPort::OneStop; break;
#ifdef Q_OS_WIN
        case LineStopBits::OneAndHalf: b = QSerialPort::OneAndHalfStop; break;
#else
        case LineStopBits::OneAndHalf: b = QSerialPort::TwoStop; break; // see the header
#endif
        case LineStopBits::Two: b = QSerialPort::TwoStop; break;
        }
        if (!port_.setStopBits(b))
            return Refuse(QStringLiteral("stop bits refused"));
    }
    characterNs_ = CharacterNs(s);
    return true;
}

bool TSerialLine::HasModemLines() const
{
    if (!port_.isOpen())
        return false;
#ifdef Q_OS_UNIX
    // A pseudo-terminal has no modem control lines and refuses to report them.
    int bits = 0;
    return ::ioctl(int(port_.handle()), TIOCMGET, &bits) == 0;
#else
    return true;
#endif
}

bool TSerialLine::SetDtr(bool on)
{
    return port_.setDataTerminalReady(on) || Refuse(QStringLiteral("DTR refused"));
}

bool TSerialLine::SetRts(bool on)
{
    return port_.setRequestToSend(on) || Refuse(QStringLiteral("RTS refused"));
}

QIODevice *TSerialLine::Device() const
{
    return &port_;
}

bool TSerialLine::Broken() const
{
    const QSerialPort::SerialPortError e = port_.error();
    return e != QSerialPort::NoError && e != QSerialPort::TimeoutError;
}

void TSerialLine::ClearError()
{
    port_.clearError();
}

void TSerialLine::DropPendingOutput()
{
    port_.clear(QSerialPort::Output);
}
