// The channel over the in-memory line: its state, the refusals before an open
// and after a close, the settings command's undo, and the read model of the
// in-memory line that the tests of the layers above rely on.

#include "serial/comproperties.h"
#include "serial/memoryline.h"
#include "serial/rs232channel.h"

#include <QTest>
#include <stdexcept>

namespace {

// Edits every setting, then answers as told.
class EditingEditor : public SettingsEditor {
public:
    explicit EditingEditor(bool answer, bool throws = false) : answer_(answer), throws_(throws) {}
    bool Edit(TComSettings &s) override
    {
        s.PortNumber = "COM7x";
        s.TransferRate = "1 baud";
        s.StopBits = "3 bit";
        s.Paritet = "odd";
        s.LatencyPeriod = "";
        s.DTRControl = "On";
        s.RTSControl = "Off";
        s.WriteTimeOutMultiplier = 9;
        s.WriteTimeOutConstant = 99;
        if (throws_)
            throw std::runtime_error("editor failed");
        return answer_;
    }

private:
    bool answer_;
    bool throws_;
};

QByteArray ReadAll(TRS232Channel &ch, int capacity, bool *ok = nullptr)
{
    QByteArray buf(capacity, '\0');
    int count = -1;
    const bool r = ch.Read(reinterpret_cast<quint8 *>(buf.data()), capacity, count);
    if (ok)
        *ok = r;
    return buf.left(count);
}

bool WriteText(TRS232Channel &ch, const QByteArray &text, int *countOut = nullptr)
{
    int count = int(text.size());
    const bool r = ch.Write(reinterpret_cast<const quint8 *>(text.constData()), count);
    if (countOut)
        *countOut = count;
    return r;
}

} // namespace

class TestRS232Channel : public QObject {
    Q_OBJECT
private slots:
    void nothingReachesTheLineBeforeOpen();
    void failedOpenLeavesStateOne();
    void openedChannelWritesAndReads();
    void closeReleasesTheLineButKeepsState();
    void reopenAsksTheFactoryWithCurrentSettings();
    void badTransferRateIsAFailedOpen_data();
    void badTransferRateIsAFailedOpen();
    void lineFailuresGiveFalseAndCountZero();
    void configureUndoesAnythingButOk();
    void memoryLineArrivals();
    void memoryLineQueuedReplies();
};

void TestRS232Channel::nothingReachesTheLineBeforeOpen()
{
    TMemoryLine line;
    TRS232Channel ch;
    ch.SetLineFactory(line.Factory());
    QCOMPARE(ch.State(), quint8(1));
    int count = -1;
    QVERIFY(!WriteText(ch, "abc", &count));
    QCOMPARE(count, 0);
    bool ok = true;
    QCOMPARE(ReadAll(ch, 266, &ok), QByteArray());
    QVERIFY(!ok);
    QVERIFY(!line.FactorySettings().has_value());
    QCOMPARE(line.Opens() + line.WritesCount() + line.Reads(), 0);
}

void TestRS232Channel::failedOpenLeavesStateOne()
{
    TMemoryLine line;
    line.SetFailOpen(true);
    TRS232Channel ch;
    ch.SetLineFactory(line.Factory());
    QVERIFY(!ch.Open());
    QCOMPARE(ch.State(), quint8(1));
    QVERIFY(!ch.ErrorText().isEmpty());
    int count = -1;
    QVERIFY(!WriteText(ch, "abc", &count));
    QCOMPARE(count, 0);
    QCOMPARE(line.WritesCount(), 0);

    // A port name that names nothing, with the lines the name selects.
    TRS232Channel real;
    real.Settings().PortNumber = "no such port";
    QVERIFY(!real.Open());
    QCOMPARE(real.State(), quint8(1));
}

void TestRS232Channel::openedChannelWritesAndReads()
{
    TMemoryLine line;
    line.SetResponder([](const QByteArray &w) { return "re:" + w; });
    TRS232Channel ch;
    ch.SetLineFactory(line.Factory());
    QVERIFY(ch.Open());
    QCOMPARE(ch.State(), quint8(0));
    int count = 0;
    QVERIFY(WriteText(ch, "ping", &count));
    QCOMPARE(count, 4);
    QCOMPARE(line.Writes(), QList<QByteArray>{"ping"});
    QCOMPARE(ReadAll(ch, 266), QByteArray("re:ping"));
    // The window defaults: 9600 baud (T = 1), "Approximately 0.25 second".
    QCOMPARE(line.LastReadCapacity(), 266);
    QCOMPARE(line.LastReadTimeouts().Interval, 20u);
    QCOMPARE(line.LastReadTimeouts().TotalMultiplier, 1u);
    QCOMPARE(line.LastReadTimeouts().TotalConstant, 5u);
    // Silence: true with count 0.
    bool ok = false;
    QCOMPARE(ReadAll(ch, 266, &ok), QByteArray());
    QVERIFY(ok);
    // A short write is no error: the count tells.
    line.SetWriteLimit(2);
    QVERIFY(WriteText(ch, "abcdef", &count));
    QCOMPARE(count, 2);
}

void TestRS232Channel::closeReleasesTheLineButKeepsState()
{
    TMemoryLine line;
    line.Arrive("pending");
    TRS232Channel ch;
    ch.SetLineFactory(line.Factory());
    QVERIFY(ch.Open());
    ch.Close();
    QCOMPARE(ch.State(), quint8(0));
    QVERIFY(!line.IsOpen());
    int count = -1;
    QVERIFY(!WriteText(ch, "abc", &count));
    QCOMPARE(count, 0);
    bool ok = true;
    QCOMPARE(ReadAll(ch, 10, &ok), QByteArray());
    QVERIFY(!ok);
    QCOMPARE(line.WritesCount() + line.Reads(), 0);
    ch.Close(); // twice is harmless
}

void TestRS232Channel::reopenAsksTheFactoryWithCurrentSettings()
{
    TMemoryLine line;
    TRS232Channel ch;
    ch.SetLineFactory(line.Factory());
    QVERIFY(ch.Open());
    ch.Settings().PortNumber = "/dev/pts/9";
    ch.Settings().LatencyPeriod = "Immediately answer";
    QVERIFY(ch.Open());
    QCOMPARE(line.Opens(), 2);
    QCOMPARE(line.Closes(), 1); // the first line was released before the second open
    QCOMPARE(line.FactorySettings()->PortNumber, QByteArray("/dev/pts/9"));
    QCOMPARE(ch.Properties().Timeouts.ReadTotalTimeoutConstant, 2u);

    // A failed reopen drops the ready state.
    line.SetFailOpen(true);
    QVERIFY(!ch.Open());
    QCOMPARE(ch.State(), quint8(1));
    line.SetFailOpen(false);
    QVERIFY(ch.Open());
    QCOMPARE(ch.State(), quint8(0));
}

void TestRS232Channel::badTransferRateIsAFailedOpen_data()
{
    QTest::addColumn<QByteArray>("rate");
    QTest::addColumn<bool>("opens");
    QTest::newRow("empty") << QByteArray() << false;
    QTest::newRow("words") << QByteArray("fast baud") << false;
    QTest::newRow("zero") << QByteArray("0 baud") << false;
    QTest::newRow("leading blank") << QByteArray(" 9600 baud") << false;
    QTest::newRow("negative") << QByteArray("-9600 baud") << false;
    QTest::newRow("beyond 32 bits") << QByteArray("99999999999 baud") << false;
    QTest::newRow("digits then letters") << QByteArray("9600baud") << false;
    QTest::newRow("trailing blanks") << QByteArray("19200 baud  ") << true;
    QTest::newRow("number alone") << QByteArray("57600") << true;
    QTest::newRow("unlisted rate") << QByteArray("250000 anything") << true;
}

void TestRS232Channel::badTransferRateIsAFailedOpen()
{
    QFETCH(QByteArray, rate);
    QFETCH(bool, opens);
    TMemoryLine line;
    TRS232Channel ch;
    ch.SetLineFactory(line.Factory());
    ch.Settings().TransferRate = rate;
    QCOMPARE(ch.Open(), opens);
    QCOMPARE(ch.State(), quint8(opens ? 0 : 1));
    QCOMPARE(line.Opens(), opens ? 1 : 0); // a rate that can never work leaves the port alone
}

void TestRS232Channel::lineFailuresGiveFalseAndCountZero()
{
    TMemoryLine line;
    TRS232Channel ch;
    ch.SetLineFactory(line.Factory());
    QVERIFY(ch.Open());
    line.Arrive("data");
    line.SetFailWrite(true);
    line.SetFailRead(true);
    int count = -1;
    QVERIFY(!WriteText(ch, "abc", &count));
    QCOMPARE(count, 0);
    bool ok = true;
    QCOMPARE(ReadAll(ch, 10, &ok), QByteArray());
    QVERIFY(!ok);

    line.SetFailRead(false);
    count = 5;
    QVERIFY(!ch.Write(nullptr, count));
    QCOMPARE(count, 0);
    QVERIFY(!ch.Read(nullptr, 10, count));
    QCOMPARE(count, 0);
    QCOMPARE(line.PendingBytes(), 4); // nothing was consumed
}

void TestRS232Channel::configureUndoesAnythingButOk()
{
    TRS232Channel ch;
    // Texts typed earlier, an empty one among them, must come back exactly.
    ch.Settings().PortNumber = "my port";
    ch.Settings().Paritet = "";
    ch.Settings().WriteTimeOutConstant = -3;
    const TComSettings before = ch.Settings();

    EditingEditor cancel(false);
    QVERIFY(!ch.Configure(cancel));
    QVERIFY(ch.Settings() == before);

    EditingEditor throwing(true, true);
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, ch.Configure(throwing));
    QVERIFY(ch.Settings() == before);

    EditingEditor ok(true);
    QVERIFY(ch.Configure(ok));
    QCOMPARE(ch.Settings().PortNumber, QByteArray("COM7x"));
    QCOMPARE(ch.Settings().LatencyPeriod, QByteArray());
    QCOMPARE(ch.Settings().WriteTimeOutConstant, 99);
    QCOMPARE(ch.State(), quint8(1)); // configuring opens nothing
}

void TestRS232Channel::memoryLineArrivals()
{
    TMemoryLine line;
    TRS232Channel ch;
    ch.SetLineFactory(line.Factory());
    QVERIFY(ch.Open());

    // Back to back: one read; the capacity bounds it and the rest waits.
    line.Arrive("abc");
    line.Arrive("def");
    QCOMPARE(ReadAll(ch, 266), QByteArray("abcdef"));
    line.Arrive("0123456789");
    QCOMPARE(ReadAll(ch, 4), QByteArray("0123"));
    QCOMPARE(ReadAll(ch, 266), QByteArray("456789"));

    // A pause longer than the interval time-out splits the input.
    line.Arrive("first");
    line.Arrive("second", TMemoryLine::Gap::Interval);
    line.Arrive("more");
    QCOMPARE(ReadAll(ch, 266), QByteArray("first"));
    QCOMPARE(ReadAll(ch, 266), QByteArray("secondmore"));

    // Bytes that come after a read's total time-out: that read ends empty.
    line.Arrive("late", TMemoryLine::Gap::Total);
    bool ok = false;
    QCOMPARE(ReadAll(ch, 266, &ok), QByteArray());
    QVERIFY(ok);
    QCOMPARE(ReadAll(ch, 266), QByteArray("late"));

    line.Arrive("a");
    line.Arrive("b", TMemoryLine::Gap::Total);
    QCOMPARE(ReadAll(ch, 266), QByteArray("a"));
    QCOMPARE(ReadAll(ch, 266), QByteArray());
    QCOMPARE(ReadAll(ch, 266), QByteArray("b"));
    QCOMPARE(line.PendingBytes(), 0);
}

void TestRS232Channel::memoryLineQueuedReplies()
{
    TMemoryLine line;
    line.QueueReply("one");
    line.QueueReply(QByteArray()); // silence for the second request
    line.QueueReply("three", TMemoryLine::Gap::Total);
    int calls = 0;
    line.SetResponder([&calls](const QByteArray &) {
        ++calls;
        return QByteArray(calls == 1 ? "+" : "");
    });
    TRS232Channel ch;
    ch.SetLineFactory(line.Factory());
    QVERIFY(ch.Open());
    QVERIFY(WriteText(ch, "1"));
    QCOMPARE(ReadAll(ch, 266), QByteArray("one+"));
    QVERIFY(WriteText(ch, "2"));
    QCOMPARE(ReadAll(ch, 266), QByteArray());
    QVERIFY(WriteText(ch, "3"));
    QCOMPARE(ReadAll(ch, 266), QByteArray()); // too late for this read
    QCOMPARE(ReadAll(ch, 266), QByteArray("three"));
    QCOMPARE(line.QueuedReplies(), 0);
    QCOMPARE(line.AllWritten(), QByteArray("123"));
    QCOMPARE(calls, 3);
}

QTEST_GUILESS_MAIN(TestRS232Channel)
#include "tst_rs232channel.moc"
