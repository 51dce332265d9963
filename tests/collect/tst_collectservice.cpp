// kvarn-collect as a long-running service: what local clients can do to its
// metrics server, its alarm command's runs, the site file's refusals, the
// log while the database cannot write, and what it tells systemd.

#include "collect/alarmcommand.h"
#include "collect/collector.h"
#include "collect/siteconfig.h"
#include "support/simprocess.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <cstring>
#include <memory>
#include <QSemaphore>
#include <QThread>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

QString writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

int freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// /proc/PID/stat: CPU seconds (user + system) and resident KiB.
double cpuSeconds(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray stat = f.readAll();
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    return (fields.value(11).toDouble() + fields.value(12).toDouble()) / double(sysconf(_SC_CLK_TCK));
}

long residentKiB(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

// One HTTP exchange on a connection of its own: the whole reply until the
// server closes (or a second of quiet).
QByteArray ask(int port, const QByteArray &request)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, quint16(port));
    if (!socket.waitForConnected(3000))
        return {};
    socket.write(request);
    QByteArray reply;
    while (socket.state() == QAbstractSocket::ConnectedState && socket.waitForReadyRead(1000))
        reply += socket.readAll();
    return reply + socket.readAll();
}

// A site file of one installation, "hall", polled every second, with metrics at port.
QString hallSite(const QTemporaryDir &dir, int port, const SimProcess &sim)
{
    return writeFile(dir.filePath("site.conf"), "[collect]\nDatabase=sqlite:site.db\nMetrics=127.0.0.1:" +
                                                    QByteArray::number(port) + "\n[installation hall]\nPortNumber=" +
                                                    sim.LinkPath().toUtf8() + "\nTransferRate=115200 baud\nPollSeconds=1\n");
}

// kvarn-collect started as a process; killed when the object goes.
class Collector {
public:
    // files: the most file descriptors it may open (0: as it is). A file
    // size limit (a disk made full, set later with prlimit) fails its writes
    // instead of ending it.
    explicit Collector(const QStringList &arguments, rlim_t files = 0)
    {
        process_.setChildProcessModifier([files]() {
            std::signal(SIGXFSZ, SIG_IGN);
            if (files > 0) {
                const rlimit limit{files, files};
                setrlimit(RLIMIT_NOFILE, &limit);
            }
        });
        process_.start(qEnvironmentVariable("KVARN_COLLECT"), arguments);
    }
    ~Collector()
    {
        process_.kill();
        process_.waitForFinished();
    }
    QProcess &Process() { return process_; }
    qint64 Pid() const { return process_.processId(); }
    QString Log() { return log_ += QString::fromLocal8Bit(process_.readAllStandardError()); }

private:
    QProcess process_;
    QString log_;
};

} // namespace

class TestCollectService : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void metricsUnderHeldConnections();
    void metricsRequests();
    void siteFile_data();
    void siteFile();
    void alarmRunEndsWithAllItStarted();
    void tellsSystemd();
    void fullDiskLogsTwoLines();
    void linkLostAndBack();
};

void TestCollectService::initTestCase()
{
    QVERIFY2(QFileInfo(qEnvironmentVariable("KVARN_COLLECT")).isExecutable(), "KVARN_COLLECT names no executable");
}

// 200 idle connections against a collector that may open 96 files: it keeps
// polling without a miss, does not spin, still answers a scrape, and closes
// the idle ones after a few seconds.
void TestCollectService::metricsUnderHeldConnections()
{
    SimProcess sim;
    QVERIFY2(sim.Start({"--records", "3"}), qPrintable(sim.ErrorText()));
    QTemporaryDir dir;
    const int port = freePort();
    const QString config = hallSite(dir, port, sim);
    Collector collector({"--config", config}, 96);
    QTRY_VERIFY_WITH_TIMEOUT(collector.Log().contains("metrics at"), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(sim.RequestLines().count("ACTIVITY=??;") >= 2, 10000);

    std::vector<std::unique_ptr<QTcpSocket>> held;
    for (int i = 0; i < 200; ++i) {
        held.push_back(std::make_unique<QTcpSocket>());
        held.back()->connectToHost(QHostAddress::LocalHost, quint16(port));
    }
    const qsizetype before = sim.RequestLines().count("ACTIVITY=??;");
    const double cpu0 = cpuSeconds(collector.Pid());
    QElapsedTimer window;
    window.start();
    QTest::qWait(4000);
    const double cpu = cpuSeconds(collector.Pid()) - cpu0;
    // Polled about once a second throughout, and no core spent accepting.
    const qsizetype polls = sim.RequestLines().count("ACTIVITY=??;") - before;
    QVERIFY2(polls >= window.elapsed() / 1000 - 1, qPrintable(QString::number(polls)));
    QVERIFY2(cpu < 0.5 * window.elapsed() / 1000.0, qPrintable(QString::number(cpu)));

    // Those past the bound were closed at once; the rest when idle too long.
    QTRY_VERIFY_WITH_TIMEOUT(std::all_of(held.begin(), held.end(),
                                         [](const auto &s) {
                                             s->waitForReadyRead(0);
                                             return s->state() == QAbstractSocket::UnconnectedState;
                                         }),
                             15000);
    const QByteArray metrics = ask(port, "GET /metrics HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    QVERIFY2(metrics.startsWith("HTTP/1.1 200"), metrics.constData());
    QVERIFY2(metrics.contains("kvarn_missed_polls_total{installation=\"hall\"} 0\n"), metrics.constData());
    QVERIFY2(!collector.Log().contains("cannot be opened"), qPrintable(collector.Log()));
}

// A head past the bound is answered 431 and costs no memory; other methods
// than GET and HEAD are answered 405 naming the allowed ones; HEAD gets
// GET's head without a body.
void TestCollectService::metricsRequests()
{
    SimProcess sim;
    QVERIFY2(sim.Start({"--records", "3"}), qPrintable(sim.ErrorText()));
    QTemporaryDir dir;
    const int port = freePort();
    const QString config = hallSite(dir, port, sim);
    Collector collector({"--config", config});
    QTRY_VERIFY_WITH_TIMEOUT(collector.Log().contains("metrics at"), 10000);
    const long rss0 = residentKiB(collector.Pid());

    QTcpSocket big;
    big.connectToHost(QHostAddress::LocalHost, quint16(port));
    QVERIFY(big.waitForConnected(3000));
    big.write("GET /metrics HTTP/1.1\r\nHost: x\r\nX-Filler: ");
    const QByteArray chunk(64 * 1024, 'a');
    qint64 sent = 0;
    QByteArray refused;
    // The answer is read as it comes: the connection is closed under a client that goes on sending.
    connect(&big, &QTcpSocket::readyRead, this, [&]() { refused += big.readAll(); });
    while (sent < 64LL << 20 && big.state() == QAbstractSocket::ConnectedState) {
        sent += big.write(chunk);
        big.waitForBytesWritten(200);
    }
    if (big.state() == QAbstractSocket::ConnectedState)
        big.waitForReadyRead(2000);
    QVERIFY2(refused.startsWith("HTTP/1.1 431"), refused.constData());
    QVERIFY2(sent < 16LL << 20, qPrintable(QString::number(sent)));
    QVERIFY2(residentKiB(collector.Pid()) - rss0 < 4096, qPrintable(QString::number(residentKiB(collector.Pid()) - rss0)));

    const QByteArray get = ask(port, "GET /metrics HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    QVERIFY2(get.startsWith("HTTP/1.1 200"), get.constData());
    const QByteArray body = get.mid(get.indexOf("\r\n\r\n") + 4);
    QVERIFY(body.contains("kvarn_link_up"));
    const QByteArray head = ask(port, "HEAD /metrics HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    QVERIFY2(head.startsWith("HTTP/1.1 200"), head.constData());
    QVERIFY2(head.endsWith("\r\n\r\n"), head.constData());
    QVERIFY2(QRegularExpression("Content-Length: \\d+\r\n", QRegularExpression::CaseInsensitiveOption)
                 .match(QString::fromLatin1(head))
                 .hasMatch(),
             head.constData());
    for (const char *method : {"POST", "PUT", "DELETE"}) {
        const QByteArray reply =
            ask(port, QByteArray(method) + " /metrics HTTP/1.1\r\nHost: x\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        QVERIFY2(reply.startsWith("HTTP/1.1 405"), reply.constData());
        QVERIFY2(reply.contains("Allow: GET, HEAD\r\n"), reply.constData());
    }
}

void TestCollectService::siteFile_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("error");        // empty: the file is good
    QTest::addColumn<QStringList>("onAlarm");  // the words a good file's OnAlarm gives

    const QByteArray hall = "[installation hall]\nPortNumber=/dev/ttyUSB0\n";
    auto alarm = [&](const QByteArray &command) { return "[collect]\nOnAlarm=" + command + "\n" + hall; };
    QTest::newRow("plain words") << alarm("/bin/notify  -q\tx") << QString() << QStringList{"/bin/notify", "-q", "x"};
    QTest::newRow("single quotes") << alarm("/bin/n 'a b' 'c\\d' x'\"'y") << QString()
                                   << QStringList{"/bin/n", "a b", "c\\d", "x\"y"};
    QTest::newRow("double quotes") << alarm("/bin/n \"a 'b'\" \"\\$\\\"\\\\\\x\" \"\"") << QString()
                                   << QStringList{"/bin/n", "a 'b'", "$\"\\\\x", ""};
    QTest::newRow("backslash") << alarm("/bin/n a\\ b \\'c \\\\") << QString() << QStringList{"/bin/n", "a b", "'c", "\\"};
    QTest::newRow("no expansion") << alarm("/bin/n $HOME ~ * `id` $(id)") << QString()
                                  << QStringList{"/bin/n", "$HOME", "~", "*", "`id`", "$(id)"};
    QTest::newRow("unbalanced single") << alarm("/bin/n 'a b") << QStringLiteral("site.conf:2: OnAlarm: a single quote is not closed")
                                       << QStringList();
    QTest::newRow("unbalanced double") << alarm("/bin/n \"a\\\"") << QStringLiteral("site.conf:2: OnAlarm: a double quote")
                                       << QStringList();
    QTest::newRow("trailing backslash") << alarm("/bin/n a\\") << QStringLiteral("site.conf:2: OnAlarm: a \\ ends") << QStringList();

    QTest::newRow("device server") << QByteArray("[installation a]\nPortNumber=socket://10.0.0.5:4001\n") << QString()
                                   << QStringList();
    QTest::newRow("no port") << QByteArray("[installation a]\nDevice=2\n" + hall)
                             << QStringLiteral("site.conf:1: the installation names no port") << QStringList();
    QTest::newRow("no port at the end") << QByteArray(hall + "\n[installation b]\nDevice=2\n")
                                        << QStringLiteral("site.conf:4: the installation names no port") << QStringList();
    for (const char *port : {"socket://", "socket://x:99999", "socket://x", "COM0", "COMx", "ttyUSB0"})
        QTest::addRow("port %s", port) << QByteArray("[installation a]\nDevice=2\nPortNumber=" + QByteArray(port) + "\n")
                                       << QStringLiteral("site.conf:3: PortNumber \"%1\" names no port").arg(port)
                                       << QStringList();
    QTest::newRow("NUL in name") << (QByteArray("[installation a") + '\0' + "b]\nPortNumber=/dev/ttyUSB0\n")
                                 << QStringLiteral("site.conf:1: the installation's name holds a control character")
                                 << QStringList();
    QTest::newRow("escape in name") << QByteArray("[installation a\x1b[2Jb]\nPortNumber=/dev/ttyUSB0\n")
                                    << QStringLiteral("site.conf:1: the installation's name holds a control character")
                                    << QStringList();
}

// Site files: what OnAlarm's words are, and the ones refused with their line.
void TestCollectService::siteFile()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, error);
    QFETCH(QStringList, onAlarm);
    QString why;
    const std::optional<TSiteConfig> config = TSiteConfig::Parse(text, QStringLiteral("site.conf"), QStringLiteral("/srv"), &why);
    if (!error.isEmpty()) {
        QVERIFY(!config);
        QVERIFY2(why.startsWith(error), qPrintable(why));
        return;
    }
    QVERIFY2(config, qPrintable(why));
    QCOMPARE(config->OnAlarm, onAlarm);
}

// A run that hangs is ended with everything it started when its time is up
// (the real 30 s), and so is one still running when the collector stops.
void TestCollectService::alarmRunEndsWithAllItStarted()
{
    QTemporaryDir dir;
    // The script starts a child that ignores SIGTERM and a second one, and hangs.
    const QString script = writeFile(dir.filePath("hang.sh"),
                                     "#!/bin/sh\n(trap '' TERM; sleep 300) &\necho $! > \"$1/$KVARN_INSTALLATION\"\n"
                                     "sleep 300 &\necho $! >> \"$1/$KVARN_INSTALLATION\"\nwait\n");
    QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    auto started = [&](const QString &installation) {
        QFile f(dir.filePath(installation));
        if (!f.open(QIODevice::ReadOnly))
            return QList<pid_t>();
        QList<pid_t> pids;
        for (const QByteArray &line : f.readAll().split('\n'))
            if (!line.isEmpty())
                pids << pid_t(line.toInt());
        return pids.size() == 2 ? pids : QList<pid_t>();
    };
    // Gone, or a zombie waiting for whoever adopted it.
    auto ended = [](pid_t pid) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            return true;
        const QByteArray text = stat.readAll();
        return text.mid(text.lastIndexOf(')') + 2, 1) == "Z";
    };
    const TAlarmNotice notice{"hall", "alarm", {}, 2, "900", QDateTime::currentDateTimeUtc()};

    TAlarmCommand command({script, dir.path()});
    QSignalSpy idle(&command, &TAlarmCommand::BecameIdle);
    QElapsedTimer clock;
    clock.start();
    command.Notify(notice);
    QTRY_VERIFY_WITH_TIMEOUT(started("hall").size() == 2, 10000);
    QVERIFY(idle.wait(TAlarmCommand::kTimeoutMs + 3 * TAlarmCommand::kGraceMs + 5000));
    const qint64 ran = clock.elapsed();
    QVERIFY2(ran >= TAlarmCommand::kTimeoutMs - 100 && ran < TAlarmCommand::kTimeoutMs + 3 * TAlarmCommand::kGraceMs + 2000,
             qPrintable(QString::number(ran)));
    QCOMPARE(command.Failures(), 1);
    for (pid_t pid : started("hall"))
        QTRY_VERIFY2_WITH_TIMEOUT(ended(pid), qPrintable(QString::number(pid)), 3 * TAlarmCommand::kGraceMs);

    QList<pid_t> left;
    {
        TAlarmCommand stopped({script, dir.path()});
        stopped.Notify(TAlarmNotice{"shaft", "link-lost", {}, 0, {}, QDateTime::currentDateTimeUtc()});
        QTRY_VERIFY_WITH_TIMEOUT(started("shaft").size() == 2, 10000);
        left = started("shaft");
    }
    for (pid_t pid : left)
        QTRY_VERIFY2_WITH_TIMEOUT(ended(pid), qPrintable(QString::number(pid)), 3 * TAlarmCommand::kGraceMs);
}

// A fake NOTIFY_SOCKET hears READY once the line has begun, WATCHDOG pings
// while it makes progress, none while its thread is held past its deadline,
// pings again after, and STOPPING at the stop.
void TestCollectService::tellsSystemd()
{
    SimProcess sim;
    QVERIFY2(sim.Start({"--records", "3"}), qPrintable(sim.ErrorText()));
    QTemporaryDir dir;
    const QByteArray path = dir.filePath("notify").toLocal8Bit();
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.constData(), sizeof address.sun_path - 1);
    QVERIFY(::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0);
    const std::unique_ptr<int, void (*)(int *)> closer(new int(fd), [](int *f) {
        ::close(*f);
        delete f;
        qunsetenv("NOTIFY_SOCKET");
        qunsetenv("WATCHDOG_USEC");
    });
    qputenv("NOTIFY_SOCKET", path);
    qputenv("WATCHDOG_USEC", "300000");
    QStringList heard;
    auto hear = [&]() {
        char buffer[4096];
        for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;)
            heard += QString::fromUtf8(buffer, n).split(u'\n', Qt::SkipEmptyParts);
        return heard;
    };
    // Waits, reading as it goes (a datagram socket holds only a few unread).
    auto listen = [&](int ms) {
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < ms) {
            QTest::qWait(50);
            hear();
        }
    };

    QString why;
    std::optional<TSiteConfig> config = TSiteConfig::Parse(
        "[installation hall]\nPortNumber=" + sim.LinkPath().toUtf8() + "\nTransferRate=115200 baud\nPollSeconds=1\n",
        QStringLiteral("site.conf"), dir.path(), &why);
    QVERIFY2(config, qPrintable(why));
    const qint64 deadline = LineDeadlineMs(config->Installations.first().Settings);
    QCOMPARE(deadline, qint64(10000)); // the floor, for a fast line
    TCollector collector(*config, *TStoreUrl::Parse("sqlite:" + dir.filePath("site.db"), nullptr), false, false);
    QCOMPARE(collector.Start(std::nullopt), 0);
    QTRY_VERIFY_WITH_TIMEOUT(hear().contains("READY=1"), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(hear().count("WATCHDOG=1") >= 5, 5000);

    // Let go whatever happens, or the line thread could never end.
    struct Hold {
        QSemaphore Semaphore;
        bool Released = false;
        void Release()
        {
            if (!std::exchange(Released, true))
                Semaphore.release();
        }
        ~Hold() { Release(); }
    } hold;
    auto *blocker = new QObject;
    blocker->moveToThread(collector.LineThreads().first());
    QMetaObject::invokeMethod(blocker, [blocker, &hold]() {
        hold.Semaphore.acquire();
        blocker->deleteLater();
    });
    listen(int(deadline) + 1000);
    heard.clear();
    listen(1500);
    QVERIFY2(!heard.contains("WATCHDOG=1"), qPrintable(heard.join(u' ')));
    hold.Release();
    QTRY_VERIFY_WITH_TIMEOUT(hear().contains("WATCHDOG=1"), 5000);

    QSignalSpy finished(&collector, &TCollector::Finished);
    collector.Stop();
    QTRY_VERIFY_WITH_TIMEOUT(hear().contains("STOPPING=1"), 5000);
    QVERIFY(finished.wait(10000));
}

// While the disk is full the log says so once (nothing is written, however
// often it is tried) and once more when a batch is taken again; meanwhile
// the metrics say that the database does not take the readings that wait.
void TestCollectService::fullDiskLogsTwoLines()
{
    SimProcess sim;
    QVERIFY2(sim.Start({"--records", "30"}), qPrintable(sim.ErrorText()));
    QTemporaryDir dir;
    const int port = freePort();
    const QString config = hallSite(dir, port, sim);
    Collector collector({"--config", config});
    QTRY_VERIFY_WITH_TIMEOUT(collector.Log().contains("30 archive records stored"), 30000);
    // The disk is full from here: no file may grow by a byte.
    const rlimit full{1, RLIM_INFINITY};
    QVERIFY(::prlimit(pid_t(collector.Pid()), RLIMIT_FSIZE, &full, nullptr) == 0);
    const QString failing = QStringLiteral("does not take what is written");
    const QString again = QStringLiteral("takes what is written again");
    QTRY_VERIFY_WITH_TIMEOUT(collector.Log().contains(failing), 10000);
    // Several retries (every 2 s) while it stays full.
    QTest::qWait(8000);
    QVERIFY2(collector.Log().count(failing) == 1 && !collector.Log().contains(again), qPrintable(collector.Log()));
    const QByteArray metrics = ask(port, "GET /metrics HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    QVERIFY2(metrics.contains("\nkvarn_database_up 0\n"), metrics.constData());
    const QRegularExpressionMatch waiting =
        QRegularExpression("kvarn_readings_waiting\\{installation=\"hall\"\\} (\\d+)").match(QString::fromLatin1(metrics));
    QVERIFY2(waiting.hasMatch() && waiting.captured(1).toInt() >= 3, metrics.constData());

    const rlimit unlimited{RLIM_INFINITY, RLIM_INFINITY};
    QVERIFY(::prlimit(pid_t(collector.Pid()), RLIMIT_FSIZE, &unlimited, nullptr) == 0);
    QTRY_VERIFY_WITH_TIMEOUT(collector.Log().contains(again), 30000);
    QTest::qWait(3000);
    QVERIFY2(collector.Log().count(failing) == 1 && collector.Log().count(again) == 1, qPrintable(collector.Log()));
    const QByteArray after = ask(port, "GET /metrics HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    QVERIFY2(after.contains("\nkvarn_database_up 1\n"), after.constData());
    QVERIFY2(after.contains("kvarn_readings_waiting{installation=\"hall\"} 0\n"), after.constData());
}

// A link lost and restored: the alarm command hears why, the archive is read
// at once after (not an ArchiveSeconds later), a first download is logged
// in one line (not one per batch sent to the database), and the stop names only the installation
// still without an answer (the one whose port is gone).
void TestCollectService::linkLostAndBack()
{
    SimProcess sim;
    // Two requests per record (DATETIME, ACTIVITY), one per poll: the
    // download is over by request 260.
    QVERIFY2(sim.Start({"--records", "120", "--fault", "260-265:silent"}), qPrintable(sim.ErrorText()));
    QTemporaryDir dir;
    const QString out = dir.filePath("alarms.txt");
    const QString script =
        writeFile(dir.filePath("alarm.sh"), "#!/bin/sh\necho \"$KVARN_INSTALLATION|$KVARN_EVENT|$KVARN_DETAIL\" >> \"$1\"\n");
    QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QString config = writeFile(
        dir.filePath("site.conf"),
        "[collect]\nDatabase=sqlite:site.db\nOnAlarm=" + script.toUtf8() + " " + out.toUtf8() +
            "\n[installation hall]\nPortNumber=" + sim.LinkPath().toUtf8() +
            "\nTransferRate=115200 baud\nPollSeconds=1\nArchiveSeconds=3600\nVariables=ACTIVITY\n[installation gone]\nPortNumber=" +
            dir.filePath("no-such-tty").toUtf8() + "\nPollSeconds=1\n");
    Collector collector({"--config", config});
    auto alarms = [&]() {
        QFile f(out);
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()).split(u'\n', Qt::SkipEmptyParts) : QStringList();
    };
    QTRY_VERIFY_WITH_TIMEOUT(alarms().filter("hall|link-restored|").size() == 1, 60000);
    auto countsAsked = [&]() {
        const QList<QByteArray> asked = sim.RequestLines().mid(265); // after the silent requests
        return std::any_of(asked.begin(), asked.end(), [](const QByteArray &r) { return r.contains("NUMOFRECORDS"); });
    };
    QTRY_VERIFY_WITH_TIMEOUT(countsAsked(), 10000);
    const QStringList ran = alarms();
    QVERIFY2(ran.filter(QRegularExpression("^hall\\|link-lost\\|no reply")).size() == 1, qPrintable(ran.join(u'\n')));
    QVERIFY2(ran.filter(QRegularExpression("^gone\\|link-lost\\|port gone: ")).size() == 1, qPrintable(ran.join(u'\n')));

    ::kill(pid_t(collector.Pid()), SIGTERM);
    QVERIFY(collector.Process().waitForFinished(20000));
    const QString log = collector.Log();
    QVERIFY2(log.contains("hall: 120 archive records stored, the last of "), qPrintable(log));
    QCOMPARE(log.count("archive records stored"), 1);
    QVERIFY2(log.contains("no full answer from: gone\n"), qPrintable(log));
}

QTEST_GUILESS_MAIN(TestCollectService)
#include "tst_collectservice.moc"
