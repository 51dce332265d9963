#pragma once
// The port: opens the line named by the settings and programs it (rate,
// character format, time-outs, DTR/RTS), and holds the open line that the
// channel reads and writes through.
//
// Port names: "COMn" is the n-th serial port ("/dev/ttyS<n-1>" on Linux, the
// name itself on Windows); a name starting with "/" is a device path used as
// given (a pseudo-terminal, a symlink, "/dev/ttyUSB0"); "socket://HOST:PORT"
// is TCP to a serial device server, which has no line settings of its own
// (the read time-outs still apply).

#include "serial/comsettings.h"
#include "serial/line.h"

#include <QByteArray>
#include <QString>
#include <exception>
#include <functional>
#include <memory>
#include <optional>

// The port cannot be opened or programmed; raised and caught inside OpenPort.
class ECantOpenPort : public std::exception {
public:
    const char *what() const noexcept override { return ""; }
};

// The platform's time-out record, in milliseconds (multipliers per byte).
struct TComTimeouts {
    quint32 ReadIntervalTimeout = 0;
    quint32 ReadTotalTimeoutMultiplier = 0;
    quint32 ReadTotalTimeoutConstant = 0;
    quint32 WriteTotalTimeoutMultiplier = 0;
    quint32 WriteTotalTimeoutConstant = 0;

    bool operator==(const TComTimeouts &) const = default;
};

class TComProperties {
public:
    using LineFactory = std::function<std::unique_ptr<TLine>(const TComSettings &)>;

    TComProperties();
    ~TComProperties();
    TComProperties(const TComProperties &) = delete;
    TComProperties &operator=(const TComProperties &) = delete;

    // Copies the settings, then OpenPort. Afterwards Opened tells the result.
    void ApplySettings(const TComSettings &settings);
    // (Re)opens and programs the line; a failure ends in Opened false and
    // never escapes.
    void OpenPort();
    // Releases the line. Opened does not change.
    void ClosePort();
    // Computes Timeouts from CharTime, the reply-delay choice and the write
    // time-outs; always true.
    bool CalcTimeouts();
    // Hands the time-outs to the line: false when not opened, true at once
    // when they were already handed over since the open began.
    bool SetTimeouts();

    // The open line, or null.
    TLine *Line() const { return Handle.get(); }
    // The read part of Timeouts, as every read takes it.
    ReadTimeouts LineReadTimeouts() const;
    // Why the last open failed (empty after a success).
    QString ErrorText() const { return errorText_; }
    // The same, sorted for the operator (Problem None after a success).
    TPortFailure Failure() const { return failure_; }

    // Replaces the line chosen by the port name (tests, tools); null restores it.
    void SetLineFactory(LineFactory factory);

    // --- the rules, for reuse and tests --------------------------------------
    // The whole number before the first blank of a rate text ("9600 baud" ->
    // 9600); empty unless it is a positive 32-bit number.
    static std::optional<quint32> ParseRate(const QByteArray &transferRate);
    // Milliseconds per character of ten bits: 1000 / (rate / 10) rounded to
    // the nearest integer, halves to the even one, at least 1.
    static qint32 CalcCharTime(quint32 rate);
    // The time-out record for character time T: read interval 20 x T on the NT
    // family (40 x T elsewhere); read total by the reply-delay choice; write
    // total as given.
    static TComTimeouts ComputeTimeouts(qint32 charTime, const QByteArray &latencyPeriod,
                                        bool ntFamily, qint32 writeMultiplier,
                                        qint32 writeConstant);
    // The line a port name selects; null for a name that names no line.
    static std::unique_ptr<TLine> MakeLine(const TComSettings &settings);
    // "COM3" -> "/dev/ttyS2" on Linux; other names unchanged.
    static QString DevicePath(const QByteArray &portName);

    // --- state, as the channel and tests see it ------------------------------
    std::unique_ptr<TLine> Handle;
    TComTimeouts Timeouts;
    // The settings as ApplySettings took them: the port is opened and
    // programmed from this copy, whatever the window holds meanwhile.
    TComSettings Settings;
    bool Opened = false;
    quint8 TimeoutsState = 4; // 4: not handed to the line since the open began; 1: handed
    qint32 CharTime = 0;

private:
    void DoOpen();

    LineFactory factory_;
    QString errorText_;
    TPortFailure failure_;
};
