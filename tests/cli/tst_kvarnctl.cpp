// kvarnctl as a script runs it: the executable (KVARN_CTL) against kvarn-sim
// on a pseudo-terminal. Each command once, failed and retried exchanges, the
// files it writes read back through the program's own loaders, and command
// lines refused before anything reaches the installation.

#include "base/cp1251.h"
#include "instrument/devicearchive.h"
#include "instrument/radiationspectr.h"
#include "sim/simspectrum.h"
#include "support/simprocess.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <QDir>

#include <csignal>
#include <signal.h>
#include <sys/stat.h>

namespace {

struct Result {
    int Code = -1;
    QByteArray Out;
    QString Err;

    // Standard output in lines, in the terminal's encoding.
    QStringList Lines() const
    {
        QStringList lines = QString::fromLocal8Bit(Out).split(u'\n');
        if (!lines.isEmpty() && lines.last().isEmpty())
            lines.removeLast();
        return lines;
    }
    QStringList Names() const
    {
        QStringList names;
        for (const QString &line : Lines())
            names << line.section(u'=', 0, 0);
        return names;
    }
};

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeAll(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

QByteArray settingsFile(const QByteArray &port, const QByteArray &multiplier = "0")
{
    return "PortNumber=" + port + "\r\nTransferRate=9600 baud\r\nStopBits=1 bit\r\nParitet=None\r\n"
           "LatencyPeriod=Approximately 0.25 second\r\nDTRControl=HandShake\r\nRTSControl=HandShake\r\n"
           "WriteTimeOutMultiplier=" + multiplier + "\r\nWriteTimeOutConstant=0\r\n";
}

} // namespace

class TestKvarnCtl : public QObject {
    Q_OBJECT

private slots:
    void init();
    void readGroupsAndVariables();
    void writesAndClock();
    void failedGroupAndRetries();
    void spectrumFiles();
    void archiveFiles();
    void archiveRangeByTime_data();
    void archiveRangeByTime();
    void archiveByTime();
    void archiveAppended();
    void pollLines();
    void refusedBeforeAnythingIsSent();
    void commandsWithoutTheLine();
    void failedOutputAndFilesThatAreNone();

private:
    // Line settings for the emulator, in the test's folder.
    QStringList line(const SimProcess &sim);
    QString path(const QString &name) const { return dir_->filePath(name); }
    // Standard output to a file of choice (/dev/full) instead of the test.
    Result run(const QStringList &arguments, const QString &outputFile = QString());

    std::unique_ptr<QTemporaryDir> dir_;
};

void TestKvarnCtl::init()
{
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
    QVERIFY2(QFileInfo(qEnvironmentVariable("KVARN_CTL")).isExecutable(), "KVARN_CTL names no executable");
}

QStringList TestKvarnCtl::line(const SimProcess &sim)
{
    const QString cfg = path("line.cfg");
    if (!writeAll(cfg, settingsFile(sim.LinkPath().toLocal8Bit())))
        qWarning("cannot write %s", qPrintable(cfg));
    return {"--config", cfg};
}

Result TestKvarnCtl::run(const QStringList &arguments, const QString &outputFile)
{
    QProcess p;
    p.setWorkingDirectory(dir_->path());
    if (!outputFile.isEmpty())
        p.setStandardOutputFile(outputFile);
    p.start(qEnvironmentVariable("KVARN_CTL"), arguments);
    Result r;
    if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit)
        return r;
    r.Code = p.exitCode();
    r.Out = p.readAllStandardOutput();
    r.Err = QString::fromLocal8Bit(p.readAllStandardError());
    return r;
}

void TestKvarnCtl::readGroupsAndVariables()
{
    SimProcess sim;
    QVERIFY2(sim.Start({"--set", "NOTE=Привет", "--set", "SELFBACKGROUND=@@"}), qPrintable(sim.ErrorText()));

    Result r = run(line(sim) + QStringList{"read", "common", "alarm", "counter", "service", "records", "test"});
    QCOMPARE(r.Code, 0);
    QCOMPARE(r.Err, QString());
    QCOMPARE(r.Names(), (QStringList{"DATETIME", "SERIALN", "DRYCONTACTIN", "DRYCONTACTOUT", "DRYCONTACTTHR",
                                     "RESOURCE", "BAS_SIRENE", "BAS_INDICATOR", "KOEFFICIENT", "ALARM1", "ALARM2",
                                     "ALARM1ON", "ALARM2ON", "STATUS", "ACTIVITY", "DURATIONTIME", "SELFBACKGROUND",
                                     "CURRENT", "UWORK", "OFFSETU0", "OFFSETI0", "TEMPERATURE", "NUMOFRECORDS",
                                     "ACTIVITY"}));
    QVERIFY(r.Lines().contains("SERIALN=1047"));
    QVERIFY(r.Lines().contains("SELFBACKGROUND=")); // answered "@@"
    QVERIFY(r.Lines().contains("NUMOFRECORDS=300"));

    // Exactly the variables named, in their order, as one list; texts in the
    // terminal's encoding.
    const int before = int(sim.RequestLines().size());
    r = run(line(sim) + QStringList{"get", "NOTE", "DATETIME:A002", "SERIALN"});
    QCOMPARE(r.Code, 0);
    QCOMPARE(sim.RequestLines().mid(before), (QList<QByteArray>{"NOTE=??;", "DATETIME:A002=??;", "SERIALN=??;"}));
    QCOMPARE(r.Names(), (QStringList{"NOTE", "DATETIME:A002", "SERIALN"}));
    QCOMPARE(r.Lines().first(), QString("NOTE=Привет"));
}

void TestKvarnCtl::writesAndClock()
{
    SimProcess sim;
    QVERIFY2(sim.Start({"--set", "NOTE=-"}), qPrintable(sim.ErrorText()));

    // A measured value keeps its own reading: that is no success.
    Result r = run(line(sim) + QStringList{"set", "NOTE=Мир", "ALARM1=1500.0", "ACTIVITY=5"});
    QCOMPARE(r.Code, 1);
    QCOMPARE(r.Names(), (QStringList{"NOTE", "ALARM1", "ACTIVITY"}));
    QCOMPARE(r.Lines().mid(0, 2), (QStringList{"NOTE=Мир", "ALARM1=1500.0"}));
    QVERIFY2(r.Err.contains("ACTIVITY: the installation kept"), qPrintable(r.Err));
    QVERIFY(!r.Err.contains("ALARM1"));
    QCOMPARE(sim.RequestLines().first(), Cp("NOTE=Мир;"));
    QCOMPARE(run(line(sim) + QStringList{"get", "NOTE"}).Lines(), QStringList{"NOTE=Мир"});

    // Only DATETIME goes out, with the computer's time.
    const int before = int(sim.RequestLines().size());
    r = run(line(sim) + QStringList{"sync-clock"});
    QCOMPARE(r.Code, 0);
    const QList<QByteArray> sent = sim.RequestLines().mid(before);
    QCOMPARE(sent.size(), 1);
    const QRegularExpression form("^DATETIME=(\\d\\d/\\d\\d/\\d{4} \\d\\d\\.\\d\\d\\.\\d\\d);$");
    const QRegularExpressionMatch m = form.match(QString::fromLatin1(sent[0]));
    QVERIFY2(m.hasMatch(), sent[0].constData());
    const QDateTime written = QDateTime::fromString(m.captured(1), "dd/MM/yyyy hh.mm.ss");
    QVERIFY(qAbs(written.secsTo(QDateTime::currentDateTime())) <= 10);
    QCOMPARE(r.Names(), QStringList{"DATETIME"});
}

void TestKvarnCtl::failedGroupAndRetries()
{
    // Requests 3 to 5 (DRYCONTACTIN) go unanswered; ALARM2 gets a spoilt reply
    // and one from another station before its third attempt succeeds.
    SimProcess sim;
    QVERIFY2(sim.Start({"--fault", "3-5:silent", "--fault", "8:bad-payload", "--fault", "9:wrong-sender"}),
             qPrintable(sim.ErrorText()));
    const Result r = run(line(sim) + QStringList{"--verbose", "read", "common", "counter"});
    QCOMPARE(r.Code, 1);
    QCOMPARE(r.Names(), (QStringList{"DATETIME", "SERIALN", "KOEFFICIENT", "ALARM1", "ALARM2", "ALARM1ON",
                                     "ALARM2ON", "STATUS", "ACTIVITY", "DURATIONTIME"}));
    QVERIFY(r.Lines().contains("ALARM2=5000"));
    QVERIFY2(r.Err.contains("kvarnctl: DRYCONTACTIN: no valid answer after 3 attempts"), qPrintable(r.Err));
    QCOMPARE(r.Err.count("-> DRYCONTACTIN=??;"), 3);
    QCOMPARE(r.Err.count("-> ALARM2=??;"), 3);
    QVERIFY(r.Err.contains("<- bad CRC ["));
    QVERIFY(r.Err.contains("<- ALARM2=5000;"));
    // Nothing after the failed variable of the common group, all of the counter group.
    QCOMPARE(sim.RequestLines().size(), 2 + 3 + 10);
}

void TestKvarnCtl::spectrumFiles()
{
    SimProcess sim;
    QVERIFY2(sim.Start({"--seed", "4"}), qPrintable(sim.ErrorText()));
    Result r = run(line(sim) + QStringList{"spectrum", "main", "-o", "main.spc", "--csv", "main.csv"});
    QCOMPARE(r.Code, 0);
    QCOMPARE(r.Err, QString()); // no progress bar into a pipe

    const TSimCounts counts = SimSpectrumCounts(TSimSpectrumKind::Main, 4);
    TRadiationSpectr spectrum;
    QCOMPARE(QFileInfo(path("main.spc")).size(), qint64(TRadiationSpectr::FileSize));
    QVERIFY(spectrum.LoadFromFile(path("main.spc")));
    QVERIFY(spectrum.HeaderBytes().startsWith("A=1; B=0;"));
    QStringList expected{"channel,count"};
    for (int c = 0; c < kSimChannels; ++c) {
        QCOMPARE(quint32(spectrum.GetCount(c)), counts[c]);
        expected << QStringLiteral("%1,%2").arg(c).arg(counts[c]);
    }
    QCOMPARE(QString::fromUtf8(readAll(path("main.csv"))), expected.join('\n') + '\n');
    QVERIFY(run({"convert", "main.spc", "again.csv"}).Code == 0);
    QCOMPARE(readAll(path("again.csv")), readAll(path("main.csv")));

    r = run(line(sim) + QStringList{"spectrum", "background", "--csv", "-"});
    QCOMPARE(r.Code, 0);
    QCOMPARE(r.Lines().size(), 1 + kSimChannels);
    const TSimCounts background = SimSpectrumCounts(TSimSpectrumKind::Background, 4);
    QCOMPARE(r.Lines()[1000], QStringLiteral("999,%1").arg(background[999]));

    // Three blocks of 128 bytes: 96 channels, the rest zeros, and a word on it.
    SimProcess brief;
    QVERIFY2(brief.Start({"--seed", "4", "--block-count", "3"}), qPrintable(brief.ErrorText()));
    r = run(line(brief) + QStringList{"spectrum", "main", "-o", "short.spc"});
    QCOMPARE(r.Code, 0);
    QVERIFY2(r.Err.contains("SPECTRUM1: only 96 of the 1024 channels came"), qPrintable(r.Err));
    QVERIFY(spectrum.LoadFromFile(path("short.spc")));
    QCOMPARE(quint32(spectrum.GetCount(95)), counts[95]);
    QCOMPARE(spectrum.GetCount(96), 0);

    // A block count of 0 fails the read: no file is written.
    SimProcess broken;
    QVERIFY2(broken.Start({"--fault", "1:block-count-0"}), qPrintable(broken.ErrorText()));
    r = run(line(broken) + QStringList{"spectrum", "main", "-o", "broken.spc"});
    QCOMPARE(r.Code, 1);
    QVERIFY2(r.Err.contains("SPECTRUM1: the installation's answer to SPECTRUM1=??##; could not be used"),
             qPrintable(r.Err));
    QVERIFY(!QFile::exists(path("broken.spc")));
}

void TestKvarnCtl::archiveFiles()
{
    SimProcess sim;
    QVERIFY2(sim.Start({"--records", "10"}), qPrintable(sim.ErrorText()));
    Result r = run(line(sim) + QStringList{"archive", "--vars", "activity,DATETIME,status", "--step", "3", "--from",
                                           "2", "--to", "999", "-o", "a.daf", "--csv", "a.csv"});
    QCOMPARE(r.Code, 0);
    QList<QByteArray> requests{"NUMOFRECORDS=??;"};
    for (const char *n : {"A002", "A005", "A008"}) // the range is clamped to the ten records
        for (const char *v : {"ACTIVITY", "DATETIME", "STATUS"})
            requests << QByteArray(v) + ':' + n + "=??;";
    QCOMPARE(sim.RequestLines(), requests);

    TDeviceArchive archive;
    QVERIFY(archive.LoadFromFile(path("a.daf")));
    QCOMPARE(archive.RecordCount(), 3);
    const QList<QByteArray> names{"ACTIVITY", "DATETIME", "STATUS"};
    const QList<QByteArray> descriptions{Cp("Измеренная величина (Бк/м**3)"), Cp("Дата и время измерения"),
                                         Cp("Состояние установки")};
    QByteArray csv = "ACTIVITY,DATETIME,STATUS\n";
    for (int c = 0; c < 3; ++c) {
        QCOMPARE(archive.Names()->GetItem(c)->Name, names[c]);
        QCOMPARE(archive.Descriptions()->GetItem(c)->Name, descriptions[c]);
    }
    for (int n = 0; n < 3; ++n) {
        const TOPVarList &record = *archive.GetRecord(n)->VarList;
        QVERIFY(!record.GetItem(1)->Value.isEmpty());
        csv += record.GetItem(0)->Value + ',' + record.GetItem(1)->Value + ',' + record.GetItem(2)->Value + '\n';
    }
    QCOMPARE(readAll(path("a.csv")), csv);
    QCOMPARE(run({"convert", "a.daf", "-"}).Out, csv);

    // The second record's ACTIVITY goes unanswered: the record before it is saved.
    SimProcess broken;
    QVERIFY2(broken.Start({"--records", "10", "--fault", "5-7:silent"}), qPrintable(broken.ErrorText()));
    r = run(line(broken) + QStringList{"archive", "-o", "part.daf"});
    QCOMPARE(r.Code, 1);
    QVERIFY2(r.Err.contains("ACTIVITY:A002: no valid answer after 3 attempts"), qPrintable(r.Err));
    QVERIFY(r.Err.contains("1 record read before the failure is saved"));
    QVERIFY(archive.LoadFromFile(path("part.daf")));
    QCOMPARE(archive.RecordCount(), 1);
    QCOMPARE(archive.Names()->Count(), 2);
}

// The emulator's archive on a known clock: record n of N lies (N - n) ten-minute
// measurements before 07/12/2026 06.00.00.
static QStringList knownClock(int records)
{
    return {"--records", QString::number(records), "--set", "DURATIONTIME=600", "--set", "DATETIME=07/12/2026 06.00.00"};
}

static QByteArray timeOfRecord(int n, int records)
{
    const QDateTime newest(QDate(2026, 12, 7), QTime(6, 0));
    return newest.addSecs(-600 * qint64(records - n)).toString("dd/MM/yyyy hh.mm.ss").toLatin1();
}

// The range a dry run finds, against an archive of 1000 records whose
// record 500, the first one the bisection reads, answers "@@".
void TestKvarnCtl::archiveRangeByTime_data()
{
    QTest::addColumn<QStringList>("times");
    QTest::addColumn<QString>("range");

    // Record 1 is at 30/11/2026 07.30.00, record 300 at 02/12/2026 09.20.00,
    // record 700 at 05/12/2026 04.00.00, record 1000 at 07/12/2026 06.00.00.
    QTest::newRow("since before the archive") << QStringList{"--since", "2026-11-01"} << "records 1 to 1000";
    QTest::newRow("until before the archive") << QStringList{"--until", "30/11/2026 07.29.59"} << "none";
    QTest::newRow("on records inside")
        << QStringList{"--since", "2026-12-02 09:20", "--until", "2026-12-05 04:00:00"} << "records 300 to 700";
    QTest::newRow("between two records")
        << QStringList{"--since", "2026-12-02 09:20:01", "--until", "05/12/2026 04.09.59"} << "records 301 to 700";
    QTest::newRow("since after the archive") << QStringList{"--since", "2026-12-07 06:00:01"} << "none";
    QTest::newRow("until after the archive") << QStringList{"--until", "2027-01-01"} << "records 1 to 1000";
}

void TestKvarnCtl::archiveRangeByTime()
{
    QFETCH(QStringList, times);
    QFETCH(QString, range);
    SimProcess sim;
    QVERIFY2(sim.Start(knownClock(1000) + QStringList{"--set", "DATETIME:A500=@@"}), qPrintable(sim.ErrorText()));
    const Result r = run(line(sim) + QStringList{"archive", "--dry-run"} + times);
    QCOMPARE(r.Code, 0);
    QCOMPARE(r.Lines().value(0), QStringLiteral("range: %1 of 1000").arg(range));
    QVERIFY2(r.Err.contains("record 500"), qPrintable(r.Err));
    const QList<QByteArray> sent = sim.RequestLines();
    const int boundaries = int(times.size()) / 2;
    QVERIFY2(sent.size() - 1 <= boundaries * (10 + 2), qPrintable(QString::number(sent.size() - 1)));
    for (const QByteArray &request : sent.mid(1))
        QVERIFY2(request.startsWith("DATETIME:A"), request.constData());
}

void TestKvarnCtl::archiveByTime()
{
    // Record 500 is the first one the bisection reads; it answers "@@".
    SimProcess sim;
    QVERIFY2(sim.Start(knownClock(1000) + QStringList{"--set", "DATETIME:A500=@@"}), qPrintable(sim.ErrorText()));

    // One night: the search reads only DATETIME, then the range is read.
    Result r = run(line(sim) + QStringList{"archive", "--since", "2026-12-06 06:00", "--until", "07/12/2026 05.59.59",
                                           "--vars", "DATETIME,STATUS", "-o", "night.daf"});
    QCOMPARE(r.Code, 0);
    QVERIFY2(r.Err.contains("record 500: DATETIME \"\" is no time"), qPrintable(r.Err));
    QList<QByteArray> sent = sim.RequestLines();
    const qsizetype download = sent.indexOf("STATUS:A856=??;") - 1;
    QVERIFY(download > 1);
    QCOMPARE(sent[download], QByteArray("DATETIME:A856=??;"));
    QCOMPARE(sent.first(), QByteArray("NUMOFRECORDS=??;"));
    for (const QByteArray &request : sent.mid(1, download - 1))
        QVERIFY2(request.startsWith("DATETIME:A"), request.constData());
    QVERIFY2(download - 1 <= 2 * (10 + 2), qPrintable(QString::number(download - 1))); // ceil(log2 1000) + 2 a boundary
    QCOMPARE(sent.size(), download + 2 * 144);
    QCOMPARE(sent.last(), QByteArray("STATUS:A999=??;"));
    TDeviceArchive archive;
    QVERIFY(archive.LoadFromFile(path("night.daf")));
    QCOMPARE(archive.RecordCount(), 144);
    QCOMPARE(archive.Value(0, 0), QByteArrayView("06/12/2026 06.00.00"));
    QCOMPARE(archive.Value(143, 0), QByteArrayView("07/12/2026 05.50.00"));

    // The record whose time does not read is at the start of the range: it
    // is kept, and the range is still the right one.
    r = run(line(sim) + QStringList{"archive", "--since", "2026-12-03 18:40", "--until", "2026-12-03 19:00:00", "--csv",
                                    "-"});
    QCOMPARE(r.Code, 0);
    QVERIFY2(r.Err.contains("record 500"), qPrintable(r.Err));
    QCOMPARE(r.Lines().size(), 4);
    QVERIFY(r.Lines()[1].startsWith(","));
    QVERIFY(r.Lines()[2].startsWith(QString::fromLatin1(timeOfRecord(501, 1000) + ',')));
    QVERIFY(r.Lines()[3].startsWith(QString::fromLatin1(timeOfRecord(502, 1000) + ',')));

    // A dry run sends the search only, and says what the range would cost.
    const int before = int(sim.RequestLines().size());
    r = run(line(sim) + QStringList{"archive", "--since", "2026-12-06 06:00", "--dry-run"});
    QCOMPARE(r.Code, 0);
    QCOMPARE(r.Lines().mid(0, 2), (QStringList{"range: records 856 to 1000 of 1000",
                                               "records: 145 (step 1), 2 variables each"}));
    QVERIFY2(QRegularExpression("^line time: about \\d+ s at 9600 baud$").match(r.Lines().value(2)).hasMatch(),
             qPrintable(r.Lines().value(2)));
    sent = sim.RequestLines().mid(before);
    QCOMPARE(r.Lines().value(3), QStringLiteral("search: %1 DATETIME reads").arg(sent.size() - 1));
    QVERIFY(sent.size() - 1 <= 10 + 2);
    for (const QByteArray &request : sent.mid(1))
        QVERIFY2(request.startsWith("DATETIME:A"), request.constData());

    // A time after the archive's last record: nothing to read, and files with no records.
    r = run(line(sim) + QStringList{"archive", "--since", "2026-12-07 06:00:01", "--csv", "-"});
    QCOMPARE(r.Code, 0);
    QCOMPARE(r.Lines(), QStringList{"DATETIME,ACTIVITY"});
    QVERIFY(r.Err.contains("no record of the installation's archive lies in that time"));
}

void TestKvarnCtl::archiveAppended()
{
    // Requests 20 to 22 (record 10's ACTIVITY of the first download) go unanswered.
    SimProcess sim;
    QVERIFY2(sim.Start(knownClock(40) + QStringList{"--fault", "20-22:silent"}), qPrintable(sim.ErrorText()));
    auto times = [](const TDeviceArchive &a) {
        QList<QByteArray> t;
        for (int n = 0; n < a.RecordCount(); ++n)
            t << a.Value(n, 0).toByteArray();
        return t;
    };
    QList<QByteArray> all;
    for (int n = 1; n <= 40; ++n)
        all << timeOfRecord(n, 40);

    // A new file: the failure keeps the nine records read before it, and the
    // next run goes on after them, up to --until.
    Result r = run(line(sim) + QStringList{"archive", "--append", "acc.daf"});
    QCOMPARE(r.Code, 1);
    QVERIFY2(r.Err.contains("9 records read before the failure are saved"), qPrintable(r.Err));
    TDeviceArchive archive;
    QVERIFY(archive.LoadFromFile(path("acc.daf")));
    QCOMPARE(times(archive), all.mid(0, 9));
    QCOMPARE(archive.Descriptions()->Count(), 2);
    r = run(line(sim) + QStringList{"archive", "--append", "acc.daf", "--until", "2026-12-07 04:20"});
    QCOMPARE(r.Code, 0);
    QVERIFY(archive.LoadFromFile(path("acc.daf")));
    QCOMPARE(times(archive), all.mid(0, 30));
    r = run(line(sim) + QStringList{"archive", "--append", "acc.daf", "--vars", "DATETIME,ACTIVITY"});
    QCOMPARE(r.Code, 0);
    QVERIFY(archive.LoadFromFile(path("acc.daf")));
    QCOMPARE(times(archive), all);

    // Run again: nothing new is read, the file stays as it is.
    const QByteArray daf = readAll(path("acc.daf"));
    int before = int(sim.RequestLines().size());
    r = run(line(sim) + QStringList{"archive", "--append", "acc.daf"});
    QCOMPARE(r.Code, 0);
    QCOMPARE(r.Err, QString());
    QCOMPARE(readAll(path("acc.daf")), daf);
    for (const QByteArray &request : sim.RequestLines().mid(before + 1))
        QVERIFY2(request.startsWith("DATETIME:A"), request.constData());

    // The same as CSV: all of it, then nothing.
    QCOMPARE(run(line(sim) + QStringList{"archive", "--append-csv", "acc.csv", "--vars", "DATETIME,STATUS"}).Code, 0);
    const QByteArray csv = readAll(path("acc.csv"));
    QCOMPARE(csv.count('\n'), 41);
    QVERIFY(csv.startsWith("DATETIME,STATUS\n" + all.first() + ','));
    before = int(sim.RequestLines().size());
    QCOMPARE(run(line(sim) + QStringList{"archive", "--append-csv", "acc.csv"}).Code, 0);
    QCOMPARE(readAll(path("acc.csv")), csv);
    QVERIFY(!sim.RequestLines().mid(before).join().contains("STATUS"));

    // Columns that differ, or are no archive's, are refused before anything is sent.
    QVERIFY(writeAll(path("other.csv"), "DATETIME,RESOURCE\n01/12/2026 00.00.00,5\n"));
    QVERIFY(writeAll(path("notime.daf"), "ACTIVITY  STATUS\r\n12.5  0\r\n"));
    QVERIFY(writeAll(path("broken.csv"), "DATETIME,ACTIVITY\n\"05/12/2026 00.00.00,1\n"));
    const QList<QPair<QStringList, QString>> refused = {
        {{"--append", "acc.daf", "--vars", "DATETIME,STATUS"},
         "acc.daf has the columns DATETIME,ACTIVITY, not the DATETIME,STATUS of --vars"},
        {{"--append-csv", "other.csv"}, "has the column \"RESOURCE\""},
        {{"--append", "notime.daf"}, "notime.daf has no DATETIME column"},
        {{"--append-csv", "broken.csv"}, "broken.csv is no CSV file"},
    };
    before = int(sim.RequestLines().size());
    for (const auto &[arguments, message] : refused) {
        r = run(line(sim) + QStringList{"archive"} + arguments);
        QCOMPARE(r.Code, 2);
        QVERIFY2(r.Err.contains(message), qPrintable(r.Err));
    }
    QCOMPARE(sim.RequestLines().size(), before);
    QCOMPARE(readAll(path("acc.daf")), daf);
}

void TestKvarnCtl::pollLines()
{
    SimProcess sim;
    QVERIFY2(sim.Start({"--activity", "10,20,20,40"}), qPrintable(sim.ErrorText()));
    QElapsedTimer elapsed;
    elapsed.start();
    const Result r = run(line(sim) + QStringList{"poll", "--interval", "1", "--count", "4"});
    QCOMPARE(r.Code, 0);
    // Three intervals of a second between four polls, with a wide margin above.
    QVERIFY2(elapsed.elapsed() >= 2800 && elapsed.elapsed() < 30000, qPrintable(QString::number(elapsed.elapsed())));
    const QRegularExpression form("^\\d\\d:\\d\\d:\\d\\d (\\S+) (\\S+)$");
    QStringList raw, mean;
    for (const QString &l : r.Lines()) {
        const QRegularExpressionMatch m = form.match(l);
        QVERIFY2(m.hasMatch(), qPrintable(l));
        raw << m.captured(1);
        mean << m.captured(2);
    }
    QCOMPARE(raw, (QStringList{"10", "20", "20", "40"}));
    // A repeated reading is not counted again; as in the window, that poll
    // shows the raw reading.
    QCOMPARE(mean, (QStringList{"10", "15", "20", "23.3"}));

    // Without a count it polls until interrupted, which is a clean end.
    QProcess p;
    p.setWorkingDirectory(dir_->path());
    p.start(qEnvironmentVariable("KVARN_CTL"), line(sim) + QStringList{"poll", "--interval", "1"});
    QByteArray out;
    QDeadlineTimer deadline(20000);
    while (!out.contains('\n') && !deadline.hasExpired() && p.waitForReadyRead(int(deadline.remainingTime())))
        out += p.readAllStandardOutput();
    QVERIFY2(out.contains('\n'), "no poll line came");
    ::kill(pid_t(p.processId()), SIGINT);
    QVERIFY(p.waitForFinished(20000));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), 0);
}

void TestKvarnCtl::refusedBeforeAnythingIsSent()
{
    SimProcess sim;
    QVERIFY2(sim.Start(), qPrintable(sim.ErrorText()));
    const QStringList good = line(sim);
    QVERIFY(writeAll(path("bad.cfg"), settingsFile(sim.LinkPath().toLocal8Bit(), "many")));
    // Nine blank lines first: the settings below them are never read.
    QVERIFY(writeAll(path("late.cfg"), QByteArray(9, '\n') + settingsFile(sim.LinkPath().toLocal8Bit())));

    const QList<QPair<QStringList, QString>> cases = {
        {good + QStringList{"read", "common", "bogus"}, "unknown group \"bogus\""},
        {good + QStringList{"set", "ALARM1"}, "set takes NAME=VALUE"},
        {good + QStringList{"set", "NOTE=a;b"}, "cannot hold \";\" or \":\""},
        {good + QStringList{"archive", "--step", "two", "--csv", "-"}, "--step takes a whole number, not \"two\""},
        {good + QStringList{"spectrum", "main", "-o", "nowhere/x.spc"}, "does not exist"},
        {QStringList{"--config", "missing.cfg", "read", "common"}, "missing.cfg does not exist"},
        {QStringList{"--config", "bad.cfg", "read", "common"}, "cannot be read"},
        {QStringList{"--config", "late.cfg", "read", "common"}, "late.cfg sets nothing"},
        {good + QStringList{"--port", path("no-such-tty"), "read", "common"}, "cannot be opened"},
    };
    for (const auto &[arguments, message] : cases) {
        const Result r = run(arguments);
        QCOMPARE(r.Code, 2);
        QVERIFY2(r.Err.startsWith("kvarnctl: ") && r.Err.contains(message), qPrintable(r.Err));
        QCOMPARE(r.Out, QByteArray());
    }
    QCOMPARE(sim.RequestLines(), QList<QByteArray>());
}

void TestKvarnCtl::commandsWithoutTheLine()
{
    const QByteArray plain = Cp("1-1;2;3; секрет\r\n1-1;1-2;2;3;4; admin\r\n");
    QVERIFY(writeAll(path("plain.txt"), plain));
    QCOMPARE(run({"passwd", "encode", "plain.txt", "kvarn.pwd"}).Code, 0);
    QVERIFY(readAll(path("kvarn.pwd")) != plain);
    Result r = run({"passwd", "decode", "kvarn.pwd"});
    QCOMPARE(r.Code, 0);
    QCOMPARE(r.Lines(), (QStringList{"1-1;2;3; секрет", "1-1;1-2;2;3;4; admin"}));
    QCOMPARE(run({"passwd", "decode", "missing.pwd"}).Code, 2);
    // Hostile lists: control characters are shown escaped, never sent to the
    // terminal, and more lines than a list may have are not read; exit 1.
    QVERIFY(writeAll(path("hostile.txt"), "1-1; a\x1b]0;owned\x07\r\n2; \x7f\r\n"));
    QCOMPARE(run({"passwd", "encode", "hostile.txt", "hostile.pwd"}).Code, 0);
    r = run({"passwd", "decode", "hostile.pwd"});
    QCOMPARE(r.Code, 1);
    QCOMPARE(r.Lines(), (QStringList{"1-1; a\\x1b]0;owned\\x07", "2; \\x7f"}));
    QVERIFY2(r.Err.contains("control characters"), qPrintable(r.Err));
    QVERIFY(writeAll(path("long.pwd"), QByteArray(4 * 1024 * 1024, '\n')));
    r = run({"passwd", "decode", "long.pwd"});
    QCOMPARE(r.Code, 1);
    QCOMPARE(r.Lines().size(), 4096);
    QVERIFY2(r.Err.contains(QString::number(4 * 1024 * 1024 - 4096) + " lines more than the 4096 entries"), qPrintable(r.Err));

    QVERIFY(writeAll(path("short.spc"), QByteArray(100, 'x')));
    r = run({"convert", "short.spc", "short.csv"});
    QCOMPARE(r.Code, 2);
    QVERIFY(r.Err.contains("cannot be read as a spectrum file"));
    QVERIFY(!QFile::exists(path("short.csv")));

    QCOMPARE(run({"ports"}).Code, 0);
    r = run({"--help"});
    QCOMPARE(r.Code, 0);
    QVERIFY(r.Out.startsWith("Usage: kvarnctl [OPTIONS] COMMAND"));
    QVERIFY(run({"archive", "--help"}).Out.contains("--vars"));
}

void TestKvarnCtl::failedOutputAndFilesThatAreNone()
{
    // Results that cannot reach standard output are a failure with the reason.
    SimProcess sim;
    QVERIFY2(sim.Start({"--records", "3"}), qPrintable(sim.ErrorText()));
    QVERIFY(writeAll(path("a.daf"), "A  B\r\n1  2\r\n"));
    const QStringList toFullDisk[] = {{"convert", "a.daf", "-"},
                                      line(sim) + QStringList{"get", "SERIALN"},
                                      line(sim) + QStringList{"archive", "--csv", "-"}};
    for (const QStringList &arguments : toFullDisk) {
        const Result r = run(arguments, "/dev/full");
        QCOMPARE(r.Code, 2);
        QVERIFY2(r.Err.contains("standard output could not be written: No space left on device"), qPrintable(r.Err));
    }

    // Files that are no archive, and names that are no file, say so.
    QVERIFY(writeAll(path("empty.daf"), ""));
    QVERIFY(writeAll(path("binary.daf"), QByteArray("A  B\r\n\0\x01\x02", 9)));
    QVERIFY(QDir(dir_->path()).mkdir("folder.daf"));
    QCOMPARE(mkfifo(QFile::encodeName(path("pipe.daf")).constData(), 0600), 0);
    QVERIFY(QFile::link("/dev/null", path("device.spc")));
    const std::pair<const char *, const char *> refused[] = {
        {"empty.daf", "empty.daf cannot be read as an archive file"},
        {"binary.daf", "binary.daf cannot be read as an archive file"},
        {"folder.daf", "folder.daf is a folder, not a file"},
        {"pipe.daf", "pipe.daf is a pipe, not a file"},
        {"device.spc", "device.spc is a device, not a file"},
        {"missing.daf", "missing.daf does not exist"},
    };
    for (const auto &[file, message] : refused) {
        const Result r = run({"convert", file, "out.csv"});
        QCOMPARE(r.Code, 2);
        QVERIFY2(r.Err.contains(message), qPrintable(r.Err));
        QVERIFY(!QFile::exists(path("out.csv")));
    }
}

QTEST_GUILESS_MAIN(TestKvarnCtl)
#include "tst_kvarnctl.moc"
