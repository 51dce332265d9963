#include "protocol/openprotocoldriver.h"

#include "base/cp1251.h"
#include "base/sinks.h"
#include "base/textutils.h"
#include "protocol/opvarlist.h"
#include "serial/rs232channel.h"

#include <QElapsedTimer>

#include <chrono>
#include <thread>

namespace {
const QByteArray kRequestMark = "-> ";
const QByteArray kReplyMark = "<- ";
const QByteArray kNoValue = "@@";
const QByteArray kBlockCountMark = "##";
// The terminal line for input dropped before a request: neither a request
// nor a reply line, so it begins with neither mark.
const QByteArray kDroppedText = Cp("сброшено байт: ");
// Said after the count when the input came on the heels of a reply: the
// reply above it is one of several owed, and not taken.
const QByteArray kNotTakenText = Cp(" (ответ выше не принят: за ним шли другие)");
// A block count must fit a 32-bit number; anything larger is not a count.
constexpr qint64 kMaxBlockCount = 0x7FFFFFFF;
} // namespace

TOpenProtocolDriver::TOpenProtocolDriver(TRS232Channel *channel) : channel_(channel) {}

bool TOpenProtocolDriver::ReadVars(quint8 device, TOPVarList &list)
{
    return TransferVars(device, list, false);
}

bool TOpenProtocolDriver::WriteVars(quint8 device, TOPVarList &list)
{
    return TransferVars(device, list, true);
}

bool TOpenProtocolDriver::TransferVars(quint8 device, TOPVarList &list, bool write)
{
    bool ok = true;
    failedVariable_.clear();
    const int count = list.Count();
    for (int i = 0; i < count; ++i) {
        const TOPVarListItem *asked = list.GetItem(i);
        const QByteArray text = write ? WriteRequestText(asked->Name, asked->Index, asked->Value)
                                      : ReadRequestText(asked->Name, asked->Index);
        ProtocolFrame reply;
        if (!Exchange(device, text, {asked->Name, asked->Index}, reply)) {
            failedVariable_ = VarReference(asked->Name, asked->Index);
            ok = false;
            break;
        }
        // A reply may carry values of other variables of the list as well.
        for (const TextSegment &segment : SplitReplyText(reply.Text())) {
            if (segment.Malformed)
                continue;
            TOPVarListItem *item = list.GetItem(list.IndexOf(segment.Name, segment.Index));
            if (!item)
                continue;
            if (segment.Value != kNoValue)
                item->Value = segment.Value;
            else if (!write)
                item->Value.clear(); // the instrument has no value for it
        }
        SetProgressPercent(progressBar_, int((i + 1) * 100LL / count));
    }
    ResetProgress(progressBar_);
    return ok;
}

bool TOpenProtocolDriver::ReadBlock(quint8 device, const TOPVarList &list, QByteArray &buffer, int &size)
{
    QByteArray data;
    failedVariable_.clear();
    const bool ok = list.Count() > 0 && AssembleBlocks(device, list, data);
    if (!ok && list.Count() > 0)
        failedVariable_ = VarReference(list.GetItem(0)->Name, list.GetItem(0)->Index);
    if (ok)
        buffer = data;
    size = ok ? int(data.size()) : 0;
    ResetProgress(progressBar_);
    return ok;
}

bool TOpenProtocolDriver::AssembleBlocks(quint8 device, const TOPVarList &list, QByteArray &data)
{
    const QByteArray name = list.GetItem(0)->Name;
    const QByteArray index = list.GetItem(0)->Index;

    // How many blocks: the first segment of the reply, "NAME[:INDEX]=##N;".
    ProtocolFrame reply;
    if (!Exchange(device, BlockCountRequestText(name, index), {name, index}, reply))
        return false;
    const QByteArray text = reply.Text();
    if (!text.contains(';'))
        return false;
    const TextSegment first = SplitReplyText(text).constFirst();
    if (first.Malformed)
        return false;
    qint64 blocks = 0; // a reply about a variable the list does not hold counts no blocks
    if (list.IndexOf(first.Name, first.Index) >= 0) {
        if (!first.Value.startsWith(kBlockCountMark))
            return false;
        bool isNumber = false;
        blocks = StrToIntDef(first.Value.mid(kBlockCountMark.size()), 0, &isNumber);
        if (!isNumber || blocks > kMaxBlockCount)
            return false;
    }
    if (blocks < 1)
        return false;

    // Blocks 1..N. Block numbers are one byte, so no reply can be block 256:
    // a count above 255 fails there, before that request goes out; the size
    // bound usually stops it earlier.
    for (qint64 j = 1; j <= blocks; ++j) {
        if (j > 255)
            return false;
        if (!Exchange(device, BlockRequestText(name, index, int(j)), {name, index, int(j)}, reply))
            return false;
        const QByteArray chunk = reply.Data();
        if (data.size() + chunk.size() > kBlockBufferSize)
            return false;
        data += chunk;
        SetProgressPercent(progressBar_, int(j * 100 / blocks));
    }
    return true;
}

bool TOpenProtocolDriver::Exchange(quint8 device, const QByteArray &text, const Asked &asked, ProtocolFrame &reply)
{
    const ReplyLog log = asked.Block > 0 ? ReplyLog::Block : ReplyLog::Text;
    bool fits = false;
    const ProtocolFrame request = MakeRequestFrame(HostAddress(), device, text, &fits);
    if (!fits) {
        // A text longer than a payload holds is never sent and not retried.
        // It is logged like a write that failed: the request line with the
        // whole text, then a reply line with nothing after the mark.
        AddLogLine(kRequestMark + text);
        AddLogLine(kReplyMark);
        return false;
    }
    // On a line that owed nothing when this exchange began, whatever comes
    // answers one of its own attempts.
    const bool ownRepliesOnly = !LineMayOweReplies();
    bool failed = false;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        ProtocolFrame got;
        QElapsedTimer attemptClock;
        attemptClock.start();
        const bool ok = Transact(request, got);
        AddLogLineAt(kRequestMark + text, requestTime_);
        // A reply that is no answer is shown as it came; only an answer is taken.
        LogReply(ok, got, log);
        if (ok && Answers(got, asked) && (!LineMayOweReplies() || NothingFollows(ownRepliesOnly))) {
            settledChannel_ = channel_;
            settledOpens_ = channel_->Opens();
            // Replies owed to this exchange's failed attempts may still come.
            attemptFailed_ = failed;
            reply = got;
            return true;
        }
        attemptFailed_ = failed = true;
        if (ok && !Answers(got, asked)) {
            // A reply to another request: the line carries replies owed to
            // earlier ones. The next attempt waits until this one's read
            // would have timed out, so that the replies owed to the two do
            // not come on each other's heels.
            const qint64 left = channel_->ReadTimeLimit(kFrameBufferSize) + requestPause_ - attemptClock.elapsed();
            const qint64 dropped = left > 0 ? channel_->DropInputFor(left) : 0;
            if (dropped > 0)
                AddLogLine(kDroppedText + QByteArray::number(dropped));
        }
    }
    return false;
}

bool TOpenProtocolDriver::LineMayOweReplies() const
{
    return attemptFailed_ || settledChannel_ != channel_ || settledOpens_ != channel_->Opens();
}

bool TOpenProtocolDriver::NothingFollows(bool ownRepliesOnly)
{
    const qint64 dropped = channel_->DropFollowingInput(kFrameBufferSize);
    if (dropped == 0)
        return true;
    if (dropped > 0)
        AddLogLine(kDroppedText + QByteArray::number(dropped) + (ownRepliesOnly ? QByteArray() : kNotTakenText));
    return dropped > 0 && ownRepliesOnly;
}

bool TOpenProtocolDriver::Answers(const ProtocolFrame &reply, const Asked &asked)
{
    if (asked.Block > 0) {
        // Block 0 is taken as block 1. Payload bytes past Length are zero, so
        // a reply too short to hold the kind byte is no block either.
        const int number = reply.BlockNumber() == 0 ? 1 : reply.BlockNumber();
        return reply.PayloadKind() == 1 && number == asked.Block;
    }
    for (const TextSegment &segment : SplitReplyText(reply.Text()))
        if (!segment.Malformed && SameTextAscii(segment.Name, asked.Name) && SameTextAscii(segment.Index, asked.Index))
            return true;
    return false;
}

bool TOpenProtocolDriver::Transact(const ProtocolFrame &request, ProtocolFrame &reply)
{
    lastBadChecksum_ = false;
    requestTime_ = QDateTime::currentDateTime();
    if (requestPause_ > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(requestPause_));
    if (!channel_)
        return false;

    // Whatever waits on the line now came before this request and cannot be
    // its reply.
    const qint64 dropped = channel_->DropPendingInput(kFrameBufferSize);
    if (dropped > 0)
        AddLogLine(kDroppedText + QByteArray::number(dropped));

    // The count the line took is not checked: a short write shows as a
    // missing or wrong reply.
    const QByteArray wire = BuildFrame(request);
    int written = int(wire.size());
    requestTime_ = QDateTime::currentDateTime();
    if (!channel_->Write(reinterpret_cast<const quint8 *>(wire.constData()), written))
        return false;
    return Receive(request, reply);
}

bool TOpenProtocolDriver::Receive(const ProtocolFrame &request, ProtocolFrame &reply)
{
    // A request that never went out reads nothing: the size of the last
    // reply read stays as it was until this read.
    lastReadSize_ = 0;
    quint8 buffer[kFrameBufferSize] = {};
    int received = 0;
    if (!channel_->ReadFirst(buffer, kFrameHeaderSize, kFrameBufferSize, received) || received <= 0)
        return false;
    lastReadSize_ = received;
    int frameSize = 0;
    if (received < kFrameHeaderSize || !ParseFrameHeader(buffer, frameSize)) {
        // Cut short, or no header at all: a checksum failure, and nothing
        // more is waited for.
        lastBadChecksum_ = true;
        return false;
    }
    // Only the station asked may answer, and only to us: another header
    // fails at once too, its rest left to be dropped before the next request.
    if (buffer[0] != request.Sender || buffer[1] != request.Receiver)
        return false;
    if (frameSize > kFrameHeaderSize) {
        int more = 0;
        const bool read = channel_->ReadMore(buffer + kFrameHeaderSize, frameSize - kFrameHeaderSize, more);
        lastReadSize_ += more;
        if (!read)
            return false;
    }
    const QByteArray bytes(reinterpret_cast<const char *>(buffer), lastReadSize_);
    return ParseFrame(bytes, reply, &lastBadChecksum_);
}

void TOpenProtocolDriver::LogReply(bool ok, const ProtocolFrame &reply, ReplyLog log)
{
    if (!ok) {
        if (lastBadChecksum_)
            AddLogLine(kReplyMark + "bad CRC [" + QByteArray::number(lastReadSize_) + " bytes total]");
        else
            AddLogLine(kReplyMark);
        return;
    }
    if (log == ReplyLog::Text) {
        AddLogLine(kReplyMark + reply.Text());
        return;
    }
    // Block replies: every payload byte as "XX ", 16 bytes to a line.
    const QByteArray hex = BytesToHex(reply.Payload.data(), reply.Length);
    for (qsizetype at = 0; at < hex.size(); at += kHexPieceLength)
        AddLogLine(kReplyMark + hex.mid(at, kHexPieceLength));
}

void TOpenProtocolDriver::AddLogLine(const QByteArray &line)
{
    AddLogLineAt(line, QDateTime::currentDateTime());
}

void TOpenProtocolDriver::AddLogLineAt(const QByteArray &line, const QDateTime &when)
{
    if (!terminal_)
        return;
    if (terminal_->LineCount() >= kTerminalLines)
        terminal_->DeleteFirstLine();
    terminal_->AppendLineAt(line, when);
}
