// The protocol driver on a pseudo-terminal against kvarn-sim: replies that
// come in pieces, cut short, twice, late or behind noise, as the emulator
// sends them on cue. Each case must cost at most the attempt it spoils, and
// no value may be taken from a reply that is not the asked one's.

#include "base/cp1251.h"
#include "sim/simspectrum.h"
#include "support/simline.h"
#include "support/varlists.h"

#include <QTest>

namespace {
// At 1200 baud the interval time-out is 160 ms and "Approximately 0.25
// second" lets a reply take 306 ms in all, wide enough for a loaded machine.
const QByteArray kSlowRate = "1200 baud";

QByteArray dropLine(int bytes)
{
    return Cp("сброшено байт: ") + QByteArray::number(bytes);
}

QByteArray notTaken(int bytes)
{
    return dropLine(bytes) + Cp(" (ответ выше не принят: за ним шли другие)");
}
} // namespace

class TestDriverSim : public QObject {
    Q_OBJECT
private slots:
    void replyBoundaries_data();
    void replyBoundaries();
    void noiseBeforeAFullSizeBlock_data();
    void noiseBeforeAFullSizeBlock();
    void lateReplies_data();
    void lateReplies();
};

void TestDriverSim::replyBoundaries_data()
{
    // The fault spoils the first request; ALARM1 is then read twice. Its
    // reply "ALARM1=1000;" travels in a 25-byte frame.
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QList<QByteArray>>("log");
    const QList<QByteArray> clean{"-> ALARM1=??;", "<- ALARM1=1000;"};
    const QList<QByteArray> request{"-> ALARM1=??;"};
    QTest::newRow("none") << QString() << clean + clean;
    QTest::newRow("split in the header") << "1:split:40:3" << clean + clean;
    QTest::newRow("split in the payload") << "1:split:40:12" << clean + clean;
    QTest::newRow("garbage before the header")
        << "1:garbage:1" << request + QList<QByteArray>{"<- bad CRC [7 bytes total]", dropLine(19)} + clean + clean;
    QTest::newRow("cut short") << "1:cut:3" << request + QList<QByteArray>{"<- bad CRC [22 bytes total]"} + clean + clean;
    QTest::newRow("bad payload") << "1:bad-payload"
                                 << request + QList<QByteArray>{"<- bad CRC [25 bytes total]"} + clean + clean;
    QTest::newRow("another station's header")
        << "1:wrong-sender" << request + QList<QByteArray>{"<- ", dropLine(18)} + clean + clean;
    // On the line just opened, a frame on the heels of the reply means
    // replies queued behind one another: both go, and A is asked again.
    QTest::newRow("two frames back to back") << "1:double" << clean + QList<QByteArray>{notTaken(25)} + clean + clean;
    // Late past the first attempt's time-outs, in time for the second: the
    // second attempt's reply follows on its heels, so neither is taken.
    QTest::newRow("late reply") << "1:delay:450"
                                << request + QList<QByteArray>{"<- "} + clean + QList<QByteArray>{notTaken(25)} + clean
                                       + clean;
}

void TestDriverSim::replyBoundaries()
{
    QFETCH(QString, fault);
    QFETCH(QList<QByteArray>, log);
    SimProcess sim;
    QStringList options;
    if (!fault.isEmpty())
        options << "--fault" << fault;
    QVERIFY2(sim.Start(options), qPrintable(sim.ErrorText()));
    ProgramOnSim p;
    QVERIFY2(p.open(sim, kSlowRate), qPrintable(p.channel.ErrorText()));
    auto list = varListOf({"ALARM1"});
    QVERIFY(p.driver.ReadVars(1, *list));
    QVERIFY(p.driver.ReadVars(1, *list));
    QCOMPARE(p.terminal.Lines, log);
    QCOMPARE(list->GetItem(0)->Value, QByteArray("1000"));
    QCOMPARE(p.driver.LastReadSize(), 25);
}

void TestDriverSim::noiseBeforeAFullSizeBlock_data()
{
    // Blocks of 253 bytes travel in 266-byte frames, the largest there is.
    // Paced at 9600 baud such a frame takes 277 ms on the wire, so the reply
    // delay is the next longer one; the rest of the spoilt frame is still
    // coming in while the retry's request is made.
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QByteArray>("latency");
    QTest::newRow("unpaced") << QStringList{} << QByteArray("Approximately 0.25 second");
    QTest::newRow("paced at 9600 baud") << QStringList{"--baud", "9600"} << QByteArray("Approximately 0.5 second");
}

void TestDriverSim::noiseBeforeAFullSizeBlock()
{
    QFETCH(QStringList, options);
    QFETCH(QByteArray, latency);
    SimProcess sim;
    // Request 3 is block 2: one noise byte goes before it.
    QVERIFY2(sim.Start(options + QStringList{"--block-size", "253", "--fault", "3:garbage:1"}),
             qPrintable(sim.ErrorText()));
    ProgramOnSim p;
    QVERIFY2(p.open(sim, "9600 baud", latency), qPrintable(p.channel.ErrorText()));
    QByteArray data;
    int size = 0;
    QVERIFY(p.driver.ReadBlock(1, *varListOf({"SPECTRUM1"}), data, size));
    QCOMPARE(data, SimSpectrumBytes(SimSpectrumCounts(TSimSpectrumKind::Main, 1)));
    QCOMPARE(sim.RequestLines().size(), 1 + 17 + 1); // the count, 17 blocks, block 2 again
    QVERIFY(p.terminal.Lines.contains("<- bad CRC [7 bytes total]"));
    QVERIFY(p.terminal.Lines.contains(dropLine(1 + 266 - 7)));
}

void TestDriverSim::lateReplies_data()
{
    // Every reply 400 ms late, past a whole attempt's time-outs: each request
    // is answered by the reply to its own first attempt, read by a later
    // attempt; the replies to the later attempts follow and are dropped
    // before the next request or shown as no answer.
    QTest::addColumn<int>("kind"); // 0 ReadVars, 1 WriteVars, 2 ReadBlock
    QTest::newRow("ReadVars") << 0;
    QTest::newRow("WriteVars") << 1;
    QTest::newRow("ReadBlock") << 2;
}

void TestDriverSim::lateReplies()
{
    QFETCH(int, kind);
    SimProcess sim;
    QVERIFY2(sim.Start({"--reply-delay", "400", "--block-size", "253", "--set", "KOEFFICIENT=0.5"}),
             qPrintable(sim.ErrorText()));
    ProgramOnSim p;
    QVERIFY2(p.open(sim, kSlowRate), qPrintable(p.channel.ErrorText()));
    if (kind == 2) {
        QByteArray data;
        int size = 0;
        QVERIFY(p.driver.ReadBlock(1, *varListOf({"SPECTRUM1"}), data, size));
        QCOMPARE(data, SimSpectrumBytes(SimSpectrumCounts(TSimSpectrumKind::Main, 1)));
        return;
    }
    auto list = varListOf({"KOEFFICIENT", "ALARM1", "ALARM2", "SERIALN"});
    if (kind == 1) {
        const QList<QByteArray> values{"0.25", "1500", "6000", "1047"};
        for (int i = 0; i < 4; ++i)
            list->GetItem(i)->Value = values[i];
        QVERIFY(p.driver.WriteVars(1, *list));
        for (int i = 0; i < 4; ++i)
            QCOMPARE(list->GetItem(i)->Value, values[i]);
    } else {
        QVERIFY(p.driver.ReadVars(1, *list));
        const QList<QByteArray> values{"0.5", "1000", "5000", "1047"};
        for (int i = 0; i < 4; ++i)
            QCOMPARE(list->GetItem(i)->Value, values[i]);
    }
}

QTEST_GUILESS_MAIN(TestDriverSim)
#include "tst_driversim.moc"
