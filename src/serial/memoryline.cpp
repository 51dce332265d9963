#include "serial/memoryline.h"

#include <algorithm>
#include <cstring>

namespace {

// What the channel holds: a line that forwards to the test's TMemoryLine.
// Releasing it closes the line, as releasing a port handle would.
class ForwardingLine : public TLine {
public:
    explicit ForwardingLine(TMemoryLine *target) : target_(target) {}
    ~ForwardingLine() override
    {
        if (opened_)
            target_->Close();
    }
    bool Open() override { return opened_ = target_->Open(); }
    void Close() override
    {
        opened_ = false;
        target_->Close();
    }
    bool IsOpen() const override { return opened_ && target_->IsOpen(); }
    QString ErrorText() const override { return target_->ErrorText(); }
    bool Write(const quint8 *data, int count, int &written) override
    {
        return target_->Write(data, count, written);
    }
    bool Read(quint8 *buffer, int capacity, int &count, const ReadTimeouts &timeouts) override
    {
        return target_->Read(buffer, capacity, count, timeouts);
    }
    bool ReadMore(quint8 *buffer, int capacity, int &count) override
    {
        return target_->ReadMore(buffer, capacity, count);
    }
    qint64 DropInput(quint32 interval, qint64 limit) override { return target_->DropInput(interval, limit); }
    qint64 DropInputFor(qint64 ms) override { return target_->DropInputFor(ms); }
    bool ApplyLineSettings(const LineSettings &settings) override
    {
        return target_->ApplyLineSettings(settings);
    }
    bool SetWriteTimeouts(quint32 multiplier, quint32 constant) override
    {
        return target_->SetWriteTimeouts(multiplier, constant);
    }
    bool HasModemLines() const override { return target_->HasModemLines(); }
    bool SetDtr(bool on) override { return target_->SetDtr(on); }
    bool SetRts(bool on) override { return target_->SetRts(on); }

private:
    TMemoryLine *target_;
    bool opened_ = false;
};

} // namespace

void TMemoryLine::Arrive(const QByteArray &bytes, Gap gap)
{
    if (!bytes.isEmpty())
        input_.push_back({bytes, gap});
}

void TMemoryLine::QueueReply(const QByteArray &bytes, Gap gap)
{
    replies_.push_back({bytes, gap});
}

void TMemoryLine::ClearInput()
{
    input_.clear();
    replies_.clear();
}

int TMemoryLine::PendingBytes() const
{
    int n = 0;
    for (const Arrival &a : input_)
        n += int(a.Bytes.size());
    return n;
}

QByteArray TMemoryLine::AllWritten() const
{
    QByteArray all;
    for (const QByteArray &w : writes_)
        all += w;
    return all;
}

std::function<std::unique_ptr<TLine>(const TComSettings &)> TMemoryLine::Factory()
{
    return [this](const TComSettings &settings) -> std::unique_ptr<TLine> {
        factorySettings_ = settings;
        return std::make_unique<ForwardingLine>(this);
    };
}

bool TMemoryLine::Open()
{
    ++opens_;
    open_ = !failOpen_;
    return open_;
}

void TMemoryLine::Close()
{
    ++closes_;
    open_ = false;
}

QString TMemoryLine::ErrorText() const
{
    return failOpen_ ? QStringLiteral("the in-memory line refuses to open") : QString();
}

bool TMemoryLine::Write(const quint8 *data, int count, int &written)
{
    ++writeCalls_;
    written = 0;
    if (!open_ || failWrite_ || !data || count < 0)
        return false;
    written = writeLimit_ >= 0 ? std::min(count, writeLimit_) : count;
    const QByteArray bytes(reinterpret_cast<const char *>(data), written);
    writes_.append(bytes);
    if (!replies_.empty()) {
        const Arrival reply = replies_.front();
        replies_.pop_front();
        Arrive(reply.Bytes, reply.Before);
    }
    if (responder_)
        Arrive(responder_(bytes));
    return true;
}

bool TMemoryLine::Read(quint8 *buffer, int capacity, int &count, const ReadTimeouts &timeouts)
{
    ++reads_;
    count = 0;
    lastCapacity_ = capacity;
    lastTimeouts_ = timeouts;
    readSizes_.append(capacity);
    if (!open_ || failRead_ || !buffer || capacity < 0)
        return false;
    // A read that lasts no longer than the interval time-out (a look for
    // input on the heels of what came) ends before any pause.
    const bool brief = timeouts.TotalMultiplier == 0 && timeouts.TotalConstant > 0
                       && timeouts.TotalConstant <= timeouts.Interval;
    return take(buffer, capacity, count, brief);
}

bool TMemoryLine::ReadMore(quint8 *buffer, int capacity, int &count)
{
    ++reads_;
    count = 0;
    readSizes_.append(capacity);
    if (!open_ || failRead_ || !buffer || capacity < 0)
        return false;
    return take(buffer, capacity, count, true);
}

bool TMemoryLine::take(quint8 *buffer, int capacity, int &count, bool stopAtPause)
{
    while (count < capacity && !input_.empty()) {
        Arrival &a = input_.front();
        if (a.Before != Gap::None && (count > 0 || stopAtPause))
            break; // the pause ends this read
        if (a.Before == Gap::Total) {
            // The first read to wait for it times out empty; the next one
            // finds it waiting.
            a.Before = Gap::None;
            break;
        }
        a.Before = Gap::None;
        const int n = std::min(capacity - count, int(a.Bytes.size()));
        std::memcpy(buffer + count, a.Bytes.constData(), size_t(n));
        count += n;
        a.Bytes.remove(0, n);
        if (a.Bytes.isEmpty())
            input_.pop_front();
    }
    return true;
}

qint64 TMemoryLine::DropInput(quint32 interval, qint64 limit)
{
    Q_UNUSED(interval);
    Q_UNUSED(limit);
    ++drops_;
    if (!open_ || failRead_)
        return -1;
    qint64 dropped = 0;
    while (!input_.empty()) {
        const Arrival &a = input_.front();
        if (a.Before == Gap::Total || (dropped > 0 && a.Before != Gap::None))
            break;
        dropped += a.Bytes.size();
        input_.pop_front();
    }
    return dropped;
}

qint64 TMemoryLine::DropInputFor(qint64 ms)
{
    Q_UNUSED(ms);
    ++drops_;
    if (!open_ || failRead_)
        return -1;
    qint64 dropped = 0;
    while (!input_.empty() && input_.front().Before != Gap::Total) {
        dropped += input_.front().Bytes.size();
        input_.pop_front();
    }
    return dropped;
}

bool TMemoryLine::ApplyLineSettings(const LineSettings &settings)
{
    if (!open_ || failLineSettings_)
        return false;
    lineSettings_ = settings;
    return true;
}

bool TMemoryLine::SetWriteTimeouts(quint32 multiplier, quint32 constant)
{
    if (!open_)
        return false;
    writeMultiplier_ = multiplier;
    writeConstant_ = constant;
    return true;
}

bool TMemoryLine::SetDtr(bool on)
{
    ++modemCalls_;
    if (!open_ || !hasModemLines_ || failModemLines_)
        return false;
    dtr_ = on;
    return true;
}

bool TMemoryLine::SetRts(bool on)
{
    ++modemCalls_;
    if (!open_ || !hasModemLines_ || failModemLines_)
        return false;
    rts_ = on;
    return true;
}
