// The emulated installation's parts on their own: its variables on a clock the
// test turns, the archive and spectra, the frame receiver, the paced
// transmitter and the command line.

#include "base/textutils.h"
#include "sim/siminstrument.h"
#include "sim/simoptions.h"
#include "sim/simoutput.h"
#include "sim/simreceiver.h"

#include <QRegularExpression>
#include <QTest>

namespace {

qint64 clockAt(const char *text)
{
    qint64 ms = 0;
    TSimInstrument::ParseDateTime(text, ms);
    return ms;
}

struct Rig {
    qint64 elapsedMs = 0;
    TSimInstrument sim;
    explicit Rig(quint64 seed = 1, int records = 300)
        : sim(TSimSettings{seed, records, 128, -1, clockAt("05/03/2004 14.07.00")}, [this] { return elapsedMs; })
    {
    }
    QByteArray read(const char *name) { return sim.Read(name).Value; }
    QByteArray record(const char *name, int n) { return sim.ReadRecord(name, "A" + PadLeftInt(n, "0", 3)).Value; }
};

double num(const QByteArray &text)
{
    bool ok = false;
    const double v = double(StrToFloatDot(text, &ok));
    return ok ? v : -1e300;
}

quint32 countAt(const QByteArray &bytes, int channel)
{
    quint32 v = 0;
    for (int b = 3; b >= 0; --b)
        v = (v << 8) | quint8(bytes[4 * channel + b]);
    return v;
}

double meanCounts(const QByteArray &bytes, int from, int to)
{
    double sum = 0;
    for (int ch = from; ch < to; ++ch)
        sum += countAt(bytes, ch);
    return sum / (to - from);
}

ProtocolFrame request(const QByteArray &text, quint8 to = 1)
{
    return MakeRequestFrame(0, to, text);
}

} // namespace

class TestSimModel : public QObject {
    Q_OBJECT

private slots:
    // --- variables ---------------------------------------------------------------
    void everyVariableHasAWireFormValue_data();
    void everyVariableHasAWireFormValue();
    void clockRunsAndCanBeSet();
    void resourceGrowsByTheHour();
    void activityChangesOncePerMeasurement();
    void alarmsFollowTheReadingAgainstTheThresholds();
    void writesStoreValidValuesOnly_data();
    void writesStoreValidValuesOnly();
    void startValues();
    void statusAndInputContactChangeNowAndThen();
    // --- archive and spectra -----------------------------------------------------
    void archiveIsDeterministicAndConsistent();
    void archiveRecordReferences_data();
    void archiveRecordReferences();
    void spectraLookLikeGammaSpectra();
    void spectrumBlocks();
    // --- receiver ------------------------------------------------------------------
    void receiverCompletesFramesByTheirLength();
    void receiverResynchronises();
    // --- transmitter -----------------------------------------------------------------
    void pacingTenBitsPerByte();
    void gapsDelaysAndQueuedReplies();
    // --- command line ------------------------------------------------------------------
    void options_data();
    void options();
    void faultSchedule();
};

void TestSimModel::everyVariableHasAWireFormValue_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QString>("pattern");
    const QString number = QStringLiteral("^-?\\d+(\\.\\d+)?$");
    const QString flag = QStringLiteral("^[01]$");
    QTest::newRow("DATETIME") << QByteArray("DATETIME") << QStringLiteral("^\\d\\d/\\d\\d/\\d{4} \\d\\d\\.\\d\\d\\.\\d\\d$");
    for (const char *n : {"SERIALN", "RESOURCE", "STATUS", "NUMOFRECORDS", "DURATIONTIME"})
        QTest::newRow(n) << QByteArray(n) << QStringLiteral("^\\d+$");
    for (const char *n : {"DRYCONTACTIN", "DRYCONTACTOUT", "ALARM1ON", "ALARM2ON", "BAS_SIRENE"})
        QTest::newRow(n) << QByteArray(n) << flag;
    QTest::newRow("BAS_INDICATOR") << QByteArray("BAS_INDICATOR") << QStringLiteral("^[012]$");
    for (const char *n : {"DRYCONTACTTHR", "KOEFFICIENT", "ALARM1", "ALARM2", "ACTIVITY", "SELFBACKGROUND",
                          "CURRENT", "UWORK", "OFFSETU0", "OFFSETI0", "TEMPERATURE"})
        QTest::newRow(n) << QByteArray(n) << number;
}

void TestSimModel::everyVariableHasAWireFormValue()
{
    QFETCH(QByteArray, name);
    QFETCH(QString, pattern);
    Rig rig;
    const TSimAnswer a = rig.sim.Read(name.toLower()); // names in any letter case
    QVERIFY(a.Known);
    QVERIFY2(QRegularExpression(pattern).match(QString::fromLatin1(a.Value)).hasMatch(), a.Value.constData());
    if (name == "KOEFFICIENT")
        QVERIFY(num(a.Value) > 0); // a counter is connected
}

void TestSimModel::clockRunsAndCanBeSet()
{
    Rig rig;
    QCOMPARE(rig.read("DATETIME"), QByteArray("05/03/2004 14.07.00"));
    rig.elapsedMs = 61'500;
    QCOMPARE(rig.read("DATETIME"), QByteArray("05/03/2004 14.08.01"));
    QCOMPARE(rig.sim.Write("DATETIME", "31/12/2023 23.59.58").Value, QByteArray("31/12/2023 23.59.58"));
    rig.elapsedMs += 3000;
    QCOMPARE(rig.read("DATETIME"), QByteArray("01/01/2024 00.00.01"));
    // A text that is no date leaves the clock alone and answers the clock.
    for (const char *bad : {"", "05/03/2004", "30/02/2004 10.00.00", "05/03/2004 24.00.00", "05/03/04 10.00.00",
                            "05/03/2004 10:00:00", "+5/03/2004 10.00.00"})
        QCOMPARE(rig.sim.Write("DATETIME", bad).Value, QByteArray("01/01/2024 00.00.01"));
}

void TestSimModel::resourceGrowsByTheHour()
{
    Rig rig;
    const qint64 start = rig.read("RESOURCE").toLongLong();
    rig.elapsedMs = 3'599'000;
    QCOMPARE(rig.read("RESOURCE").toLongLong(), start);
    rig.elapsedMs = 2 * 3'600'000;
    QCOMPARE(rig.read("RESOURCE").toLongLong(), start + 2);
    QCOMPARE(rig.sim.Write("RESOURCE", "1").Value.toLongLong(), start + 2); // not the operator's to set
}

void TestSimModel::activityChangesOncePerMeasurement()
{
    Rig rig;
    QCOMPARE(rig.read("DURATIONTIME"), QByteArray("60"));
    const QByteArray first = rig.read("ACTIVITY");
    rig.elapsedMs = 59'999;
    QCOMPARE(rig.read("ACTIVITY"), first);
    // Over many measurements the readings differ and stay near the quiet level.
    QSet<QByteArray> seen;
    double sum = 0;
    for (int i = 1; i <= 400; ++i) {
        rig.elapsedMs = i * 60'000;
        const QByteArray v = rig.read("ACTIVITY");
        seen.insert(v);
        sum += num(v);
    }
    QVERIFY(seen.size() > 200);
    QVERIFY2(sum / 400 > 100 && sum / 400 < 600, QByteArray::number(sum / 400).constData());

    // A shorter measurement time takes effect from now on, without a jump.
    const QByteArray now = rig.read("ACTIVITY");
    QCOMPARE(rig.sim.Write("DURATIONTIME", "10").Value, QByteArray("10"));
    QCOMPARE(rig.read("ACTIVITY"), now);
    rig.elapsedMs += 10'000;
    QCOMPARE(rig.sim.CycleNow(), 401);
}

void TestSimModel::alarmsFollowTheReadingAgainstTheThresholds()
{
    Rig rig;
    rig.sim.SetActivityReadings({"10", "1000", "4999.9", "5000", "abc"});
    // The flags show the reading that the next read of ACTIVITY returns.
    const QList<QByteArray> expected1 = {"0", "1", "1", "1", "0"};
    const QList<QByteArray> expected2 = {"0", "0", "0", "1", "0"};
    for (int i = 0; i < 5; ++i) {
        QCOMPARE(rig.read("ALARM1ON"), expected1[i]);
        QCOMPARE(rig.read("ALARM2ON"), expected2[i]);
        rig.read("ACTIVITY");
    }
    QCOMPARE(rig.read("ACTIVITY"), QByteArray("abc")); // the last reading stays

    // Lowering a threshold raises its alarm at once.
    Rig quiet;
    QCOMPARE(quiet.read("ALARM1ON"), QByteArray("0"));
    quiet.sim.Write("ALARM1", "1");
    QCOMPARE(quiet.read("ALARM1ON"), QByteArray("1"));
}

void TestSimModel::writesStoreValidValuesOnly_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<bool>("stored");
    QTest::newRow("threshold") << QByteArray("ALARM1") << QByteArray("1500.5") << true;
    QTest::newRow("threshold, not a number") << QByteArray("ALARM1") << QByteArray("15O0") << false;
    QTest::newRow("threshold, negative") << QByteArray("ALARM2") << QByteArray("-1") << false;
    QTest::newRow("threshold, empty") << QByteArray("DRYCONTACTTHR") << QByteArray() << false;
    QTest::newRow("coefficient 0") << QByteArray("KOEFFICIENT") << QByteArray("0") << true;
    QTest::newRow("contact 2") << QByteArray("DRYCONTACTOUT") << QByteArray("2") << false;
    QTest::newRow("red lamp") << QByteArray("bas_indicator") << QByteArray("2") << true;
    QTest::newRow("lamp 3") << QByteArray("BAS_INDICATOR") << QByteArray("3") << false;
    QTest::newRow("duration fraction") << QByteArray("DURATIONTIME") << QByteArray("1.5") << false;
    QTest::newRow("temperature below 0") << QByteArray("TEMPERATURE") << QByteArray("-5.5") << true;
    QTest::newRow("serial number") << QByteArray("SERIALN") << QByteArray("9999") << false;
    QTest::newRow("status") << QByteArray("STATUS") << QByteArray("255") << false;
}

void TestSimModel::writesStoreValidValuesOnly()
{
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, value);
    QFETCH(bool, stored);
    Rig rig;
    const QByteArray before = rig.read(name.constData());
    const TSimAnswer echo = rig.sim.Write(name, value);
    QVERIFY(echo.Known);
    QCOMPARE(echo.Value, stored ? value : before);
    QCOMPARE(rig.read(name.constData()), echo.Value);
}

void TestSimModel::startValues()
{
    Rig rig;
    QString why;
    QVERIFY(rig.sim.SetStartValue("KOEFFICIENT", "0", &why));
    QVERIFY(rig.sim.SetStartValue("UWORK", "@@", &why));
    QVERIFY(rig.sim.SetStartValue("STATUS", "48", &why));
    QVERIFY(rig.sim.SetStartValue("NEWVAR", "5", &why));
    QVERIFY(rig.sim.SetStartValue("RESOURCE", "100", &why));
    QVERIFY(rig.sim.SetStartValue("DATETIME", "01/06/2010 08.00.00", &why));
    QVERIFY(rig.sim.SetStartValue("SPECTRUM2", "@@", &why));
    QCOMPARE(rig.read("KOEFFICIENT"), QByteArray("0"));
    QVERIFY(!rig.sim.Read("UWORK").Known);
    QVERIFY(!rig.sim.Write("UWORK", "400").Known);
    QCOMPARE(rig.read("STATUS"), QByteArray("48"));
    QCOMPARE(rig.sim.Write("NEWVAR", "anything").Value, QByteArray("anything"));
    QCOMPARE(rig.read("RESOURCE"), QByteArray("100"));
    QCOMPARE(rig.read("DATETIME"), QByteArray("01/06/2010 08.00.00"));
    QCOMPARE(rig.record("DATETIME", 300), QByteArray("01/06/2010 08.00.00"));
    QVERIFY(!rig.sim.BlockCount("SPECTRUM2").Known);
    QVERIFY(rig.sim.BlockCount("SPECTRUM1").Known);

    // One record of the archive answering otherwise: its time unknown, or a value of choice.
    QVERIFY(rig.sim.SetStartValue("DATETIME:A0150", "@@", &why));
    QVERIFY(rig.sim.SetStartValue("activity:a7", "999", &why));
    QVERIFY(!rig.sim.ReadRecord("DATETIME", "A150").Known);
    QVERIFY(rig.sim.ReadRecord("ACTIVITY", "A150").Known);
    QCOMPARE(rig.record("DATETIME", 151), QByteArray("01/06/2010 05.31.00"));
    QCOMPARE(rig.record("ACTIVITY", 7), QByteArray("999"));

    for (auto [name, value] : {std::pair<QByteArray, QByteArray>{"DATETIME", "tomorrow"}, {"RESOURCE", "-3"},
                               {"SPECTRUM1", "1"}, {"A B", "1"}, {"ALARM1", "1;ALARM2=0"},
                               {"RESOURCE:A001", "1"}, {"DATETIME:B001", "@@"}, {"DATETIME:A000", "@@"},
                               {"DATETIME:A", "@@"}}) {
        why.clear();
        QVERIFY2(!rig.sim.SetStartValue(name, value, &why), name.constData());
        QVERIFY(!why.isEmpty());
    }
}

void TestSimModel::statusAndInputContactChangeNowAndThen()
{
    Rig rig;
    int bits = 0, zero = 0;
    QSet<QByteArray> contact;
    for (int i = 0; i < 3000; ++i) {
        rig.elapsedMs = qint64(i) * 60'000;
        const int status = rig.read("STATUS").toInt();
        QCOMPARE(status & ~0xF0, 0);
        bits |= status;
        zero += status == 0;
        contact.insert(rig.read("DRYCONTACTIN"));
    }
    QCOMPARE(bits, 0xF0);  // each of the four states shows up
    QVERIFY(zero > 2400);  // but mostly all is well
    QCOMPARE(contact.size(), 2);
}

void TestSimModel::archiveIsDeterministicAndConsistent()
{
    Rig a(7), b(7), c(8);
    QCOMPARE(a.read("NUMOFRECORDS"), QByteArray("300"));
    int alarms = 0;
    QStringList differs;
    qint64 previous = 0;
    for (int n = 1; n <= 300; ++n) {
        for (const QByteArray &name : TSimInstrument::ArchiveVariables()) {
            const TSimAnswer v = a.sim.ReadRecord(name, "A" + PadLeftInt(n, "0", 3));
            QVERIFY(v.Known);
            QCOMPARE(v.Value, b.record(name.constData(), n));
            if (v.Value != c.record(name.constData(), n))
                differs << QString::fromLatin1(name);
        }
        qint64 t = 0;
        QVERIFY(TSimInstrument::ParseDateTime(a.record("DATETIME", n), t));
        if (n > 1)
            QCOMPARE(t - previous, 60'000); // the measurement time apart
        previous = t;
        const double activity = num(a.record("ACTIVITY", n));
        QCOMPARE(a.record("ALARM1ON", n), QByteArray(activity >= 1000 ? "1" : "0"));
        QCOMPARE(a.record("ALARM2ON", n), QByteArray(activity >= 5000 ? "1" : "0"));
        QCOMPARE(a.record("SERIALN", n), a.read("SERIALN"));
        alarms += activity >= 1000;
    }
    QCOMPARE(a.record("DATETIME", 300), QByteArray("05/03/2004 14.07.00")); // the newest at start-up
    QCOMPARE(a.record("ACTIVITY", 300), a.read("ACTIVITY"));               // and the live value goes on from it
    QVERIFY(differs.contains(QLatin1String("ACTIVITY")));                   // another seed, another history
    QVERIFY(alarms > 0 && alarms < 60);
}

void TestSimModel::archiveRecordReferences_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("index");
    QTest::addColumn<bool>("known");
    QTest::newRow("A001") << QByteArray("ACTIVITY") << QByteArray("A001") << true;
    QTest::newRow("A1000") << QByteArray("STATUS") << QByteArray("A1000") << true;
    QTest::newRow("a7, lower case") << QByteArray("alarm1on") << QByteArray("a7") << true;
    QTest::newRow("A000") << QByteArray("ACTIVITY") << QByteArray("A000") << false;
    QTest::newRow("past the end") << QByteArray("ACTIVITY") << QByteArray("A1001") << false;
    QTest::newRow("huge") << QByteArray("ACTIVITY") << QByteArray("A99999999999999999999") << false;
    QTest::newRow("A-1") << QByteArray("ACTIVITY") << QByteArray("A-1") << false;
    QTest::newRow("not archived") << QByteArray("RESOURCE") << QByteArray("A001") << false;
}

void TestSimModel::archiveRecordReferences()
{
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, index);
    QFETCH(bool, known);
    Rig rig(1, 1000);
    QCOMPARE(rig.sim.ReadRecord(name, index).Known, known);
}

void TestSimModel::spectraLookLikeGammaSpectra()
{
    Rig rig;
    const QByteArray main = rig.sim.SpectrumData(TSimSpectrumKind::Main);
    const QByteArray background = rig.sim.SpectrumData(TSimSpectrumKind::Background);
    QCOMPARE(main.size(), 4096);
    QCOMPARE(background.size(), 4096);
    QCOMPARE(main, SimSpectrumBytes(SimSpectrumCounts(TSimSpectrumKind::Main, 1)));
    QVERIFY(main != SimSpectrumBytes(SimSpectrumCounts(TSimSpectrumKind::Main, 2)));

    // A falling continuum ...
    QVERIFY(meanCounts(main, 40, 60) > meanCounts(main, 400, 420));
    QVERIFY(meanCounts(main, 400, 420) > meanCounts(main, 900, 920));
    // ... with lines standing out of it (Cs-137 at 662 keV, channel 221) ...
    const double top = meanCounts(main, 219, 224);
    QVERIFY(top > 2 * meanCounts(main, 180, 190));
    QVERIFY(top > 2 * meanCounts(main, 255, 265));
    // ... and the background far lower, but with its own K-40 line (channel 487).
    QVERIFY(meanCounts(background, 0, 1024) * 3 < meanCounts(main, 0, 1024));
    QVERIFY(meanCounts(background, 485, 490) > 2 * meanCounts(background, 440, 450));
}

void TestSimModel::spectrumBlocks()
{
    Rig rig;
    QCOMPARE(rig.sim.BlockCount("spectrum1").Value, QByteArray("##32"));
    QCOMPARE(rig.sim.Block("SPECTRUM1", 32), rig.sim.SpectrumData(TSimSpectrumKind::Main).right(128));
    QVERIFY(rig.sim.Block("SPECTRUM1", 33).isEmpty());
    QVERIFY(rig.sim.Block("ACTIVITY", 1).isEmpty());
    QVERIFY(!rig.sim.Read("SPECTRUM1").Known); // no text value

    qint64 elapsed = 0;
    TSimInstrument wide(TSimSettings{1, 10, 253, -1, 0}, [&] { return elapsed; });
    QCOMPARE(wide.BlockCount("SPECTRUM2").Value, QByteArray("##17"));
    QCOMPARE(wide.Block("SPECTRUM2", 17).size(), 4096 - 16 * 253);
    TSimInstrument many(TSimSettings{1, 10, 128, 300, 0}, [&] { return elapsed; });
    QCOMPARE(many.BlockCount("SPECTRUM1").Value, QByteArray("##300"));
}

void TestSimModel::receiverCompletesFramesByTheirLength()
{
    const QByteArray a = BuildFrame(request("DATETIME=??;"));
    const QByteArray b = BuildFrame(request("SERIALN=??;"));
    TFrameReceiver rx;
    ProtocolFrame f;
    QByteArray wire;
    for (int i = 0; i < a.size() - 1; ++i) {
        rx.Feed(a.mid(i, 1));
        QVERIFY(!rx.Next(f));
    }
    rx.Feed(a.right(1) + b); // the last byte of one frame and the whole next one
    QVERIFY(rx.Next(f, &wire));
    QCOMPARE(wire, a);
    QCOMPARE(f.Text(), QByteArray("DATETIME=??;"));
    QVERIFY(rx.Next(f));
    QCOMPARE(f.Text(), QByteArray("SERIALN=??;"));
    QVERIFY(!rx.Next(f));
    QVERIFY(!rx.HasPartial());
    QCOMPARE(rx.TakeSkipped(), 0);

    ProtocolFrame empty; // L = 0: seven bytes, no payload checksum
    empty.Receiver = 1;
    rx.Feed(BuildFrame(empty));
    QVERIFY(rx.Next(f));
    QCOMPARE(f.Length, quint8(0));
}

void TestSimModel::receiverResynchronises()
{
    const QByteArray good = BuildFrame(request("ACTIVITY=??;"));
    QByteArray badPayload = good;
    badPayload[badPayload.size() - 4] = char(badPayload[badPayload.size() - 4] ^ 0x40);
    QByteArray badHeader = good;
    badHeader[3] = char(badHeader[3] ^ 0x01);

    TFrameReceiver rx;
    ProtocolFrame f;
    rx.Feed(QByteArray("\xFF\x00\x13garbage", 10) + badHeader + badPayload + good);
    QVERIFY(rx.Next(f));
    QCOMPARE(f.Text(), QByteArray("ACTIVITY=??;"));
    QCOMPARE(rx.TakeSkipped(), 10 + badHeader.size() + badPayload.size());
    QVERIFY(!rx.HasPartial());

    // Noise of every kind, then a good frame: the frame is still found.
    for (int round = 0; round < 200; ++round) {
        QByteArray noise;
        for (int i = 0; i < round; ++i)
            noise += char(quint8((i * 131 + round * 17) ^ (i >> 2)));
        TFrameReceiver r;
        r.Feed(noise + good);
        bool found = false;
        while (r.Next(f))
            found = found || f.Text() == "ACTIVITY=??;";
        while (!found && r.HasPartial()) {
            r.DropStale();
            while (r.Next(f))
                found = found || f.Text() == "ACTIVITY=??;";
        }
        QVERIFY2(found, QByteArray::number(round).constData());
    }
}

void TestSimModel::pacingTenBitsPerByte()
{
    TSimOutput out(9600);
    const qint64 bt = out.ByteTimeNs();
    QCOMPARE(bt, qint64(1'041'666)); // 10 / 9600 s
    const qint64 t0 = 5'000'000'000;
    out.Enqueue({TSimChunk{0, QByteArray(100, 'a'), {"-> done"}}}, t0);
    QList<QByteArray> finished;
    QVERIFY(out.TakeDue(t0, &finished).isEmpty());
    QCOMPARE(out.NextDueNs(), t0 + bt);
    QCOMPARE(out.TakeDue(t0 + 10 * bt, &finished).size(), 10);
    QCOMPARE(out.TakeDue(t0 + 10 * bt + bt / 2, &finished).size(), 0);
    QCOMPARE(out.NextDueNs(), t0 + 11 * bt);
    // A late wake-up catches up: the pace comes from the clock, not from the wake-ups.
    QCOMPARE(out.TakeDue(t0 + 99 * bt, &finished).size(), 89);
    QVERIFY(finished.isEmpty());
    QCOMPARE(out.TakeDue(t0 + 100 * bt, &finished).size(), 1);
    QCOMPARE(finished, QList<QByteArray>{"-> done"});
    QVERIFY(out.IsIdle());
    QCOMPARE(out.NextDueNs(), -1);

    TSimOutput fast; // no rate: everything at once
    fast.Enqueue({TSimChunk{0, QByteArray(300, 'b'), {}}}, t0);
    QCOMPARE(fast.TakeDue(t0).size(), 300);
}

void TestSimModel::gapsDelaysAndQueuedReplies()
{
    TSimOutput out(1000); // 10 ms a byte
    const qint64 ms = 1'000'000;
    // A reply delayed by 50 ms and split with a 30 ms gap after its first 2 bytes.
    out.Enqueue({TSimChunk{50, "ab", {}}, TSimChunk{30, "cd", {"-> split"}}}, 0);
    // A second reply that was ready at once waits for the line.
    out.Enqueue({TSimChunk{0, "ef", {"-> next"}}}, 0);
    QCOMPARE(out.TakeDue(59 * ms), QByteArray());
    QCOMPARE(out.TakeDue(60 * ms), QByteArray("a")); // one byte time after the 50 ms delay
    QCOMPARE(out.TakeDue(70 * ms), QByteArray("b"));
    QCOMPARE(out.TakeDue(109 * ms), QByteArray()); // the gap
    QList<QByteArray> finished;
    QCOMPARE(out.TakeDue(120 * ms, &finished), QByteArray("cd"));
    QCOMPARE(finished, QList<QByteArray>{"-> split"});
    QCOMPARE(out.TakeDue(140 * ms, &finished), QByteArray("ef"));
    QCOMPARE(finished.last(), QByteArray("-> next"));

    out.Enqueue({TSimChunk{0, "gh", {}}}, 500 * ms);
    out.Clear();
    QVERIFY(out.IsIdle());
    QVERIFY(out.TakeDue(1000 * ms).isEmpty());

    // Replies delayed from their requests (a slow installation): the second,
    // asked 10 ms after the first, follows it on the line instead of adding
    // its delay to the first one's.
    TSimOutput late(1000);
    late.Enqueue({TSimChunk{50, "ij", {}, true}}, 0);
    late.Enqueue({TSimChunk{50, "kl", {}, true}}, 10 * ms);
    QCOMPARE(late.TakeDue(70 * ms), QByteArray("ij"));
    QCOMPARE(late.TakeDue(89 * ms), QByteArray("k"));
    QCOMPARE(late.TakeDue(90 * ms), QByteArray("l"));
}

void TestSimModel::options_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("ok");
    QTest::newRow("everything") << QStringList{"--link", "x", "--baud", "9600", "--seed", "3", "--records", "1000",
                                               "--block-size", "253", "--block-count", "0", "--set", "KOEFFICIENT=0",
                                               "--set", "DATETIME=05/03/2004 14.07.00", "--activity", "10,10,20,20",
                                               "--fault", "2:silent", "--fault", "3-5,9:split:100:7", "--log", "-"}
                                << true;
    QTest::newRow("tcp, = form") << QStringList{"--tcp=127.0.0.1:0", "--device=7"} << true;
    QTest::newRow("no line") << QStringList{"--seed", "3"} << false;
    QTest::newRow("two lines") << QStringList{"--link", "x", "--tcp", "h:1"} << false;
    QTest::newRow("device 0") << QStringList{"--link", "x", "--device", "0"} << false;
    QTest::newRow("block size 254") << QStringList{"--link", "x", "--block-size", "254"} << false;
    QTest::newRow("negative seed") << QStringList{"--link", "x", "--seed", "-1"} << false;
    QTest::newRow("value missing") << QStringList{"--link", "x", "--baud"} << false;
    QTest::newRow("tcp port too big") << QStringList{"--tcp", "localhost:65536"} << false;
    QTest::newRow("set without =") << QStringList{"--link", "x", "--set", "KOEFFICIENT"} << false;
    QTest::newRow("empty reading") << QStringList{"--link", "x", "--activity", "10,,20"} << false;
}

void TestSimModel::options()
{
    QFETCH(QStringList, args);
    QFETCH(bool, ok);
    TSimOptions o;
    QString why;
    QCOMPARE(ParseSimOptions(args, o, &why), ok);
    QCOMPARE(why.isEmpty(), ok);
    if (QTest::currentDataTag() == QLatin1String("everything")) {
        QCOMPARE(o.BlockCount, 0);
        QCOMPARE(o.Sets[1].second, QByteArray("05/03/2004 14.07.00"));
        QCOMPARE(o.Activity, (QList<QByteArray>{"10", "10", "20", "20"}));
        QCOMPARE(o.Faults.For(4)[0].Arg2, 7);
    }
}

void TestSimModel::faultSchedule()
{
    TSimFaultSchedule s;
    QString why;
    QVERIFY(s.Add("2:silent", &why));
    QVERIFY(s.Add("4-5,9:delay:250", &why));
    QVERIFY(s.Add("7-:wrong-kind", &why));
    QVERIFY(s.Add("9:garbage:3", &why));
    auto kinds = [&](int n) {
        QStringList out;
        for (const TSimFault &f : s.For(n))
            out << TSimFaultSchedule::KindName(f.Kind);
        return out.join(u' ');
    };
    QCOMPARE(kinds(1), QString());
    QCOMPARE(kinds(2), QStringLiteral("silent"));
    QCOMPARE(kinds(3), QString());
    QCOMPARE(kinds(5), QStringLiteral("delay"));
    QCOMPARE(kinds(6), QString());
    QCOMPARE(kinds(9), QStringLiteral("delay wrong-kind garbage"));
    QCOMPARE(kinds(100000), QStringLiteral("wrong-kind"));
    QCOMPARE(s.For(9)[0].Arg, 250);

    for (const char *bad : {"silent", "0:silent", "5-3:silent", "2:split", "2:delay:x", "2:silent:1",
                            "2:wrong-receiver:0", "2:wrong-sender:256", "2:wrong-kind:1", "1-2-3:double"}) {
        TSimFaultEntry e;
        why.clear();
        QVERIFY2(!TSimFaultSchedule::Parse(QString::fromLatin1(bad), e, &why), bad);
        QVERIFY(!why.isEmpty());
    }
}

QTEST_GUILESS_MAIN(TestSimModel)
#include "tst_simmodel.moc"
