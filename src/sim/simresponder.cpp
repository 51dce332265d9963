#include "sim/simresponder.h"

#include "base/textutils.h"
#include "sim/simrandom.h"

#include <algorithm>

namespace {

bool hasFault(const QList<TSimFault> &faults, TSimFaultKind kind, TSimFault *found = nullptr)
{
    for (const TSimFault &f : faults)
        if (f.Kind == kind) {
            if (found)
                *found = f;
            return true;
        }
    return false;
}

// "??#j" with j a decimal number: the block number, else 0.
int blockRequestNumber(const QByteArray &value)
{
    if (!value.startsWith("??#") || value == "??##")
        return -1;
    const QByteArray digits = value.mid(3);
    if (digits.isEmpty() || digits.size() > 9)
        return 0;
    for (char c : digits)
        if (c < '0' || c > '9')
            return 0;
    return digits.toInt();
}

} // namespace

TSimResponder::TSimResponder(TSimInstrument &instrument, quint8 device, const TSimFaultSchedule &faults)
    : instrument_(instrument), device_(device), faults_(faults)
{
}

QByteArray TSimResponder::Printable(const QByteArray &text)
{
    QByteArray out;
    out.reserve(text.size());
    for (char c : text) {
        const quint8 b = quint8(c);
        if (b < 32 || b == 127 || c == '\\')
            out += "\\x" + ByteToHex(b, true);
        else
            out += c;
    }
    return out;
}

QByteArray TSimResponder::GarbageBytes(int count)
{
    QByteArray out;
    for (int i = 0; i < count; ++i)
        out += char(quint8(SimHash(kStreamGarbage, quint64(i))));
    return out;
}

QByteArray TSimResponder::answerSegment(const TextSegment &segment, bool countToZero)
{
    const QByteArray &v = segment.Value;
    const bool indexed = !segment.Index.isEmpty();
    TSimAnswer answer;
    if (v == "??") {
        answer = indexed ? instrument_.ReadRecord(segment.Name, segment.Index) : instrument_.Read(segment.Name);
    } else if (v == "??##") {
        if (!indexed)
            answer = instrument_.BlockCount(segment.Name);
        if (answer.Known && countToZero)
            answer.Value = "##0";
    } else if (v.startsWith("??#")) {
        // A block travels alone; within a text reply it has no value.
    } else if (!indexed) {
        answer = instrument_.Write(segment.Name, v);
    }
    return VarReference(segment.Name, segment.Index) + '=' + (answer.Known ? answer.Value : QByteArray("@@")) + ';';
}

TSimResponder::Reply TSimResponder::compose(const QByteArray &text, const QList<TSimFault> &faults)
{
    Reply reply;
    QList<TextSegment> segments = SplitReplyText(text);
    segments.removeIf([](const TextSegment &s) { return s.Malformed; });
    if (segments.isEmpty())
        return reply;
    reply.none = false;

    const TextSegment &first = segments.first();
    const int j = blockRequestNumber(first.Value);
    if (j >= 0 && first.Index.isEmpty() && instrument_.IsBlockVariable(first.Name)) {
        const TSimAnswer count = instrument_.BlockCount(first.Name);
        const int n = count.Known ? count.Value.mid(2).toInt() : 0;
        if (j >= 1 && j <= n) {
            reply.block = true;
            reply.blockNumber = quint8(j);
            if (hasFault(faults, TSimFaultKind::WrongBlock))
                reply.blockNumber = quint8(j + 1);
            TSimFault kind;
            if (hasFault(faults, TSimFaultKind::WrongKind, &kind))
                reply.payloadKind = quint8(kind.Arg >= 0 ? kind.Arg : 2);
            reply.data = instrument_.Block(first.Name, j);
            return reply;
        }
        reply.text = VarReference(first.Name, first.Index) + "=@@;";
        return reply;
    }

    const bool countToZero = hasFault(faults, TSimFaultKind::BlockCount0);
    for (const TextSegment &segment : segments) {
        const QByteArray part = answerSegment(segment, countToZero);
        if (reply.text.size() + part.size() > kMaxRequestText)
            break;
        reply.text += part;
    }
    if (reply.text.isEmpty()) // even the first answer does not fit a frame
        reply.text = "@@;";
    return reply;
}

TSimExchange TSimResponder::Handle(const ProtocolFrame &request)
{
    TSimExchange ex;
    if (request.Receiver != device_) {
        ex.Notes << "!! frame for station " + QByteArray::number(request.Receiver) + " ignored";
        return ex;
    }
    if (request.Sender != 0) {
        ex.Notes << "!! frame from station " + QByteArray::number(request.Sender) + " ignored";
        return ex;
    }
    const int n = ++requests_;
    const QByteArray text = request.Text();
    ex.Notes << "<- " + Printable(text);

    const QList<TSimFault> faults = faults_.For(n);
    for (const TSimFault &f : faults)
        ex.Notes << "!! fault " + TSimFaultSchedule::KindName(f.Kind).toLatin1() + " on request "
                        + QByteArray::number(n);

    const Reply reply = compose(text, faults);
    if (reply.none) {
        ex.Notes << "!! request not understood, no reply";
        return ex;
    }
    if (hasFault(faults, TSimFaultKind::Silent))
        return ex;

    ProtocolFrame frame = reply.block
                              ? MakeBlockFrame(device_, 0, reply.blockNumber, reply.data, reply.payloadKind)
                              : MakeRequestFrame(device_, 0, reply.text);
    QByteArray logLine;
    if (reply.block) {
        const QByteArray hex = BytesToHex(frame.Payload.data(), frame.Length);
        logLine = "-> " + hex.trimmed();
    } else {
        logLine = "-> " + Printable(reply.text);
    }

    TSimFault f;
    if (hasFault(faults, TSimFaultKind::WrongSender, &f))
        frame.Sender = quint8(f.Arg >= 0 ? f.Arg : device_ + 1);
    if (hasFault(faults, TSimFaultKind::WrongReceiver, &f))
        frame.Receiver = quint8(f.Arg >= 0 ? f.Arg : device_);
    QByteArray wire = BuildFrame(frame);
    if (hasFault(faults, TSimFaultKind::BadHeader))
        wire[3] = char(wire[3] ^ 0x01);
    if (hasFault(faults, TSimFaultKind::BadPayload) && wire.size() > 7)
        wire[wire.size() - 4] = char(wire[wire.size() - 4] ^ 0x01);

    if (hasFault(faults, TSimFaultKind::Cut, &f))
        wire.chop(std::min<qsizetype>(f.Arg >= 0 ? f.Arg : 1, wire.size()));
    QByteArray body = wire;
    QList<QByteArray> lines{logLine};
    if (hasFault(faults, TSimFaultKind::Double)) {
        body += wire;
        lines << logLine;
    }
    int garbage = 0;
    qint64 delay = replyDelay_;
    for (const TSimFault &g : faults) {
        if (g.Kind == TSimFaultKind::Garbage)
            garbage += g.Arg >= 0 ? g.Arg : 4;
        if (g.Kind == TSimFaultKind::Delay)
            delay += g.Arg;
    }
    body.prepend(GarbageBytes(garbage));

    if (hasFault(faults, TSimFaultKind::Split, &f)) {
        const int at = f.Arg2 >= 0 ? std::min<int>(f.Arg2, int(body.size())) : int(body.size() / 2);
        TSimChunk head{delay, body.left(at), {}, true};
        TSimChunk tail{f.Arg, body.mid(at), lines};
        ex.Output << head << tail;
    } else {
        ex.Output << TSimChunk{delay, body, lines, true};
    }
    return ex;
}
