// The channel on real lines, within tolerance windows: a pseudo-terminal
// standing for the serial port (the test plays the installation on the
// master side) and TCP to a local device server.

#include "serial/comproperties.h"
#include "serial/iodeviceline.h"
#include "serial/rs232channel.h"
#include "serial/serialline.h"
#include "serial/tcpline.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <future>
#include <poll.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

// 600 baud: a character time of 17 ms and an interval time-out of 340 ms;
// "Approximately 2.5 seconds" lets a read of 266 bytes last 10 x 266 + 85 ms,
// "100 millisecond" 17 + 100 ms.
constexpr qint64 Interval = 340;
constexpr qint64 Total266 = 2745;
constexpr qint64 Short = 117;
// How late a read may end beyond its time-out on a busy machine.
constexpr qint64 Slack = 700;

void UseSlowLine(TRS232Channel &ch, const QByteArray &port, const QByteArray &latency = "Approximately 2.5 seconds")
{
    ch.Settings().PortNumber = port;
    ch.Settings().TransferRate = "600 baud";
    ch.Settings().LatencyPeriod = latency;
    ch.Settings().DTRControl = "Enable";
    ch.Settings().RTSControl = "Disable";
}

// The master side of a pseudo-terminal.
class PtyMaster {
public:
    PtyMaster()
    {
        fd_ = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (fd_ >= 0 && ::grantpt(fd_) == 0 && ::unlockpt(fd_) == 0)
            slave_ = QByteArray(::ptsname(fd_));
    }
    ~PtyMaster()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    bool Valid() const { return fd_ >= 0 && !slave_.isEmpty(); }
    QByteArray Slave() const { return slave_; }
    bool Send(const QByteArray &bytes) const
    {
        return ::write(fd_, bytes.constData(), size_t(bytes.size())) == bytes.size();
    }
    // What the program wrote, waiting up to 2 s for it.
    QByteArray Receive(int expected) const
    {
        QByteArray got;
        QElapsedTimer t;
        t.start();
        while (got.size() < expected && t.elapsed() < 2000) {
            pollfd p{fd_, POLLIN, 0};
            char buf[512];
            if (::poll(&p, 1, 50) > 0 && (p.revents & POLLIN))
                if (const ssize_t n = ::read(fd_, buf, sizeof buf); n > 0)
                    got.append(buf, int(n));
        }
        return got;
    }

private:
    int fd_ = -1;
    QByteArray slave_;

public:
    int Fd() const { return fd_; }
};

// A channel with the slow line settings, opened on the pty's slave side.
bool openOnPty(TRS232Channel &ch, PtyMaster &pty, const QByteArray &latency = "Approximately 2.5 seconds")
{
    if (!pty.Valid())
        return false;
    UseSlowLine(ch, pty.Slave(), latency);
    if (ch.Open())
        return true;
    qWarning("%s", qPrintable(ch.ErrorText()));
    return false;
}

// Sends pieces with pauses before them from another thread while the test
// blocks in a read; joined (all sent) when it goes. The pauses are the
// stimulus under test, not a means of synchronisation.
class Sender {
public:
    struct Piece {
        std::chrono::milliseconds Pause;
        QByteArray Bytes;
    };
    Sender(std::function<void(const QByteArray &)> send, std::vector<Piece> pieces)
        : thread_([send = std::move(send), pieces = std::move(pieces)] {
              for (const Piece &p : pieces) {
                  std::this_thread::sleep_for(p.Pause);
                  send(p.Bytes);
              }
          })
    {
    }
    ~Sender() { thread_.join(); }

private:
    std::thread thread_;
};

struct ReadResult {
    bool Ok = false;
    QByteArray Bytes;
    qint64 Ms = 0;
};

ReadResult TimedRead(TRS232Channel &ch, int capacity = 266)
{
    ReadResult r;
    QByteArray buf(capacity, '\0');
    int count = -1;
    QElapsedTimer t;
    t.start();
    r.Ok = ch.Read(reinterpret_cast<quint8 *>(buf.data()), capacity, count);
    r.Ms = t.elapsed();
    r.Bytes = buf.left(count);
    return r;
}

bool Within(qint64 ms, qint64 expected)
{
    return ms >= expected - 20 && ms <= expected + Slack;
}

#define QVERIFY_MS(ms, expected) QVERIFY2(Within(ms, expected), QByteArray::number(ms).constData())

} // namespace

class TestLines : public QObject {
    Q_OBJECT
private slots:
    void portNames_data();
    void portNames();
    void ptyOpensExclusivelyWithoutModemLines();
    void ptyReadEndsByTotalOrIntervalTimeout();
    void ptyGaps();
    void ptyNothingIsDiscarded();
    void ptyClosedMasterFailsTheRead();
    void ptyReplyInParts();
    void ptyFloodIsBoundedAndDropped();
    void ptyTimeoutsLeaveNothingQueued();
    void tcpLine();
};

void TestLines::portNames_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QString>("line"); // "tcp", a device path, or empty: no line
    QTest::newRow("COM1") << QByteArray("COM1") << "/dev/ttyS0";
    QTest::newRow("COM12") << QByteArray("COM12") << "/dev/ttyS11";
    QTest::newRow("device path") << QByteArray("/dev/ttyUSB0") << "/dev/ttyUSB0";
    QTest::newRow("socket") << QByteArray("socket://127.0.0.1:4001") << "tcp";
    QTest::newRow("socket v6") << QByteArray("socket://[::1]:4001") << "tcp";
    for (const char *bad : {"COM0", "COM1x", "com1", "dev/ttyS0", "", "socket://127.0.0.1",
                            "socket://127.0.0.1:0", "socket://127.0.0.1:70000",
                            "socket://127.0.0.1:4001/x", "socket://:4001"})
        QTest::newRow(bad) << QByteArray(bad) << QString();
}

void TestLines::portNames()
{
    QFETCH(QByteArray, name);
    QFETCH(QString, line);
    TComSettings s;
    s.PortNumber = name;
    std::unique_ptr<TLine> made = TComProperties::MakeLine(s);
    if (line.isEmpty())
        QVERIFY(!made);
    else if (line == "tcp")
        QVERIFY(dynamic_cast<TTcpLine *>(made.get()));
    else
        QCOMPARE(dynamic_cast<TSerialLine &>(*made).Path(), line);
}

void TestLines::ptyOpensExclusivelyWithoutModemLines()
{
    PtyMaster pty;
    QVERIFY(pty.Valid());
    TRS232Channel ch;
    UseSlowLine(ch, pty.Slave()); // asks for DTR and RTS, which a pty lacks
    ch.Settings().StopBits = "1.5 bit"; // not on POSIX: two stop bits instead
    ch.Settings().Paritet = "Mark";
    QVERIFY2(ch.Open(), qPrintable(ch.ErrorText()));
    QVERIFY(!ch.Properties().Line()->HasModemLines());

    // Held exclusively, also against a path through a symlink.
    QTemporaryDir dir;
    QVERIFY(QFile::link(pty.Slave(), dir.filePath("link")));
    TRS232Channel other, viaLink;
    UseSlowLine(other, pty.Slave());
    UseSlowLine(viaLink, dir.filePath("link").toLocal8Bit());
    QVERIFY(!other.Open());
    QVERIFY(!viaLink.Open());
    ch.Close();
    QVERIFY2(viaLink.Open(), qPrintable(viaLink.ErrorText()));

    // Every byte value passes unchanged both ways (raw mode).
    QByteArray all;
    for (int i = 0; i < 256; ++i)
        all.append(char(i));
    int count = int(all.size());
    QVERIFY(viaLink.Write(reinterpret_cast<const quint8 *>(all.constData()), count));
    QCOMPARE(count, 256);
    QCOMPARE(pty.Receive(256), all);
    QVERIFY(pty.Send(all));
    QCOMPARE(TimedRead(viaLink, 300).Bytes, all);
}

void TestLines::ptyReadEndsByTotalOrIntervalTimeout()
{
    PtyMaster pty;
    QVERIFY(pty.Valid());
    TRS232Channel ch;
    UseSlowLine(ch, pty.Slave(), "100 millisecond");
    QVERIFY2(ch.Open(), qPrintable(ch.ErrorText()));

    // Silence: the total time-out, then true with count 0.
    ReadResult r = TimedRead(ch);
    QVERIFY(r.Ok);
    QCOMPARE(r.Bytes, QByteArray());
    QVERIFY_MS(r.Ms, Short);

    // Two replies back to back come in one read, ended by the interval
    // time-out although the total one is much longer.
    UseSlowLine(ch, pty.Slave());
    QVERIFY2(ch.Open(), qPrintable(ch.ErrorText()));
    QVERIFY(pty.Send("first reply;"));
    QVERIFY(pty.Send("second reply;"));
    r = TimedRead(ch);
    QCOMPARE(r.Bytes, QByteArray("first reply;second reply;"));
    QVERIFY_MS(r.Ms, Interval);
}

void TestLines::ptyGaps()
{
    PtyMaster pty;
    QVERIFY(pty.Valid());
    TRS232Channel ch;
    UseSlowLine(ch, pty.Slave());
    QVERIFY2(ch.Open(), qPrintable(ch.ErrorText()));
    auto send = [&pty](const QByteArray &b) { pty.Send(b); };

    // Pauses shorter than the interval time-out keep a reply whole.
    ReadResult whole;
    {
        Sender s(send, {{100ms, "head-"}, {60ms, "middle-"}, {60ms, "tail"}});
        whole = TimedRead(ch);
    }
    QCOMPARE(whole.Bytes, QByteArray("head-middle-tail"));
    QVERIFY_MS(whole.Ms, 220 + Interval);

    // A longer pause splits it into two reads.
    ReadResult first, second;
    {
        Sender s(send, {{50ms, "part one"}, {1200ms, "part two"}});
        first = TimedRead(ch);
        second = TimedRead(ch);
    }
    QCOMPARE(first.Bytes, QByteArray("part one"));
    QVERIFY_MS(first.Ms, 50 + Interval);
    QCOMPARE(second.Bytes, QByteArray("part two"));
    QVERIFY2(second.Ms < Total266, QByteArray::number(second.Ms));
}

void TestLines::ptyNothingIsDiscarded()
{
    PtyMaster pty;
    QVERIFY(pty.Valid());
    TRS232Channel ch;
    UseSlowLine(ch, pty.Slave(), "100 millisecond");
    QVERIFY2(ch.Open(), qPrintable(ch.ErrorText()));

    // More than one read holds: the rest waits for the next read.
    QByteArray big;
    for (int i = 0; i < 300; ++i)
        big.append(char('A' + i % 26));
    QVERIFY(pty.Send(big));
    QCOMPARE(TimedRead(ch).Bytes, big.left(266));
    QCOMPARE(TimedRead(ch).Bytes, big.mid(266));

    // A reply that comes after its read gave up is returned by the next read.
    ReadResult empty;
    {
        Sender s([&pty](const QByteArray &b) { pty.Send(b); }, {{800ms, "late reply"}});
        empty = TimedRead(ch);
    }
    QVERIFY(empty.Ok);
    QCOMPARE(empty.Bytes, QByteArray());
    QCOMPARE(TimedRead(ch).Bytes, QByteArray("late reply"));
}

void TestLines::ptyClosedMasterFailsTheRead()
{
    auto pty = std::make_unique<PtyMaster>();
    QVERIFY(pty->Valid());
    TRS232Channel ch;
    UseSlowLine(ch, pty->Slave(), "100 millisecond");
    QVERIFY2(ch.Open(), qPrintable(ch.ErrorText()));
    QVERIFY(pty->Send("bye"));
    QCOMPARE(TimedRead(ch).Bytes, QByteArray("bye"));
    pty.reset(); // the far end hangs up
    const ReadResult r = TimedRead(ch);
    QVERIFY(!r.Ok);
    QCOMPARE(r.Bytes, QByteArray());

    // Hung up while the program idles in its event loop: the port is let go
    // rather than have the loop spin on its failing input.
    pty = std::make_unique<PtyMaster>();
    QVERIFY(pty->Valid());
    UseSlowLine(ch, pty->Slave(), "100 millisecond");
    QVERIFY2(ch.Open(), qPrintable(ch.ErrorText()));
    pty.reset();
    QTRY_VERIFY_WITH_TIMEOUT(!ch.Properties().Line()->IsOpen(), 2000);
    int count = 3;
    QVERIFY(!ch.Write(reinterpret_cast<const quint8 *>("abc"), count));
}

void TestLines::ptyReplyInParts()
{
    PtyMaster pty;
    TRS232Channel ch;
    QVERIFY(openOnPty(ch, pty));
    auto send = [&pty](const QByteArray &b) { pty.Send(b); };
    auto read = [&ch](int capacity, bool first) {
        ReadResult r;
        QByteArray buf(capacity, '\0');
        int count = -1;
        QElapsedTimer t;
        t.start();
        r.Ok = first ? ch.ReadFirst(reinterpret_cast<quint8 *>(buf.data()), capacity, 266, count)
                     : ch.ReadMore(reinterpret_cast<quint8 *>(buf.data()), capacity, count);
        r.Ms = t.elapsed();
        r.Bytes = buf.left(count);
        return r;
    };

    // Each part ends as soon as its bytes are there, pauses shorter than the
    // interval time-out within and between the parts included.
    ReadResult head, rest;
    {
        Sender s(send, {{100ms, "hea"}, {60ms, "der|the rest"}, {60ms, "|and more"}});
        head = read(6, true);
        rest = read(9, false);
    }
    QCOMPARE(head.Bytes, QByteArray("header"));
    QVERIFY_MS(head.Ms, 160);
    QCOMPARE(rest.Bytes, QByteArray("|the rest"));
    QVERIFY2(rest.Ms < 100, QByteArray::number(rest.Ms));
    QCOMPARE(ch.DropPendingInput(266), qint64(9));

    // A pause longer than the interval time-out after the first part ends
    // the next one, even before its first byte.
    ReadResult empty;
    {
        Sender s(send, {{50ms, "header"}, {1200ms, "late"}});
        head = read(6, true);
        empty = read(10, false);
    }
    QCOMPARE(head.Bytes, QByteArray("header"));
    QVERIFY(empty.Ok);
    QCOMPARE(empty.Bytes, QByteArray());
    QVERIFY_MS(empty.Ms, Interval);
    QCOMPARE(ch.DropPendingInput(266), qint64(4)); // sent before the sender was joined

    // The total time-out is that of one read of the whole reply (266 bytes)
    // from the start of the first part.
    {
        Sender s(send, {{50ms, "header"}, {200ms, "a"}, {200ms, "b"}, {200ms, "c"}, {200ms, "d"},
                        {200ms, "e"}, {200ms, "f"}, {200ms, "g"}, {200ms, "h"}, {200ms, "i"},
                        {200ms, "j"}, {200ms, "k"}, {200ms, "l"}, {200ms, "m"}, {200ms, "n"}});
        QElapsedTimer t;
        t.start();
        head = read(6, true);
        rest = read(100, false);
        const qint64 ms = t.elapsed();
        QCOMPARE(head.Bytes, QByteArray("header"));
        QVERIFY2(ms >= Total266 - 20 && ms <= Total266 + Slack, QByteArray::number(ms));
        QVERIFY2(rest.Bytes.size() >= 10 && rest.Bytes.size() <= 13, rest.Bytes.constData());
    }
    ch.DropPendingInput(266);
}

void TestLines::ptyFloodIsBoundedAndDropped()
{
    PtyMaster pty;
    TRS232Channel ch;
    QVERIFY(openOnPty(ch, pty, "100 millisecond"));
    auto *line = dynamic_cast<TIODeviceLine *>(ch.Properties().Line());
    QVERIFY(line);

    // A babbling line while the program idles in its event loop: 4 MiB of
    // noise offered, or two seconds of it, whichever ends first.
    std::atomic<bool> done{false};
    std::atomic<qint64> sent{0};
    const int flags = ::fcntl(pty.Fd(), F_GETFL);
    QVERIFY(::fcntl(pty.Fd(), F_SETFL, flags | O_NONBLOCK) == 0); // a full line must not hold the writer
    std::thread flood([&] {
        const QByteArray noise(4096, char(0xA5));
        QElapsedTimer t;
        t.start();
        while (sent < 4 * 1024 * 1024 && t.elapsed() < 2000) {
            pollfd p{pty.Fd(), POLLOUT, 0};
            if (::poll(&p, 1, 20) > 0 && (p.revents & POLLOUT))
                if (const ssize_t n = ::write(pty.Fd(), noise.constData(), size_t(noise.size())); n > 0)
                    sent += n;
        }
        done = true;
    });
    qint64 most = 0;
    while (!done) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        most = std::max(most, line->BufferedInput());
    }
    flood.join();
    ::fcntl(pty.Fd(), F_SETFL, flags);
    QVERIFY2(most <= kLineInputQueue, QByteArray::number(most));
    QVERIFY(sent > kLineInputQueue);

    // All of it goes before the next request, and the reply is read whole.
    const qint64 dropped = ch.DropPendingInput(266);
    QVERIFY2(dropped >= kLineInputQueue && dropped <= sent, QByteArray::number(dropped));
    QVERIFY(pty.Send("the reply"));
    QCOMPARE(TimedRead(ch).Bytes, QByteArray("the reply"));
}

void TestLines::ptyTimeoutsLeaveNothingQueued()
{
    // Every read that times out makes the port signal an error. A process
    // without an event loop (kvarnctl) must not collect a queued event for
    // each: after 200 silent reads nothing is waiting to be delivered.
    class MetaCallCounter : public QObject {
    public:
        int Count = 0;
        bool eventFilter(QObject *, QEvent *e) override
        {
            if (e->type() == QEvent::MetaCall)
                ++Count;
            return false;
        }
    };
    PtyMaster pty;
    TRS232Channel ch;
    QVERIFY(openOnPty(ch, pty, "Immediately answer"));
    for (int i = 0; i < 200; ++i)
        QVERIFY(TimedRead(ch).Bytes.isEmpty());
    MetaCallCounter counter;
    QCoreApplication::instance()->installEventFilter(&counter);
    QCoreApplication::sendPostedEvents();
    QCoreApplication::instance()->removeEventFilter(&counter);
    QCOMPARE(counter.Count, 0);
}

void TestLines::tcpLine()
{
    // Nobody listens.
    TRS232Channel refused;
    refused.Settings().PortNumber = "socket://127.0.0.1:1";
    QVERIFY(!refused.Open());

    std::promise<quint16> listening;
    std::promise<QByteArray> received;
    std::thread server([&listening, &received] {
        QTcpServer srv;
        listening.set_value(srv.listen(QHostAddress::LocalHost, 0) ? srv.serverPort() : 0);
        if (!srv.isListening() || !srv.waitForNewConnection(5000))
            return;
        std::unique_ptr<QTcpSocket> peer(srv.nextPendingConnection());
        QByteArray got;
        while (got.size() < 4 && peer->waitForReadyRead(5000))
            got += peer->readAll();
        received.set_value(got);
        auto send = [&peer](const QByteArray &b) {
            peer->write(b);
            peer->waitForBytesWritten(1000);
        };
        send("pong");
        std::this_thread::sleep_for(60ms); // short pause: the reply stays whole
        send("!");
        std::this_thread::sleep_for(1200ms); // long pause: the next read
        send("second");
        std::this_thread::sleep_for(1200ms);
        send("last words"); // and hang up at once
        peer->disconnectFromHost();
        if (peer->state() != QAbstractSocket::UnconnectedState)
            peer->waitForDisconnected(1000);
    });

    const quint16 port = listening.get_future().get();
    TRS232Channel ch;
    UseSlowLine(ch, "socket://127.0.0.1:" + QByteArray::number(port));
    ch.Settings().TransferRate = "not a rate";
    const bool badRateOpened = ch.Open(); // the time-outs come from the rate, even over TCP
    ch.Settings().TransferRate = "600 baud";
    const bool opened = port != 0 && ch.Open();
    int count = 4;
    const bool wrote = opened && ch.Write(reinterpret_cast<const quint8 *>("ping"), count);
    const QByteArray atServer = wrote ? received.get_future().get() : QByteArray();
    const ReadResult first = TimedRead(ch);
    const ReadResult second = TimedRead(ch);
    const ReadResult last = TimedRead(ch);
    const ReadResult afterHangUp = TimedRead(ch);
    server.join();

    QVERIFY(!badRateOpened);
    QVERIFY2(opened, qPrintable(ch.ErrorText()));
    QVERIFY(!ch.Properties().Line()->HasModemLines());
    QCOMPARE(atServer, QByteArray("ping"));
    QCOMPARE(first.Bytes, QByteArray("pong!"));
    QVERIFY_MS(first.Ms, 60 + Interval);
    QCOMPARE(second.Bytes, QByteArray("second"));
    QVERIFY(last.Ok); // what came before the hang-up is not lost
    QCOMPARE(last.Bytes, QByteArray("last words"));
    QVERIFY(!afterHangUp.Ok);
    QCOMPARE(afterHangUp.Bytes, QByteArray());
}

QTEST_GUILESS_MAIN(TestLines)
#include "tst_lines.moc"
