#pragma once
// Assembles frames from the bytes of the line as they come, in pieces of any
// size. A frame is complete when as many bytes as its length byte announces
// have arrived and both checksums hold. A bad header checksum or a bad
// payload checksum costs one byte: the receiver drops the first byte and
// looks for a frame from the next one, so garbage on the line is passed over
// and a good frame behind it is still found. A frame whose header promises
// more bytes than ever come would hold everything behind it up; the owner
// calls DropStale when the line has been quiet for a while, and the receiver
// then gives up on it the same way.

#include "protocol/frame.h"

#include <QByteArray>

class TFrameReceiver {
public:
    void Feed(const QByteArray &bytes);
    // The next complete frame, with its wire bytes; false when none is complete yet.
    bool Next(ProtocolFrame &frame, QByteArray *wire = nullptr);
    // Bytes are waiting that do not make a complete frame.
    bool HasPartial() const { return !buffer_.isEmpty(); }
    // Drops the first waiting byte (the line went quiet in the middle of a frame).
    void DropStale();
    void Clear() { buffer_.clear(); }
    // Bytes passed over since the last call.
    int TakeSkipped();

private:
    QByteArray buffer_;
    int skipped_ = 0;
};
