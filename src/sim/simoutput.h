#pragma once
// The installation's transmitter: sends the chunks of the replies in order and,
// at a given rate, paces them as a serial line would: ten bits per byte, so
// byte i of a chunk has left the line (i + 1) x 10 / rate seconds after the
// chunk began. A chunk begins when its reply was ready and the line is free,
// after the chunk's quiet time (see TSimChunk::FromRequest). Times are absolute, so late wake-ups never
// add up to a slower line. No I/O: the owner asks what is due and writes it.

#include "sim/simresponder.h"

#include <QByteArray>
#include <QList>

class TSimOutput {
public:
    explicit TSimOutput(int baud = 0) { SetBaud(baud); }
    // 0: no pacing, every chunk goes out whole when it begins.
    void SetBaud(int baud);
    qint64 ByteTimeNs() const { return byteNs_; }

    void Enqueue(const QList<TSimChunk> &chunks, qint64 nowNs);
    // The bytes due by now; the log lines of the chunks they complete go to finished.
    QByteArray TakeDue(qint64 nowNs, QList<QByteArray> *finished = nullptr);
    // When the next byte falls due; -1 when nothing waits.
    qint64 NextDueNs() const;
    bool IsIdle() const { return queue_.isEmpty(); }
    void Clear();

private:
    struct Item {
        TSimChunk chunk;
        qint64 readyNs = 0;
    };
    void startHead();

    qint64 byteNs_ = 0;
    QList<Item> queue_;
    qint64 headStartNs_ = 0; // when the head chunk's first byte slot began
    int headSent_ = 0;
    qint64 lineFreeNs_ = 0;
};
