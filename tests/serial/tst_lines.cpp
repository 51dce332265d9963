// The channel on real lines, within tolerance windows: a pseudo-terminal
// standing for the serial port (the test plays the installation on the
// master side) and TCP to a local device server.

#include "serial/comproperties.h"
#include "serial/rs232channel.h"
#include "serial/serialline.h"
#include "serial/tcpline.h"

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <chrono>
#include <fcntl.h>
#include <future>
#include <poll.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

// How late a read may end beyond its time-out on a busy machine.
constexpr qint64 Slack = 700;

// The master side of a pseudo-terminal.
class PtyMaster {
public:
    PtyMaster()
    {
        fd_ = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (fd_ >= 0 && ::grantpt(fd_) == 0 && ::unlockpt(fd_) == 0)
            slave_ = QString::fromLocal8Bit(::ptsname(fd_));
    }
    ~PtyMaster()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    bool Valid() const { return fd_ >= 0 && !slave_.isEmpty(); }
    QString Slave() const { return slave_; }

    bool Send(const QByteArray &bytes) const
    {
        return ::write(fd_, bytes.constData(), size_t(bytes.size())) == bytes.size();
    }
    // What the program wrote, waiting up to ms for it.
    QByteArray Receive(int expected, int ms = 2000) const
    {
        QByteArray got;
        QElapsedTimer t;
        t.start();
        while (got.size() < expected && t.elapsed() < ms) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 50) > 0 && (p.revents & POLLIN)) {
                char buf[512];
                const ssize_t n = ::read(fd_, buf, sizeof buf);
                if (n > 0)
                    got.append(buf, int(n));
            }
        }
        return got;
    }

private:
    int fd_ = -1;
    QString slave_;
};

// Sends pieces with pauses before them, from another thread, while the test
// blocks in a read. The pauses are the stimulus under test, not a means of
// synchronisation.
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

ReadResult TimedRead(TRS232Channel &ch, int capacity)
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

bool WriteText(TRS232Channel &ch, const QByteArray &text)
{
    int count = int(text.size());
    return ch.Write(reinterpret_cast<const quint8 *>(text.constData()), count) && count == text.size();
}

// 600 baud: a character time of 17 ms, an interval time-out of 340 ms. With
// "Approximately 2.5 seconds" a read of 266 bytes may take 10 x 266 + 85 ms.
void UseSlowLine(TRS232Channel &ch, const QByteArray &port)
{
    ch.Settings().PortNumber = port;
    ch.Settings().TransferRate = "600 baud";
    ch.Settings().LatencyPeriod = "Approximately 2.5 seconds";
    ch.Settings().DTRControl = "Enable";
    ch.Settings().RTSControl = "Disable";
}

constexpr qint64 Interval = 340;
constexpr qint64 Total266 = 2745;

} // namespace

class TestLines : public QObject {
    Q_OBJECT
private slots:
    void portNames_data();
    void portNames();
    void ptyOpensAndSkipsModemLines();
    void ptySilentLineEndsAfterTotalTimeout();
    void ptyBackToBackRepliesComeInOneRead();
    void ptyShortGapKeepsReplyWhole();
    void ptyLongGapSplitsReply();
    void ptyNothingIsDiscarded();
    void ptyWriteReachesTheMaster();
    void ptyClosedMasterFailsTheRead();
    void tcpLine();
    void tcpOpenFailures_data();
    void tcpOpenFailures();
};

void TestLines::portNames_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("path");
    QTest::newRow("COM1") << QByteArray("COM1") << "serial" << "/dev/ttyS0";
    QTest::newRow("COM12") << QByteArray("COM12") << "serial" << "/dev/ttyS11";
    QTest::newRow("device path") << QByteArray("/dev/ttyUSB0") << "serial" << "/dev/ttyUSB0";
    QTest::newRow("COM0") << QByteArray("COM0") << "none" << "";
    QTest::newRow("COM1x") << QByteArray("COM1x") << "none" << "";
    QTest::newRow("com1") << QByteArray("com1") << "none" << "";
    QTest::newRow("relative path") << QByteArray("dev/ttyS0") << "none" << "";
    QTest::newRow("empty") << QByteArray() << "none" << "";
    QTest::newRow("socket") << QByteArray("socket://127.0.0.1:4001") << "tcp" << "";
    QTest::newRow("socket v6") << QByteArray("socket://[::1]:4001") << "tcp" << "";
    QTest::newRow("socket no port") << QByteArray("socket://127.0.0.1") << "none" << "";
    QTest::newRow("socket port 0") << QByteArray("socket://127.0.0.1:0") << "none" << "";
    QTest::newRow("socket port too big") << QByteArray("socket://127.0.0.1:70000") << "none" << "";
    QTest::newRow("socket path") << QByteArray("socket://127.0.0.1:4001/x") << "none" << "";
    QTest::newRow("socket no host") << QByteArray("socket://:4001") << "none" << "";
}

void TestLines::portNames()
{
    QFETCH(QByteArray, name);
    QFETCH(QString, kind);
    QFETCH(QString, path);
    TComSettings s;
    s.PortNumber = name;
    std::unique_ptr<TLine> line = TComProperties::MakeLine(s);
    if (kind == "none") {
        QVERIFY(!line);
    } else if (kind == "tcp") {
        QVERIFY(dynamic_cast<TTcpLine *>(line.get()));
    } else {
        auto *serial = dynamic_cast<TSerialLine *>(line.get());
        QVERIFY(serial);
        QCOMPARE(serial->Path(), path);
    }
}

void TestLines::ptyOpensAndSkipsModemLines()
{
    PtyMaster pty;
    QVERIFY(pty.Valid());
    TRS232Channel ch;
    UseSlowLine(ch, pty.Slave().toLocal8Bit());
    ch.Settings().StopBits = "1.5 bit"; // not on POSIX: two stop bits instead
    ch.Settings().Paritet = "Mark";
    QVERIFY2(ch.Open(), qPrintable(ch.ErrorText()));
    QCOMPARE(ch.State(), quint8(0));
    QVERIFY(!ch.Properties().Line()->HasModemLines());
    QCOMPARE(ch.Properties().CharTime, 17);

    // The port is held exclusively.
    TRS232Channel other;
    UseSlowLine(other, pty.Slave().toLocal8Bit());
    QVERIFY(!other.Open());
    ch.Close();
    QVERIFY2(other.Open(), qPrintable(other.ErrorText()));
}

void TestLines::ptySilentLineEndsAfterTotalTimeout()
{
    PtyMaster pty;
    QVERIFY(pty.Valid());
    TRS232Channel ch;
    UseSlowLine(ch, pty.Slave().toLocal8Bit());
    ch.Settings().LatencyPeriod = "100 millisecond"; // T + 100 = 117 ms whatever the size
    QVERIFY2(ch.Open(), qPrintable(ch.ErrorText()));
    const ReadResult r = TimedRead(ch, 266);
    QVERIFY(r.Ok);
    QCOMPARE(r.Bytes, QByteArray());
    QVERIFY2(r.Ms >= 117 && r.Ms <= 117 + Slack, QByteArray::number(r.Ms));
}

void TestLines::ptyBackToBackRepliesComeInOneRead()
{
    PtyMaster pty;
    QVERIFY(pty.Valid());
    TRS232Channel ch;
    UseSlowLine(ch, pty.Slave().toLocal8Bit());
    QVERIFY2(ch.Open(), qPrintable(ch.ErrorText()));
    QVERIFY(pty.Send("first reply;"));
    QVERIFY(pty.Send("second reply;"));
    const ReadResult r = TimedRead(ch, 266);
    QVERIFY(r.Ok);
    QCOMPARE(r.Bytes, QByteArray("first reply;second reply;"));
    // Ended by the interval time-out, long before the total one.
    QVERIFY2(r.Ms >= Interval - 20 && r.Ms <= Interval + Slack, QByteArray::number(r.Ms));
}

void TestLines::ptyShortGapKeepsReplyWhole()
{
    PtyMaster pty;
    QVERIFY(pty.Valid());
    TRS232Channel ch;
    UseSlowLine(ch, pty.Slave().toLocal8Bit());
    QVERIFY2(ch.Open(), qPrintable(ch.ErrorText()));
    ReadResult r;
    {
        Sender s([&pty](const QByteArray &b) { pty.Send(b); },
                 {{100ms, "head-"}, {60ms, "middle-"}, {60ms, "tail"}});
        r = TimedRead(ch, 266);
    }
    QVERIFY(r.Ok);
    QCOMPARE(r.Bytes, QByteArray("head-middle-tail"));
    QVERIFY2(r.Ms >= 220 + Interval - 20 && r.Ms <= 220 + Interval + Slack, QByteArray::number(r.Ms));
}

void TestLines::ptyLongGapSplitsReply()
{
    PtyMaster pty;
    QVERIFY(pty.Valid());
    TRS232Channel ch;
    UseSlowLine(ch, pty.Slave().toLocal8Bit());
    QVERIFY2(ch.Open(), qPrintable(ch.ErrorText()));
    ReadResult first, second;
    {
        Sender s([&pty](const QByteArray &b) { pty.Send(b); }, {{50ms, "part one"}, {1200ms, "part two"}});
        first = TimedRead(ch, 266);
        second = TimedRead(ch, 266);
    }
    QVERIFY(first.Ok);
    QCOMPARE(first.Bytes, QByteArray("part one"));
    QVERIFY2(first.Ms >= 50 + Interval - 20 && first.Ms <= 50 + Interval + Slack,
             QByteArray::number(first.Ms));
    QVERIFY(second.Ok);
    QCOMPARE(second.Bytes, QByteArray("part two"));
    QVERIFY2(second.Ms < Total266, QByteArray::number(second.Ms));
}

void TestLines::ptyNothingIsDiscarded()
{
    PtyMaster pty;
    QVERIFY(pty.Valid());
    TRS232Channel ch;
    UseSlowLine(ch, pty.Slave().toLocal8Bit());
    ch.Settings().LatencyPeriod = "100 millisecond";
    QVERIFY2(ch.Open(), qPrintable(ch.ErrorText()));

    // More than one read holds: the rest waits for the next read.
    QByteArray big;
    for (int i = 0; i < 300; ++i)
        big.append(char('A' + i % 26));
    QVERIFY(pty.Send(big));
    const ReadResult a = TimedRead(ch, 266);
    QCOMPARE(a.Bytes, big.left(266));
    const ReadResult b = TimedRead(ch, 266);
    QCOMPARE(b.Bytes, big.mid(266));

    // A reply that comes after its read gave up is returned by the next read.
    ReadResult empty;
    {
        Sender s([&pty](const QByteArray &bytes) { pty.Send(bytes); }, {{800ms, "late reply"}});
        empty = TimedRead(ch, 266);
    } // the sender has sent when it is joined here
    const ReadResult late = TimedRead(ch, 266);
    QVERIFY(empty.Ok);
    QCOMPARE(empty.Bytes, QByteArray());
    QVERIFY(late.Ok);
    QCOMPARE(late.Bytes, QByteArray("late reply"));
}

void TestLines::ptyWriteReachesTheMaster()
{
    PtyMaster pty;
    QVERIFY(pty.Valid());
    TRS232Channel ch;
    UseSlowLine(ch, pty.Slave().toLocal8Bit());
    ch.Settings().WriteTimeOutConstant = 2000;
    QVERIFY2(ch.Open(), qPrintable(ch.ErrorText()));
    QByteArray frame;
    for (int i = 0; i < 256; ++i)
        frame.append(char(i)); // every byte value passes unchanged (raw mode)
    QVERIFY(WriteText(ch, frame));
    QCOMPARE(pty.Receive(frame.size()), frame);
}

void TestLines::ptyClosedMasterFailsTheRead()
{
    auto pty = std::make_unique<PtyMaster>();
    QVERIFY(pty->Valid());
    TRS232Channel ch;
    UseSlowLine(ch, pty->Slave().toLocal8Bit());
    ch.Settings().LatencyPeriod = "100 millisecond";
    QVERIFY2(ch.Open(), qPrintable(ch.ErrorText()));
    QVERIFY(pty->Send("bye"));
    QCOMPARE(TimedRead(ch, 266).Bytes, QByteArray("bye"));
    pty.reset(); // the far end hangs up
    const ReadResult r = TimedRead(ch, 266);
    QVERIFY(!r.Ok);
    QCOMPARE(r.Bytes, QByteArray());
}

void TestLines::tcpLine()
{
    std::promise<quint16> listening;
    std::promise<QByteArray> received;
    std::thread server([&listening, &received] {
        QTcpServer srv;
        if (!srv.listen(QHostAddress::LocalHost, 0)) {
            listening.set_value(0);
            return;
        }
        listening.set_value(srv.serverPort());
        if (!srv.waitForNewConnection(5000))
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
        send("pong"); // then a short pause, then the rest of the reply
        std::this_thread::sleep_for(60ms);
        send("!");
        std::this_thread::sleep_for(1200ms); // a long pause splits
        send("second");
        std::this_thread::sleep_for(1200ms);
        peer->disconnectFromHost();
        if (peer->state() != QAbstractSocket::UnconnectedState)
            peer->waitForDisconnected(1000);
    });

    const quint16 port = listening.get_future().get();
    QVERIFY(port != 0);
    TRS232Channel ch;
    UseSlowLine(ch, "socket://127.0.0.1:" + QByteArray::number(port));
    ch.Settings().TransferRate = "not a rate here";
    QVERIFY(!ch.Open()); // the time-outs come from the rate, even over TCP
    ch.Settings().TransferRate = "600 baud";
    const bool opened = ch.Open();
    if (!opened) {
        server.join();
        QFAIL(qPrintable(ch.ErrorText()));
    }
    QVERIFY(!ch.Properties().Line()->HasModemLines());
    const bool wrote = WriteText(ch, "ping");
    const QByteArray atServer = received.get_future().get();
    const ReadResult first = TimedRead(ch, 266);
    const ReadResult second = TimedRead(ch, 266);
    const ReadResult afterClose = TimedRead(ch, 266);
    server.join();

    QVERIFY(wrote);
    QCOMPARE(atServer, QByteArray("ping"));
    QVERIFY(first.Ok);
    QCOMPARE(first.Bytes, QByteArray("pong!"));
    QVERIFY2(first.Ms >= 60 + Interval - 20 && first.Ms <= 60 + Interval + Slack,
             QByteArray::number(first.Ms));
    QVERIFY(second.Ok);
    QCOMPARE(second.Bytes, QByteArray("second"));
    QVERIFY(!afterClose.Ok);
    QCOMPARE(afterClose.Bytes, QByteArray());
}

void TestLines::tcpOpenFailures_data()
{
    QTest::addColumn<QByteArray>("port");
    QTest::newRow("nobody listens") << QByteArray("socket://127.0.0.1:1");
    QTest::newRow("malformed") << QByteArray("socket://127.0.0.1:");
}

void TestLines::tcpOpenFailures()
{
    QFETCH(QByteArray, port);
    TRS232Channel ch;
    ch.Settings().PortNumber = port;
    QVERIFY(!ch.Open());
    QCOMPARE(ch.State(), quint8(1));
    int count = 3;
    QVERIFY(!ch.Write(reinterpret_cast<const quint8 *>("abc"), count));
    QCOMPARE(count, 0);
}

QTEST_GUILESS_MAIN(TestLines)
#include "tst_lines.moc"
