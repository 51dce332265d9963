#pragma once
// The read rule and the timed write over a blocking QIODevice, shared by the
// serial port and the TCP line.
//
// Qt has no interval time-out, so a read runs a deadline loop: it takes what
// the device has buffered, then waits for more with the time left until the
// nearer of two deadlines: the total time-out (multiplier x N + constant ms
// from the start of the read) and, once a byte has come, the interval
// time-out (ms since the last bytes came). Once a read's first bytes are in,
// a line that knows its rate sleeps for the wire time of the bytes the read
// still owes and then takes what came, instead of waking for every byte a
// paced line delivers; a sleep that brought nothing (bytes held back by an
// adapter, a sender that stalled) goes back to waiting for input, and the
// time-outs bound both. Bytes beyond the capacity stay in
// the device's buffer for the next read; only DropInput discards them. The
// device's own buffer is bounded (kLineInputQueue) by the lines.

#include "serial/line.h"

#include <QElapsedTimer>

class QIODevice;

class TIODeviceLine : public TLine {
public:
    bool Write(const quint8 *data, int count, int &written) override;
    bool Read(quint8 *buffer, int capacity, int &count, const ReadTimeouts &timeouts) override;
    bool ReadMore(quint8 *buffer, int capacity, int &count) override;
    qint64 DropInput(quint32 interval, qint64 limit) override;
    qint64 DropInputFor(qint64 ms) override;
    bool SetWriteTimeouts(quint32 multiplier, quint32 constant) override;

    // Bytes read from the device and not yet taken (at most kLineInputQueue).
    qint64 BufferedInput() const;
    // The time one character of these settings takes on the wire, in ns: a
    // start bit, the data bits, the parity bit and the stop bits (1.5 as 2).
    static qint64 CharacterNs(const LineSettings &settings);

protected:
    // The open device, or null.
    virtual QIODevice *Device() const = 0;
    // Whether the line failed for good (device gone, connection closed), as
    // opposed to a wait that merely timed out.
    virtual bool Broken() const = 0;
    // Forgets any error left from an earlier wait.
    virtual void ClearError() {}
    // Drops output that the write time-out left unsent, so that it cannot go
    // out later, behind the caller's back.
    virtual void DropPendingOutput() = 0;
    // The time one character takes on the wire in ns; 0 when the rate is not
    // known, and reads then wait for input only.
    virtual qint64 CharacterTimeNs() const { return 0; }

private:
    bool readPart(quint8 *buffer, int capacity, int &count);
    // Drops input for at most limit ms; with quietEnds, as DropInput: a
    // quiet line ends it at once, and a pause of interval after bytes ends
    // it; without, the whole limit passes.
    qint64 drop(quint32 interval, qint64 limit, bool quietEnds);

    quint32 writeMultiplier_ = 0;
    quint32 writeConstant_ = 0;
    // The read under way, for ReadMore: when it began, its total limit in ms
    // (-1: none), its interval time-out, and when its last byte came.
    QElapsedTimer sinceStart_;
    qint64 total_ = -1;
    quint32 interval_ = 0;
    QElapsedTimer sinceBytes_;
};
