#include "protocol/openprotocoldriver.h"

#include "protocol/opvarlist.h"
#include "base/sinks.h"
#include "base/textutils.h"
#include "serial/rs232channel.h"

#include <chrono>
#include <thread>

namespace {
const QByteArray kRequestMark = "-> ";
const QByteArray kReplyMark = "<- ";
const QByteArray kNoValue = "@@";
const QByteArray kBlockCountMark = "##";
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
    const int count = list.Count();
    for (int i = 0; i < count; ++i) {
        const TOPVarListItem *asked = list.GetItem(i);
        const QByteArray text = write ? WriteRequestText(asked->Name, asked->Index, asked->Value)
                                      : ReadRequestText(asked->Name, asked->Index);
        ProtocolFrame reply;
        if (!Exchange(device, text, ReplyLog::Text, reply)) {
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
    const bool ok = list.Count() > 0 && AssembleBlocks(device, list, data);
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
    if (!Exchange(device, BlockCountRequestText(name, index), ReplyLog::Text, reply))
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
        if (!isNumber)
            return false;
    }
    if (blocks < 1)
        return false;

    // Blocks 1..N. Block numbers are one byte, so a count above 255 fails at
    // block 256 at the latest; the size bound usually stops it earlier.
    for (qint64 j = 1; j <= blocks; ++j) {
        if (!Exchange(device, BlockRequestText(name, index, int(j)), ReplyLog::Block, reply))
            return false;
        // Payload bytes past Length are zero, so a reply too short to hold
        // the kind byte fails here as well.
        if (reply.PayloadKind() != 1)
            return false;
        const int number = reply.BlockNumber() == 0 ? 1 : reply.BlockNumber();
        if (number != j)
            return false;
        const QByteArray chunk = reply.Data();
        if (data.size() + chunk.size() > kBlockBufferSize)
            return false;
        data += chunk;
        SetProgressPercent(progressBar_, int(j * 100 / blocks));
    }
    return true;
}

bool TOpenProtocolDriver::Exchange(quint8 device, const QByteArray &text, ReplyLog log, ProtocolFrame &reply)
{
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
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        const bool ok = Transact(request, reply);
        AddLogLine(kRequestMark + text);
        LogReply(ok, reply, log);
        if (ok)
            return true;
    }
    return false;
}

bool TOpenProtocolDriver::Transact(const ProtocolFrame &request, ProtocolFrame &reply)
{
    lastBadChecksum_ = false;
    if (requestPause_ > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(requestPause_));
    if (!channel_)
        return false;

    // The count the line took is not checked: a short write shows as a
    // missing or wrong reply.
    const QByteArray wire = BuildFrame(request);
    int written = int(wire.size());
    if (!channel_->Write(reinterpret_cast<const quint8 *>(wire.constData()), written))
        return false;

    // A request that never went out reads nothing: the size of the last
    // reply read stays as it was until this read.
    lastReadSize_ = 0;
    quint8 buffer[kFrameBufferSize];
    int received = 0;
    if (!channel_->Read(buffer, kFrameBufferSize, received) || received <= 0)
        return false;
    lastReadSize_ = qMin(received, kFrameBufferSize);
    const QByteArray bytes(reinterpret_cast<const char *>(buffer), lastReadSize_);
    if (!ParseFrame(bytes, reply, &lastBadChecksum_))
        return false;
    // Only the station asked may answer, and only to us.
    return reply.Receiver == request.Sender && reply.Sender == request.Receiver;
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
    if (!terminal_)
        return;
    if (terminal_->LineCount() >= kTerminalLines)
        terminal_->DeleteFirstLine();
    terminal_->AppendLine(line);
}
