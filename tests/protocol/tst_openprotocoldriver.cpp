#include "base/cp1251.h"
#include "base/sinks.h"
#include "protocol/frame.h"
#include "protocol/openprotocoldriver.h"
#include "protocol/opvarlist.h"
#include "serial/memoryline.h"
#include "serial/rs232channel.h"
#include "support/simline.h"

#include <QElapsedTimer>
#include <QMap>
#include <QTest>
#include <QThread>

namespace {

using Terminal = RecordingTerminal;

class Progress : public ProgressSink {
public:
    QList<int> Positions;
    int Minimum() const override { return 100; }
    int Maximum() const override { return 300; }
    void SetPosition(int position) override { Positions.append(position); }
};

QByteArray textReply(const QByteArray &text, quint8 from = 1, quint8 to = 0)
{
    return BuildFrame(MakeRequestFrame(from, to, text));
}

QByteArray blockReply(quint8 number, const QByteArray &data, quint8 kind = 1)
{
    return BuildFrame(MakeBlockFrame(1, 0, number, data, kind));
}

QByteArray requestText(const QByteArray &wire)
{
    ProtocolFrame f;
    return ParseFrame(wire, f) ? f.Text() : QByteArray("<unparsable>");
}

// A well-behaved instrument: reads give the stored value ("@@" when there is
// none), writes are echoed.
QByteArray answer(const QMap<QByteArray, QByteArray> &values, const QByteArray &request)
{
    const TextSegment s = ParseSegment(request.chopped(1));
    const QByteArray ref = VarReference(s.Name, s.Index);
    if (s.Value == "??")
        return textReply(ref + '=' + values.value(ref, "@@") + ';');
    return textReply(request);
}

// Line, channel and driver wired as the program wires them; the instrument
// is whatever the test makes the line answer.
struct Rig {
    TMemoryLine line;
    TRS232Channel channel;
    TOpenProtocolDriver driver{&channel};
    Terminal terminal;
    Progress progress;

    Rig()
    {
        channel.SetLineFactory(line.Factory());
        channel.Open();
        driver.SetTerminal(&terminal);
        driver.SetProgressBar(&progress);
        driver.SetRequestPause(0);
    }
    void Answer(const QMap<QByteArray, QByteArray> &values)
    {
        line.SetResponder([values](const QByteArray &w) { return answer(values, requestText(w)); });
    }
    QList<QByteArray> Requests() const
    {
        QList<QByteArray> texts;
        for (const QByteArray &w : line.Writes())
            texts.append(requestText(w));
        return texts;
    }
};

std::unique_ptr<TOPVarList> makeList(std::initializer_list<std::pair<const char *, const char *>> items)
{
    auto list = std::make_unique<TOPVarList>();
    for (const auto &[name, index] : items)
        list->Add(name, index);
    return list;
}

QByteArray dropLine(int bytes)
{
    return Cp("сброшено байт: ") + QByteArray::number(bytes);
}

QList<QByteArray> silentAttempts(const QByteArray &request)
{
    QList<QByteArray> lines;
    for (int i = 0; i < 3; ++i)
        lines << "-> " + request << "<- ";
    return lines;
}

} // namespace

class TestOpenProtocolDriver : public QObject {
    Q_OBJECT
private slots:
    void readVarsAsksEachVariableInOrder();
    void replySegments_data();
    void replySegments();
    void silentInstrumentEndsTheTransaction();
    void attemptsAreLoggedInOrder();
    void rejectedReplies_data();
    void rejectedReplies();
    void lineFailures_data();
    void lineFailures();
    void terminalKeepsTheNewest8097Lines();
    void progressRunsAndReturnsToMinimum();
    void emptyListsSendNothing();
    void overlongRequestIsNeverSent();
    void readBlockJoinsNumberedBlocks();
    void blockCountReplies_data();
    void blockCountReplies();
    void badBlockReplies_data();
    void badBlockReplies();
    void blockDataIsBoundedTo32768Bytes();
    void requestPauseIsKept();
    void replyBoundaries_data();
    void replyBoundaries();
    void repliesOneRequestBehind_data();
    void repliesOneRequestBehind();
    void owedReplies_data();
    void owedReplies();
    void requestLineIsStampedWhenSent();
};

void TestOpenProtocolDriver::readVarsAsksEachVariableInOrder()
{
    Rig rig;
    rig.Answer({{"SERIALN", "1234"}, {"VALUE:0", "5.5E2"}});
    auto list = makeList({{"SERIALN", ""}, {"VALUE", "0"}, {"NOVALUE", ""}});
    list->GetItem(2)->Value = "old";

    QVERIFY(rig.driver.ReadVars(1, *list));
    QCOMPARE(rig.Requests(), (QList<QByteArray>{"SERIALN=??;", "VALUE:0=??;", "NOVALUE=??;"}));
    for (const QByteArray &w : rig.line.Writes()) {
        QCOMPARE(w.left(2), QByteArray::fromHex("0100")); // to device 1 from station 0
    }
    QCOMPARE(list->GetItem(0)->Value, QByteArray("1234"));
    QCOMPARE(list->GetItem(1)->Value, QByteArray("5.5E2"));
    QCOMPARE(list->GetItem(2)->Value, QByteArray()); // "@@": no value
    QCOMPARE(rig.terminal.Lines, (QList<QByteArray>{"-> SERIALN=??;", "<- SERIALN=1234;",
                                                    "-> VALUE:0=??;", "<- VALUE:0=5.5E2;",
                                                    "-> NOVALUE=??;", "<- NOVALUE=@@;"}));
    QVERIFY(!rig.driver.LastBadChecksum());
    QCOMPARE(rig.driver.LastReadSize(), 24); // NOVALUE=@@; in a frame
}

void TestOpenProtocolDriver::replySegments_data()
{
    // The list holds A = "a", B = "b", C:1 = "c"; the first item is asked.
    QTest::addColumn<bool>("write");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QByteArray>("values"); // A|B|C:1 afterwards
    QTest::newRow("read @@ empties") << false << QByteArray("A=@@;") << QByteArray("|b|c");
    QTest::newRow("write @@ keeps") << true << QByteArray("A=@@;") << QByteArray("a|b|c");
    QTest::newRow("write echo taken") << true << QByteArray("A=a2;") << QByteArray("a2|b|c");
    QTest::newRow("two segments") << false << QByteArray("A=1;B=2;") << QByteArray("1|2|c");
    QTest::newRow("unknown variable") << false << QByteArray("Z=9;A=1;") << QByteArray("1|b|c");
    QTest::newRow("letter case") << false << QByteArray("a=1;c:1=3;") << QByteArray("1|b|3");
    QTest::newRow("index must match") << false << QByteArray("C=3;C:2=4;B:1=5;") << QByteArray("a|b|c");
    QTest::newRow("malformed skipped") << false << QByteArray("junk;A=1;") << QByteArray("1|b|c");
    QTest::newRow("no closing ;") << false << QByteArray("A=1;B=2") << QByteArray("1|b|c");
    QTest::newRow("equals before colon") << false << QByteArray("A=1:2;") << QByteArray("a|b|c");
    QTest::newRow("empty reply") << false << QByteArray("") << QByteArray("a|b|c");
}

void TestOpenProtocolDriver::replySegments()
{
    QFETCH(bool, write);
    QFETCH(QByteArray, reply);
    QFETCH(QByteArray, values);
    Rig rig;
    auto list = makeList({{"A", ""}, {"B", ""}, {"C", "1"}});
    list->GetItem(0)->Value = "a";
    list->GetItem(1)->Value = "b";
    list->GetItem(2)->Value = "c";
    // Only the first variable is answered; the others are there to be matched.
    rig.line.QueueReply(textReply(reply));
    const bool ok = write ? rig.driver.WriteVars(1, *list) : rig.driver.ReadVars(1, *list);
    QVERIFY(!ok); // the second variable gets no reply
    QCOMPARE(rig.Requests().first(), write ? QByteArray("A=a;") : QByteArray("A=??;"));
    const QByteArray got = list->GetItem(0)->Value + '|' + list->GetItem(1)->Value + '|' + list->GetItem(2)->Value;
    QCOMPARE(got, values);
}

void TestOpenProtocolDriver::silentInstrumentEndsTheTransaction()
{
    Rig rig;
    auto list = makeList({{"A", ""}, {"B", ""}, {"C", ""}});
    rig.line.SetResponder([](const QByteArray &w) {
        return requestText(w) == "B=??;" ? textReply("B=2;") : QByteArray();
    });
    QVERIFY(!rig.driver.ReadVars(1, *list));
    QCOMPARE(rig.Requests(), (QList<QByteArray>{"A=??;", "A=??;", "A=??;"}));
    QCOMPARE(rig.terminal.Lines, silentAttempts("A=??;"));
    QVERIFY(list->GetItem(1)->Value.isEmpty());
    QCOMPARE(rig.progress.Positions, QList<int>{100});
}

void TestOpenProtocolDriver::attemptsAreLoggedInOrder()
{
    Rig rig;
    auto list = makeList({{"SERIALN", ""}, {"B", ""}});
    QByteArray corrupt = textReply("SERIALN=77;");
    corrupt[10] = 'X';
    rig.line.QueueReply(QByteArray());      // no reply
    rig.line.QueueReply(corrupt);           // payload checksum wrong
    rig.line.QueueReply(textReply("SERIALN=77;"));
    rig.line.QueueReply(textReply("B=1;"));
    QVERIFY(rig.driver.ReadVars(1, *list));
    QCOMPARE(rig.terminal.Lines, (QList<QByteArray>{"-> SERIALN=??;", "<- ",
                                                    "-> SERIALN=??;", "<- bad CRC [24 bytes total]",
                                                    "-> SERIALN=??;", "<- SERIALN=77;",
                                                    "-> B=??;", "<- B=1;"}));
    QCOMPARE(list->GetItem(0)->Value, QByteArray("77"));
    QVERIFY(!rig.driver.LastBadChecksum());
}

void TestOpenProtocolDriver::rejectedReplies_data()
{
    // The same reply to every attempt. A header that cannot be the reply's
    // fails at once after its 7 bytes; what is left of the reply is dropped
    // before the next attempt's request.
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QByteArray>("logLine");
    QTest::addColumn<bool>("badChecksum");
    QTest::addColumn<int>("readSize");
    QTest::addColumn<int>("dropped"); // before attempts 2 and 3
    QTest::newRow("other device") << textReply("A=1;", 2) << QByteArray("<- ") << false << 7 << 10;
    QTest::newRow("to another station") << textReply("A=1;", 1, 3) << QByteArray("<- ") << false << 7 << 10;
    QTest::newRow("header damaged") << QByteArray::fromHex("00010445000000") + "xx" << QByteArray("<- bad CRC [7 bytes total]") << true << 7 << 2;
    QTest::newRow("cut short") << textReply("A=1;").left(12) << QByteArray("<- bad CRC [12 bytes total]") << true << 12 << 0;
    QTest::newRow("cut in the header") << textReply("A=1;").left(5) << QByteArray("<- bad CRC [5 bytes total]") << true << 5 << 0;
    QTest::newRow("one byte") << QByteArray(1, '\0') << QByteArray("<- bad CRC [1 bytes total]") << true << 1 << 0;
    // A read never takes more than the frame its header announces; the rest
    // is dropped before the next request.
    QByteArray overlong = textReply(QByteArray(253, 'A'));
    overlong[20] = 'B';
    QTest::newRow("overlong") << overlong + QByteArray(400, 'z') << QByteArray("<- bad CRC [266 bytes total]") << true << 266 << 400;
}

void TestOpenProtocolDriver::rejectedReplies()
{
    QFETCH(QByteArray, reply);
    QFETCH(QByteArray, logLine);
    QFETCH(bool, badChecksum);
    QFETCH(int, readSize);
    QFETCH(int, dropped);
    Rig rig;
    auto list = makeList({{"A", ""}});
    rig.line.SetResponder([&](const QByteArray &) { return reply; });
    QVERIFY(!rig.driver.ReadVars(1, *list));
    QCOMPARE(rig.line.WritesCount(), 3);
    QList<QByteArray> expected;
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (attempt > 0 && dropped > 0)
            expected << dropLine(dropped);
        expected << "-> A=??;" << logLine;
    }
    QCOMPARE(rig.terminal.Lines, expected);
    QCOMPARE(rig.driver.LastBadChecksum(), badChecksum);
    QCOMPARE(rig.driver.LastReadSize(), readSize);
    // The header first, and the whole reply within the time-outs of one read
    // of the largest frame (9600 baud, "Approximately 0.25 second": 1 ms a
    // byte and 5 ms).
    QCOMPARE(rig.line.ReadSizes().first(), 7);
    QCOMPARE(rig.line.LastReadTimeouts().TotalConstant, 266u + 5u);
    QCOMPARE(rig.line.LastReadTimeouts().TotalMultiplier, 0u);
    QCOMPARE(rig.line.LastReadTimeouts().Interval, 20u);
    QVERIFY(list->GetItem(0)->Value.isEmpty());
}

void TestOpenProtocolDriver::lineFailures_data()
{
    QTest::addColumn<int>("failure");
    QTest::newRow("no channel") << 0;
    QTest::newRow("port not opened") << 1;
    QTest::newRow("write fails") << 2;
    QTest::newRow("read fails") << 3;
}

void TestOpenProtocolDriver::lineFailures()
{
    QFETCH(int, failure);
    Rig rig;
    rig.Answer({{"A", "1"}});
    QVERIFY(rig.driver.ReadVars(1, *makeList({{"A", ""}}))); // a reply of 17 bytes
    rig.terminal.Lines.clear();
    switch (failure) {
    case 0: rig.driver.SetChannel(nullptr); break;
    case 1: rig.line.SetFailOpen(true); rig.channel.Open(); break;
    case 2: rig.line.SetFailWrite(true); break;
    case 3: rig.line.SetFailRead(true); break;
    }
    auto list = makeList({{"A", ""}, {"B", ""}});
    QVERIFY(!rig.driver.ReadVars(1, *list));
    QCOMPARE(rig.terminal.Lines, silentAttempts("A=??;"));
    QVERIFY(!rig.driver.LastBadChecksum());
    // Only a read that was made replaces the size of the last reply read.
    QCOMPARE(rig.driver.LastReadSize(), failure == 3 ? 0 : 17);
}

void TestOpenProtocolDriver::terminalKeepsTheNewest8097Lines()
{
    Rig rig;
    rig.Answer({{"A", "1"}});
    auto list = makeList({{"A", ""}});
    for (int i = 0; i < 8096; ++i)
        rig.terminal.Lines.append("old " + QByteArray::number(i));

    QVERIFY(rig.driver.ReadVars(1, *list)); // two lines: the first fills, the second pushes out
    QCOMPARE(rig.terminal.Lines.size(), 8097);
    QCOMPARE(rig.terminal.Lines.first(), QByteArray("old 1"));
    QCOMPARE(rig.terminal.Lines.last(), QByteArray("<- A=1;"));

    QVERIFY(rig.driver.ReadVars(1, *list));
    QCOMPARE(rig.terminal.Lines.size(), 8097);
    QCOMPARE(rig.terminal.Lines.first(), QByteArray("old 3"));

    // Without a terminal nothing is logged and nothing breaks.
    rig.driver.SetTerminal(nullptr);
    rig.driver.SetProgressBar(nullptr);
    QVERIFY(rig.driver.ReadVars(1, *list));
}

void TestOpenProtocolDriver::progressRunsAndReturnsToMinimum()
{
    Rig rig;
    rig.Answer({});
    auto four = makeList({{"A", ""}, {"B", ""}, {"C", ""}, {"D", ""}});
    QVERIFY(rig.driver.ReadVars(1, *four));
    // 25, 50, 75 and 100 percent of 100..300, then the minimum.
    QCOMPARE(rig.progress.Positions, (QList<int>{150, 200, 250, 300, 100}));

    rig.progress.Positions.clear();
    auto three = makeList({{"A", ""}, {"B", ""}, {"C", ""}});
    QVERIFY(rig.driver.WriteVars(1, *three));
    QCOMPARE(rig.progress.Positions, (QList<int>{166, 232, 300, 100}));
}

void TestOpenProtocolDriver::emptyListsSendNothing()
{
    Rig rig;
    TOPVarList empty;
    QVERIFY(rig.driver.ReadVars(1, empty));
    QVERIFY(rig.driver.WriteVars(1, empty));
    QByteArray buffer = "kept";
    int size = -1;
    QVERIFY(!rig.driver.ReadBlock(1, empty, buffer, size));
    QCOMPARE(buffer, QByteArray("kept"));
    QCOMPARE(size, 0);
    QCOMPARE(rig.line.WritesCount(), 0);
    QVERIFY(rig.terminal.Lines.isEmpty());
}

void TestOpenProtocolDriver::overlongRequestIsNeverSent()
{
    Rig rig;
    rig.Answer({});
    auto list = makeList({{"A", ""}, {"LONG", ""}, {"C", ""}});
    list->GetItem(0)->Value = QByteArray(251, 'x'); // "A=" + 251 + ";" = 254 characters
    list->GetItem(1)->Value = "1";
    list->GetItem(2)->Value = "3";
    QVERIFY(!rig.driver.WriteVars(1, *list));
    QCOMPARE(rig.line.WritesCount(), 0);
    QCOMPARE(rig.terminal.Lines, (QList<QByteArray>{"-> A=" + QByteArray(251, 'x') + ';', "<- "}));

    // 253 characters still fit; the longer one after it stops the transaction there.
    rig.terminal.Lines.clear();
    list->GetItem(0)->Value = QByteArray(250, 'x');
    list->GetItem(1)->Value = QByteArray(300, 'y');
    QVERIFY(!rig.driver.WriteVars(1, *list));
    QCOMPARE(rig.line.WritesCount(), 1);
    QCOMPARE(rig.Requests(), QList<QByteArray>{"A=" + QByteArray(250, 'x') + ';'});
    QCOMPARE(rig.terminal.Lines.size(), 4);
    QCOMPARE(list->GetItem(2)->Value, QByteArray("3"));
    QCOMPARE(rig.progress.Positions.last(), 100);
}

void TestOpenProtocolDriver::readBlockJoinsNumberedBlocks()
{
    Rig rig;
    QByteArray data;
    for (int i = 0; i < 40; ++i)
        data += char(i);
    rig.line.QueueReply(textReply("SPECTRUM1=##3;"));
    rig.line.QueueReply(blockReply(1, data.left(20)));
    rig.line.QueueReply(blockReply(2, data.mid(20, 19)));
    rig.line.QueueReply(blockReply(3, data.mid(39)));
    auto list = makeList({{"SPECTRUM1", ""}});
    QByteArray buffer = "earlier block";
    int size = 0;
    QVERIFY(rig.driver.ReadBlock(1, *list, buffer, size));
    QCOMPARE(buffer, data);
    QCOMPARE(size, 40);
    QCOMPARE(rig.Requests(), (QList<QByteArray>{"SPECTRUM1=??##;", "SPECTRUM1=??#1;", "SPECTRUM1=??#2;",
                                                  "SPECTRUM1=??#3;"}));
    // Block replies are logged as hexadecimal, 16 payload bytes to a line,
    // the block number and payload kind included.
    const QList<QByteArray> expectedLog{
        "-> SPECTRUM1=??##;", "<- SPECTRUM1=##3;",
        "-> SPECTRUM1=??#1;",
        "<- 01 01 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D ",
        "<- 0E 0F 10 11 12 13 ",
        "-> SPECTRUM1=??#2;",
        "<- 02 01 14 15 16 17 18 19 1A 1B 1C 1D 1E 1F 20 21 ",
        "<- 22 23 24 25 26 ",
        "-> SPECTRUM1=??#3;",
        "<- 03 01 27 "};
    QCOMPARE(rig.terminal.Lines, expectedLog);
    QCOMPARE(rig.progress.Positions, (QList<int>{166, 232, 300, 100}));
    QVERIFY(!rig.line.QueuedReplies());
}

void TestOpenProtocolDriver::blockCountReplies_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("requests"); // frames sent in all
    QTest::addColumn<bool>("ok");
    QTest::newRow("one block") << QByteArray("S=##1;") << 2 << true;
    QTest::newRow("letter case and blanks") << QByteArray(" s = ##1 ; tail") << 2 << true;
    QTest::newRow("later segments ignored") << QByteArray("S=##1;S=##5;") << 2 << true;
    QTest::newRow("zero blocks") << QByteArray("S=##0;") << 1 << false;
    QTest::newRow("negative") << QByteArray("S=##-2;") << 1 << false;
    QTest::newRow("no number") << QByteArray("S=##;") << 1 << false;
    QTest::newRow("not a number") << QByteArray("S=##3x;") << 1 << false;
    QTest::newRow("no ## mark") << QByteArray("S=3;") << 1 << false;
    QTest::newRow("no value") << QByteArray("S=@@;") << 1 << false;
    // No answer to the count request: asked three times.
    QTest::newRow("other variable") << QByteArray("X=##3;") << 3 << false;
    // Without ";" the text has no segment, so it is no answer: asked three times.
    QTest::newRow("no ;") << QByteArray("S=##3") << 3 << false;
    QTest::newRow("first segment malformed") << QByteArray("S##3;S=##1;") << 1 << false;
    QTest::newRow("huge count") << QByteArray("S=##99999999999999999999;") << 1 << false;
    QTest::newRow("count beyond 32 bits") << QByteArray("S=##3000000000;") << 1 << false;
    QTest::newRow("count beyond 31 bits") << QByteArray("S=##2147483648;") << 1 << false;
}

void TestOpenProtocolDriver::blockCountReplies()
{
    QFETCH(QByteArray, reply);
    QFETCH(int, requests);
    QFETCH(bool, ok);
    Rig rig;
    rig.line.QueueReply(textReply(reply));
    rig.line.QueueReply(blockReply(1, "abc"));
    auto list = makeList({{"S", ""}});
    QByteArray buffer = "kept";
    int size = -1;
    QCOMPARE(rig.driver.ReadBlock(1, *list, buffer, size), ok);
    QCOMPARE(rig.line.WritesCount(), requests); // a received count reply is not asked again
    QCOMPARE(buffer, ok ? QByteArray("abc") : QByteArray("kept"));
    QCOMPARE(size, ok ? 3 : 0);
    QCOMPARE(rig.progress.Positions.last(), 100);
}

void TestOpenProtocolDriver::badBlockReplies_data()
{
    // The count reply announces two blocks; these are the next two replies,
    // and silence follows. A reply that is not the asked block is no answer:
    // the block is asked again, up to three times.
    QTest::addColumn<QByteArray>("first");
    QTest::addColumn<QByteArray>("second");
    QTest::addColumn<int>("requests");
    QTest::addColumn<bool>("ok");
    QTest::newRow("block 0 taken as 1") << blockReply(0, "ab") << blockReply(2, "cd") << 3 << true;
    QTest::newRow("block 0 is not 2") << blockReply(1, "ab") << blockReply(0, "cd") << 5 << false;
    QTest::newRow("wrong number") << blockReply(2, "ab") << blockReply(2, "cd") << 4 << false;
    QTest::newRow("payload kind 0") << blockReply(1, "ab", 0) << blockReply(2, "cd") << 4 << false;
    QTest::newRow("text instead") << textReply("S=1;") << blockReply(2, "cd") << 4 << false;
    ProtocolFrame empty;
    empty.Sender = 1;
    QTest::newRow("empty frame") << BuildFrame(empty) << blockReply(2, "cd") << 4 << false;
    QTest::newRow("empty block") << blockReply(1, "") << blockReply(2, "cd") << 3 << true;
    QTest::newRow("silent block") << QByteArray() << QByteArray() << 4 << false;
    // An earlier block again (a duplicate) costs one attempt.
    QTest::newRow("stale block before") << blockReply(1, "ab") << blockReply(1, "ab") << 5 << false;
}

void TestOpenProtocolDriver::badBlockReplies()
{
    QFETCH(QByteArray, first);
    QFETCH(QByteArray, second);
    QFETCH(int, requests);
    QFETCH(bool, ok);
    Rig rig;
    rig.line.QueueReply(textReply("S=##2;"));
    rig.line.QueueReply(first);
    rig.line.QueueReply(second);
    auto list = makeList({{"S", ""}});
    QByteArray buffer = "kept";
    int size = -1;
    QCOMPARE(rig.driver.ReadBlock(1, *list, buffer, size), ok);
    QCOMPARE(rig.line.WritesCount(), requests);
    if (!ok) {
        QCOMPARE(buffer, QByteArray("kept"));
        QCOMPARE(size, 0);
    } else {
        QCOMPARE(size, int(buffer.size()));
    }
}

void TestOpenProtocolDriver::blockDataIsBoundedTo32768Bytes()
{
    // 129 full blocks of 253 bytes and one of 131 fill the 32768 bytes exactly;
    // one byte more fails the transaction.
    for (const int last : {131, 132}) {
        Rig rig;
        rig.line.SetResponder([last](const QByteArray &w) {
            const QByteArray text = requestText(w);
            if (text.endsWith("??##;"))
                return textReply("S=##130;");
            const int j = text.mid(5).chopped(1).toInt();
            return blockReply(quint8(j), QByteArray(j == 130 ? last : 253, char(j)));
        });
        auto list = makeList({{"S", ""}});
        QByteArray buffer = "kept";
        int size = -1;
        const bool fits = last == 131;
        QCOMPARE(rig.driver.ReadBlock(1, *list, buffer, size), fits);
        QCOMPARE(size, fits ? 32768 : 0);
        QCOMPARE(buffer.size(), fits ? 32768 : 4);
        QCOMPARE(rig.line.WritesCount(), 131);
    }

    // A count above 255 fails at block 256, before its request goes out:
    // block numbers are one byte, so no reply could be that block.
    Rig rig;
    rig.line.SetResponder([](const QByteArray &w) {
        const QByteArray text = requestText(w);
        if (text.endsWith("??##;"))
            return textReply("S=##300;");
        return blockReply(quint8(text.mid(5).chopped(1).toInt()), "x");
    });
    auto list = makeList({{"S", ""}});
    QByteArray buffer;
    int size = -1;
    QVERIFY(!rig.driver.ReadBlock(1, *list, buffer, size));
    QCOMPARE(rig.line.WritesCount(), 1 + 255);
    QVERIFY(buffer.isEmpty());
}

void TestOpenProtocolDriver::requestPauseIsKept()
{
    Rig rig;
    TOpenProtocolDriver driver(&rig.channel);
    QCOMPARE(driver.RequestPause(), 10);
    auto list = makeList({{"A", ""}});
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!driver.ReadVars(1, *list)); // silent: three attempts, each after 10 ms
    const qint64 elapsed = clock.elapsed();
    QVERIFY2(elapsed >= 30, QByteArray::number(elapsed));
    QVERIFY2(elapsed < 3000, QByteArray::number(elapsed));
}

using Arrivals = QList<std::pair<QByteArray, TMemoryLine::Gap>>;

void TestOpenProtocolDriver::replyBoundaries_data()
{
    // What arrives for the first request of A; every later request gets the
    // right reply at once. A is read twice, so what the first read leaves on
    // the line shows before the second.
    QTest::addColumn<Arrivals>("first");
    QTest::addColumn<QList<QByteArray>>("log");
    QTest::addColumn<QList<int>>("readSizes"); // of the first exchange, the look past its reply last
    using G = TMemoryLine::Gap;
    const QByteArray good = textReply("A=1;"); // 17 bytes
    const QList<QByteArray> clean{"-> A=??;", "<- A=1;"};
    const QList<QByteArray> twice = clean + clean;
    const QByteArray notTaken = Cp(" (ответ выше не принят: за ним шли другие)");

    QTest::newRow("whole") << Arrivals{{good, G::None}} << twice << QList<int>{7, 10, 1};
    QTest::newRow("split in the header") << Arrivals{{good.left(3), G::None}, {good.mid(3), G::None}} << twice
                                         << QList<int>{7, 10, 1};
    QTest::newRow("split in the payload") << Arrivals{{good.left(12), G::None}, {good.mid(12), G::None}} << twice
                                          << QList<int>{7, 10, 1};
    ProtocolFrame empty; // no payload: a 7-byte frame
    empty.Sender = 1;
    QTest::newRow("empty frame") << Arrivals{{BuildFrame(empty), G::None}}
                                 << QList<QByteArray>{"-> A=??;", "<- "} + twice << QList<int>{7, 7, 10, 1};
    // Noise before the header spoils it: the attempt fails at once, and the
    // rest of the reply goes before the next request.
    QTest::newRow("garbage before the header")
        << Arrivals{{"\x55" + good, G::None}}
        << QList<QByteArray>{"-> A=??;", "<- bad CRC [7 bytes total]", dropLine(11)} + twice << QList<int>{7, 7, 10, 1};
    QTest::newRow("pause in the payload")
        << Arrivals{{good.left(12), G::None}, {good.mid(12), G::Interval}}
        << QList<QByteArray>{"-> A=??;", "<- bad CRC [12 bytes total]", dropLine(5)} + twice
        << QList<int>{7, 10, 7, 10, 1};
    QTest::newRow("cut short") << Arrivals{{good.left(15), G::None}}
                               << QList<QByteArray>{"-> A=??;", "<- bad CRC [15 bytes total]"} + twice
                               << QList<int>{7, 10, 7, 10, 1};
    const QByteArray big = textReply("A=1;" + QByteArray(200, 'x'));
    QTest::newRow("header announces more than arrives")
        << Arrivals{{big.left(30), G::None}}
        << QList<QByteArray>{"-> A=??;", "<- bad CRC [30 bytes total]"} + twice << QList<int>{7, 210, 7, 10, 1};
    // On a line just opened, a frame on the heels of the reply means replies
    // queued behind one another: neither is taken, and the request is made again.
    QTest::newRow("two frames back to back")
        << Arrivals{{good + textReply("B=2;"), G::None}}
        << QList<QByteArray>{"-> A=??;", "<- A=1;", dropLine(17) + notTaken} + twice << QList<int>{7, 10, 1, 7, 10, 1};
    // The reply comes after the read gave up, and is gone before the next request.
    QTest::newRow("late reply") << Arrivals{{good, G::Total}}
                                << QList<QByteArray>{"-> A=??;", "<- ", dropLine(17)} + twice
                                << QList<int>{7, 7, 10, 1};
    // A reply about another variable is shown, but it is no answer and sets nothing.
    QTest::newRow("another variable's reply") << Arrivals{{textReply("B=2;"), G::None}}
                                              << QList<QByteArray>{"-> A=??;", "<- B=2;"} + twice
                                              << QList<int>{7, 10, 7, 10, 1};
}

void TestOpenProtocolDriver::replyBoundaries()
{
    QFETCH(Arrivals, first);
    QFETCH(QList<QByteArray>, log);
    QFETCH(QList<int>, readSizes);
    Rig rig;
    bool firstRequest = true;
    rig.line.SetResponder([&](const QByteArray &) {
        if (!firstRequest)
            return textReply("A=1;");
        firstRequest = false;
        for (const auto &[bytes, gap] : first)
            rig.line.Arrive(bytes, gap);
        return QByteArray();
    });
    auto justA = makeList({{"A", ""}});
    QVERIFY(rig.driver.ReadVars(1, *justA));
    const QList<int> sizes = rig.line.ReadSizes();
    QCOMPARE(sizes, readSizes);
    QCOMPARE(rig.driver.LastReadSize(), 17);
    QVERIFY(rig.driver.ReadVars(1, *justA));
    QCOMPARE(rig.terminal.Lines, log);
    QCOMPARE(justA->GetItem(0)->Value, QByteArray("1"));
    QCOMPARE(rig.line.PendingBytes(), 0);
}

void TestOpenProtocolDriver::repliesOneRequestBehind_data()
{
    QTest::addColumn<int>("kind"); // 0 ReadVars, 1 WriteVars, 2 ReadBlock
    QTest::newRow("ReadVars") << 0;
    QTest::newRow("WriteVars") << 1;
    QTest::newRow("ReadBlock") << 2;
}

// An installation whose every reply comes so late that it arrives only
// after the next request has gone out: each request is answered by the
// reply to the one before it. Nothing may be taken for the wrong request;
// every request is answered on its second attempt.
void TestOpenProtocolDriver::repliesOneRequestBehind()
{
    QFETCH(int, kind);
    Rig rig;
    const QMap<QByteArray, QByteArray> values{{"A", "1"}, {"B", "2"}, {"C", "3"}};
    QByteArray previous;
    rig.line.SetResponder([&](const QByteArray &w) {
        const QByteArray text = requestText(w);
        QByteArray reply;
        if (text.endsWith("=??##;"))
            reply = textReply("S=##3;");
        else if (text.startsWith("S=??#"))
            reply = blockReply(quint8(text.mid(5).chopped(1).toInt()), "block" + text.mid(5).chopped(1));
        else
            reply = answer(values, text);
        std::swap(previous, reply);
        return reply;
    });

    if (kind == 2) {
        QByteArray buffer;
        int size = 0;
        QVERIFY(rig.driver.ReadBlock(1, *makeList({{"S", ""}}), buffer, size));
        QCOMPARE(buffer, QByteArray("block1block2block3"));
        QCOMPARE(rig.line.WritesCount(), 8);
        // The count reply again, where block 1 was asked: shown as it came.
        QCOMPARE(rig.terminal.Lines.mid(0, 6), (QList<QByteArray>{"-> S=??##;", "<- ", "-> S=??##;", "<- S=##3;",
                                                                  "-> S=??#1;", "<- 00 00 53 3D 23 23 33 3B "}));
        return;
    }
    const bool write = kind == 1;
    auto list = makeList({{"A", ""}, {"B", ""}, {"C", ""}});
    for (int i = 0; i < 3; ++i)
        list->GetItem(i)->Value = write ? values.value(list->GetItem(i)->Name) : "old";
    QVERIFY(write ? rig.driver.WriteVars(1, *list) : rig.driver.ReadVars(1, *list));
    for (int i = 0; i < 3; ++i)
        QCOMPARE(list->GetItem(i)->Value, values.value(list->GetItem(i)->Name));
    QCOMPARE(rig.line.WritesCount(), 6);
    const QByteArray a = write ? "A=1;" : "A=??;";
    const QByteArray b = write ? "B=2;" : "B=??;";
    QCOMPARE(rig.terminal.Lines.mid(0, 8), (QList<QByteArray>{"-> " + a, "<- ", "-> " + a, "<- A=1;", "-> " + b,
                                                              "<- A=1;", "-> " + b, "<- B=2;"}));
}

void TestOpenProtocolDriver::owedReplies_data()
{
    // A is read until it succeeds, or three times. Each write gets the frames
    // of one entry ("A=1;|A=2;": two frames back to back), the first `silent`
    // writes nothing, nor does an empty entry. A reply with another on its
    // heels is one of several owed replies: the driver drops them and asks
    // again.
    QTest::addColumn<int>("silent");
    QTest::addColumn<QList<QByteArray>>("replies");
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<int>("writes");
    QTest::addColumn<int>("looks"); // looks past a reply for more input
    QTest::newRow("healthy line: one look after opening")
        << 0 << QList<QByteArray>{"A=1;", "A=2;", "A=3;"} << QByteArray("3") << 3 << 1;
    QTest::newRow("left over from before the opening")
        << 0 << QList<QByteArray>{"A=10;|A=11;", "A=1;", "A=2;", "A=3;"} << QByteArray("3") << 4 << 3;
    QTest::newRow("owed to a failed transaction")
        << 3 << QList<QByteArray>{"A=10;|A=11;|A=12;|A=20;", "A=30;", "A=31;"} << QByteArray("31") << 6 << 3;
    QTest::newRow("alone after a failed transaction")
        << 3 << QList<QByteArray>{"A=20;", "A=21;"} << QByteArray("21") << 5 << 1;
    // The line owed nothing when the exchange began: the replies on each
    // other's heels answer its own attempts, and the first is taken.
    QTest::newRow("owed to the exchange's own attempts")
        << 0 << QList<QByteArray>{"A=1;", "", "A=5;|A=6;", "A=7;"} << QByteArray("7") << 4 << 3;
    QTest::newRow("owed after every attempt")
        << 0 << QList<QByteArray>{"A=10;|A=11;", "A=12;|A=13;", "A=14;|A=15;"} << QByteArray("old") << 3 << 3;
}

void TestOpenProtocolDriver::owedReplies()
{
    QFETCH(int, silent);
    QFETCH(QList<QByteArray>, replies);
    QFETCH(QByteArray, value);
    QFETCH(int, writes);
    QFETCH(int, looks);
    Rig rig;
    rig.line.SetResponder([&](const QByteArray &) {
        QByteArray frames;
        const int n = rig.line.WritesCount() - 1 - silent;
        if (n >= 0 && n < replies.size() && !replies[n].isEmpty())
            for (const QByteArray &text : replies[n].split('|'))
                frames += textReply(text);
        return frames;
    });
    auto list = makeList({{"A", ""}});
    list->GetItem(0)->Value = "old";
    for (int i = 0; i < 3 && rig.line.WritesCount() < replies.size() + silent; ++i)
        rig.driver.ReadVars(1, *list);
    QCOMPARE(list->GetItem(0)->Value, value);
    QCOMPARE(rig.line.WritesCount(), writes);
    QCOMPARE(rig.line.ReadSizes().count(1), looks);
}

// An installation that takes 80 ms to answer: the request's line carries the
// time it went out, not the time its reply came.
void TestOpenProtocolDriver::requestLineIsStampedWhenSent()
{
    Rig rig;
    QDateTime writtenAt;
    rig.line.SetResponder([&](const QByteArray &w) {
        writtenAt = QDateTime::currentDateTime();
        QThread::msleep(80); // the installation measuring before it answers
        return answer({{"A", "1"}}, requestText(w));
    });
    auto list = makeList({{"A", ""}});
    QVERIFY(rig.driver.ReadVars(1, *list));
    QCOMPARE(rig.terminal.Lines, (QList<QByteArray>{"-> A=??;", "<- A=1;"}));
    QVERIFY(rig.terminal.Times[0] <= writtenAt);
    QVERIFY2(rig.terminal.Times[0].msecsTo(rig.terminal.Times[1]) >= 70,
             qPrintable(QString::number(rig.terminal.Times[0].msecsTo(rig.terminal.Times[1]))));
}

QTEST_GUILESS_MAIN(TestOpenProtocolDriver)
#include "tst_openprotocoldriver.moc"
