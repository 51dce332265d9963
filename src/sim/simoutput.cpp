#include "sim/simoutput.h"

#include <algorithm>

void TSimOutput::SetBaud(int baud)
{
    byteNs_ = baud > 0 ? qint64(10'000'000'000LL / baud) : 0;
}

void TSimOutput::Enqueue(const QList<TSimChunk> &chunks, qint64 nowNs)
{
    const bool wasIdle = queue_.isEmpty();
    for (const TSimChunk &c : chunks)
        queue_.append(Item{c, nowNs});
    if (wasIdle && !queue_.isEmpty())
        startHead();
}

void TSimOutput::startHead()
{
    const Item &head = queue_.first();
    const qint64 quietNs = head.chunk.DelayMs * 1'000'000;
    headStartNs_ = head.chunk.FromRequest ? std::max(head.readyNs + quietNs, lineFreeNs_)
                                          : std::max(head.readyNs, lineFreeNs_) + quietNs;
    headSent_ = 0;
}

QByteArray TSimOutput::TakeDue(qint64 nowNs, QList<QByteArray> *finished)
{
    QByteArray out;
    while (!queue_.isEmpty()) {
        const Item &head = queue_.first();
        if (nowNs < headStartNs_)
            break;
        const int size = int(head.chunk.Bytes.size());
        const int due = byteNs_ > 0 ? int(std::min<qint64>(size, (nowNs - headStartNs_) / byteNs_)) : size;
        if (due > headSent_) {
            out += head.chunk.Bytes.mid(headSent_, due - headSent_);
            headSent_ = due;
        }
        if (headSent_ < size)
            break;
        lineFreeNs_ = headStartNs_ + qint64(size) * byteNs_;
        if (finished)
            *finished += head.chunk.LogLines;
        queue_.removeFirst();
        if (!queue_.isEmpty())
            startHead();
    }
    return out;
}

qint64 TSimOutput::NextDueNs() const
{
    if (queue_.isEmpty())
        return -1;
    if (byteNs_ == 0 || queue_.first().chunk.Bytes.isEmpty())
        return headStartNs_;
    return headStartNs_ + qint64(headSent_ + 1) * byteNs_;
}

void TSimOutput::Clear()
{
    queue_.clear();
    headSent_ = 0;
}
