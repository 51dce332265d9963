#pragma once
// The wire frame of the open protocol and the text its payload carries.
// Pure functions: no I/O, no state.
//
//   0 receiver | 1 sender | 2 L | 3..6 header checksum | 7.. L payload bytes |
//   payload checksum (4 bytes, only when L > 0)
//
// Multi-byte numbers are little-endian. A frame is 7 bytes when L is 0 and
// L + 11 otherwise, 266 at most.

#include <QByteArray>
#include <QList>
#include <QtGlobal>
#include <array>

constexpr int kFrameBufferSize = 266; // largest frame and the receive buffer
constexpr int kFrameHeaderSize = 7;   // receiver, sender, L, header checksum
constexpr int kMaxPayload = 255;
constexpr int kMaxRequestText = kMaxPayload - 2; // 253

struct ProtocolFrame {
    quint8 Sender = 0;   // wire offset 1
    quint8 Receiver = 0; // wire offset 0
    quint8 Length = 0;   // payload bytes
    std::array<quint8, kMaxPayload> Payload{};

    quint8 BlockNumber() const { return Payload[0]; }
    quint8 PayloadKind() const { return Payload[1]; }
    // Payload bytes 2 .. Length-1 as they are (block data, or the raw text).
    QByteArray Data() const;
    // The reply text: payload from byte 2, Length - 2 characters, trimmed of
    // characters with codes 0..32 at both ends.
    QByteArray Text() const;
};

// Shifted exclusive-or over count bytes from start: byte i is shifted left by
// (i mod 25) bits. Reading stops at the end of a 266-byte frame buffer.
quint32 FrameChecksum(const quint8 *buffer, int start, int count);

// A request: Sender, Receiver, payload 0, 0 and the text (at most 253 characters;
// ok is false and the frame empty when the text does not fit).
ProtocolFrame MakeRequestFrame(quint8 sender, quint8 receiver, const QByteArray &text, bool *ok = nullptr);
// A block reply: payload kind 1, the block number and the data (at most 253
// bytes; longer data is cut).
ProtocolFrame MakeBlockFrame(quint8 sender, quint8 receiver, quint8 blockNumber, const QByteArray &data,
                             quint8 payloadKind = 1);

// The wire bytes of a frame: 7 bytes, or Length + 11.
QByteArray BuildFrame(const ProtocolFrame &frame);

enum class FrameError { None, BadChecksum, TooShort };

// Parses the bytes as read. Bytes beyond the frame are ignored (only the first
// 266 are looked at); a read shorter than the frame its header announces
// (7 bytes, or L + 11) is a checksum failure. badChecksum (when given) tells
// whether a checksum was unequal. On failure the frame is left as it was; on
// success payload positions from Length on are zero.
bool ParseFrame(const QByteArray &wire, ProtocolFrame &frame, bool *badChecksum = nullptr);

// Total size on the wire that a frame with this header would have, or 0 when
// fewer than 3 bytes are given. Used by receivers that accumulate bytes.
int ExpectedFrameSize(const QByteArray &wireStart);
// Whether the kFrameHeaderSize bytes at header are a header whose checksum
// holds; frameSize gets the size of the whole frame it announces (7, or
// L + 11). Every length byte announces a frame that fits the buffer.
bool ParseFrameHeader(const quint8 *header, int &frameSize);

// One NAME[:INDEX]=VALUE segment of a reply text.
struct TextSegment {
    QByteArray Name;
    QByteArray Index;
    QByteArray Value;
    bool Malformed = false; // no "=" in the segment
};

// Splits a (trimmed) reply text at ";" into segments; text after the last ";"
// is ignored. Fields are trimmed; further "=" belong to the value.
QList<TextSegment> SplitReplyText(const QByteArray &text);
TextSegment ParseSegment(const QByteArray &segment);

// Request texts.
QByteArray VarReference(const QByteArray &name, const QByteArray &index); // NAME[:INDEX]
QByteArray ReadRequestText(const QByteArray &name, const QByteArray &index);        // NAME=??;
QByteArray WriteRequestText(const QByteArray &name, const QByteArray &index, const QByteArray &value);
QByteArray BlockCountRequestText(const QByteArray &name, const QByteArray &index);  // NAME=??##;
QByteArray BlockRequestText(const QByteArray &name, const QByteArray &index, int block); // NAME=??#j;
