// The emulator as the program meets it: the program's own chain (serial
// channel, protocol driver, installation variable set) over a real
// pseudo-terminal to kvarn-sim. What the program relies on of an
// installation must hold here: replies within the read time-outs of the
// usual line settings, every group readable, spectra over blocks, the
// archive by records, and the test mode's readings.

#include "base/cp1251.h"
#include "instrument/ormak.h"
#include "sim/simspectrum.h"
#include "support/simline.h"

#include <QTest>

namespace {

// The program's chain on the emulator's line, with the line settings ./run writes.
struct Program : ProgramOnSim {
    TORMAK ormak{&driver};

    bool open(const SimProcess &sim)
    {
        ormak.SetDeviceNumber(1);
        return ProgramOnSim::open(sim, "9600 baud");
    }
};

QByteArray value(const TOPVarList &list, int i)
{
    return list.GetItem(i)->Value;
}

} // namespace

class TestSimInstallation : public QObject {
    Q_OBJECT

private slots:
    void everyPageAndASpectrumAt9600Baud();
    void testModeReadings();
    void retriesOverTheLine();
    void archiveRecords();
    void noCounterConnected();
};

void TestSimInstallation::everyPageAndASpectrumAt9600Baud()
{
    SimProcess sim;
    QVERIFY2(sim.Start({"--baud", "9600", "--seed", "4"}), qPrintable(sim.ErrorText()));
    Program p;
    QVERIFY(p.open(sim));
    QVERIFY(p.ormak.ReadCommonParams());
    QCOMPARE(value(*p.ormak.CommonVars, 1), QByteArray("1047"));
    QVERIFY(p.ormak.ReadCounterParams());
    QCOMPARE(value(*p.ormak.CounterVars, 1), QByteArray("1000"));
    QVERIFY(p.ormak.ReadServiceParams());
    // Full block replies at 9600 baud fit the shortest usual reply delay.
    QVERIFY(p.ormak.ReadSpectrum());
    const TSimCounts counts = SimSpectrumCounts(TSimSpectrumKind::Main, 4);
    for (int ch : {0, 27, 221, 1023})
        QCOMPARE(p.ormak.Spectrum->GetCount(ch), qint32(counts[ch]));
    for (const QByteArray &line : p.terminal.Lines)
        QVERIFY2(line != "<- " && !line.contains("bad CRC"), line.constData());

    p.ormak.AlarmUnitVars->GetItem(1)->Value = "2"; // red lamp
    QVERIFY(p.ormak.WriteAlarmUnitParams());
    QVERIFY(p.ormak.ReadCommonParams());
    QCOMPARE(value(*p.ormak.AlarmUnitVars, 1), QByteArray("2"));
}

void TestSimInstallation::testModeReadings()
{
    SimProcess sim;
    QVERIFY2(sim.Start({"--activity", "10,10,20,20"}), qPrintable(sim.ErrorText()));
    Program p;
    QVERIFY(p.open(sim));
    p.ormak.ResetTestAveraging();
    QList<QByteArray> shown;
    for (int i = 0; i < 4; ++i) {
        QVERIFY(p.ormak.ReadTestValue());
        shown << value(*p.ormak.TestVars, 0);
    }
    QCOMPARE(shown, (QList<QByteArray>{"10", "10", "15", "20"}));
    QCOMPARE(sim.RequestLines(), QList<QByteArray>(4, "ACTIVITY=??;"));
}

void TestSimInstallation::retriesOverTheLine()
{
    SimProcess sim;
    QVERIFY2(sim.Start({"--fault", "1:silent", "--fault", "2:bad-header", "--activity", "42"}),
             qPrintable(sim.ErrorText()));
    Program p;
    QVERIFY(p.open(sim));
    QVERIFY(p.driver.ReadVars(1, *p.ormak.TestVars));
    // A spoilt header fails at once, after its 7 bytes; the rest of that
    // reply is dropped before the next request.
    QCOMPARE(p.terminal.Lines, (QList<QByteArray>{"-> ACTIVITY=??;", "<- ", "-> ACTIVITY=??;",
                                                  "<- bad CRC [7 bytes total]", Cp("сброшено байт: 18"),
                                                  "-> ACTIVITY=??;", "<- ACTIVITY=42;"}));
    QCOMPARE(sim.RequestLines().size(), 3);
}

void TestSimInstallation::archiveRecords()
{
    SimProcess sim;
    QVERIFY2(sim.Start({"--records", "120", "--set", "DATETIME=05/03/2004 14.07.00"}), qPrintable(sim.ErrorText()));
    Program p;
    QVERIFY(p.open(sim));
    QVERIFY(p.ormak.ReadNumOfRecords());
    QCOMPARE(p.ormak.NumOfRecords, 120);
    QVERIFY(p.ormak.ReadArchive(40, 1, 200, p.ormak.ArchiveShortVars.get()));
    QCOMPARE(p.ormak.Archive->RecordCount(), 3); // records 1, 41 and 81
    QCOMPARE(sim.RequestLines().mid(1, 2), (QList<QByteArray>{"DATETIME:A001=??;", "ACTIVITY:A001=??;"}));
    QCOMPARE(sim.RequestLines().last(), QByteArray("ACTIVITY:A081=??;"));
}

void TestSimInstallation::noCounterConnected()
{
    SimProcess sim;
    QVERIFY2(sim.Start({"--set", "KOEFFICIENT=0", "--set", "SPECTRUM2=@@"}), qPrintable(sim.ErrorText()));
    Program p;
    QVERIFY(p.open(sim));
    QVERIFY(p.ormak.ReadCounterParams());
    QCOMPARE(value(*p.ormak.CounterVars, 0), QByteArray("0"));
    QVERIFY(!p.ormak.ReadBackgroundSpectrum()); // "@@" instead of a block count
}

QTEST_GUILESS_MAIN(TestSimInstallation)
#include "tst_siminstallation.moc"
