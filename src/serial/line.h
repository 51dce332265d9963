#pragma once
// A byte line: what the channel reads and writes through. Implementations:
// the serial port, TCP to a serial device server ("socket://HOST:PORT"), and
// an in-memory line for tests.

#include <QString>
#include <QtGlobal>

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

class TLine {
public:
    virtual ~TLine() = default;
    virtual bool Open() = 0;
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;
    // Why the last Open failed, for messages and logs.
    virtual QString ErrorText() const { return QString(); }
    // Writes count bytes; written gets the count the line took.
    virtual bool Write(const quint8 *data, int count, int &written) = 0;
    // Reads up to capacity bytes by the rule of ReadTimeouts. True with count 0
    // when nothing arrived; false when the line failed.
    virtual bool Read(quint8 *buffer, int capacity, int &count, const ReadTimeouts &timeouts) = 0;
};
