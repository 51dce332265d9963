#include "serial/iodeviceline.h"

#include <QElapsedTimer>
#include <QIODevice>

#include <algorithm>
#include <chrono>
#include <limits>
#include <thread>

namespace {

constexpr qint64 NoLimit = -1;
constexpr int kTailCharacters = 3;

// The time left until limit (ms since timer started), never below 0.
qint64 Remaining(qint64 limit, const QElapsedTimer &timer)
{
    return std::max<qint64>(0, limit - timer.elapsed());
}

// A wait in ms for Qt's int-typed waits: -1 stays "for ever"; long waits are
// cut into pieces (the callers loop and recompute).
int WaitArg(qint64 ms)
{
    if (ms < 0)
        return -1;
    return int(std::min<qint64>(ms, std::numeric_limits<int>::max()));
}

} // namespace

bool TIODeviceLine::SetWriteTimeouts(quint32 multiplier, quint32 constant)
{
    writeMultiplier_ = multiplier;
    writeConstant_ = constant;
    return true;
}

bool TIODeviceLine::Write(const quint8 *data, int count, int &written)
{
    written = 0;
    QIODevice *dev = Device();
    if (!dev || !dev->isOpen() || !data || count < 0 || Broken())
        return false;
    if (count == 0)
        return true;
    ClearError();
    const qint64 limit = (writeMultiplier_ || writeConstant_)
                             ? qint64(writeMultiplier_) * count + qint64(writeConstant_)
                             : NoLimit;
    QElapsedTimer timer;
    timer.start();
    if (dev->write(reinterpret_cast<const char *>(data), count) != count)
        return false;
    while (dev->bytesToWrite() > 0) {
        const qint64 wait = limit == NoLimit ? NoLimit : Remaining(limit, timer);
        if (wait == 0)
            break;
        if (!dev->waitForBytesWritten(WaitArg(wait)) && Broken())
            return false;
    }
    const qint64 pending = dev->bytesToWrite();
    if (pending > 0)
        DropPendingOutput();
    written = int(count - std::min<qint64>(pending, count));
    return true;
}

bool TIODeviceLine::Read(quint8 *buffer, int capacity, int &count, const ReadTimeouts &timeouts)
{
    count = 0;
    QIODevice *dev = Device();
    if (!dev || !dev->isOpen() || !buffer || capacity < 0)
        return false;
    total_ = (timeouts.TotalMultiplier || timeouts.TotalConstant)
                 ? qint64(timeouts.TotalMultiplier) * capacity + qint64(timeouts.TotalConstant)
                 : NoLimit;
    interval_ = timeouts.Interval;
    sinceStart_.start();
    sinceBytes_.invalidate();
    return readPart(buffer, capacity, count);
}

bool TIODeviceLine::ReadMore(quint8 *buffer, int capacity, int &count)
{
    count = 0;
    QIODevice *dev = Device();
    if (!dev || !dev->isOpen() || !buffer || capacity < 0 || !sinceStart_.isValid())
        return false;
    return readPart(buffer, capacity, count);
}

bool TIODeviceLine::readPart(quint8 *buffer, int capacity, int &count)
{
    QIODevice *dev = Device();
    if (capacity == 0)
        return true;
    ClearError();

    const qint64 characterNs = CharacterTimeNs();
    bool slept = false;
    for (;;) {
        const qint64 n = dev->read(reinterpret_cast<char *>(buffer) + count, capacity - count);
        if (n > 0) {
            count += int(n);
            sinceBytes_.start();
        }
        if (count == capacity)
            return true;
        if (n < 0 || Broken()) {
            // What came before the failure is still delivered; the next read
            // reports the failure.
            return count > 0;
        }

        qint64 wait = total_ == NoLimit ? NoLimit : Remaining(total_, sinceStart_);
        if (sinceBytes_.isValid() && interval_ > 0) {
            const qint64 gap = Remaining(interval_, sinceBytes_);
            wait = wait == NoLimit ? gap : std::min(wait, gap);
        }
        if (wait == 0)
            return true;
        // Bytes are coming at the line's pace: the rest owed cannot be there
        // before its wire time, so sleep that long (a sleep that brought
        // nothing waits for input instead, below).
        // The last few characters are waited for as they come, so that a
        // frame running a little behind its nominal pace costs no extra sleep.
        if (characterNs > 0 && sinceBytes_.isValid() && (n > 0 || !slept) && capacity - count > kTailCharacters) {
            qint64 ns = qint64(capacity - count) * characterNs;
            if (wait != NoLimit)
                ns = std::min(ns, wait * 1'000'000);
            std::this_thread::sleep_for(std::chrono::nanoseconds(ns));
            slept = true;
            dev->waitForReadyRead(0); // takes in what came meanwhile
            continue;
        }
        slept = false;
        // False means a time-out or a failure; the loop takes what arrived
        // meanwhile and then tells the two apart.
        dev->waitForReadyRead(WaitArg(wait));
    }
}

qint64 TIODeviceLine::DropInput(quint32 interval, qint64 limit)
{
    return drop(interval, limit, true);
}

qint64 TIODeviceLine::DropInputFor(qint64 ms)
{
    return drop(0, ms, false);
}

qint64 TIODeviceLine::drop(quint32 interval, qint64 limit, bool quietEnds)
{
    QIODevice *dev = Device();
    if (!dev || !dev->isOpen())
        return -1;
    ClearError();
    QElapsedTimer since;
    since.start();
    QElapsedTimer quiet;
    qint64 dropped = 0;
    bool looked = false;
    char sink[1024];
    for (;;) {
        for (qint64 n; (n = dev->read(sink, sizeof sink)) > 0;) {
            dropped += n;
            quiet.start();
        }
        if (Broken())
            return dropped > 0 ? dropped : -1;
        qint64 wait = Remaining(limit, since);
        if (quietEnds) {
            if (!looked) {
                // What the system holds already, without waiting: a quiet
                // line costs no time.
                looked = true;
                if (dev->waitForReadyRead(0))
                    continue;
            }
            if (dropped == 0 || interval == 0)
                return dropped;
            // Bytes that follow within the interval time-out belong to what
            // was dropped: the rest of a reply, or of a burst of noise.
            wait = std::min(Remaining(interval, quiet), wait);
        }
        if (wait == 0)
            return dropped;
        dev->waitForReadyRead(WaitArg(wait));
    }
}

qint64 TIODeviceLine::BufferedInput() const
{
    QIODevice *dev = Device();
    return dev && dev->isOpen() ? dev->bytesAvailable() : 0;
}

qint64 TIODeviceLine::CharacterNs(const LineSettings &settings)
{
    if (settings.Rate == 0)
        return 0;
    const int parity = settings.Parity.value_or(LineParity::None) == LineParity::None ? 0 : 1;
    const int stop = settings.StopBits.value_or(LineStopBits::One) == LineStopBits::One ? 1 : 2;
    return (1 + settings.DataBits + parity + stop) * 1'000'000'000LL / settings.Rate;
}
