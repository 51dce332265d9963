// Opening and programming the port: character time, the time-out table, and
// how each setting text reaches the line (checked on the in-memory line).

#include "base/textutils.h"
#include "serial/comproperties.h"
#include "serial/memoryline.h"

#include <QTest>

Q_DECLARE_METATYPE(std::optional<LineParity>)
Q_DECLARE_METATYPE(std::optional<LineStopBits>)
Q_DECLARE_METATYPE(std::optional<bool>)

class TestComProperties : public QObject {
    Q_OBJECT
private slots:
    void charTime_data();
    void charTime();
    void timeouts_data();
    void timeouts();
    void openHandsTheTimeoutsToTheLine();
    void openProgramsTheLine_data();
    void openProgramsTheLine();
    void modemLines_data();
    void modemLines();
    void refusedProgrammingFailsTheOpen();
};

void TestComProperties::charTime_data()
{
    QTest::addColumn<quint32>("rate");
    QTest::addColumn<qint32>("t");
    // The listed rates.
    const struct {
        quint32 rate;
        qint32 t;
    } table[] = {{75, 133},  {110, 91}, {134, 75}, {150, 67},  {300, 33},   {600, 17},
                 {1200, 8},  {1800, 6}, {2400, 4}, {4800, 2},  {7200, 1},   {9600, 1},
                 {14400, 1}, {19200, 1}, {38400, 1}, {57600, 1}, {115200, 1}};
    for (const auto &row : table)
        QTest::addRow("%u baud", row.rate) << row.rate << row.t;
    // Halves go to the even neighbour: 2.5 -> 2, 12.5 -> 12, 62.5 -> 62, 0.5 -> 0 -> 1.
    QTest::newRow("4000: 2.5") << 4000u << 2;
    QTest::newRow("800: 12.5") << 800u << 12;
    QTest::newRow("160: 62.5") << 160u << 62;
    QTest::newRow("2000: 5 exactly") << 2000u << 5;
    QTest::newRow("20000: 0.5") << 20000u << 1;
    QTest::newRow("1 baud") << 1u << 10000;
    QTest::newRow("largest rate") << 2147483647u << 1;
}

void TestComProperties::charTime()
{
    QFETCH(quint32, rate);
    QFETCH(qint32, t);
    QCOMPARE(TComProperties::CalcCharTime(rate), t);
}

void TestComProperties::timeouts_data()
{
    QTest::addColumn<qint32>("t");
    QTest::addColumn<QByteArray>("latency");
    QTest::addColumn<quint32>("multiplier");
    QTest::addColumn<quint32>("constant");

    const QList<QByteArray> &items = TComSettings::LatencyPeriodItems();
    const quint32 perByte[] = {1, 2, 3, 5, 10, 20, 30, 40, 50, 60, 70, 80};
    for (qint32 t : {1, 133}) {
        QTest::addRow("T%d %s", t, items[0].constData()) << t << items[0] << 0u << 2u;
        for (int i = 1; i <= 5; ++i)
            QTest::addRow("T%d %s", t, items[i].constData())
                << t << items[i] << 0u << quint32(t + 25 * i);
        for (int i = 6; i <= 17; ++i)
            QTest::addRow("T%d %s", t, items[i].constData())
                << t << items[i] << perByte[i - 6] << quint32(5 * t);
        QTest::addRow("T%d unlisted", t) << t << QByteArray("about a second") << 0u << quint32(5 * t);
        QTest::addRow("T%d other case", t) << t << QByteArray("immediately answer") << 0u << quint32(5 * t);
        QTest::addRow("T%d empty", t) << t << QByteArray() << 0u << quint32(5 * t);
    }
}

void TestComProperties::timeouts()
{
    QFETCH(qint32, t);
    QFETCH(QByteArray, latency);
    QFETCH(quint32, multiplier);
    QFETCH(quint32, constant);
    const TComTimeouts got = TComProperties::ComputeTimeouts(t, latency, true, 7, -1);
    QCOMPARE(got.ReadIntervalTimeout, quint32(20 * t));
    QCOMPARE(got.ReadTotalTimeoutMultiplier, multiplier);
    QCOMPARE(got.ReadTotalTimeoutConstant, constant);
    QCOMPARE(got.WriteTotalTimeoutMultiplier, 7u);
    QCOMPARE(got.WriteTotalTimeoutConstant, 0xFFFFFFFFu); // the record holds the bits as they are
}

void TestComProperties::openHandsTheTimeoutsToTheLine()
{
    QCOMPARE(TComProperties::ComputeTimeouts(133, "x", false, 0, 0).ReadIntervalTimeout, 5320u);

    TMemoryLine line;
    TComProperties p;
    QVERIFY(!p.SetTimeouts()); // nothing opened
    p.SetLineFactory(line.Factory());
    TComSettings s;
    s.TransferRate = "75 baud";
    s.WriteTimeOutMultiplier = 2;
    s.WriteTimeOutConstant = 300;
    p.ApplySettings(s);
    QVERIFY(p.Opened);
    QCOMPARE(p.CharTime, 133);
    QCOMPARE(p.Timeouts, TComProperties::ComputeTimeouts(133, s.LatencyPeriod,
                                                         PlatformInfo().PlatformKind == 3, 2, 300));
    QCOMPARE(p.LineReadTimeouts().TotalConstant, 665u);
    QCOMPARE(line.WriteTimeoutMultiplier(), 2u);
    QCOMPARE(line.WriteTimeoutConstant(), 300u);
    QCOMPARE(p.TimeoutsState, quint8(1));
}

void TestComProperties::openProgramsTheLine_data()
{
    QTest::addColumn<QByteArray>("parity");
    QTest::addColumn<QByteArray>("stopBits");
    QTest::addColumn<std::optional<LineParity>>("expectedParity");
    QTest::addColumn<std::optional<LineStopBits>>("expectedStop");
    using P = std::optional<LineParity>;
    using S = std::optional<LineStopBits>;
    QTest::newRow("None / 1") << QByteArray("None") << QByteArray("1 bit") << P(LineParity::None) << S(LineStopBits::One);
    QTest::newRow("Odd / 1.5") << QByteArray("Odd") << QByteArray("1.5 bit") << P(LineParity::Odd) << S(LineStopBits::OneAndHalf);
    QTest::newRow("Even / 2") << QByteArray("Even") << QByteArray("2 bit") << P(LineParity::Even) << S(LineStopBits::Two);
    QTest::newRow("Mark") << QByteArray("Mark") << QByteArray("1 bit") << P(LineParity::Mark) << S(LineStopBits::One);
    QTest::newRow("Space") << QByteArray("Space") << QByteArray("1 bit") << P(LineParity::Space) << S(LineStopBits::One);
    QTest::newRow("other case keeps both") << QByteArray("even") << QByteArray("2 Bit") << P() << S();
    QTest::newRow("blanks keep both") << QByteArray("None ") << QByteArray(" 1 bit") << P() << S();
    QTest::newRow("empty keeps both") << QByteArray() << QByteArray() << P() << S();
}

void TestComProperties::openProgramsTheLine()
{
    QFETCH(QByteArray, parity);
    QFETCH(QByteArray, stopBits);
    QFETCH(std::optional<LineParity>, expectedParity);
    QFETCH(std::optional<LineStopBits>, expectedStop);
    TMemoryLine line;
    TComProperties p;
    p.SetLineFactory(line.Factory());
    TComSettings s;
    s.TransferRate = "19200 baud  ";
    s.Paritet = parity;
    s.StopBits = stopBits;
    p.ApplySettings(s);
    QVERIFY(p.Opened);
    QVERIFY(line.LastLineSettings().has_value());
    const LineSettings &ls = *line.LastLineSettings();
    QCOMPARE(ls.Rate, 19200u);
    QCOMPARE(ls.DataBits, 8);
    QVERIFY(ls.Parity == expectedParity);
    QVERIFY(ls.StopBits == expectedStop);
}

void TestComProperties::modemLines_data()
{
    QTest::addColumn<QByteArray>("dtr");
    QTest::addColumn<QByteArray>("rts");
    QTest::addColumn<std::optional<bool>>("expectedDtr");
    QTest::addColumn<std::optional<bool>>("expectedRts");
    QTest::addColumn<int>("calls");
    using B = std::optional<bool>;
    QTest::newRow("Disable / Enable") << QByteArray("Disable") << QByteArray("Enable") << B(false) << B(true) << 2;
    QTest::newRow("Enable / Disable") << QByteArray("Enable") << QByteArray("Disable") << B(true) << B(false) << 2;
    QTest::newRow("HandShake: no calls") << QByteArray("HandShake") << QByteArray("HandShake") << B() << B() << 0;
    QTest::newRow("other texts: no calls") << QByteArray("enable") << QByteArray("") << B() << B() << 0;
}

void TestComProperties::modemLines()
{
    QFETCH(QByteArray, dtr);
    QFETCH(QByteArray, rts);
    QFETCH(std::optional<bool>, expectedDtr);
    QFETCH(std::optional<bool>, expectedRts);
    QFETCH(int, calls);
    TComSettings s;
    s.DTRControl = dtr;
    s.RTSControl = rts;

    TMemoryLine port;
    port.SetHasModemLines(true);
    TComProperties p;
    p.SetLineFactory(port.Factory());
    p.ApplySettings(s);
    QVERIFY(p.Opened);
    QVERIFY(port.Dtr() == expectedDtr);
    QVERIFY(port.Rts() == expectedRts);
    QCOMPARE(port.ModemLineCalls(), calls);

    // A requested line that cannot be set fails the open.
    port.SetFailModemLines(true);
    p.ApplySettings(s);
    QCOMPARE(p.Opened, calls == 0);

    // A line without modem lines (a pseudo-terminal) is not asked at all.
    TMemoryLine pty;
    TComProperties q;
    q.SetLineFactory(pty.Factory());
    q.ApplySettings(s);
    QVERIFY(q.Opened);
    QCOMPARE(pty.ModemLineCalls(), 0);
}

void TestComProperties::refusedProgrammingFailsTheOpen()
{
    TMemoryLine line;
    line.SetFailLineSettings(true);
    TComProperties p;
    p.SetLineFactory(line.Factory());
    p.ApplySettings(TComSettings());
    QVERIFY(!p.Opened);
    QVERIFY(!p.ErrorText().isEmpty());
    // The line obtained stays held until the next open or close.
    QVERIFY(p.Line());
    QVERIFY(line.IsOpen());
    p.ClosePort();
    QVERIFY(!p.Line());
    QVERIFY(!line.IsOpen());
    QVERIFY(!p.Opened);
}

QTEST_GUILESS_MAIN(TestComProperties)
#include "tst_comproperties.moc"
