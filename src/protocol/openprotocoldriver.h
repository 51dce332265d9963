#pragma once
// The request/reply transactions of the open protocol over a TRS232Channel.
//
// Every variable costs one request frame and one reply frame, with up to
// three attempts per frame. Each attempt is logged to the terminal as a "-> "
// line with the request text and one or more "<- " lines with the outcome,
// and a transaction moves the progress bar and leaves it at its minimum.
// A transaction reports its outcome as a Boolean; it never throws for a
// failure of the line or of the instrument's reply.
//
// Single-threaded and blocking: a transaction returns when it is done.
//
// Receiving a reply: the driver reads the frame's header, then exactly the
// rest of the frame its length byte announces, so an exchange ends as soon
// as its reply is complete instead of after the line has fallen silent. The
// read time-outs still bound the whole reply as one read of the largest frame
// would be bound. A header that cannot be one of a reply to this request
// (its checksum fails, or its addresses are not the asked station's to
// ours) fails the attempt at once.
//
// Only the reply to this request answers it. Before every request the
// line's pending input is dropped (and the number of bytes dropped shown on
// the terminal on a line of its own), so nothing left over from an earlier
// exchange - a reply that came after its read had given up, a duplicate,
// noise - can be read as this request's reply. This is a deliberate
// difference from a line that keeps pending input for the next read: with
// it, one late reply shifts every later reply onto the wrong request. And a
// reply that arrives but does not carry the asked variable (a text reply
// without a segment of that NAME and INDEX, letter case ignored) or the asked
// block (a block reply of another number or payload kind) is no answer: the
// terminal shows it, the attempt fails and the request is made again. Such
// a reply changes no value. The next attempt then waits until this one's
// read would have timed out (dropping what comes meanwhile), so that the
// replies owed to the two attempts do not come on each other's heels.
//
// The protocol numbers no request, so a reply owed to an earlier request that
// comes only after this request went out looks like this request's reply.
// Whenever the line may still owe replies - the first exchange after the
// line was opened (another program, or this one before, may have left
// requests unanswered) and every exchange after an attempt that failed - a
// reply is taken only when no further input follows it within the read
// interval time-out. Input on its heels means replies queued behind one
// another: all of it is dropped (the terminal says so) and the request is
// made again - unless the line owed nothing when this exchange began, so
// that they can only answer its own earlier attempts: the reply is then
// taken. A line that answers every attempt in time pays that wait once
// after it is opened and never again; after a failed attempt, the next
// exchange pays it too. A reply owed to an earlier request
// that comes alone, more than the interval time-out before or after any
// other, cannot be told from an answer.

#include "protocol/frame.h"

#include <QByteArray>
#include <QDateTime>
#include <exception>

class QObject;
class TRS232Channel;
class TOPVarList;
class TerminalSink;
class ProgressSink;

// A frame or a transaction has failed.
class EOpenProtocolFailure : public std::exception {
public:
    const char *what() const noexcept override { return ""; }
};

// A reply segment is malformed.
class EPacketDBFormatError : public std::exception {
public:
    const char *what() const noexcept override { return ""; }
};

class TOpenProtocolDriver {
public:
    static constexpr int kAttempts = 3;
    static constexpr int kTerminalLines = 8097;      // the terminal never holds more
    static constexpr int kBlockBufferSize = 32768;   // the most ReadBlock assembles
    static constexpr int kHexPieceLength = 48;       // 16 bytes as "XX " per block log line
    static constexpr int kDefaultRequestPause = 10;  // ms before every request frame

    explicit TOpenProtocolDriver(TRS232Channel *channel);
    virtual ~TOpenProtocolDriver() = default;
    TOpenProtocolDriver(const TOpenProtocolDriver &) = delete;
    TOpenProtocolDriver &operator=(const TOpenProtocolDriver &) = delete;

    // None of these is owned by the driver.
    void SetChannel(TRS232Channel *channel) { channel_ = channel; }
    void SetTerminal(TerminalSink *terminal) { terminal_ = terminal; }
    void SetProgressBar(ProgressSink *bar) { progressBar_ = bar; }
    // Kept for the caller only: no transaction looks at it, so a transaction
    // cannot be cancelled.
    void SetCancelButton(QObject *button) { cancelButton_ = button; }

    TRS232Channel *Channel() const { return channel_; }
    TerminalSink *Terminal() const { return terminal_; }
    ProgressSink *ProgressBar() const { return progressBar_; }
    QObject *CancelButton() const { return cancelButton_; }

    // The program's station address, always 0.
    quint8 HostAddress() const { return 0; }
    // Whether the last reply failed a checksum test (a short reply counts).
    bool LastBadChecksum() const { return lastBadChecksum_; }
    // NAME[:INDEX] of the variable whose frame failed every attempt in the
    // last transaction; empty when it succeeded.
    QByteArray FailedVariable() const { return failedVariable_; }
    // Bytes read for the last reply: its header and as much of the rest as
    // came (0 when nothing came).
    int LastReadSize() const { return lastReadSize_; }

    // The pause before every request frame, 10 ms. Tools and tests that talk
    // to something faster than the installation may shorten it.
    void SetRequestPause(int milliseconds) { requestPause_ = milliseconds < 0 ? 0 : milliseconds; }
    int RequestPause() const { return requestPause_; }

    // Reads every variable of the list ("NAME[:INDEX]=??;"), in order, and
    // stores the values of the reply segments in the items they name; "@@"
    // empties a value. Ends at the first frame that fails all its attempts:
    // items before it keep what their replies gave, later ones are not asked.
    // True when every frame succeeded (an empty list sends nothing).
    bool ReadVars(quint8 device, TOPVarList &list);

    // Writes every variable's value ("NAME[:INDEX]=VALUE;"); the values the
    // instrument echoes replace the items' values, "@@" leaves them alone.
    bool WriteVars(quint8 device, TOPVarList &list);

    // Fetches the binary contents of the list's first variable: asks for the
    // number of blocks ("=??##;" answered by "##N"), then blocks 1..N
    // ("=??#j;"), and joins their data. On success buffer holds exactly the
    // joined bytes and size their number; on failure buffer is left as it
    // was and size is 0. Data beyond kBlockBufferSize bytes fails the
    // transaction, as does an empty list.
    bool ReadBlock(quint8 device, const TOPVarList &list, QByteArray &buffer, int &size);

private:
    enum class ReplyLog { Text, Block };

    // What a request asks for: a text reply carrying NAME[:INDEX], or block
    // number Block (1..255) of it.
    struct Asked {
        QByteArray Name;
        QByteArray Index;
        int Block = 0;
    };

    bool Transact(const ProtocolFrame &request, ProtocolFrame &reply);
    bool Receive(const ProtocolFrame &request, ProtocolFrame &reply);
    bool Exchange(quint8 device, const QByteArray &text, const Asked &asked, ProtocolFrame &reply);
    // Whether the line may still owe replies to earlier requests.
    bool LineMayOweReplies() const;
    // After a reply, on a line that may owe replies: false when input
    // followed it (then dropped and shown on the terminal), unless it can
    // only be replies owed to this exchange's own attempts.
    bool NothingFollows(bool ownRepliesOnly);
    static bool Answers(const ProtocolFrame &reply, const Asked &asked);
    void LogReply(bool ok, const ProtocolFrame &reply, ReplyLog log);
    bool TransferVars(quint8 device, TOPVarList &list, bool write);
    bool AssembleBlocks(quint8 device, const TOPVarList &list, QByteArray &data);
    void AddLogLine(const QByteArray &line);
    void AddLogLineAt(const QByteArray &line, const QDateTime &when);

    TRS232Channel *channel_ = nullptr;
    TerminalSink *terminal_ = nullptr;
    ProgressSink *progressBar_ = nullptr;
    QObject *cancelButton_ = nullptr;
    bool lastBadChecksum_ = false;
    QByteArray failedVariable_;
    // When the last request went out (or was about to, for one that failed).
    QDateTime requestTime_;
    int lastReadSize_ = 0;
    int requestPause_ = kDefaultRequestPause;
    // The line as of the last accepted reply: which channel, opened how
    // many times, and whether an attempt failed since.
    const TRS232Channel *settledChannel_ = nullptr;
    quint64 settledOpens_ = 0;
    bool attemptFailed_ = false;
};
