// What the emulated installation sends back for request frames: addressing,
// reads, writes, "@@", archive records, spectrum blocks, and every fault on
// exactly the request it was scheduled for.

#include "base/textutils.h"
#include "sim/simresponder.h"

#include <QTest>

namespace {

struct Rig {
    qint64 elapsedMs = 0;
    TSimInstrument sim;
    TSimResponder responder;
    explicit Rig(const QStringList &faults = {}, quint8 device = 1)
        : sim(TSimSettings{1, 300, 128, -1, 0}, [this] { return elapsedMs; }),
          responder(sim, device, schedule(faults))
    {
    }
    static TSimFaultSchedule schedule(const QStringList &faults)
    {
        TSimFaultSchedule s;
        for (const QString &f : faults)
            s.Add(f, nullptr);
        return s;
    }
    TSimExchange ask(const QByteArray &text, quint8 to = 1, quint8 from = 0)
    {
        return responder.Handle(MakeRequestFrame(from, to, text));
    }
    // All bytes the line would carry for the request.
    QByteArray wire(const QByteArray &text)
    {
        QByteArray out;
        for (const TSimChunk &c : ask(text).Output)
            out += c.Bytes;
        return out;
    }
    QByteArray replyText(const QByteArray &text)
    {
        ProtocolFrame f;
        return ParseFrame(wire(text), f) ? f.Text() : QByteArray("<no reply>");
    }
};

ProtocolFrame parsed(const QByteArray &wire, bool *ok = nullptr)
{
    ProtocolFrame f;
    const bool good = ParseFrame(wire, f);
    if (ok)
        *ok = good;
    return f;
}

} // namespace

class TestSimResponder : public QObject {
    Q_OBJECT

private slots:
    void answersOnlyItsOwnStationFromStation0();
    void replies_data();
    void replies();
    void writesEchoWhatTheInstallationHolds();
    void severalSegmentsInOneFrame();
    void spectrumOverBlocks();
    void logLines();
    void faultsFireOnTheirRequestOnly_data();
    void faultsFireOnTheirRequestOnly();
    void blockFaults();
    void faultedRequestsAreStillCarriedOut();
    void anyRequestTextGetsAFrameOrNothing();
};

void TestSimResponder::answersOnlyItsOwnStationFromStation0()
{
    Rig rig({"1:silent"}, 7);
    // Not for us, or not from the program: no reply, and not counted as a request.
    QVERIFY(rig.ask("DATETIME=??;", 1).Output.isEmpty());
    QVERIFY(rig.ask("DATETIME=??;", 7, 3).Output.isEmpty());
    QCOMPARE(rig.responder.RequestCount(), 0);
    QVERIFY(rig.ask("DATETIME=??;", 7).Output.isEmpty()); // request 1: the silent fault
    const TSimExchange ex = rig.ask("DATETIME=??;", 7);
    QCOMPARE(ex.Output.size(), 1);
    const ProtocolFrame f = parsed(ex.Output[0].Bytes);
    QCOMPARE(f.Receiver, quint8(0));
    QCOMPARE(f.Sender, quint8(7));
    QCOMPARE(rig.responder.RequestCount(), 2);
}

void TestSimResponder::replies_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("reply");
    QTest::newRow("read") << QByteArray("ALARM1=??;") << QByteArray("ALARM1=1000;");
    QTest::newRow("name as spelled") << QByteArray("alarm2=??;") << QByteArray("alarm2=5000;");
    QTest::newRow("blanks around") << QByteArray(" KOEFFICIENT = ?? ;") << QByteArray("KOEFFICIENT=0.37;");
    QTest::newRow("unknown") << QByteArray("NOSUCH=??;") << QByteArray("NOSUCH=@@;");
    QTest::newRow("record count") << QByteArray("NUMOFRECORDS=??;") << QByteArray("NUMOFRECORDS=300;");
    QTest::newRow("record") << QByteArray("SERIALN:A042=??;") << QByteArray("SERIALN:A042=1047;");
    QTest::newRow("record past end") << QByteArray("SERIALN:A301=??;") << QByteArray("SERIALN:A301=@@;");
    QTest::newRow("record write") << QByteArray("ALARM1:A001=5;") << QByteArray("ALARM1:A001=@@;");
    QTest::newRow("block count") << QByteArray("SPECTRUM2=??##;") << QByteArray("SPECTRUM2=##32;");
    QTest::newRow("spectrum as text") << QByteArray("SPECTRUM1=??;") << QByteArray("SPECTRUM1=@@;");
    QTest::newRow("block past the end") << QByteArray("SPECTRUM1=??#33;") << QByteArray("SPECTRUM1=@@;");
    QTest::newRow("block x") << QByteArray("SPECTRUM1=??#x;") << QByteArray("SPECTRUM1=@@;");
    QTest::newRow("block of a value") << QByteArray("ACTIVITY=??#1;") << QByteArray("ACTIVITY=@@;");
    QTest::newRow("no semicolon") << QByteArray("ALARM1=??") << QByteArray("<no reply>");
    QTest::newRow("empty") << QByteArray() << QByteArray("<no reply>");
}

void TestSimResponder::replies()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, reply);
    Rig rig;
    QCOMPARE(rig.replyText(request), reply);
}

void TestSimResponder::writesEchoWhatTheInstallationHolds()
{
    Rig rig;
    QCOMPARE(rig.replyText("ALARM1=1500;"), QByteArray("ALARM1=1500;"));
    QCOMPARE(rig.replyText("ALARM1=??;"), QByteArray("ALARM1=1500;"));
    QCOMPARE(rig.replyText("ALARM1=lots;"), QByteArray("ALARM1=1500;"));   // refused: the old value
    QCOMPARE(rig.replyText("SERIALN=1;"), QByteArray("SERIALN=1047;"));    // fixed
    QCOMPARE(rig.replyText("DATETIME=05/03/2004 14.07.00;"), QByteArray("DATETIME=05/03/2004 14.07.00;"));
    rig.elapsedMs = 2000;
    QCOMPARE(rig.replyText("DATETIME=??;"), QByteArray("DATETIME=05/03/2004 14.07.02;"));
}

void TestSimResponder::severalSegmentsInOneFrame()
{
    Rig rig;
    QCOMPARE(rig.replyText("ALARM1=??;ALARM2=2000;NOSUCH=??;junk;"),
             QByteArray("ALARM1=1000;ALARM2=2000;NOSUCH=@@;"));
    // A reply never outgrows a frame: segments that do not fit are left out.
    QByteArray many;
    for (int i = 0; i < 30; ++i)
        many += "ALARM1=??;";
    const QByteArray reply = rig.replyText(many.left(250));
    QVERIFY(reply.size() <= 253);
    QVERIFY(reply.endsWith("ALARM1=1000;"));
}

void TestSimResponder::spectrumOverBlocks()
{
    // A block count above 255 wraps the one-byte block number as a real line would.
    qint64 t = 0;
    TSimInstrument big(TSimSettings{1, 1, 16, 300, 0}, [&] { return t; });
    TSimResponder r(big, 1);
    ProtocolFrame b = parsed(r.Handle(MakeRequestFrame(0, 1, "SPECTRUM2=??#256;")).Output[0].Bytes);
    QCOMPARE(b.BlockNumber(), quint8(0));
    QCOMPARE(b.Length, quint8(18));
    b = parsed(r.Handle(MakeRequestFrame(0, 1, "SPECTRUM2=??#300;")).Output[0].Bytes);
    QCOMPARE(b.BlockNumber(), quint8(300 - 256));
    QCOMPARE(b.Length, quint8(2)); // past the data: no data
}

void TestSimResponder::logLines()
{
    Rig rig({"2:bad-header"});
    TSimExchange ex = rig.ask("ALARM1=??;");
    QCOMPARE(ex.Notes, QList<QByteArray>{"<- ALARM1=??;"});
    QCOMPARE(ex.Output[0].LogLines, QList<QByteArray>{"-> ALARM1=1000;"});
    ex = rig.ask("SPECTRUM2=??#32;");
    QCOMPARE(ex.Notes, (QList<QByteArray>{"<- SPECTRUM2=??#32;", "!! fault bad-header on request 2"}));
    const QByteArray hex = ex.Output[0].LogLines[0];
    QVERIFY(hex.startsWith("-> 20 01 "));
    QCOMPARE(hex.size(), 3 + 130 * 3 - 1); // block number, kind and 128 data bytes
    ex = rig.ask(QByteArray("X=a\x01\\b;"));
    QCOMPARE(ex.Notes[0], QByteArray("<- X=a\\x01\\x5Cb;")); // one line whatever the bytes
}

void TestSimResponder::faultsFireOnTheirRequestOnly_data()
{
    QTest::addColumn<QString>("fault");
    for (const char *f : {"silent", "bad-header", "bad-payload", "wrong-sender", "wrong-sender:9", "wrong-receiver",
                          "split:40", "split:40:3", "double", "garbage", "garbage:9", "delay:250", "cut", "cut:12",
                          "cut:999"})
        QTest::newRow(f) << QString::fromLatin1(f);
}

void TestSimResponder::faultsFireOnTheirRequestOnly()
{
    QFETCH(QString, fault);
    Rig rig({"2,4-5:" + fault});
    const QByteArray good = BuildFrame(MakeRequestFrame(1, 0, "ALARM2=5000;"));
    for (int n = 1; n <= 6; ++n) {
        const TSimExchange ex = rig.ask("ALARM2=??;");
        const bool faulted = n == 2 || n == 4 || n == 5;
        QByteArray bytes;
        for (const TSimChunk &c : ex.Output)
            bytes += c.Bytes;
        if (!faulted) {
            QCOMPARE(ex.Output.size(), 1);
            QCOMPARE(ex.Output[0].DelayMs, qint64(0));
            QCOMPARE(bytes, good);
            continue;
        }
        bool badChecksum = false;
        ProtocolFrame f;
        const bool ok = ParseFrame(bytes, f, &badChecksum);
        const QString kind = fault.section(u':', 0, 0);
        if (kind == QLatin1String("silent")) {
            QVERIFY(ex.Output.isEmpty());
        } else if (kind == QLatin1String("bad-header")) {
            QVERIFY(!ok && badChecksum);
            QCOMPARE(bytes.mid(7), good.mid(7));
        } else if (kind == QLatin1String("bad-payload")) {
            QVERIFY(!ok && badChecksum);
            QCOMPARE(bytes.left(7), good.left(7));
        } else if (kind == QLatin1String("wrong-sender")) {
            QVERIFY(ok);
            QCOMPARE(f.Sender, quint8(fault.endsWith(QLatin1String(":9")) ? 9 : 2));
            QCOMPARE(f.Receiver, quint8(0));
        } else if (kind == QLatin1String("wrong-receiver")) {
            QVERIFY(ok);
            QCOMPARE(f.Receiver, quint8(1));
        } else if (kind == QLatin1String("split")) {
            QCOMPARE(ex.Output.size(), 2);
            QCOMPARE(bytes, good);
            QCOMPARE(ex.Output[0].Bytes.size(), fault.endsWith(QLatin1String(":3")) ? 3 : good.size() / 2);
            QCOMPARE(ex.Output[1].DelayMs, qint64(40));
            QVERIFY(ex.Output[0].LogLines.isEmpty());
            QCOMPARE(ex.Output[1].LogLines.size(), 1);
        } else if (kind == QLatin1String("double")) {
            QCOMPARE(bytes, good + good);
            QCOMPARE(ex.Output[0].LogLines.size(), 2);
        } else if (kind == QLatin1String("garbage")) {
            const int n = fault.endsWith(QLatin1String(":9")) ? 9 : 4;
            QCOMPARE(bytes, TSimResponder::GarbageBytes(n) + good);
            QVERIFY(!ParseFrame(bytes, f)); // the program's receiver sees no frame
        } else if (kind == QLatin1String("delay")) {
            QCOMPARE(ex.Output[0].DelayMs, qint64(250));
            QCOMPARE(bytes, good);
        } else if (kind == QLatin1String("cut")) {
            const int n = fault.endsWith(QLatin1String(":12")) ? 12 : fault.endsWith(QLatin1String(":999")) ? 999 : 1;
            QCOMPARE(bytes, good.chopped(std::min<qsizetype>(n, good.size())));
        }
    }
}

void TestSimResponder::blockFaults()
{
    Rig rig({"1:block-count-0", "3:wrong-block", "4:wrong-kind", "5:wrong-kind:0", "6:wrong-block"});
    QCOMPARE(rig.replyText("SPECTRUM1=??##;"), QByteArray("SPECTRUM1=##0;"));
    QCOMPARE(rig.replyText("SPECTRUM1=??##;"), QByteArray("SPECTRUM1=##32;"));
    ProtocolFrame f = parsed(rig.wire("SPECTRUM1=??#5;"));
    QCOMPARE(f.BlockNumber(), quint8(6));
    QCOMPARE(f.PayloadKind(), quint8(1));
    f = parsed(rig.wire("SPECTRUM1=??#5;"));
    QCOMPARE(f.BlockNumber(), quint8(5));
    QCOMPARE(f.PayloadKind(), quint8(2));
    f = parsed(rig.wire("SPECTRUM1=??#5;"));
    QCOMPARE(f.PayloadKind(), quint8(0));
    // A block fault on a text request leaves the text alone.
    QCOMPARE(rig.replyText("ALARM1=??;"), QByteArray("ALARM1=1000;"));
    f = parsed(rig.wire("SPECTRUM1=??#5;"));
    QCOMPARE(f.BlockNumber(), quint8(5));
}

void TestSimResponder::faultedRequestsAreStillCarriedOut()
{
    Rig rig({"1:silent", "2:bad-payload"});
    rig.sim.SetActivityReadings({"10", "20", "30"});
    QVERIFY(rig.ask("ALARM1=2000;").Output.isEmpty());
    QCOMPARE(rig.sim.Read("ALARM1").Value, QByteArray("2000"));
    rig.ask("ACTIVITY=??;");
    QCOMPARE(rig.replyText("ACTIVITY=??;"), QByteArray("ACTIVITY=20;"));
}

void TestSimResponder::anyRequestTextGetsAFrameOrNothing()
{
    // Texts put together from the protocol's own characters, names and markers.
    const QList<QByteArray> parts = {"=", ";", ":", "??", "#", "##", "@@", " ", "A001", "A", "0", "999999999999",
                                     "SPECTRUM1", "DATETIME", "ACTIVITY", "ALARM1", "x", QByteArray(1, '\0')};
    Rig rig({"3-:double", "5-:wrong-block"});
    quint64 state = 12345;
    for (int round = 0; round < 3000; ++round) {
        QByteArray text;
        const int count = int(state % 40);
        for (int i = 0; i < count; ++i) {
            state = state * 6364136223846793005ULL + 1442695040888963407ULL;
            text += parts[int((state >> 33) % quint64(parts.size()))];
        }
        const TSimExchange ex = rig.ask(text.left(253));
        for (const TSimChunk &c : ex.Output) {
            ProtocolFrame f;
            QVERIFY2(ParseFrame(c.Bytes, f), text.toHex().constData());
            QVERIFY(c.Bytes.size() == BuildFrame(f).size() * (c.LogLines.size()));
        }
    }
}

QTEST_GUILESS_MAIN(TestSimResponder)
#include "tst_simresponder.moc"
