// Fuzz target: the frame parser and the reply text rules on arbitrary bytes.
// Besides looking for memory faults it checks what must always hold: a frame
// built from any payload parses back to the same payload, and the segment
// fields are trimmed and free of the separators that delimit them.

#include "protocol/frame.h"

#include <cstdint>
#include <cstdlib>

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

bool isTrimmed(const QByteArray &field)
{
    return field.isEmpty() || (quint8(field.front()) > 32 && quint8(field.back()) > 32);
}

void checkSegments(const QByteArray &text)
{
    for (const TextSegment &s : SplitReplyText(text)) {
        check(!s.Name.contains(';') && !s.Index.contains(';') && !s.Value.contains(';'));
        if (s.Malformed) {
            check(s.Name.isEmpty() && s.Index.isEmpty() && s.Value.isEmpty());
            continue;
        }
        check(isTrimmed(s.Name) && isTrimmed(s.Index) && isTrimmed(s.Value));
        check(!s.Index.contains('='));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));

    // The bytes as one read from the line.
    ProtocolFrame frame;
    bool bad = false;
    if (ParseFrame(bytes, frame, &bad)) {
        check(!bad);
        check(size >= size_t(ExpectedFrameSize(bytes)));
        check(BuildFrame(frame) == bytes.left(ExpectedFrameSize(bytes)));
        checkSegments(frame.Text());
        check(frame.Data().size() == qMax(0, frame.Length - 2));
    } else {
        check(bad);
    }

    // The bytes as a reply text.
    checkSegments(bytes);
    ParseSegment(bytes);

    // The bytes as the payload of a correct frame: the checksums never stand
    // in the way here, so the text rules see every input.
    const quint8 receiver = size > 0 ? data[0] : 0;
    const QByteArray payload = bytes.left(kMaxPayload);
    ProtocolFrame built;
    built.Sender = 1;
    built.Receiver = receiver;
    built.Length = quint8(payload.size());
    std::copy(payload.begin(), payload.end(), built.Payload.begin());
    const QByteArray wire = BuildFrame(built);
    check(wire.size() == (payload.isEmpty() ? 7 : payload.size() + 11));
    ProtocolFrame parsed;
    check(ParseFrame(wire, parsed));
    check(parsed.Receiver == receiver && parsed.Sender == 1 && parsed.Length == built.Length);
    check(parsed.Payload == built.Payload);
    // Any cut of a correct frame is a checksum failure.
    if (size > 1) {
        bad = false;
        check(!ParseFrame(wire.left(data[1] % wire.size()), parsed, &bad) && bad);
    }
    checkSegments(parsed.Text());

    // Requests from the bytes as a value: refused exactly when they do not fit.
    bool ok = false;
    const QByteArray request = WriteRequestText("NAME", "0", bytes);
    const ProtocolFrame req = MakeRequestFrame(0, 1, request, &ok);
    check(ok == (request.size() <= kMaxRequestText));
    if (ok)
        check(req.Length == request.size() + 2);

    // The checksum over any window of a frame buffer.
    if (size >= 2) {
        quint8 buffer[kFrameBufferSize] = {};
        std::copy(data, data + qMin<size_t>(size, kFrameBufferSize), buffer);
        FrameChecksum(buffer, data[0] + data[1] / 8, data[1]);
    }
    return 0;
}
