#include "protocol/frame.h"

#include "base/textutils.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr int kHeaderSize = kFrameHeaderSize;
constexpr int kChecksumSize = 4;

void putLE32(quint8 *at, quint32 value)
{
    for (int i = 0; i < 4; ++i)
        at[i] = quint8(value >> (8 * i));
}

quint32 getLE32(const quint8 *at)
{
    quint32 value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | at[i];
    return value;
}

int frameSizeFor(quint8 length)
{
    return length == 0 ? kHeaderSize : length + kHeaderSize + kChecksumSize;
}

} // namespace

QByteArray ProtocolFrame::Data() const
{
    if (Length <= 2)
        return QByteArray();
    return QByteArray(reinterpret_cast<const char *>(Payload.data()) + 2, Length - 2);
}

QByteArray ProtocolFrame::Text() const
{
    return TrimControls(Data());
}

quint32 FrameChecksum(const quint8 *buffer, int start, int count)
{
    if (!buffer || start < 0 || count <= 0 || start >= kFrameBufferSize)
        return 0;
    const int end = std::min(start + count, kFrameBufferSize);
    quint32 sum = 0;
    // Shifts of 0..24 keep every bit of a byte inside the 32-bit sum.
    for (int i = 0; start + i < end; ++i)
        sum ^= quint32(buffer[start + i]) << (i % 25);
    return sum;
}

ProtocolFrame MakeRequestFrame(quint8 sender, quint8 receiver, const QByteArray &text, bool *ok)
{
    const bool fits = text.size() <= kMaxRequestText;
    if (ok)
        *ok = fits;
    if (!fits)
        return ProtocolFrame();

    ProtocolFrame frame;
    frame.Sender = sender;
    frame.Receiver = receiver;
    frame.Length = quint8(text.size() + 2);
    // Payload bytes 0 and 1 (block number and payload kind) stay 0 in requests.
    std::memcpy(frame.Payload.data() + 2, text.constData(), size_t(text.size()));
    return frame;
}

ProtocolFrame MakeBlockFrame(quint8 sender, quint8 receiver, quint8 blockNumber, const QByteArray &data,
                             quint8 payloadKind)
{
    // Data beyond what one payload holds is cut off.
    const int n = int(std::min<qsizetype>(data.size(), kMaxRequestText));
    ProtocolFrame frame;
    frame.Sender = sender;
    frame.Receiver = receiver;
    frame.Length = quint8(n + 2);
    frame.Payload[0] = blockNumber;
    frame.Payload[1] = payloadKind;
    std::memcpy(frame.Payload.data() + 2, data.constData(), size_t(n));
    return frame;
}

QByteArray BuildFrame(const ProtocolFrame &frame)
{
    quint8 buffer[kFrameBufferSize] = {};
    buffer[0] = frame.Receiver;
    buffer[1] = frame.Sender;
    buffer[2] = frame.Length;
    putLE32(buffer + 3, FrameChecksum(buffer, 0, 3));
    if (frame.Length > 0) {
        std::memcpy(buffer + kHeaderSize, frame.Payload.data(), frame.Length);
        putLE32(buffer + kHeaderSize + frame.Length, FrameChecksum(buffer, kHeaderSize, frame.Length));
    }
    return QByteArray(reinterpret_cast<const char *>(buffer), frameSizeFor(frame.Length));
}

bool ParseFrame(const QByteArray &wire, ProtocolFrame &frame, bool *badChecksum)
{
    if (badChecksum)
        *badChecksum = false;

    // The bytes lie at the start of a zeroed receive buffer; anything past
    // the buffer was never read.
    quint8 buffer[kFrameBufferSize] = {};
    const int received = int(std::min<qsizetype>(wire.size(), kFrameBufferSize));
    if (received > 0)
        std::memcpy(buffer, wire.constData(), size_t(received));

    // A read shorter than the frame its header announces is a checksum
    // failure. The zeros of the buffer must not stand in for missing bytes:
    // three zero bytes alone would otherwise pass as a frame with L = 0.
    const quint8 length = buffer[2];
    const bool complete = received >= 3 && received >= frameSizeFor(length);
    bool good = complete && FrameChecksum(buffer, 0, 3) == getLE32(buffer + 3);
    if (good && length > 0)
        good = FrameChecksum(buffer, kHeaderSize, length) == getLE32(buffer + kHeaderSize + length);
    if (!good) {
        if (badChecksum)
            *badChecksum = true;
        return false;
    }

    frame = ProtocolFrame();
    frame.Sender = buffer[1];
    frame.Receiver = buffer[0];
    frame.Length = length;
    std::memcpy(frame.Payload.data(), buffer + kHeaderSize, length);
    return true;
}

int ExpectedFrameSize(const QByteArray &wireStart)
{
    if (wireStart.size() < 3)
        return 0;
    return frameSizeFor(quint8(wireStart.at(2)));
}

bool ParseFrameHeader(const quint8 *header, int &frameSize)
{
    frameSize = 0;
    if (!header || FrameChecksum(header, 0, 3) != getLE32(header + 3))
        return false;
    frameSize = frameSizeFor(header[2]);
    return true;
}

TextSegment ParseSegment(const QByteArray &segment)
{
    TextSegment out;
    const qsizetype eq = segment.indexOf('=');
    if (eq < 0) {
        out.Malformed = true;
        return out;
    }
    const qsizetype colon = segment.indexOf(':');
    if (colon >= 0) {
        // When "=" comes first the name keeps the "=" and so matches no variable.
        out.Name = TrimControls(segment.left(colon));
        if (eq > colon)
            out.Index = TrimControls(segment.mid(colon + 1, eq - colon - 1));
    } else {
        out.Name = TrimControls(segment.left(eq));
    }
    out.Value = TrimControls(segment.mid(eq + 1));
    return out;
}

QList<TextSegment> SplitReplyText(const QByteArray &text)
{
    QList<TextSegment> segments;
    const QByteArray t = TrimControls(text);
    qsizetype from = 0;
    for (qsizetype end = t.indexOf(';'); end >= 0; end = t.indexOf(';', from)) {
        segments.append(ParseSegment(t.mid(from, end - from)));
        from = end + 1;
    }
    return segments;
}

QByteArray VarReference(const QByteArray &name, const QByteArray &index)
{
    return index.isEmpty() ? name : name + ':' + index;
}

QByteArray ReadRequestText(const QByteArray &name, const QByteArray &index)
{
    return VarReference(name, index) + "=??;";
}

QByteArray WriteRequestText(const QByteArray &name, const QByteArray &index, const QByteArray &value)
{
    return VarReference(name, index) + '=' + value + ';';
}

QByteArray BlockCountRequestText(const QByteArray &name, const QByteArray &index)
{
    return VarReference(name, index) + "=??##;";
}

QByteArray BlockRequestText(const QByteArray &name, const QByteArray &index, int block)
{
    return VarReference(name, index) + "=??#" + QByteArray::number(block) + ';';
}
