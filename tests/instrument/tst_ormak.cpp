#include "instrument/ormak.h"

#include "base/sinks.h"
#include "protocol/frame.h"
#include "protocol/openprotocoldriver.h"
#include "serial/memoryline.h"
#include "serial/rs232channel.h"

#include <QMap>
#include <QSet>
#include <QTest>

namespace {

class Progress : public ProgressSink {
public:
    QList<int> Positions;
    int Minimum() const override { return 0; }
    int Maximum() const override { return 100; }
    void SetPosition(int position) override { Positions.append(position); }
};

// A scripted installation behind the in-memory line. Reads give the stored
// value ("@@" when there is none), ACTIVITY gives the queued readings in turn,
// writes are echoed, SPECTRUM1/2 come as blocks of 253 bytes. Variables named
// in Silent get no reply at all.
struct Instrument {
    QMap<QByteArray, QByteArray> Values; // "NAME" or "NAME:INDEX"
    QList<QByteArray> Readings;
    QMap<QByteArray, QByteArray> Blocks;
    QSet<QByteArray> Silent;
    QList<QByteArray> Requests;

    QByteArray Answer(const QByteArray &wire)
    {
        ProtocolFrame request;
        if (!ParseFrame(wire, request))
            return {};
        const QByteArray text = request.Text();
        Requests << text;
        const TextSegment s = ParseSegment(text.chopped(1));
        const QByteArray ref = VarReference(s.Name, s.Index);
        if (Silent.contains(ref) || Silent.contains(s.Name))
            return {};
        if (s.Value == "??") {
            QByteArray value = Values.value(ref, "@@");
            if (s.Name == "ACTIVITY" && !Readings.isEmpty())
                value = Readings.takeFirst();
            return reply(ref + '=' + value + ';');
        }
        const QByteArray data = Blocks.value(s.Name);
        const int blocks = int((data.size() + 252) / 253);
        if (s.Value == "??##")
            return reply(ref + "=##" + QByteArray::number(blocks) + ';');
        if (s.Value.startsWith("??#")) {
            const int j = s.Value.mid(3).toInt();
            return BuildFrame(MakeBlockFrame(1, 0, quint8(j), data.mid(253 * (j - 1), 253)));
        }
        Values[ref] = s.Value;
        return reply(text);
    }

    static QByteArray reply(const QByteArray &text) { return BuildFrame(MakeRequestFrame(1, 0, text)); }
};

struct Rig {
    Instrument instrument;
    TMemoryLine line;
    TRS232Channel channel;
    TOpenProtocolDriver driver{&channel};
    TORMAK device{&driver};
    Progress progress;

    Rig()
    {
        channel.SetLineFactory(line.Factory());
        channel.Open();
        driver.SetRequestPause(0);
        line.SetResponder([this](const QByteArray &w) { return instrument.Answer(w); });
        device.SetDeviceNumber(1);
        device.SetProgressBar(&progress);
    }
};

QByteArray namesOf(const TOPVarList &list)
{
    QByteArrayList names;
    for (int i = 0; i < list.Count(); ++i)
        names << list.GetItem(i)->Name;
    return names.join(' ');
}

} // namespace

class TestORMAK : public QObject {
    Q_OBJECT
private slots:
    void groupsAttemptBothLists();
    void testModeMean_data();
    void testModeMean();
    void recordCount_data();
    void recordCount();
    void archiveRecordIndexes();
    void archiveRange_data();
    void archiveRange();
    void archiveReadStopsAtAFailedRecord();
    void spectraArriveAsBlocks();
    void withoutADriverEverythingFails();
};

void TestORMAK::groupsAttemptBothLists()
{
    Rig rig;
    TORMAK &d = rig.device;
    rig.instrument.Values = {{"DATETIME", "05/03/2004 14.07.00"}, {"BAS_INDICATOR", "2"}};
    QVERIFY(d.ReadCommonParams());
    QCOMPARE(d.CommonVars->GetItem(0)->Value, QByteArray("05/03/2004 14.07.00"));
    QCOMPARE(d.AlarmUnitVars->GetItem(1)->Value, QByteArray("2"));

    // The first list fails at its second variable; the alarm unit is still read.
    rig.instrument.Silent = {"SERIALN"};
    rig.instrument.Values["BAS_INDICATOR"] = "0";
    QVERIFY(!d.ReadCommonParams());
    QCOMPARE(d.AlarmUnitVars->GetItem(1)->Value, QByteArray("0"));

    // The same for writes, which send the current values.
    rig.instrument.Requests.clear();
    d.CommonVars->GetItem(3)->Value = "1";
    d.AlarmUnitVars->GetItem(0)->Value = "1";
    rig.instrument.Silent = {"DATETIME"};
    QVERIFY(!d.WriteCommonParams());
    QCOMPARE(rig.instrument.Requests.mid(3), (QByteArrayList{"BAS_SIRENE=1;", "BAS_INDICATOR=0;"}));
    rig.instrument.Silent.clear();
    QVERIFY(d.WriteDeviceParams());
    QCOMPARE(rig.instrument.Requests.at(8), QByteArray("DRYCONTACTOUT=1;")); // after 3 + 2 above
}

void TestORMAK::testModeMean_data()
{
    QTest::addColumn<QByteArrayList>("readings");
    QTest::addColumn<QByteArrayList>("shown");
    QTest::addColumn<int>("count");
    QTest::newRow("repeats are not counted") << QByteArrayList{"10", "10", "20", "20"}
                                             << QByteArrayList{"10", "10", "15", "20"} << 2;
    QTest::newRow("first 0 is not counted") << QByteArrayList{"0", "5", "0"} << QByteArrayList{"0", "5", "2.5"} << 2;
    QTest::newRow("three digits") << QByteArrayList{"1234.5"} << QByteArrayList{"1.23E3"} << 1;
    QTest::newRow("running mean") << QByteArrayList{"1", "2", "3", "4.4"} << QByteArrayList{"1", "1.5", "2", "2.6"}
                                  << 4;
    QTest::newRow("small values") << QByteArrayList{"0.000012345"} << QByteArrayList{"1.23E-5"} << 1;
    QTest::newRow("no number: raw text stays") << QByteArrayList{"12", "x1", "x1"}
                                               << QByteArrayList{"12", "x1", "x1"} << 2;
}

void TestORMAK::testModeMean()
{
    QFETCH(QByteArrayList, readings);
    QFETCH(QByteArrayList, shown);
    QFETCH(int, count);
    Rig rig;
    rig.device.ResetTestAveraging();
    rig.instrument.Readings = readings;
    QByteArrayList got;
    for (int i = 0; i < readings.size(); ++i) {
        QVERIFY(rig.device.ReadTestValue());
        got << rig.device.TestVars->GetItem(0)->Value;
    }
    QCOMPARE(got, shown);
    QCOMPARE(rig.device.TestCount, count);

    // A failed poll changes nothing; a reset starts again from nothing.
    rig.instrument.Silent = {"ACTIVITY"};
    QVERIFY(!rig.device.ReadTestValue());
    QCOMPARE(rig.device.TestCount, count);
    rig.device.ResetTestAveraging();
    QCOMPARE(rig.device.TestCount, 0);
}

void TestORMAK::recordCount_data()
{
    QTest::addColumn<QByteArray>("value"); // empty: the instrument is silent
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("count");
    QTest::newRow("integer") << QByteArray("42") << true << 42;
    QTest::newRow("zero") << QByteArray("0") << true << 0;
    QTest::newRow("fraction") << QByteArray("4.5") << false << 0;
    QTest::newRow("text") << QByteArray("many") << false << 0;
    QTest::newRow("no value") << QByteArray("@@") << false << 0;
    QTest::newRow("negative") << QByteArray("-3") << false << 0;
    QTest::newRow("beyond 32 bits") << QByteArray("4294967296") << false << 0;
    QTest::newRow("silent") << QByteArray() << false << 0;
}

void TestORMAK::recordCount()
{
    QFETCH(QByteArray, value);
    QFETCH(bool, ok);
    QFETCH(int, count);
    Rig rig;
    rig.device.NumOfRecords = 99;
    if (value.isEmpty())
        rig.instrument.Silent = {"NUMOFRECORDS"};
    rig.instrument.Values["NUMOFRECORDS"] = value;
    QCOMPARE(rig.device.ReadNumOfRecords(), ok);
    QCOMPARE(rig.device.NumOfRecords, count);
}

void TestORMAK::archiveRecordIndexes()
{
    Rig rig;
    const auto templ = std::make_unique<TOPVarList>();
    templ->Add("DATETIME");
    templ->Add("ACTIVITY", "stale", "stale");
    rig.instrument.Values = {{"ACTIVITY:A1234", "5.5"}};
    std::unique_ptr<TOPVarList> out;
    for (int n : {1, 9, 42, 1234})
        QVERIFY(rig.device.ReadArchiveRecord(templ.get(), n, out));
    QCOMPARE(rig.instrument.Requests,
             (QByteArrayList{"DATETIME:A001=??;", "ACTIVITY:A001=??;", "DATETIME:A009=??;", "ACTIVITY:A009=??;",
                             "DATETIME:A042=??;", "ACTIVITY:A042=??;", "DATETIME:A1234=??;",
                             "ACTIVITY:A1234=??;"}));
    QCOMPARE(out->GetItem(1)->Index, QByteArray("A1234"));
    QCOMPARE(out->GetItem(1)->Value, QByteArray("5.5"));
    QCOMPARE(templ->GetItem(1)->Index, QByteArray("stale")); // the template is not touched
    QVERIFY(!rig.device.ReadArchiveRecord(nullptr, 1, out));
}

void TestORMAK::archiveRange_data()
{
    QTest::addColumn<int>("records");
    QTest::addColumn<int>("step");
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("last");
    QTest::addColumn<QList<int>>("read");
    QTest::addColumn<QList<int>>("progress");
    QTest::newRow("step 0 reads every record") << 5 << 0 << 1 << 5 << QList<int>{1, 2, 3, 4, 5}
                                               << QList<int>{25, 50, 75, 100, 100};
    QTest::newRow("first 0 starts at 1") << 10 << 4 << 0 << 10 << QList<int>{1, 5, 9} << QList<int>{44, 88, 100};
    QTest::newRow("last beyond the archive") << 10 << 1 << 9 << 50 << QList<int>{9, 10} << QList<int>{100, 100};
    QTest::newRow("first equals last") << 10 << 1 << 5 << 5 << QList<int>{5} << QList<int>{100};
    QTest::newRow("last below first") << 10 << 1 << 7 << 3 << QList<int>{7} << QList<int>{100};
    QTest::newRow("first beyond the archive") << 10 << 1 << 20 << 30 << QList<int>{10} << QList<int>{100};
    QTest::newRow("huge step") << 10 << 2147483647 << 2 << 10 << QList<int>{2} << QList<int>{100};
    QTest::newRow("empty archive reads nothing") << 0 << 1 << 1 << 1 << QList<int>{} << QList<int>{100};
}

void TestORMAK::archiveRange()
{
    QFETCH(int, records);
    QFETCH(int, step);
    QFETCH(int, first);
    QFETCH(int, last);
    QFETCH(QList<int>, read);
    QFETCH(QList<int>, progress);
    Rig rig;
    TORMAK &d = rig.device;
    for (int n = 1; n <= records; ++n)
        rig.instrument.Values["ACTIVITY:A" + QByteArray::number(n).rightJustified(3, '0')] = QByteArray::number(n);
    d.NumOfRecords = records;
    TOPVarList old;
    old.Add("OLD");
    d.Archive->AddRecord(old);
    d.ArchiveSelection->Add("DATETIME");
    d.ArchiveSelection->Add("ACTIVITY");

    QVERIFY(d.ReadArchive(step, first, last, d.ArchiveSelection.get()));
    QCOMPARE(namesOf(*d.Archive->Names()), "DATETIME ACTIVITY");
    QList<int> got;
    for (int r = 0; r < d.Archive->RecordCount(); ++r) {
        const TOPVarList &vars = *d.Archive->GetRecord(r)->VarList;
        got << vars.GetItem(1)->Value.toInt();
        QCOMPARE(vars.GetItem(0)->Value, QByteArray()); // "@@": no value
        QCOMPARE(vars.GetItem(0)->Index, vars.GetItem(1)->Index);
    }
    QCOMPARE(got, read);
    QCOMPARE(rig.progress.Positions, progress);
    QCOMPARE(rig.instrument.Requests.size(), 2 * read.size());
}

void TestORMAK::archiveReadStopsAtAFailedRecord()
{
    Rig rig;
    TORMAK &d = rig.device;
    d.NumOfRecords = 5;
    rig.instrument.Silent = {"ACTIVITY:A003"};
    auto templ = std::make_unique<TOPVarList>();
    templ->Add("ACTIVITY");
    QVERIFY(!d.ReadArchive(1, 1, 5, templ.get()));
    QCOMPARE(d.Archive->RecordCount(), 2);
    QCOMPARE(rig.instrument.Requests.last(), QByteArray("ACTIVITY:A003=??;"));
    QVERIFY(!d.ReadArchive(1, 1, 5, nullptr));
}

void TestORMAK::spectraArriveAsBlocks()
{
    Rig rig;
    TORMAK &d = rig.device;
    QByteArray counts;
    for (qint32 i = 0; i < 1024; ++i)
        counts.append(reinterpret_cast<const char *>(&i), 4); // little-endian host
    rig.instrument.Blocks["SPECTRUM1"] = counts;
    rig.instrument.Blocks["SPECTRUM2"] = QByteArray("\x07\x00\x00\x00\x08\x00\x00\x00\xFF\xFF", 10);
    d.Spectrum->CoefA = 6.62L;

    QVERIFY(d.ReadSpectrum());
    QCOMPARE(d.Spectrum->GetCount(1), 1);
    QCOMPARE(d.Spectrum->GetCount(1023), 1023);
    QCOMPARE(double(d.Spectrum->CoefA), double(6.62L)); // the calibration is not the block's
    QCOMPARE(d.BackgroundSpectrum->GetCount(1), 0);
    QCOMPARE(rig.instrument.Requests.size(), 1 + 17); // the count, then 17 blocks of 253 bytes

    QVERIFY(d.ReadBackgroundSpectrum());
    QCOMPARE(d.BackgroundSpectrum->GetCount(0), 7);
    QCOMPARE(d.BackgroundSpectrum->GetCount(1), 8);
    QCOMPARE(d.BackgroundSpectrum->GetCount(2), 0);

    rig.instrument.Silent = {"SPECTRUM1"};
    QVERIFY(!d.ReadSpectrum());
    QCOMPARE(d.Spectrum->GetCount(1023), 1023); // a failed read leaves the spectrum
}

void TestORMAK::withoutADriverEverythingFails()
{
    TORMAK d(nullptr);
    QVERIFY(!d.ReadCommonParams() && !d.ReadSpectrum() && !d.WriteCommonParams() && !d.ReadTestValue());
    d.NumOfRecords = 3;
    QVERIFY(!d.ReadNumOfRecords());
    QCOMPARE(d.NumOfRecords, 0);
    d.NumOfRecords = 3;
    QVERIFY(!d.ReadArchive(1, 1, 1, d.ArchiveShortVars.get()));
}

QTEST_GUILESS_MAIN(TestORMAK)
#include "tst_ormak.moc"
