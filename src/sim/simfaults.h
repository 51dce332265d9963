#pragma once
// Faults on cue: what the emulated installation does wrong, and on which of
// the requests it receives. Requests are counted from 1 in the order they
// arrive; only requests addressed to the installation from station 0 count.
//
// A schedule entry is WHEN:KIND[:ARG[:ARG2]], WHEN one request number N, a
// range N-M, an open range N- (from N on) or a comma list of those.

#include <QList>
#include <QString>
#include <QtGlobal>

enum class TSimFaultKind {
    Silent,        // no reply at all
    BadHeader,     // header checksum spoilt
    BadPayload,    // payload checksum spoilt
    WrongSender,   // ARG: sender address (default device + 1)
    WrongReceiver, // ARG: receiver address (default the device number)
    Split,         // ARG ms gap between two writes; ARG2 bytes in the first (default half)
    Double,        // the reply twice, back to back
    Garbage,       // ARG bytes of noise before the reply (default 4)
    Delay,         // ARG ms before the reply
    BlockCount0,   // the block count reply says ##0
    WrongBlock,    // a block reply numbered one too high
    WrongKind,     // a block reply of payload kind ARG (default 2)
    Cut,           // the last ARG bytes of the reply are not sent (default 1)
};

struct TSimFault {
    TSimFaultKind Kind = TSimFaultKind::Silent;
    int Arg = -1;  // -1: the kind's default
    int Arg2 = -1;
};

struct TSimFaultRange {
    int First = 1;
    int Last = 1; // -1: no end
};

struct TSimFaultEntry {
    QList<TSimFaultRange> When;
    TSimFault Fault;
};

class TSimFaultSchedule {
public:
    // Parses one entry; false with the reason when it is not one.
    static bool Parse(const QString &text, TSimFaultEntry &entry, QString *error);
    static QString KindName(TSimFaultKind kind);

    bool Add(const QString &text, QString *error);
    void Add(const TSimFaultEntry &entry) { entries_.append(entry); }
    // The faults for request n (from 1), in the order they were given.
    QList<TSimFault> For(int request) const;
    bool IsEmpty() const { return entries_.isEmpty(); }

private:
    QList<TSimFaultEntry> entries_;
};
