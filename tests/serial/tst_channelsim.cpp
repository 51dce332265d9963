// The channel against the installation emulator, which sends its replies at
// the pace of a real 9600-baud line: every reply, also a long block reply,
// must come whole in the one read that follows its request, over the
// pseudo-terminal and over TCP.

#include "protocol/frame.h"
#include "serial/rs232channel.h"
#include "support/simprocess.h"

#include <QTest>

namespace {

// One request and its reply, the way the protocol driver makes them.
bool Ask(TRS232Channel &ch, const QByteArray &text, ProtocolFrame &reply, QByteArray &wire)
{
    bool ok = false;
    const QByteArray request = BuildFrame(MakeRequestFrame(0, 1, text, &ok));
    int count = int(request.size());
    if (!ok || !ch.Write(reinterpret_cast<const quint8 *>(request.constData()), count) || count != request.size())
        return false;
    wire = QByteArray(kFrameBufferSize, '\0');
    count = 0;
    if (!ch.Read(reinterpret_cast<quint8 *>(wire.data()), kFrameBufferSize, count))
        return false;
    wire.truncate(count);
    return ParseFrame(wire, reply);
}

} // namespace

class TestChannelSim : public QObject {
    Q_OBJECT
private slots:
    void repliesComeWhole_data();
    void repliesComeWhole();
};

void TestChannelSim::repliesComeWhole_data()
{
    QTest::addColumn<bool>("tcp");
    QTest::newRow("pseudo-terminal") << false;
    QTest::newRow("tcp") << true;
}

void TestChannelSim::repliesComeWhole()
{
    QFETCH(bool, tcp);
    SimProcess sim;
    const QStringList options{"--baud", "9600"};
    QVERIFY2(tcp ? sim.StartTcp(options) : sim.Start(options), qPrintable(sim.ErrorText()));

    TRS232Channel ch;
    // The file that ./run writes: the window's settings with the link as port.
    ch.Settings().PortNumber = (tcp ? sim.TcpAddress() : sim.LinkPath()).toLocal8Bit();
    QVERIFY2(ch.Open(), qPrintable(ch.ErrorText()));

    ProtocolFrame reply;
    QByteArray wire;
    QVERIFY(Ask(ch, "SERIALN=??;", reply, wire));
    QVERIFY2(reply.Text().startsWith("SERIALN="), reply.Text().constData());
    QCOMPARE(wire.size(), ExpectedFrameSize(wire));

    // A spectrum block: the longest reply (141 bytes, about 150 ms at 9600).
    QVERIFY(Ask(ch, "SPECTRUM1=??#1;", reply, wire));
    QCOMPARE(wire.size(), ExpectedFrameSize(wire));
    QVERIFY2(wire.size() > 100, QByteArray::number(wire.size()));

    // Request after request: no reply spills into the next read.
    for (int i = 0; i < 5; ++i) {
        QVERIFY(Ask(ch, "DATETIME=??;", reply, wire));
        QVERIFY2(reply.Text().startsWith("DATETIME="), reply.Text().constData());
    }
}

QTEST_GUILESS_MAIN(TestChannelSim)
#include "tst_channelsim.moc"
