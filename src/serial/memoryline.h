#pragma once
// An in-memory line for tests of the channel, the protocol driver and
// everything above them. It records every write, lets a test script the
// replies, and models the read rule of the serial line without real time.
//
// Input arrives in "arrivals" (chunks of bytes). A read takes bytes up to its
// capacity from consecutive arrivals; an arrival that comes after a gap
// longer than the interval time-out ends the read before it (it is returned
// by the next read), and one that comes after a gap longer than a read's
// total time-out also lets the first read that waits for it end empty. A read
// whose total time-out is no longer than its interval time-out ends empty
// before any arrival that comes after a pause. No input: the read ends
// with count 0 at once, standing for the total time-out running out. A
// ReadMore continues the read before it: an arrival after any pause ends it,
// even before its first byte. DropInput drops the arrival at the front (unless
// it comes after a total time-out's pause, that is later) and every one that
// follows it without a pause.
//
//     TMemoryLine line;
//     line.SetResponder([](const QByteArray &written) { return replyFor(written); });
//     channel.SetLineFactory(line.Factory());
//     channel.Open();

#include "serial/comsettings.h"
#include "serial/line.h"

#include <QByteArray>
#include <QList>
#include <deque>
#include <functional>
#include <memory>
#include <optional>

class TMemoryLine : public TLine {
public:
    // When an arrival comes, relative to the input before it.
    enum class Gap {
        None,     // at once after the previous bytes
        Interval, // after a pause longer than the interval time-out
        Total,    // after a pause longer than a whole read's total time-out
    };

    // Called with the bytes of each successful write; what it gives arrives
    // as one arrival (nothing when empty).
    using Responder = std::function<QByteArray(const QByteArray &written)>;

    TMemoryLine() = default;
    ~TMemoryLine() override = default;
    TMemoryLine(const TMemoryLine &) = delete;
    TMemoryLine &operator=(const TMemoryLine &) = delete;

    // --- scripting ---------------------------------------------------------
    // Bytes that arrive now, independent of any write.
    void Arrive(const QByteArray &bytes, Gap gap = Gap::None);
    // Replies handed out one per write, in order: the next write makes the
    // next one arrive. An empty reply is silence for that write.
    void QueueReply(const QByteArray &bytes, Gap gap = Gap::None);
    void SetResponder(Responder responder) { responder_ = std::move(responder); }
    // Drops all input not yet read and all queued replies.
    void ClearInput();
    int PendingBytes() const;
    int QueuedReplies() const { return int(replies_.size()); }

    // --- switches ----------------------------------------------------------
    void SetFailOpen(bool fail) { failOpen_ = fail; }
    void SetFailWrite(bool fail) { failWrite_ = fail; }
    void SetFailRead(bool fail) { failRead_ = fail; }
    void SetFailLineSettings(bool fail) { failLineSettings_ = fail; }
    // A write takes at most this many bytes (negative: no limit).
    void SetWriteLimit(int limit) { writeLimit_ = limit; }
    void SetHasModemLines(bool has) { hasModemLines_ = has; }
    void SetFailModemLines(bool fail) { failModemLines_ = fail; }

    // --- what happened -----------------------------------------------------
    const QList<QByteArray> &Writes() const { return writes_; }
    QByteArray AllWritten() const;
    void ClearWrites() { writes_.clear(); }
    int Opens() const { return opens_; }   // calls of Open, failed ones included
    int Closes() const { return closes_; }
    int Reads() const { return reads_; }   // calls of Read and ReadMore, failed ones included
    int Drops() const { return drops_; }   // calls of DropInput
    QList<int> ReadSizes() const { return readSizes_; } // capacity of every Read and ReadMore
    int WritesCount() const { return writeCalls_; }
    int LastReadCapacity() const { return lastCapacity_; }
    const ReadTimeouts &LastReadTimeouts() const { return lastTimeouts_; }
    const std::optional<LineSettings> &LastLineSettings() const { return lineSettings_; }
    quint32 WriteTimeoutMultiplier() const { return writeMultiplier_; }
    quint32 WriteTimeoutConstant() const { return writeConstant_; }
    // The last DTR/RTS state set; empty when never set.
    std::optional<bool> Dtr() const { return dtr_; }
    std::optional<bool> Rts() const { return rts_; }
    int ModemLineCalls() const { return modemCalls_; }
    // The settings the last line made by Factory() was made for.
    const std::optional<TComSettings> &FactorySettings() const { return factorySettings_; }

    // A line factory for TRS232Channel::SetLineFactory: every Open gets a line
    // that forwards to this one (which must outlive the channel's use of it).
    std::function<std::unique_ptr<TLine>(const TComSettings &)> Factory();

    // --- TLine ---------------------------------------------------------------
    bool Open() override;
    void Close() override;
    bool IsOpen() const override { return open_; }
    QString ErrorText() const override;
    bool Write(const quint8 *data, int count, int &written) override;
    bool Read(quint8 *buffer, int capacity, int &count, const ReadTimeouts &timeouts) override;
    bool ReadMore(quint8 *buffer, int capacity, int &count) override;
    qint64 DropInput(quint32 interval, qint64 limit) override;
    // Drops every arrival up to one that comes after a total time-out's pause.
    qint64 DropInputFor(qint64 ms) override;
    bool ApplyLineSettings(const LineSettings &settings) override;
    bool SetWriteTimeouts(quint32 multiplier, quint32 constant) override;
    bool HasModemLines() const override { return hasModemLines_; }
    bool SetDtr(bool on) override;
    bool SetRts(bool on) override;

private:
    struct Arrival {
        QByteArray Bytes;
        Gap Before = Gap::None;
    };

    bool take(quint8 *buffer, int capacity, int &count, bool stopAtPause);

    std::deque<Arrival> input_;
    std::deque<Arrival> replies_;
    Responder responder_;

    bool open_ = false;
    bool failOpen_ = false;
    bool failWrite_ = false;
    bool failRead_ = false;
    bool failLineSettings_ = false;
    bool hasModemLines_ = false;
    bool failModemLines_ = false;
    int writeLimit_ = -1;

    QList<QByteArray> writes_;
    int opens_ = 0;
    int closes_ = 0;
    int reads_ = 0;
    int drops_ = 0;
    QList<int> readSizes_;
    int writeCalls_ = 0;
    int lastCapacity_ = 0;
    ReadTimeouts lastTimeouts_;
    std::optional<LineSettings> lineSettings_;
    quint32 writeMultiplier_ = 0;
    quint32 writeConstant_ = 0;
    std::optional<bool> dtr_;
    std::optional<bool> rts_;
    int modemCalls_ = 0;
    std::optional<TComSettings> factorySettings_;
};
