// The channel over the in-memory line: its state, its refusals, the settings
// command's undo, and the read model of the in-memory line that the tests of
// the layers above rely on.

#include "serial/comproperties.h"
#include "serial/memoryline.h"
#include "serial/rs232channel.h"

#include <QTest>
#include <stdexcept>

namespace {

// Changes every setting, then answers as told (or throws).
class EditingEditor : public SettingsEditor {
public:
    enum Answer { Ok, Cancel, Throw };
    explicit EditingEditor(Answer answer) : answer_(answer) {}
    bool Edit(TComSettings &s) override
    {
        s.SetSettings({"COM7x", "1 baud", "3 bit", "odd", "x", "On", "Off", "9", "99"});
        s.LatencyPeriod.clear();
        if (answer_ == Throw)
            throw std::runtime_error("editor failed");
        return answer_ == Ok;
    }

private:
    Answer answer_;
};

QByteArray Read(TRS232Channel &ch, int capacity, bool *ok = nullptr)
{
    QByteArray buf(capacity, '\0');
    int count = -1;
    const bool r = ch.Read(reinterpret_cast<quint8 *>(buf.data()), capacity, count);
    if (ok)
        *ok = r;
    return buf.left(count);
}

bool Write(TRS232Channel &ch, const QByteArray &text, int *countOut = nullptr)
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
    void refusals_data();
    void refusals();
    void writesAndReadsWithTheLineTimeouts();
    void reopenAsksTheFactoryWithCurrentSettings();
    void badTransferRateIsAFailedOpen_data();
    void badTransferRateIsAFailedOpen();
    void configureUndoesAnythingButOk();
    void memoryLineArrivals();
    void memoryLineQueuedReplies();
};

void TestRS232Channel::refusals_data()
{
    QTest::addColumn<QString>("when");
    for (const char *when : {"never opened", "open failed", "closed", "line fails", "no buffer"})
        QTest::newRow(when) << QString(when);
}

// Every refused write or read gives false with count 0 and consumes nothing.
void TestRS232Channel::refusals()
{
    QFETCH(QString, when);
    TMemoryLine line;
    line.Arrive("pending");
    TRS232Channel ch;
    ch.SetLineFactory(line.Factory());
    if (when == "open failed")
        line.SetFailOpen(true);
    if (when != "never opened")
        QCOMPARE(ch.Open(), when != "open failed");
    if (when == "closed")
        ch.Close();
    if (when == "line fails") {
        line.SetFailWrite(true);
        line.SetFailRead(true);
    }
    QCOMPARE(ch.State(), quint8(when == "never opened" || when == "open failed" ? 1 : 0));

    int count = -1;
    bool ok = true;
    if (when == "no buffer") {
        count = 5;
        QVERIFY(!ch.Write(nullptr, count));
        QCOMPARE(count, 0);
        QVERIFY(!ch.Read(nullptr, 10, count));
        QCOMPARE(count, 0);
    } else {
        QVERIFY(!Write(ch, "abc", &count));
        QCOMPARE(count, 0);
        QCOMPARE(Read(ch, 266, &ok), QByteArray());
        QVERIFY(!ok);
    }
    QCOMPARE(line.PendingBytes(), 7);
    QVERIFY(line.Writes().isEmpty());
    if (when != "line fails")
        QCOMPARE(line.WritesCount() + line.Reads(), 0); // the line is not even asked
}

void TestRS232Channel::writesAndReadsWithTheLineTimeouts()
{
    TMemoryLine line;
    line.SetResponder([](const QByteArray &w) { return "re:" + w; });
    TRS232Channel ch;
    ch.SetLineFactory(line.Factory());
    QVERIFY(ch.Open());
    int count = 0;
    QVERIFY(Write(ch, "ping", &count));
    QCOMPARE(count, 4);
    QCOMPARE(Read(ch, 266), QByteArray("re:ping"));
    // The window defaults: 9600 baud (T = 1), "Approximately 0.25 second".
    QCOMPARE(line.LastReadCapacity(), 266);
    QCOMPARE(line.LastReadTimeouts().Interval, 20u);
    QCOMPARE(line.LastReadTimeouts().TotalMultiplier, 1u);
    QCOMPARE(line.LastReadTimeouts().TotalConstant, 5u);
    // Silence: true with count 0.
    bool ok = false;
    QCOMPARE(Read(ch, 266, &ok), QByteArray());
    QVERIFY(ok);
    // A short write is no error: the count tells.
    line.SetWriteLimit(2);
    QVERIFY(Write(ch, "abcdef", &count));
    QCOMPARE(count, 2);
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

    line.SetFailOpen(true);
    QVERIFY(!ch.Open());
    QCOMPARE(ch.State(), quint8(1));
    QVERIFY(!ch.ErrorText().isEmpty());
    line.SetFailOpen(false);
    QVERIFY(ch.Open());
    QCOMPARE(ch.State(), quint8(0));

    // A port name that selects no line at all.
    TRS232Channel real;
    real.Settings().PortNumber = "no such port";
    QVERIFY(!real.Open());
    QCOMPARE(real.State(), quint8(1));
}

void TestRS232Channel::badTransferRateIsAFailedOpen_data()
{
    QTest::addColumn<QByteArray>("rate");
    QTest::addColumn<bool>("opens");
    QTest::newRow("empty") << QByteArray() << false;
    QTest::newRow("words") << QByteArray("fast baud") << false;
    QTest::newRow("zero") << QByteArray("0 baud") << false;
    QTest::newRow("leading blank") << QByteArray(" 9600 baud") << false;
    QTest::newRow("sign") << QByteArray("+9600 baud") << false;
    QTest::newRow("fraction") << QByteArray("9600.5 baud") << false;
    QTest::newRow("beyond 31 bits") << QByteArray("2147483648 baud") << false;
    QTest::newRow("digits then letters") << QByteArray("9600baud") << false;
    QTest::newRow("trailing blanks") << QByteArray("19200 baud  ") << true;
    QTest::newRow("number alone, leading zero") << QByteArray("057600") << true;
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

void TestRS232Channel::configureUndoesAnythingButOk()
{
    TRS232Channel ch;
    // Texts typed earlier, an empty one among them, must come back exactly.
    ch.Settings().PortNumber = "my port";
    ch.Settings().Paritet = "";
    ch.Settings().WriteTimeOutConstant = -3;
    const TComSettings before = ch.Settings();

    EditingEditor cancel(EditingEditor::Cancel);
    QVERIFY(!ch.Configure(cancel));
    QVERIFY(ch.Settings() == before);

    EditingEditor throwing(EditingEditor::Throw);
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, ch.Configure(throwing));
    QVERIFY(ch.Settings() == before);

    EditingEditor ok(EditingEditor::Ok);
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
    QCOMPARE(Read(ch, 266), QByteArray("abcdef"));
    line.Arrive("0123456789");
    QCOMPARE(Read(ch, 4), QByteArray("0123"));
    QCOMPARE(Read(ch, 266), QByteArray("456789"));

    // A pause longer than the interval time-out splits the input.
    line.Arrive("first");
    line.Arrive("second", TMemoryLine::Gap::Interval);
    line.Arrive("more");
    QCOMPARE(Read(ch, 266), QByteArray("first"));
    QCOMPARE(Read(ch, 266), QByteArray("secondmore"));

    // Bytes that come after a read's total time-out: that read ends empty.
    line.Arrive("a");
    line.Arrive("b", TMemoryLine::Gap::Total);
    QCOMPARE(Read(ch, 266), QByteArray("a"));
    bool ok = false;
    QCOMPARE(Read(ch, 266, &ok), QByteArray());
    QVERIFY(ok);
    QCOMPARE(Read(ch, 266), QByteArray("b"));
    QCOMPARE(line.PendingBytes(), 0);
}

void TestRS232Channel::memoryLineQueuedReplies()
{
    TMemoryLine line;
    line.QueueReply("one");
    line.QueueReply(QByteArray()); // silence for the second request
    line.QueueReply("three", TMemoryLine::Gap::Total);
    int calls = 0;
    line.SetResponder([&calls](const QByteArray &) { return QByteArray(++calls == 1 ? "+" : ""); });
    TRS232Channel ch;
    ch.SetLineFactory(line.Factory());
    QVERIFY(ch.Open());
    QVERIFY(Write(ch, "1"));
    QCOMPARE(Read(ch, 266), QByteArray("one+"));
    QVERIFY(Write(ch, "2"));
    QCOMPARE(Read(ch, 266), QByteArray());
    QVERIFY(Write(ch, "3"));
    QCOMPARE(Read(ch, 266), QByteArray()); // too late for this read
    QCOMPARE(Read(ch, 266), QByteArray("three"));
    QCOMPARE(line.AllWritten(), QByteArray("123"));
    QCOMPARE(calls, 3);
}

QTEST_GUILESS_MAIN(TestRS232Channel)
#include "tst_rs232channel.moc"
