// The window and kvarnctl ended by SIGTERM or SIGINT while the port is open,
// the tool in the middle of an archive download: each ends with 128 + the
// signal's number, having closed the port, so that no lock file is left;
// the tool saves the records it read.

#include "support/filebytes.h"
#include "support/simprocess.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <csignal>

namespace {

// Where a serial port's lock file may lie, as Qt picks the folder.
QStringList lockFiles(const QString &port)
{
    const QString name = "LCK.." + QString(port).replace(u'/', u'_');
    QStringList found;
    for (const char *dir : {"/var/lock", "/etc/locks", "/var/spool/locks", "/var/spool/uucp", "/tmp", "/var/tmp",
                            "/run/lock"})
        if (QFileInfo::exists(QStringLiteral("%1/%2").arg(dir, name)))
            found << QStringLiteral("%1/%2").arg(dir, name);
    return found;
}

} // namespace

class TestQuitSignals : public QObject {
    Q_OBJECT
private slots:
    void portClosedOnSignal_data();
    void portClosedOnSignal();
    void windowAtStartupWarning();
};

void TestQuitSignals::portClosedOnSignal_data()
{
    QTest::addColumn<bool>("window");
    QTest::addColumn<int>("signal");
    QTest::newRow("kvarnctl, SIGTERM") << false << int(SIGTERM);
    QTest::newRow("kvarnctl, SIGINT") << false << int(SIGINT);
    QTest::newRow("window, SIGTERM") << true << int(SIGTERM);
    QTest::newRow("window, SIGINT") << true << int(SIGINT);
}

// Whether the process has a handler of its own for the signal (SigCgt).
static bool catches(qint64 pid, int signal)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("SigCgt:"))
            return (line.mid(7).trimmed().toULongLong(nullptr, 16) >> (signal - 1)) & 1;
    return false;
}

// The window whose port does not exist stops at its start-up warning, in a
// loop of the warning's own before the window's: a signal there (or while
// the window is still being made) ends it all the same.
void TestQuitSignals::windowAtStartupWarning()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString program = dir.filePath("kvarn");
    QVERIFY(QFile::copy(QStringLiteral(KVARN_WINDOW), program));
    QVERIFY(QFile::setPermissions(program, QFile::permissions(QStringLiteral(KVARN_WINDOW))));
    QVERIFY(writeFileBytes(dir.filePath("commport.cfg"), "PortNumber=" + QFile::encodeName(dir.filePath("no-such-tty"))
                                                             + "\r\nTransferRate=9600 baud\r\n"));
    QProcess p;
    p.setWorkingDirectory(dir.path());
    p.start(program, {});
    QVERIFY(p.waitForStarted());
    QDeadlineTimer installed(30000);
    while (!catches(p.processId(), SIGTERM) && !installed.hasExpired() && p.state() == QProcess::Running)
        QThread::msleep(10);
    QVERIFY(catches(p.processId(), SIGTERM));
    QVERIFY(::kill(pid_t(p.processId()), SIGTERM) == 0);
    QVERIFY(p.waitForFinished(20000));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), 128 + SIGTERM);
}

void TestQuitSignals::portClosedOnSignal()
{
    QFETCH(bool, window);
    QFETCH(int, signal);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    SimProcess sim;
    QVERIFY2(sim.Start({"--baud", "9600", "--records", "5000"}), qPrintable(sim.ErrorText()));
    const QByteArray settings = "PortNumber=" + QFile::encodeName(sim.LinkPath())
                                + "\r\nTransferRate=9600 baud\r\nStopBits=1 bit\r\nParitet=None\r\n"
                                  "LatencyPeriod=Approximately 0.25 second\r\nDTRControl=HandShake\r\n"
                                  "RTSControl=HandShake\r\nWriteTimeOutMultiplier=0\r\nWriteTimeOutConstant=0\r\n";
    QVERIFY(lockFiles(sim.LinkPath()).isEmpty());

    QProcess p;
    p.setWorkingDirectory(dir.path());
    if (window) {
        // A copy of the window in a folder of its own, its line settings beside it.
        const QString program = dir.filePath("kvarn");
        QVERIFY(QFile::copy(QStringLiteral(KVARN_WINDOW), program));
        QVERIFY(QFile::setPermissions(program, QFile::permissions(QStringLiteral(KVARN_WINDOW))));
        QVERIFY(writeFileBytes(dir.filePath("commport.cfg"), settings));
        p.start(program, {});
    } else {
        QVERIFY(writeFileBytes(dir.filePath("line.cfg"), settings));
        p.start(qEnvironmentVariable("KVARN_CTL"), {"--config", "line.cfg", "archive", "--csv", "night.csv"});
    }
    QVERIFY(p.waitForStarted());
    QDeadlineTimer opened(30000);
    while (lockFiles(sim.LinkPath()).isEmpty() && !opened.hasExpired() && p.state() == QProcess::Running)
        QThread::msleep(20);
    QVERIFY2(!lockFiles(sim.LinkPath()).isEmpty(), "the port was never opened");
    // The tool is then within its exchanges, the window idle.
    QDeadlineTimer exchanging(30000);
    while (!window && sim.RequestLines().size() < 3 && !exchanging.hasExpired())
        QThread::msleep(20);

    QVERIFY(::kill(pid_t(p.processId()), signal) == 0);
    QVERIFY(p.waitForFinished(20000));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), 128 + signal);
    QCOMPARE(lockFiles(sim.LinkPath()), QStringList());
    // The records read before the signal are kept, as after any failure.
    if (!window)
        QVERIFY(readFileBytes(dir.filePath("night.csv")).startsWith("DATETIME"));
}

QTEST_GUILESS_MAIN(TestQuitSignals)
#include "tst_quitsignals.moc"
