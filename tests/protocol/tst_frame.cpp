#include "protocol/frame.h"

#include <QTest>
#include <vector>

namespace {
QByteArray hex(const char *text) { return QByteArray::fromHex(text); }

// The read request for SERIALN sent to device 1, as it must go on the wire.
const char kSerialRequest[] = "01000D" "35000000"
                              "00005345524941" "4C4E3D3F3F3B"
                              "24B90200";

QByteArray textReply(quint8 device, const QByteArray &text)
{
    return BuildFrame(MakeRequestFrame(device, 0, text));
}
} // namespace

class TestFrame : public QObject {
    Q_OBJECT
private slots:
    void workedExampleByteForByte();
    void emptyPayloadHasNoPayloadChecksum();
    void checksumShiftWrapsAfter25Bytes();
    void checksumNeverReadsPastTheFrameBuffer();
    void largestPayloadRoundTrips();
    void blockFrames();
    void damagedFramesAreChecksumFailures_data();
    void damagedFramesAreChecksumFailures();
    void extraBytesAfterTheFrameAreIgnored();
    void replyTextIsTrimmed();
    void segments_data();
    void segments();
    void splittingReplyTexts();
    void requestTexts();
    void requestTextLimit();
    void expectedFrameSize();
};

void TestFrame::workedExampleByteForByte()
{
    bool ok = false;
    const ProtocolFrame request = MakeRequestFrame(0, 1, ReadRequestText("SERIALN", ""), &ok);
    QVERIFY(ok);
    QCOMPARE(int(request.Length), 13);
    const QByteArray wire = BuildFrame(request);
    QCOMPARE(wire.size(), 24);
    QCOMPARE(wire.toHex().toUpper(), QByteArray(kSerialRequest));

    // The reply with the same payload length from device 1.
    const QByteArray reply = textReply(1, "SERIALN=12;");
    QCOMPARE(reply.left(7), hex("00010D36000000"));

    ProtocolFrame parsed;
    bool bad = true;
    QVERIFY(ParseFrame(wire, parsed, &bad));
    QVERIFY(!bad);
    QCOMPARE(int(parsed.Receiver), 1);
    QCOMPARE(int(parsed.Sender), 0);
    QCOMPARE(parsed.Text(), QByteArray("SERIALN=??;"));
}

void TestFrame::emptyPayloadHasNoPayloadChecksum()
{
    ProtocolFrame frame;
    frame.Sender = 1;
    frame.Receiver = 0;
    const QByteArray wire = BuildFrame(frame);
    QCOMPARE(wire, hex("00010002000000"));

    ProtocolFrame parsed;
    QVERIFY(ParseFrame(wire, parsed));
    QCOMPARE(int(parsed.Length), 0);
    QCOMPARE(int(parsed.Sender), 1);
    QVERIFY(parsed.Text().isEmpty());
    QVERIFY(parsed.Data().isEmpty());
}

void TestFrame::checksumShiftWrapsAfter25Bytes()
{
    quint8 buf[kFrameBufferSize] = {};
    auto single = [&](int at) {
        std::fill(std::begin(buf), std::end(buf), 0);
        buf[7 + at] = 0x81;
        return FrameChecksum(buf, 7, 200);
    };
    QCOMPARE(single(0), 0x81u);
    QCOMPARE(single(24), 0x81u << 24); // top bit lands on bit 31, nothing lost
    QCOMPARE(single(25), 0x81u);       // the shift starts again at 0
    QCOMPARE(single(26), 0x81u << 1);
    QCOMPARE(single(50), 0x81u);
    // The shift counts from the first covered byte, not from the buffer start.
    buf[7 + 26] = 0;
    buf[3] = 0xFF;
    QCOMPARE(FrameChecksum(buf, 3, 1), 0xFFu);
}

void TestFrame::checksumNeverReadsPastTheFrameBuffer()
{
    // Exactly one frame buffer on the heap: the sanitizer catches any read beyond it.
    std::vector<quint8> buf(kFrameBufferSize, 0);
    buf[265] = 0x01;
    QCOMPARE(FrameChecksum(buf.data(), 260, 50), 0x01u << 5);
    QCOMPARE(FrameChecksum(buf.data(), 266, 1), 0u);
    QCOMPARE(FrameChecksum(buf.data(), -1, 3), 0u);
    QCOMPARE(FrameChecksum(buf.data(), 0, 0), 0u);
    QCOMPARE(FrameChecksum(nullptr, 0, 3), 0u);
}

void TestFrame::largestPayloadRoundTrips()
{
    QByteArray text;
    for (int i = 0; i < kMaxRequestText; ++i)
        text += char('A' + i % 26);
    bool ok = false;
    const ProtocolFrame frame = MakeRequestFrame(0, 7, text, &ok);
    QVERIFY(ok);
    QCOMPARE(int(frame.Length), 255);
    const QByteArray wire = BuildFrame(frame);
    QCOMPARE(wire.size(), 266);

    ProtocolFrame parsed;
    QVERIFY(ParseFrame(wire, parsed));
    QCOMPARE(int(parsed.Length), 255);
    QCOMPARE(int(parsed.Receiver), 7);
    QCOMPARE(parsed.Text(), text);
}

void TestFrame::blockFrames()
{
    const QByteArray data = hex("00FF10203040");
    const ProtocolFrame block = MakeBlockFrame(1, 0, 3, data);
    ProtocolFrame parsed;
    QVERIFY(ParseFrame(BuildFrame(block), parsed));
    QCOMPARE(int(parsed.BlockNumber()), 3);
    QCOMPARE(int(parsed.PayloadKind()), 1);
    QCOMPARE(parsed.Data(), data); // binary data kept as it is, zeros included
    QCOMPARE(int(parsed.Length), data.size() + 2);

    // Data longer than one payload is cut, never written past the payload.
    const ProtocolFrame big = MakeBlockFrame(1, 0, 1, QByteArray(400, '\x55'));
    QCOMPARE(int(big.Length), 255);
    QCOMPARE(BuildFrame(big).size(), 266);
}

void TestFrame::damagedFramesAreChecksumFailures_data()
{
    QTest::addColumn<QByteArray>("wire");
    const QByteArray good = hex(kSerialRequest);
    auto flip = [&](int at) {
        QByteArray w = good;
        w[at] = char(w[at] ^ 0x04);
        return w;
    };
    QTest::newRow("payload byte") << flip(12);
    QTest::newRow("payload checksum") << flip(22);
    QTest::newRow("header checksum") << flip(4);
    QTest::newRow("length byte") << flip(2);
    QTest::newRow("one byte short") << good.left(23);
    QTest::newRow("header only") << good.left(7);
    QTest::newRow("header cut") << good.left(5);
    QTest::newRow("two bytes") << good.left(2);
    QTest::newRow("nothing") << QByteArray();
    // Zeros look like a valid empty frame once the buffer pads them; they are not.
    QTest::newRow("three zeros") << QByteArray(3, '\0');
    QTest::newRow("six zeros") << QByteArray(6, '\0');
}

void TestFrame::damagedFramesAreChecksumFailures()
{
    QFETCH(QByteArray, wire);
    ProtocolFrame frame;
    frame.Sender = 42;
    bool bad = false;
    QVERIFY(!ParseFrame(wire, frame, &bad));
    QVERIFY(bad);
    QCOMPARE(int(frame.Sender), 42); // a failed parse leaves the record alone
}

void TestFrame::extraBytesAfterTheFrameAreIgnored()
{
    const QByteArray first = textReply(1, "A=1;");
    const QByteArray second = textReply(1, "B=2;");
    ProtocolFrame parsed;

    QVERIFY(ParseFrame(first + "garbage", parsed));
    QCOMPARE(parsed.Text(), QByteArray("A=1;"));

    // Two replies in one read: only the first counts, the second is lost.
    QVERIFY(ParseFrame(first + second, parsed));
    QCOMPARE(parsed.Text(), QByteArray("A=1;"));

    // More than a receive buffer: the bytes past 266 are never looked at.
    QVERIFY(ParseFrame(first + QByteArray(1000, '\xAA'), parsed));

    // An empty frame followed by another frame.
    ProtocolFrame empty;
    empty.Sender = 1;
    QVERIFY(ParseFrame(BuildFrame(empty) + second, parsed));
    QCOMPARE(int(parsed.Length), 0);
}

void TestFrame::replyTextIsTrimmed()
{
    ProtocolFrame parsed;
    QVERIFY(ParseFrame(textReply(1, QByteArray(" \tA=1;  \0\0 \0", 13)), parsed));
    QCOMPARE(parsed.Text(), QByteArray("A=1;"));
    QCOMPARE(parsed.Data().size(), 13);
}

void TestFrame::segments_data()
{
    QTest::addColumn<QByteArray>("segment");
    QTest::addColumn<bool>("malformed");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("index");
    QTest::addColumn<QByteArray>("value");
    QTest::newRow("plain") << QByteArray("SERIALN=12345") << false << QByteArray("SERIALN") << QByteArray() << QByteArray("12345");
    QTest::newRow("blanks around") << QByteArray(" NAME:1 = 5 ") << false << QByteArray("NAME") << QByteArray("1") << QByteArray("5");
    QTest::newRow("empty value") << QByteArray("X=") << false << QByteArray("X") << QByteArray() << QByteArray();
    QTest::newRow("more equals") << QByteArray("A=1=2") << false << QByteArray("A") << QByteArray() << QByteArray("1=2");
    QTest::newRow("empty index") << QByteArray("A:=5") << false << QByteArray("A") << QByteArray() << QByteArray("5");
    QTest::newRow("equals before colon") << QByteArray("A=1:2") << false << QByteArray("A=1") << QByteArray() << QByteArray("1:2");
    QTest::newRow("value with blanks") << QByteArray("DATETIME=01/02/2003 04.05.06") << false << QByteArray("DATETIME") << QByteArray() << QByteArray("01/02/2003 04.05.06");
    QTest::newRow("no equals") << QByteArray("SERIALN") << true << QByteArray() << QByteArray() << QByteArray();
    QTest::newRow("colon only") << QByteArray("A:1") << true << QByteArray() << QByteArray() << QByteArray();
    QTest::newRow("empty") << QByteArray() << true << QByteArray() << QByteArray() << QByteArray();
}

void TestFrame::segments()
{
    QFETCH(QByteArray, segment);
    QFETCH(bool, malformed);
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, index);
    QFETCH(QByteArray, value);
    const TextSegment s = ParseSegment(segment);
    QCOMPARE(s.Malformed, malformed);
    QCOMPARE(s.Name, name);
    QCOMPARE(s.Index, index);
    QCOMPARE(s.Value, value);
}

void TestFrame::splittingReplyTexts()
{
    QList<TextSegment> s = SplitReplyText("A=1;B:2=x;tail without end");
    QCOMPARE(s.size(), 2);
    QCOMPARE(s[1].Name, QByteArray("B"));
    QCOMPARE(s[1].Index, QByteArray("2"));
    QCOMPARE(s[1].Value, QByteArray("x"));

    QVERIFY(SplitReplyText("A=1").isEmpty()); // no ";" at all
    QVERIFY(SplitReplyText("").isEmpty());

    s = SplitReplyText("A=1;;junk;B=2;");
    QCOMPARE(s.size(), 4);
    QVERIFY(!s[0].Malformed);
    QVERIFY(s[1].Malformed);
    QVERIFY(s[2].Malformed);
    QCOMPARE(s[3].Value, QByteArray("2"));

    s = SplitReplyText(QByteArray("A=1; \0\0", 7));
    QCOMPARE(s.size(), 1);
}

void TestFrame::requestTexts()
{
    QCOMPARE(ReadRequestText("SERIALN", ""), QByteArray("SERIALN=??;"));
    QCOMPARE(ReadRequestText("VALUE", "0"), QByteArray("VALUE:0=??;"));
    QCOMPARE(WriteRequestText("THR1", "", "1.5"), QByteArray("THR1=1.5;"));
    QCOMPARE(WriteRequestText("THR1", "", ""), QByteArray("THR1=;"));
    QCOMPARE(BlockCountRequestText("SPECTRUM1", ""), QByteArray("SPECTRUM1=??##;"));
    QCOMPARE(BlockRequestText("SPECTRUM1", "", 1), QByteArray("SPECTRUM1=??#1;"));
    QCOMPARE(BlockRequestText("SPECTRUM1", "", 12), QByteArray("SPECTRUM1=??#12;"));
    QCOMPARE(BlockRequestText("ARC", "A001", 255), QByteArray("ARC:A001=??#255;"));
}

void TestFrame::requestTextLimit()
{
    bool ok = false;
    MakeRequestFrame(0, 1, QByteArray(kMaxRequestText, 'x'), &ok);
    QVERIFY(ok);
    const ProtocolFrame refused = MakeRequestFrame(0, 1, QByteArray(kMaxRequestText + 1, 'x'), &ok);
    QVERIFY(!ok);
    QCOMPARE(int(refused.Length), 0);
}

void TestFrame::expectedFrameSize()
{
    QCOMPARE(ExpectedFrameSize(hex("0100")), 0);
    QCOMPARE(ExpectedFrameSize(hex("010000")), 7);
    QCOMPARE(ExpectedFrameSize(hex("01000D")), 24);
    QCOMPARE(ExpectedFrameSize(hex("0100FF")), 266);
}

QTEST_GUILESS_MAIN(TestFrame)
#include "tst_frame.moc"
