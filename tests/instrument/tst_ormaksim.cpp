// The installation's variable set against the emulator kvarn-sim on a
// pseudo-terminal: the whole chain of channel, driver and variable set, as the
// program runs it.

#include "instrument/ormak.h"
#include "protocol/openprotocoldriver.h"
#include "serial/rs232channel.h"
#include "support/simprocess.h"

#include <QTemporaryDir>
#include <QTest>

class TestORMAKSim : public QObject {
    Q_OBJECT
private slots:
    void wholeChain();
};

void TestORMAKSim::wholeChain()
{
    SimProcess sim;
    QVERIFY2(sim.Start({"--records", "12", "--set", "SERIALN=1047", "--activity", "10,10,20,20",
                        "--fault", "3:silent"}),
             qPrintable(sim.ErrorText()));
    TRS232Channel channel;
    channel.Settings().PortNumber = sim.LinkPath().toLocal8Bit();
    QVERIFY(channel.Open());
    TOpenProtocolDriver driver(&channel);
    TORMAK device(&driver);
    device.SetDeviceNumber(1);

    // The third request gets no reply: its frame is sent again.
    QVERIFY(device.ReadCommonParams());
    QCOMPARE(device.CommonVars->GetItem(1)->Value, QByteArray("1047"));
    QVERIFY(!device.AlarmUnitVars->GetItem(1)->Value.isEmpty());

    // The test mode before anything else reads ACTIVITY.
    device.ResetTestAveraging();
    QByteArrayList shown;
    for (int i = 0; i < 4; ++i) {
        QVERIFY(device.ReadTestValue());
        shown << device.TestVars->GetItem(0)->Value;
    }
    QCOMPARE(shown, (QByteArrayList{"10", "10", "15", "20"}));

    QVERIFY(device.ReadCounterParams() && device.ReadServiceParams());

    // A written threshold is what the installation gives back.
    device.CounterVars->GetItem(1)->Value = "123";
    QVERIFY(device.WriteCounterParams());
    device.CounterVars->GetItem(1)->Value.clear();
    QVERIFY(device.ReadCounterParams());
    QCOMPARE(device.CounterVars->GetItem(1)->Value, QByteArray("123"));

    QVERIFY(device.ReadNumOfRecords());
    QCOMPARE(device.NumOfRecords, 12);
    QVERIFY(device.ReadArchive(5, 1, 12, device.ArchiveShortVars.get()));
    QCOMPARE(device.Archive->RecordCount(), 3); // records 1, 6 and 11
    QCOMPARE(device.Archive->GetRecord(2)->VarList->GetItem(0)->Index, QByteArray("A011"));
    QVERIFY(!device.Archive->GetRecord(2)->VarList->GetItem(1)->Value.isEmpty());

    QVERIFY(device.ReadSpectrum() && device.ReadBackgroundSpectrum());
    QVERIFY(device.Spectrum->SumCounts(0, 1023) > 0);
    QTemporaryDir dir;
    TRadiationSpectr back;
    QVERIFY(device.Spectrum->SaveToFile(dir.filePath("main.spc")) && back.LoadFromFile(dir.filePath("main.spc")));
    QCOMPARE(back.FileImage(), device.Spectrum->FileImage());
}

QTEST_GUILESS_MAIN(TestORMAKSim)
#include "tst_ormaksim.moc"
