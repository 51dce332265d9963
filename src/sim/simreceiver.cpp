#include "sim/simreceiver.h"

namespace {
constexpr int kHeaderSize = 7;

quint32 le32(const QByteArray &b, int at)
{
    quint32 v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | quint8(b[at + i]);
    return v;
}
} // namespace

void TFrameReceiver::Feed(const QByteArray &bytes)
{
    buffer_.append(bytes);
}

bool TFrameReceiver::Next(ProtocolFrame &frame, QByteArray *wire)
{
    while (buffer_.size() >= kHeaderSize) {
        const auto *head = reinterpret_cast<const quint8 *>(buffer_.constData());
        if (FrameChecksum(head, 0, 3) != le32(buffer_, 3)) {
            buffer_.remove(0, 1);
            ++skipped_;
            continue;
        }
        const int size = ExpectedFrameSize(buffer_);
        if (buffer_.size() < size)
            return false; // the rest of the frame is still on its way
        const QByteArray bytes = buffer_.left(size);
        if (!ParseFrame(bytes, frame)) {
            buffer_.remove(0, 1);
            ++skipped_;
            continue;
        }
        buffer_.remove(0, size);
        if (wire)
            *wire = bytes;
        return true;
    }
    return false;
}

void TFrameReceiver::DropStale()
{
    if (buffer_.isEmpty())
        return;
    buffer_.remove(0, 1);
    ++skipped_;
}

int TFrameReceiver::TakeSkipped()
{
    const int n = skipped_;
    skipped_ = 0;
    return n;
}
