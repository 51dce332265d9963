// Fuzz target: the frame parser and the reply text rules on arbitrary bytes,
// and one transaction of the protocol driver against an instrument that
// answers with the bytes. Besides looking for memory faults it checks what
// must always hold: a frame built from any payload parses back to the same
// payload, segment fields are trimmed and free of the separators that
// delimit them, and a transaction keeps its promises about the caller's
// buffer, the terminal and the progress bar.

#include "base/sinks.h"
#include "fuzzcheck.h"
#include "protocol/frame.h"
#include "protocol/openprotocoldriver.h"
#include "protocol/opvarlist.h"
#include "serial/memoryline.h"
#include "serial/rs232channel.h"

#include <cstdint>
#include <cstdlib>

namespace {

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

class CountingTerminal : public TerminalSink {
public:
    int Lines = 0;
    int LineCount() const override { return Lines; }
    void DeleteFirstLine() override { --Lines; }
    void AppendLine(const QByteArray &) override { ++Lines; }
};

class RecordingBar : public ProgressSink {
public:
    int Position = 0;
    int Minimum() const override { return 0; }
    int Maximum() const override { return 100; }
    void SetPosition(int position) override
    {
        check(position >= 0 && position <= 100);
        Position = position;
    }
};

// The first byte chooses the transaction (bits 0-1) and whether the replies
// are wrapped into correct frames from device 1 (bit 2); the rest is a series
// of replies, each a length byte and that many bytes. Once the replies run
// out the instrument is silent, which ends every transaction.
void driverRound(const uint8_t *data, size_t size)
{
    static TMemoryLine line;
    static TRS232Channel channel;
    static TOpenProtocolDriver driver(&channel);
    static CountingTerminal terminal;
    static RecordingBar bar;
    static bool ready = false;
    if (!ready) {
        channel.SetLineFactory(line.Factory());
        channel.Open();
        driver.SetTerminal(&terminal);
        driver.SetProgressBar(&bar);
        driver.SetRequestPause(0);
        ready = true;
    }
    if (size == 0)
        return;

    line.ClearInput();
    line.ClearWrites();
    const int operation = data[0] & 3;
    const bool wrap = data[0] & 4;
    for (size_t at = 1; at < size;) {
        const size_t n = qMin<size_t>(data[at], size - at - 1);
        const QByteArray chunk(reinterpret_cast<const char *>(data + at + 1), qsizetype(n));
        at += n + 1;
        if (!wrap) {
            line.QueueReply(chunk);
            continue;
        }
        ProtocolFrame reply;
        reply.Sender = 1;
        reply.Length = quint8(n);
        std::copy(chunk.begin(), chunk.end(), reply.Payload.begin());
        line.QueueReply(BuildFrame(reply));
    }

    TOPVarList list;
    list.Add("SERIALN", "", "12");
    list.Add("VALUE", "0", "");
    list.Add("S", "", QByteArray(240, '7'));
    list.Add("THR1", "", "1.5");
    if (operation == 0) {
        driver.ReadVars(1, list);
    } else if (operation == 1) {
        driver.WriteVars(1, list);
    } else {
        QByteArray buffer = "kept";
        int blockSize = -1;
        if (driver.ReadBlock(1, list, buffer, blockSize))
            check(blockSize == buffer.size() && blockSize <= TOpenProtocolDriver::kBlockBufferSize);
        else
            check(blockSize == 0 && buffer == "kept");
    }
    check(list.Count() == 4);
    check(bar.Position == 0);
    check(terminal.Lines <= TOpenProtocolDriver::kTerminalLines);
    check(driver.LastReadSize() >= 0 && driver.LastReadSize() <= kFrameBufferSize);
    // Every request went out whole and addressed to device 1 from station 0.
    for (const QByteArray &w : line.Writes()) {
        ProtocolFrame request;
        check(ParseFrame(w, request) && request.Receiver == 1 && request.Sender == 0);
        check(w.size() == ExpectedFrameSize(w));
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

    driverRound(data, size);
    return 0;
}
