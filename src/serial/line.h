#pragma once
// A byte line: what the channel reads and writes through. Implementations:
// the serial port, TCP to a serial device server ("socket://HOST:PORT"), and
// an in-memory line for tests.
//
// What a line holds of its input is bounded, as a serial driver's input queue
// is (kLineInputQueue): input that nobody reads waits in the operating
// system's own bounded buffers, so a babbling line can neither fill the memory
// nor leave a backlog that takes minutes to read through.

#include "serial/portfailure.h"

#include <QString>
#include <QtGlobal>
#include <optional>

// The read rule of the serial line, in milliseconds: a read of up to N bytes
// ends when N bytes have arrived, or when no byte has come for Interval after
// at least one byte (0: no interval limit), or when TotalMultiplier * N +
// TotalConstant have passed since the read began (both 0: no total limit),
// whichever comes first. Bytes that arrive later wait for the next read.
struct ReadTimeouts {
    quint32 Interval = 0;
    quint32 TotalMultiplier = 0;
    quint32 TotalConstant = 0;
};

enum class LineParity { None, Odd, Even, Mark, Space };
enum class LineStopBits { One, OneAndHalf, Two };

// Rate, character format and framing of a serial line. A setting left empty
// keeps what the line has.
struct LineSettings {
    quint32 Rate = 9600;
    int DataBits = 8;
    std::optional<LineParity> Parity;
    std::optional<LineStopBits> StopBits;
};

constexpr qint64 kLineInputQueue = 4096;

class TLine {
public:
    virtual ~TLine() = default;
    virtual bool Open() = 0;
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;
    // Why the last Open failed, for messages and logs.
    virtual QString ErrorText() const { return QString(); }
    // The same, sorted for the operator (no such device, permission denied,
    // in use, not a serial device); a line that cannot tell says Other.
    virtual TPortFailure OpenFailure() const
    {
        TPortFailure f;
        if (!IsOpen()) {
            f.Problem = TPortProblem::Other;
            f.Detail = ErrorText();
        }
        return f;
    }
    // Writes count bytes; written gets the count the line took.
    virtual bool Write(const quint8 *data, int count, int &written) = 0;
    // Reads up to capacity bytes by the rule of ReadTimeouts. True with count 0
    // when nothing arrived; false when the line failed.
    virtual bool Read(quint8 *buffer, int capacity, int &count, const ReadTimeouts &timeouts) = 0;
    // Reads up to capacity bytes more of what the last Read began: the total
    // time-out still runs from the start of that Read, and a pause longer than
    // the interval time-out after the last byte either of them took ends this
    // read, even before its first byte. A reply read as a frame's header and
    // then the rest the header announces therefore ends, times out and breaks
    // off where one read of the whole would, but each part ends as soon as its
    // bytes are there.
    virtual bool ReadMore(quint8 *buffer, int capacity, int &count) = 0;
    // Drops the input waiting on the line, and whatever follows it without a
    // pause longer than interval ms (the rest of a reply or of a burst of
    // noise still on its way), for at most limit ms. A quiet line costs no
    // time. The number of bytes dropped; -1 when the line failed.
    virtual qint64 DropInput(quint32 interval, qint64 limit) = 0;
    // Drops whatever arrives for the next ms milliseconds, quiet or not. The
    // number of bytes dropped; -1 when the line failed.
    virtual qint64 DropInputFor(qint64 ms) { return DropInput(0, ms); }

    // Line programming on an open line. A line without a rate of its own (a
    // TCP link to a device server, the in-memory line) accepts the settings
    // and changes nothing.
    virtual bool ApplyLineSettings(const LineSettings &) { return true; }
    // A write of N bytes may take Multiplier * N + Constant ms (both 0: no limit).
    virtual bool SetWriteTimeouts(quint32 multiplier, quint32 constant)
    {
        Q_UNUSED(multiplier);
        Q_UNUSED(constant);
        return true;
    }
    // Whether the line has modem control lines. Pseudo-terminals and sockets
    // have none, and DTR/RTS requests are not made on them.
    virtual bool HasModemLines() const { return false; }
    virtual bool SetDtr(bool on)
    {
        Q_UNUSED(on);
        return false;
    }
    virtual bool SetRts(bool on)
    {
        Q_UNUSED(on);
        return false;
    }
};
