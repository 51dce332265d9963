#pragma once
// How the emulated installation answers one request frame: what it replies,
// what goes wrong on cue, and what the log says about it. No I/O: the result
// is a list of byte chunks with the quiet time before each, for the line to
// send, and the log lines.
//
// Requests are frames from station 0 to the installation's device number with
// the text NAME[:INDEX]=VALUE; (several segments may share one frame and are
// answered together). VALUE "??" reads, "??##" asks for the block count of a
// spectrum, "??#j" for its block j, anything else writes. Frames for other
// stations or from another station than 0 get no reply; a request in which
// no segment has "=" gets none either. A reply text longer than a frame holds
// loses the segments that do not fit.

#include "protocol/frame.h"
#include "sim/simfaults.h"
#include "sim/siminstrument.h"

#include <QByteArray>
#include <QList>

struct TSimChunk {
    // Quiet time before its first byte, counted from when the line is free
    // (the end of the chunk before it: the second part of a split reply) or,
    // with FromRequest, from when the request came: a reply that falls due
    // while an earlier one is still going out then follows it at once
    // instead of adding its delay to the earlier one's.
    qint64 DelayMs = 0;
    QByteArray Bytes;
    QList<QByteArray> LogLines;  // logged once its last byte has gone out
    bool FromRequest = false;
};

struct TSimExchange {
    QList<QByteArray> Notes;  // logged at once: the request, faults, what was ignored
    QList<TSimChunk> Output;
};

class TSimResponder {
public:
    TSimResponder(TSimInstrument &instrument, quint8 device, const TSimFaultSchedule &faults = {});

    TSimExchange Handle(const ProtocolFrame &request);
    // Requests counted so far (the faults' request numbers).
    int RequestCount() const { return requests_; }
    quint8 Device() const { return device_; }
    // Quiet time before every reply, in ms (a slow installation).
    void SetReplyDelay(int ms) { replyDelay_ = ms; }

    // A log line's text: control bytes become \xNN, so a line stays one line.
    static QByteArray Printable(const QByteArray &text);
    // The noise sent before a reply by the garbage fault.
    static QByteArray GarbageBytes(int count);

private:
    struct Reply {
        bool none = true;
        bool block = false;
        QByteArray text;
        quint8 blockNumber = 0;
        quint8 payloadKind = 1;
        QByteArray data;
    };
    Reply compose(const QByteArray &text, const QList<TSimFault> &faults);
    QByteArray answerSegment(const TextSegment &segment, bool countToZero);

    TSimInstrument &instrument_;
    quint8 device_;
    TSimFaultSchedule faults_;
    int requests_ = 0;
    int replyDelay_ = 0;
};
