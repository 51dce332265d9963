// kvarnctl on a workstation: which line settings file it takes (beside a
// program whose folder can be written, the user's own when it cannot,
// --config above both), why a port cannot be opened, in words, and how
// "ports" names an adapter.
//
// The executable is copied into a folder of the test's own, so that "beside
// the program" is a folder the test controls. A folder that cannot be
// written is one the running user may not write: as root the tool runs as
// "nobody" (setpriv or runuser), otherwise the folder's write bit is taken.

#include "base/cp1251.h"
#include "cli/kvarnctl.h"
#include "serial/portfailure.h"
#include "serial/serialline.h"
#include "support/simprocess.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool writeAll(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

QByteArray settingsFile(const QString &port)
{
    return "PortNumber=" + QFile::encodeName(port) + "\r\nTransferRate=9600 baud\r\nStopBits=1 bit\r\n"
           "Paritet=None\r\nLatencyPeriod=Approximately 0.25 second\r\nDTRControl=HandShake\r\n"
           "RTSControl=HandShake\r\nWriteTimeOutMultiplier=0\r\nWriteTimeOutConstant=0\r\n";
}

struct Result {
    int Code = -1;
    QString Err;
};

} // namespace

class TestKvarnCtlSetup : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void settingsFileInUse_data();
    void settingsFileInUse();
    void portErrorsInWords_data();
    void portErrorsInWords();
    void portLines_data();
    void portLines();
    void stablePortPath();

private:
    // Runs the copied tool; asAnotherUser: as a user who may not write the
    // program folder (see the file's comment).
    Result run(const QStringList &arguments, bool asAnotherUser = false);
    // Whether runs "as another user" are possible here; sets up the folder.
    bool canRunAsAnotherUser();

    std::unique_ptr<QTemporaryDir> dir_;
    QString bin_;  // the program folder, holding the copied kvarnctl
    QString xdg_;  // XDG_CONFIG_HOME of the runs
};

void TestKvarnCtlSetup::init()
{
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
    // Another user must be able to reach and run what lies here.
    QVERIFY(QFile::setPermissions(dir_->path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                                    | QFileDevice::ExeOwner | QFileDevice::ReadOther
                                                    | QFileDevice::ExeOther | QFileDevice::ReadGroup
                                                    | QFileDevice::ExeGroup));
    bin_ = dir_->filePath("bin");
    xdg_ = dir_->filePath("xdg");
    QVERIFY(QDir().mkpath(bin_));
    QVERIFY(QDir().mkpath(xdg_ + "/kvarn"));
    QVERIFY(QFile::copy(qEnvironmentVariable("KVARN_CTL"), bin_ + "/kvarnctl"));
    QVERIFY(QFile::setPermissions(bin_ + "/kvarnctl", QFile::permissions(qEnvironmentVariable("KVARN_CTL"))));
}

void TestKvarnCtlSetup::cleanup()
{
    // A folder made read-only is given back, so that it can be removed.
    QFile::setPermissions(bin_, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

bool TestKvarnCtlSetup::canRunAsAnotherUser()
{
    if (::geteuid() != 0) {
        // The user's own folder, made read-only.
        return QFile::setPermissions(bin_, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    }
    return ::getpwnam("nobody")
           && (!QStandardPaths::findExecutable("setpriv").isEmpty()
               || !QStandardPaths::findExecutable("runuser").isEmpty());
}

Result TestKvarnCtlSetup::run(const QStringList &arguments, bool asAnotherUser)
{
    QProcess p;
    p.setWorkingDirectory(dir_->path());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", xdg_);
    p.setProcessEnvironment(env);
    const QString tool = bin_ + "/kvarnctl";
    if (asAnotherUser && ::geteuid() == 0) {
        const QString setpriv = QStandardPaths::findExecutable("setpriv");
        if (!setpriv.isEmpty())
            p.start(setpriv, QStringList{"--reuid=nobody", "--regid=nogroup", "--clear-groups", "--", tool} + arguments);
        else
            p.start(QStandardPaths::findExecutable("runuser"), QStringList{"-u", "nobody", "--", tool} + arguments);
    } else {
        p.start(tool, arguments);
    }
    Result r;
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit)
        return r;
    r.Code = p.exitCode();
    r.Err = QString::fromLocal8Bit(p.readAllStandardError());
    return r;
}

// Each settings file names a port of its own that does not exist, so the
// port in the error shows which file was read as well as the verbose line.
void TestKvarnCtlSetup::settingsFileInUse_data()
{
    QTest::addColumn<bool>("writable");
    QTest::addColumn<bool>("besideProgram");
    QTest::addColumn<bool>("userFile");
    QTest::addColumn<bool>("named");
    QTest::addColumn<QString>("expected"); // "program", "user", "named", "none"

    QTest::newRow("writable program folder") << true << true << true << false << "program";
    QTest::newRow("writable program folder, no file") << true << false << true << false << "none";
    QTest::newRow("read-only program folder, no user file") << false << true << false << false << "program";
    QTest::newRow("read-only program folder with a user file") << false << true << true << false << "user";
    QTest::newRow("--config wins") << true << true << true << true << "named";
    QTest::newRow("--config wins over the user's file") << false << true << true << true << "named";
}

void TestKvarnCtlSetup::settingsFileInUse()
{
    QFETCH(bool, writable);
    QFETCH(bool, besideProgram);
    QFETCH(bool, userFile);
    QFETCH(bool, named);
    QFETCH(QString, expected);

    const QMap<QString, QString> files{{"program", bin_ + "/commport.cfg"},
                                       {"user", xdg_ + "/kvarn/commport.cfg"},
                                       {"named", dir_->filePath("named.cfg")}};
    for (const auto &[which, path] : files.asKeyValueRange()) {
        const bool wanted = which == "program" ? besideProgram : which == "user" ? userFile : named;
        if (wanted)
            QVERIFY(writeAll(path, settingsFile(dir_->filePath("tty-of-" + which))));
    }
    if (!writable && !canRunAsAnotherUser())
        QSKIP("no other user to run as, and no folder that this user cannot write");

    QStringList arguments{"--verbose", "get", "SERIALN"};
    if (named)
        arguments = QStringList{"--config", files["named"]} + arguments;
    // Without any file the port is COM1; a missing one keeps the run from
    // touching a serial port this computer may have.
    if (expected == "none")
        arguments = QStringList{"--port", dir_->filePath("tty-of-none")} + arguments;
    const Result r = run(arguments, !writable);
    QCOMPARE(r.Code, 2);
    if (expected == "none")
        QVERIFY2(r.Err.contains("no line settings file (" + files["program"] + "): the defaults"), qPrintable(r.Err));
    else
        QVERIFY2(r.Err.contains("line settings from " + files[expected] + "\n"), qPrintable(r.Err));
    QVERIFY2(r.Err.contains("the port " + dir_->filePath("tty-of-" + expected) + " cannot be opened: no such device"),
             qPrintable(r.Err));
}

// A missing path, a plain file, a port held by another program and a file
// the user may not open: each named with its reason, by the tool (English)
// and for the terminal page (Russian).
void TestKvarnCtlSetup::portErrorsInWords_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<QString>("terminal");

    QTest::newRow("missing path") << "missing" << "no such device" << "нет такого устройства";
    QTest::newRow("regular file") << "file" << "not a serial device" << "это не последовательный порт";
    QTest::newRow("held by another process") << "held" << "in use by another program" << "занят другой программой";
    QTest::newRow("no permission") << "denied" << "permission denied; the device belongs to the group"
                                   << "нет прав доступа. Добавьте пользователя в группу";
}

void TestKvarnCtlSetup::portErrorsInWords()
{
    QFETCH(QString, kind);
    QFETCH(QString, reason);
    QFETCH(QString, terminal);

    QString path = dir_->filePath(kind);
    SimProcess sim;
    std::unique_ptr<TSerialLine> held;
    bool asAnotherUser = false;
    QString group;
    if (kind == "file") {
        QVERIFY(writeAll(path, "not a port\n"));
    } else if (kind == "held") {
        QVERIFY2(sim.Start(), qPrintable(sim.ErrorText()));
        path = sim.LinkPath();
        held = std::make_unique<TSerialLine>(path);
        QVERIFY2(held->Open(), qPrintable(held->ErrorText()));
    } else if (kind == "denied") {
        // Readable and writable by its group only: joining the group is the remedy.
        QVERIFY(writeAll(path, QByteArray()));
        QVERIFY(::chmod(QFile::encodeName(path).constData(), 0060) == 0);
        if (::geteuid() == 0) {
            if (!canRunAsAnotherUser())
                QSKIP("running as root, with no other user to run as");
            if (const struct group *dialout = ::getgrnam("dialout"))
                QVERIFY(::chown(QFile::encodeName(path).constData(), 0, dialout->gr_gid) == 0);
            asAnotherUser = true;
        }
        struct stat st {};
        QVERIFY(::stat(QFile::encodeName(path).constData(), &st) == 0);
        group = QString::fromLocal8Bit(::getgrgid(st.st_gid)->gr_name);
    }

    const Result r = run({"--port", path, "get", "SERIALN"}, asAnotherUser);
    QCOMPARE(r.Code, 2);
    QVERIFY2(r.Err.contains("the port " + path + " cannot be opened: " + reason), qPrintable(r.Err));
    if (!group.isEmpty()) {
        QVERIFY2(r.Err.contains("\"" + group + "\": add the user to it (sudo usermod -aG " + group), qPrintable(r.Err));
        return; // the tool ran as another user; this process would see the file otherwise
    }

    const TPortFailure failure = DiagnosePort(path);
    QCOMPARE(failure.Reason().left(reason.size()), reason);
    QVERIFY2(failure.TerminalText().startsWith(ToCp1251(QString::fromUtf8("Порт ") + path + ": " + terminal)),
             failure.TerminalText().constData());
}

void TestKvarnCtlSetup::portLines_data()
{
    QTest::addColumn<QString>("location");
    QTest::addColumn<QString>("description");
    QTest::addColumn<QString>("manufacturer");
    QTest::addColumn<QString>("serialNumber");
    QTest::addColumn<int>("vendor");
    QTest::addColumn<QString>("stablePath");
    QTest::addColumn<QString>("line");

    QTest::newRow("USB adapter with everything")
        << "/dev/ttyUSB0" << "FT232R USB UART" << "FTDI" << "A50285BI" << 0x0403
        << "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"
        << "/dev/ttyUSB0  FT232R USB UART, FTDI, serial number A50285BI, USB 0403:6001  stable path: "
           "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
    QTest::newRow("maker repeated as description; no serial number")
        << "/dev/ttyACM0" << "Prolific" << "Prolific" << "" << 0x067b << ""
        << "/dev/ttyACM0  Prolific, USB 067b:6001";
    QTest::newRow("built-in port: nothing known") << "/dev/ttyS0" << "" << "" << "" << -1 << "" << "/dev/ttyS0";
}

void TestKvarnCtlSetup::portLines()
{
    QFETCH(QString, location);
    QFETCH(QString, description);
    QFETCH(QString, manufacturer);
    QFETCH(QString, serialNumber);
    QFETCH(int, vendor);
    QFETCH(QString, stablePath);
    QFETCH(QString, line);
    TKvarnCtl::PortDescription port{location, description, manufacturer, serialNumber, {}, {}, stablePath};
    if (vendor >= 0) {
        port.Vendor = quint16(vendor);
        port.Product = quint16(0x6001);
    }
    QCOMPARE(TKvarnCtl::PortLine(port), line);
}

// The by-id folder holds links to the devices; the one leading to the device
// is its stable path, also when the device is named through another link.
void TestKvarnCtlSetup::stablePortPath()
{
    const QString devices = dir_->filePath("dev");
    const QString byId = dir_->filePath("by-id");
    QVERIFY(QDir().mkpath(devices) && QDir().mkpath(byId));
    QVERIFY(writeAll(devices + "/ttyUSB0", {}) && writeAll(devices + "/ttyUSB1", {}));
    QVERIFY(QFile::link("../dev/ttyUSB1", byId + "/usb-Maker_Adapter_B-if00-port0"));
    QVERIFY(QFile::link("../dev/ttyUSB0", byId + "/usb-Maker_Adapter_A-if00-port0"));
    QVERIFY(QFile::link("../dev/gone", byId + "/usb-Unplugged-if00-port0"));
    QVERIFY(QFile::link(devices + "/ttyUSB0", dir_->filePath("alias")));

    QCOMPARE(TKvarnCtl::StablePortPath(devices + "/ttyUSB0", byId), byId + "/usb-Maker_Adapter_A-if00-port0");
    QCOMPARE(TKvarnCtl::StablePortPath(dir_->filePath("alias"), byId), byId + "/usb-Maker_Adapter_A-if00-port0");
    QCOMPARE(TKvarnCtl::StablePortPath(devices + "/ttyUSB1", byId), byId + "/usb-Maker_Adapter_B-if00-port0");
    QCOMPARE(TKvarnCtl::StablePortPath(devices + "/ttyS0", byId), QString());
    QCOMPARE(TKvarnCtl::StablePortPath(devices + "/ttyUSB0", dir_->filePath("no-by-id")), QString());
}

QTEST_GUILESS_MAIN(TestKvarnCtlSetup)
#include "tst_kvarnctlsetup.moc"
