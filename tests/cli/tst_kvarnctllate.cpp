// kvarnctl against an installation that answers late: every reply comes
// after the read that waited for it has given up. A reply must never be
// taken as the answer to a later request, a write's refusal must still be
// seen, and the exit status is 0 only when every asked value was answered.

#include "base/cp1251.h"
#include "support/simprocess.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct Result {
    int Code = -1;
    QStringList Lines;
    QString Err;
};

} // namespace

class TestKvarnCtlLate : public QObject {
    Q_OBJECT

private slots:
    void init();
    void lateReplies_data();
    void lateReplies();
    void archiveRangeFromALateInstallation();
    void repliesOwedAfterAStall_data();
    void repliesOwedAfterAStall();

private:
    QStringList line(const SimProcess &sim);
    Result run(const QStringList &arguments);

    std::unique_ptr<QTemporaryDir> dir_;
};

void TestKvarnCtlLate::init()
{
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
    QVERIFY2(QFileInfo(qEnvironmentVariable("KVARN_CTL")).isExecutable(), "KVARN_CTL names no executable");
}

// 9600 baud, "Approximately 0.25 second": a reply may take 271 ms in all.
QStringList TestKvarnCtlLate::line(const SimProcess &sim)
{
    const QString cfg = dir_->filePath("line.cfg");
    QFile f(cfg);
    if (!f.open(QIODevice::WriteOnly)
        || f.write("PortNumber=" + sim.LinkPath().toLocal8Bit()
                   + "\r\nTransferRate=9600 baud\r\nStopBits=1 bit\r\nParitet=None\r\n"
                     "LatencyPeriod=Approximately 0.25 second\r\nDTRControl=HandShake\r\nRTSControl=HandShake\r\n"
                     "WriteTimeOutMultiplier=0\r\nWriteTimeOutConstant=0\r\n")
               < 0)
        qWarning("cannot write %s", qPrintable(cfg));
    return {"--config", cfg};
}

Result TestKvarnCtlLate::run(const QStringList &arguments)
{
    QProcess p;
    p.setWorkingDirectory(dir_->path());
    p.start(qEnvironmentVariable("KVARN_CTL"), arguments);
    Result r;
    if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit)
        return r;
    r.Code = p.exitCode();
    r.Lines = QString::fromLocal8Bit(p.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
    r.Err = QString::fromLocal8Bit(p.readAllStandardError());
    return r;
}

void TestKvarnCtlLate::lateReplies_data()
{
    // Replies 300 ms late: each request's first attempt times out, and its
    // reply is read by a later attempt of the same request.
    QTest::addColumn<QStringList>("command");
    QTest::addColumn<int>("code");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QString>("error");
    QTest::newRow("get") << QStringList{"get", "SERIALN", "ACTIVITY", "KOEFFICIENT", "ALARM1", "ALARM2", "STATUS"} << 0
                         << QStringList{"SERIALN=1047", "ACTIVITY=42", "KOEFFICIENT=0.5", "ALARM1=1000",
                                        "ALARM2=5000", "STATUS=3"}
                         << QString();
    // DURATIONTIME takes 1 to 86400 seconds: the installation keeps its 60.
    QTest::newRow("set refused") << QStringList{"set", "ALARM1=111", "DURATIONTIME=0"} << 1
                                 << QStringList{"ALARM1=111", "DURATIONTIME=60"}
                                 << "DURATIONTIME: the installation kept \"60\", not the \"0\" written";
    // Nothing answers past request 4: the third variable never gets its value.
    QTest::newRow("get unanswered") << QStringList{"get", "SERIALN", "ALARM1", "ALARM2"} << 1
                                    << QStringList{"SERIALN=1047", "ALARM1=1000"} << "ALARM2: ";
}

void TestKvarnCtlLate::lateReplies()
{
    QFETCH(QStringList, command);
    QFETCH(int, code);
    QFETCH(QStringList, lines);
    QFETCH(QString, error);
    SimProcess sim;
    QStringList options{"--reply-delay", "300", "--activity", "42", "--set", "STATUS=3", "--set", "KOEFFICIENT=0.5"};
    if (code == 1 && command.first() == "get")
        options << "--fault" << "5-:silent";
    QVERIFY2(sim.Start(options), qPrintable(sim.ErrorText()));
    const Result r = run(line(sim) + command);
    QVERIFY2(r.Err.contains(error), qPrintable(r.Err));
    QCOMPARE(r.Lines, lines);
    QCOMPARE(r.Code, code);
}

void TestKvarnCtlLate::archiveRangeFromALateInstallation()
{
    // The archive read through the installation's variable set, every reply
    // late: each record's values are the ones its own requests asked for.
    SimProcess sim;
    QVERIFY2(sim.Start({"--records", "20", "--reply-delay", "300"}), qPrintable(sim.ErrorText()));
    const Result r = run(line(sim) + QStringList{"archive", "--from", "3", "--to", "8", "--csv", "-"});
    QCOMPARE(r.Code, 0);
    QCOMPARE(r.Lines.size(), 1 + 6);
    QCOMPARE(r.Lines.first(), QString("DATETIME,ACTIVITY"));

    // The same records asked one value at a time from the same installation.
    QStringList asked{"get"};
    for (int n = 3; n <= 8; ++n)
        asked << QString("DATETIME:A%1").arg(n, 3, 10, QChar(u'0')) << QString("ACTIVITY:A%1").arg(n, 3, 10, QChar(u'0'));
    const Result single = run(line(sim) + asked);
    QCOMPARE(single.Code, 0);
    QCOMPARE(single.Lines.size(), 12);
    for (int k = 0; k < 6; ++k) {
        const QString record = single.Lines[2 * k].section(u'=', 1) + ',' + single.Lines[2 * k + 1].section(u'=', 1);
        QCOMPARE(r.Lines[1 + k], record);
        QVERIFY(!single.Lines[2 * k].section(u'=', 1).isEmpty());
    }
}

void TestKvarnCtlLate::repliesOwedAfterAStall_data()
{
    // The installation stalls 1.2 s on the first request, longer than all
    // three attempts (0.85 s); the replies it owes then come back to back.
    // Readings 10, 20 and 30 answer the failed transaction's attempts.
    QTest::addColumn<QList<QStringList>>("runs");
    QTest::addColumn<QList<int>>("codes");
    QTest::addColumn<int>("readings");
    QTest::newRow("get twice") << QList<QStringList>{{"get", "ACTIVITY"}, {"get", "ACTIVITY"}} << QList<int>{1, 0}
                               << 1;
    QTest::newRow("poll") << QList<QStringList>{{"poll", "--interval", "1", "--count", "3"}} << QList<int>{1} << 2;
}

void TestKvarnCtlLate::repliesOwedAfterAStall()
{
    QFETCH(QList<QStringList>, runs);
    QFETCH(QList<int>, codes);
    QFETCH(int, readings);
    SimProcess sim;
    QVERIFY2(sim.Start({"--fault", "1:delay:1200", "--activity", "10,20,30,40,50,60,70,80"}), qPrintable(sim.ErrorText()));
    QStringList got;
    for (int i = 0; i < runs.size(); ++i) {
        const Result r = run(line(sim) + runs[i]);
        QCOMPARE(r.Code, codes[i]);
        for (const QString &l : r.Lines)
            got << (l.startsWith(u"ACTIVITY=") ? l.section(u'=', 1) : l.section(u' ', 1, 1));
    }
    QCOMPARE(got.size(), readings);
    for (const char *owed : {"10", "20", "30"})
        QVERIFY2(!got.contains(owed), qPrintable(got.join(u' ')));
}

QTEST_GUILESS_MAIN(TestKvarnCtlLate)
#include "tst_kvarnctllate.moc"
