// kvarn-sim as a program: over a real pseudo-terminal and a TCP socket, with
// its log, its faults on cue, its pace, its command line and its clean exit.

#include "protocol/frame.h"
#include "sim/simspectrum.h"
#include "support/simprocess.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <ctime>

namespace {

qint64 nowNs()
{
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

QByteArray textOf(const QByteArray &wire)
{
    ProtocolFrame f;
    return ParseFrame(wire, f) ? f.Text() : QByteArray("<no frame>");
}

struct Run {
    int code = -1;
    QByteArray out;
    QByteArray err;
};

Run runSim(const QStringList &args)
{
    QProcess p;
    p.start(SimProcess::Executable(), args);
    Run r;
    if (!p.waitForFinished(15000)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

} // namespace

class TestSimProcess : public QObject {
    Q_OBJECT

private slots:
    void workedExampleOverAPseudoTerminal();
    void readsWritesAndASpectrum();
    void receivesRobustly();
    void faultsOnCue();
    void pacingAt9600();
    void tcpClients();
    void cleanExitOnSignals_data();
    void cleanExitOnSignals();
    void commandLine();
    void linkPath();
    void probe();
};

void TestSimProcess::workedExampleOverAPseudoTerminal()
{
    SimProcess sim;
    QVERIFY2(sim.Start({"--set", "SERIALN=12"}), qPrintable(sim.ErrorText()));
    SimTerminal line;
    QVERIFY(line.Open(sim.LinkPath()));
    QVERIFY(line.Write(QByteArray::fromHex("01000D35000000" "0000" "53455249414C4E3D3F3F3B" "24B90200")));
    const QByteArray reply = line.Read(3000, 100, 24);
    QCOMPARE(reply.left(7).toHex(' '), QByteArray("00 01 0d 36 00 00 00"));
    QCOMPARE(textOf(reply), QByteArray("SERIALN=12;"));
    QVERIFY(sim.WaitForLog("-> ", 1));
    QCOMPARE(sim.RequestLines(), QList<QByteArray>{"SERIALN=??;"});
    QCOMPARE(sim.ReplyLines(), QList<QByteArray>{"SERIALN=12;"});
    QVERIFY(sim.Stop());
}

void TestSimProcess::readsWritesAndASpectrum()
{
    SimProcess sim;
    QVERIFY2(sim.Start({"--seed", "5", "--set", "DATETIME=05/03/2004 14.07.00"}), qPrintable(sim.ErrorText()));
    SimTerminal line;
    QVERIFY(line.Open(sim.LinkPath()));
    QVERIFY(textOf(line.Ask(1, "DATETIME=??;")).startsWith("DATETIME=05/03/2004 14.07."));
    QCOMPARE(textOf(line.Ask(1, "ALARM1=1234.5;")), QByteArray("ALARM1=1234.5;"));
    QCOMPARE(textOf(line.Ask(1, "ALARM1=??;")), QByteArray("ALARM1=1234.5;"));
    QCOMPARE(textOf(line.Ask(1, "NOSUCH=??;")), QByteArray("NOSUCH=@@;"));
    QVERIFY(textOf(line.Ask(1, "ACTIVITY:A042=??;")).startsWith("ACTIVITY:A042="));

    QCOMPARE(textOf(line.Ask(1, "SPECTRUM2=??##;")), QByteArray("SPECTRUM2=##32;"));
    ProtocolFrame f;
    QVERIFY(ParseFrame(line.Ask(1, "SPECTRUM2=??#32;"), f));
    QCOMPARE(f.Data(), SimSpectrumBytes(SimSpectrumCounts(TSimSpectrumKind::Background, 5)).right(128));
    QVERIFY(sim.WaitForLog("-> ", 7));
    QCOMPARE(sim.RequestLines().size(), 7);
    QVERIFY(sim.ReplyLines().last().startsWith("20 01 ")); // block 32 in hexadecimal
}

void TestSimProcess::receivesRobustly()
{
    SimProcess sim;
    QVERIFY2(sim.Start(), qPrintable(sim.ErrorText()));
    SimTerminal line;
    QVERIFY(line.Open(sim.LinkPath()));
    const QByteArray request = BuildFrame(MakeRequestFrame(0, 1, "ALARM2=??;"));
    QByteArray broken = request;
    broken[broken.size() - 1] = char(broken[broken.size() - 1] ^ 0x10);

    // Noise, a frame with a bad checksum and a frame for another station: one reply, to the good frame.
    QVERIFY(line.Write(QByteArray("\x00\xFF\x7E noise", 8) + broken + BuildFrame(MakeRequestFrame(0, 2, "ALARM2=??;"))
                       + request));
    QCOMPARE(textOf(line.Read(3000, 300)), QByteArray("ALARM2=5000;"));

    // A header that promises more than ever comes is given up once the line is quiet.
    const QByteArray big = BuildFrame(MakeRequestFrame(0, 1, QByteArray(200, 'x')));
    QVERIFY(line.Write(big.left(20)));
    QVERIFY(line.Read(300, 300).isEmpty());
    QCOMPARE(textOf(line.Ask(1, "ALARM1=??;")), QByteArray("ALARM1=1000;"));
    QCOMPARE(sim.RequestLines(), (QList<QByteArray>{"ALARM2=??;", "ALARM1=??;"}));
    QVERIFY(sim.LogLines().contains("!! frame for station 2 ignored"));
}

void TestSimProcess::faultsOnCue()
{
    SimProcess sim;
    QVERIFY2(sim.Start({"--fault", "2:split:150", "--fault", "3:delay:200", "--activity", "10,20"}),
             qPrintable(sim.ErrorText()));
    SimTerminal line;
    QVERIFY(line.Open(sim.LinkPath()));
    QCOMPARE(textOf(line.Ask(1, "ACTIVITY=??;")), QByteArray("ACTIVITY=10;"));

    // The split reply: two parts with the gap between them.
    QList<qint64> at;
    QVERIFY(line.Write(BuildFrame(MakeRequestFrame(0, 1, "ACTIVITY=??;"))));
    const QByteArray split = line.Read(3000, 400, 1 << 20, &at);
    QCOMPARE(textOf(split), QByteArray("ACTIVITY=20;"));
    const int half = int(split.size() / 2);
    const double gapMs = (at[half] - at[half - 1]) / 1e6;
    QVERIFY2(gapMs >= 149 && gapMs < 250, QByteArray::number(gapMs).constData());

    // The delayed reply.
    const qint64 sent = nowNs();
    QVERIFY(line.Write(BuildFrame(MakeRequestFrame(0, 1, "ALARM1=??;"))));
    at.clear();
    QCOMPARE(textOf(line.Read(3000, 100, 1 << 20, &at)), QByteArray("ALARM1=1000;"));
    const double delayMs = (at.first() - sent) / 1e6;
    QVERIFY2(delayMs >= 199 && delayMs < 300, QByteArray::number(delayMs).constData());

    QCOMPARE(textOf(line.Ask(1, "ALARM1=??;")), QByteArray("ALARM1=1000;")); // request 4: all well again
    QVERIFY(sim.WaitForLog("-> ", 4));
    QList<QByteArray> faults;
    for (const QByteArray &l : sim.LogLines())
        if (l.startsWith("!! fault"))
            faults << l;
    QCOMPARE(faults, (QList<QByteArray>{"!! fault split on request 2", "!! fault delay on request 3"}));
}

void TestSimProcess::pacingAt9600()
{
    SimProcess sim;
    QVERIFY2(sim.Start({"--baud", "9600", "--block-size", "253", "--fault", "1:double"}), qPrintable(sim.ErrorText()));
    SimTerminal line;
    QVERIFY(line.Open(sim.LinkPath()));
    QList<qint64> at;
    QVERIFY(line.Write(BuildFrame(MakeRequestFrame(0, 1, "SPECTRUM1=??#1;"))));
    const QByteArray bytes = line.Read(5000, 200, 532, &at);
    QCOMPARE(bytes.size(), 532); // two 266-byte frames
    // Ten bits a byte at 9600 baud. The rate is the slope of arrival time over
    // byte number (least squares), which a late read here or there hardly moves.
    const double expectedMs = 10.0 / 9600 * 1000;
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    const int n = int(at.size());
    for (int i = 0; i < n; ++i) {
        const double y = (at[i] - at[0]) / 1e6;
        sx += i;
        sy += y;
        sxx += double(i) * i;
        sxy += i * y;
    }
    const double slopeMs = (n * sxy - sx * sy) / (n * sxx - sx * sx);
    qDebug("%.5f ms a byte (%.5f ms on a real line)", slopeMs, expectedMs);
    QVERIFY2(std::abs(slopeMs - expectedMs) <= 0.02 * expectedMs, QByteArray::number(slopeMs).constData());
}

void TestSimProcess::tcpClients()
{
    SimProcess sim;
    QVERIFY2(sim.StartTcp({"--device", "3"}), qPrintable(sim.ErrorText()));
    QVERIFY(sim.TcpPort() > 0);
    QCOMPARE(sim.TcpAddress(), QStringLiteral("socket://127.0.0.1:%1").arg(sim.TcpPort()));
    auto ask = [](QTcpSocket &s, const QByteArray &text) {
        s.write(BuildFrame(MakeRequestFrame(0, 3, text)));
        QByteArray got;
        while (ExpectedFrameSize(got) == 0 || got.size() < ExpectedFrameSize(got)) {
            if (!s.waitForReadyRead(3000))
                break;
            got += s.readAll();
        }
        return textOf(got);
    };
    QTcpSocket first;
    first.connectToHost(QStringLiteral("127.0.0.1"), quint16(sim.TcpPort()));
    QVERIFY(first.waitForConnected(3000));
    QCOMPARE(ask(first, "ALARM1=??;"), QByteArray("ALARM1=1000;"));
    // A new client takes the line over.
    QTcpSocket second;
    second.connectToHost(QStringLiteral("127.0.0.1"), quint16(sim.TcpPort()));
    QVERIFY(second.waitForConnected(3000));
    QCOMPARE(ask(second, "ALARM2=??;"), QByteArray("ALARM2=5000;"));
    QVERIFY(first.state() == QAbstractSocket::UnconnectedState || first.waitForDisconnected(3000));
    QVERIFY(sim.Stop());
}

void TestSimProcess::cleanExitOnSignals_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
}

void TestSimProcess::cleanExitOnSignals()
{
    QFETCH(int, signal);
    SimProcess sim;
    QVERIFY2(sim.Start(), qPrintable(sim.ErrorText()));
    QVERIFY(QFileInfo(sim.LinkPath()).isSymLink());
    QVERIFY(::kill(pid_t(sim.ProcessId()), signal) == 0);
    QCOMPARE(sim.WaitForExit(), 0);
    QVERIFY(!QFileInfo(sim.LinkPath()).isSymLink());
    QCOMPARE(sim.LogLines().last(), QByteArray("!! stopped"));
}

void TestSimProcess::commandLine()
{
    const Run help = runSim({"--help"});
    QCOMPARE(help.code, 0);
    for (const char *word : {"--link", "--tcp", "--baud", "--device", "--seed", "--records", "--block-size",
                             "--block-count", "--set", "--activity", "--fault", "--log", "--probe", "--help",
                             "silent", "bad-header", "bad-payload", "wrong-sender", "wrong-receiver", "split",
                             "double", "garbage", "delay", "block-count-0", "wrong-block", "wrong-kind", "cut",
                             "--reply-delay", "SIGTERM"})
        QVERIFY2(help.out.contains(word), word);

    const Run bad = runSim({"--link", "x", "--device", "300"});
    QCOMPARE(bad.code, 2);
    QVERIFY(bad.err.startsWith("kvarn-sim: --device"));
    QTemporaryDir dir;
    const Run badSet = runSim({"--link", dir.filePath("tty"), "--set", "DATETIME=yesterday"});
    QCOMPARE(badSet.code, 1);
    QVERIFY(badSet.err.contains("DATETIME"));
    QVERIFY(!QFileInfo::exists(dir.filePath("tty")));
}

void TestSimProcess::linkPath()
{
    QTemporaryDir dir;
    // A file in the way is left alone.
    const QString file = dir.filePath("busy");
    {
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("keep");
    }
    const Run r = runSim({"--link", file});
    QCOMPARE(r.code, 1);
    QVERIFY(r.err.contains("not a symbolic link"));
    QFile f(file);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("keep"));

    // A link left behind by an emulator that was killed is replaced.
    QVERIFY(QFile::link(QStringLiteral("/nonexistent/pts"), dir.filePath("stale")));
    QProcess p;
    p.start(SimProcess::Executable(), {"--link", dir.filePath("stale")});
    QVERIFY(p.waitForReadyRead(10000));
    QVERIFY(QFileInfo(dir.filePath("stale")).symLinkTarget().startsWith(QLatin1String("/dev/pts/")));
    p.terminate();
    QVERIFY(p.waitForFinished(10000));
    QCOMPARE(p.exitCode(), 0);
    QVERIFY(!QFileInfo(dir.filePath("stale")).isSymLink());
}

void TestSimProcess::probe()
{
    SimProcess sim;
    QVERIFY2(sim.Start({"--device", "9"}), qPrintable(sim.ErrorText()));
    const Run ok = runSim({"--probe", sim.LinkPath(), "--device", "9"});
    QCOMPARE(ok.code, 0);
    QVERIFY(ok.out.contains("-> SERIALN=??;\n<- SERIALN=1047;\n"));
    const Run wrong = runSim({"--probe", sim.LinkPath()}); // device 1 is not there
    QCOMPARE(wrong.code, 1);
    QVERIFY(wrong.out.contains("-> DATETIME=??;\n<- \n"));
    QCOMPARE(runSim({"--probe", "/nonexistent/tty"}).code, 2);
}

QTEST_GUILESS_MAIN(TestSimProcess)
#include "tst_simprocess.moc"
