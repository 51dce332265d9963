// The settings file "commport.cfg": every reading rule, the exact bytes
// written, the round trip, and saves that fail without harming the old file.

#include "base/textutils.h"
#include "serial/comsettings.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

Q_DECLARE_METATYPE(SettingsSnapshot)

char *toString(const SettingsSnapshot &s)
{
    const QByteArray text = s.PortNumber + '|' + s.TransferRate + '|' + s.StopBits + '|' + s.Paritet
                            + '|' + s.LatencyPeriod + '|' + s.DTRControl + '|' + s.RTSControl + '|'
                            + s.WriteTimeOutMultiplier + '|' + s.WriteTimeOutConstant;
    return qstrdup(text.toPercentEncoding(" |=/.").constData());
}

namespace {

enum Field { Port, Rate, Stop, Parity, Latency, Dtr, Rts, WriteMult, WriteConst };

// The window defaults with some fields changed.
SettingsSnapshot Defaults(std::initializer_list<std::pair<Field, QByteArray>> changes = {})
{
    SettingsSnapshot s{"COM1", "9600 baud", "1 bit", "None", "Approximately 0.25 second",
                       "Disable", "Disable", "0", "0"};
    QByteArray *fields[] = {&s.PortNumber, &s.TransferRate, &s.StopBits, &s.Paritet, &s.LatencyPeriod,
                            &s.DTRControl, &s.RTSControl, &s.WriteTimeOutMultiplier, &s.WriteTimeOutConstant};
    for (const auto &[field, value] : changes)
        *fields[field] = value;
    return s;
}

SettingsSnapshot Fallback()
{
    return Defaults({{Dtr, "HandShake"}, {Rts, "HandShake"}});
}

const QByteArray NineLines = "PortNumber=COM3\r\nTransferRate=19200 baud\r\nStopBits=2 bit\r\n"
                             "Paritet=Even\r\nLatencyPeriod=50 millisecond\r\nDTRControl=Enable\r\n"
                             "RTSControl=HandShake\r\nWriteTimeOutMultiplier=3\r\nWriteTimeOutConstant=-7\r\n";

const SettingsSnapshot NineValues{"COM3",   "19200 baud", "2 bit", "Even", "50 millisecond",
                                  "Enable", "HandShake",  "3",     "-7"};

QByteArray NineWith(const char *from, const char *to)
{
    return QByteArray(NineLines).replace(from, to);
}

bool WriteFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

QByteArray ReadFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

} // namespace

class TestComSettings : public QObject {
    Q_OBJECT
private slots:
    void init();
    void loading_data();
    void loading();
    void missingKeysKeepCurrentValuesAndBadFilesFallBack();
    void savingAndLoadingBack();
    void failedSaveKeepsPreviousFile();
    void snapshots_data();
    void snapshots();
    void settingsFileChosenAndSaved_data();
    void settingsFileChosenAndSaved();
    void userConfigDir_data();
    void userConfigDir();

private:
    std::unique_ptr<QTemporaryDir> dir_;
    QString Path() const { return dir_->filePath("commport.cfg"); }
};

void TestComSettings::init()
{
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
}

void TestComSettings::loading_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("result");
    QTest::addColumn<SettingsSnapshot>("expected");

    QTest::newRow("all nine lines") << NineLines << true << NineValues;
    QTest::newRow("only the port: the rest at window defaults")
        << QByteArray("PortNumber=COM2\r\n") << true << Defaults({{Port, "COM2"}});
    QTest::newRow("keys in any order") << QByteArray("WriteTimeOutConstant=5\r\nPortNumber=COM4\r\n")
                                       << true << Defaults({{Port, "COM4"}, {WriteConst, "5"}});
    QTest::newRow("empty file") << QByteArray() << true << Defaults();
    QTest::newRow("multiplier not a whole number: all fall back")
        << NineWith("Multiplier=3", "Multiplier=1.5") << false << Fallback();
    QTest::newRow("constant empty: all fall back") << NineWith("Constant=-7", "Constant=") << false << Fallback();
    QTest::newRow("constant beyond 32 bits: all fall back")
        << NineWith("Constant=-7", "Constant=2147483648") << false << Fallback();
    QTest::newRow("integers with blanks around and a sign")
        << QByteArray("WriteTimeOutMultiplier= +12 \r\nWriteTimeOutConstant=-2147483648\r\n") << true
        << Defaults({{WriteMult, "12"}, {WriteConst, "-2147483648"}});
    QTest::newRow("tenth line never read")
        << NineLines + "PortNumber=COM9\r\nWriteTimeOutConstant=x\r\n" << true << NineValues;
    QTest::newRow("blank before '=' matches nothing; blank after is kept")
        << QByteArray("PortNumber =COM2\r\nTransferRate= 4800 baud\r\n") << true
        << Defaults({{Rate, " 4800 baud"}});
    QTest::newRow("trailing blanks kept")
        << QByteArray("TransferRate=19200 baud  \r\n") << true << Defaults({{Rate, "19200 baud  "}});
    QTest::newRow("repeated key takes the later value; '=' in value kept")
        << QByteArray("PortNumber=COM2\r\nPortNumber=a=b\r\n") << true << Defaults({{Port, "a=b"}});
    QTest::newRow("keys are case-sensitive; lines without '=' ignored")
        << QByteArray("portnumber=COM2\r\nPortNumber\r\n=COM3\r\n") << true << Defaults();
    QTest::newRow("empty value kept") << QByteArray("Paritet=\r\n") << true << Defaults({{Parity, ""}});
    QTest::newRow("LF and lone CR end lines too") << QByteArray("PortNumber=COM2\nStopBits=2 bit\rParitet=Odd")
                                                  << true
                                                  << Defaults({{Port, "COM2"}, {Stop, "2 bit"}, {Parity, "Odd"}});
    QTest::newRow("code page 1251 bytes as they are")
        << QByteArray("PortNumber=\xCF\xEE\xF0\xF2 \xB9" "1\r\n") << true
        << Defaults({{Port, "\xCF\xEE\xF0\xF2 \xB9" "1"}});
    QTest::newRow("binary garbage") << QByteArray("\x00\x01\xFF\xFE\r\n\x00\x00", 8) << true << Defaults();
    QTest::newRow("over-long first line: all fall back")
        << QByteArray("PortNumber=") + QByteArray(200000, 'x') << false << Fallback();
    QTest::newRow("over-long tenth line is never read") << NineLines + QByteArray(200000, 'x') << true << NineValues;
}

void TestComSettings::loading()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, result);
    QFETCH(SettingsSnapshot, expected);
    QVERIFY(WriteFile(Path(), content));
    TComSettings s;
    QCOMPARE(s.LoadSettings(Path()), result);
    QCOMPARE(s.GetSettings(), expected);
}

void TestComSettings::missingKeysKeepCurrentValuesAndBadFilesFallBack()
{
    TComSettings s;
    s.SetSettings(NineValues);
    QVERIFY(WriteFile(Path(), "Paritet=Mark\r\n"));
    QVERIFY(s.LoadSettings(Path()));
    SettingsSnapshot expected = NineValues;
    expected.Paritet = "Mark";
    QCOMPARE(s.GetSettings(), expected);

    QVERIFY(!s.LoadSettings(dir_->filePath("absent.cfg")));
    QCOMPARE(s.GetSettings(), Fallback());

    s.SetSettings(NineValues);
    QVERIFY(QDir(dir_->path()).mkdir("folder.cfg"));
    QVERIFY(!s.LoadSettings(dir_->filePath("folder.cfg")));
    QCOMPARE(s.GetSettings(), Fallback());

    s.SetSettings(NineValues); // a pipe nobody writes to: refused, not waited on
    QCOMPARE(::mkfifo(QFile::encodeName(dir_->filePath("pipe.cfg")).constData(), 0600), 0);
    QVERIFY(!s.LoadSettings(dir_->filePath("pipe.cfg")));
    QCOMPARE(s.GetSettings(), Fallback());
}

void TestComSettings::savingAndLoadingBack()
{
    // The exact bytes: nine lines in order, CR LF.
    TComSettings s;
    s.SetSettings(NineValues);
    QVERIFY(s.SaveSettings(Path()));
    QCOMPARE(ReadFile(Path()), NineLines);

    // Typed texts come back as they were.
    const SettingsSnapshot typed{"/dev/pts/7", "19200 baud  ", " 1 bit",     "none",      "\xC1\xFB\xF1\xF2\xF0\xEE",
                                 "enable",     "X=Y",          "-1",         "2147483647"};
    s.SetSettings(typed);
    QVERIFY(s.SaveSettings(Path()));
    TComSettings back;
    QVERIFY(back.LoadSettings(Path()));
    QCOMPARE(back.GetSettings(), typed);

    // A name without a folder lies in the program folder.
    const QString before = ProgramDir();
    SetProgramDir(dir_->path());
    back.PortNumber = "COM2";
    const bool saved = back.SaveSettings("commport.cfg");
    const bool loaded = s.LoadSettings("commport.cfg");
    SetProgramDir(before);
    QVERIFY(saved && loaded);
    QCOMPARE(s.PortNumber, QByteArray("COM2"));
}

void TestComSettings::failedSaveKeepsPreviousFile()
{
    QVERIFY(WriteFile(Path(), NineLines));
    TComSettings s;
    s.PortNumber = "COM2";

    // The folder does not exist.
    QVERIFY(!s.SaveSettings(dir_->filePath("missing/commport.cfg")));

    // The write fails half-way (a file size limit, which binds root too).
    struct rlimit old {};
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit tiny = old;
    tiny.rlim_cur = 16;
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &tiny), 0);
    const bool saved = s.SaveSettings(Path());
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    QVERIFY(!saved);
    QCOMPARE(ReadFile(Path()), NineLines);
    QCOMPARE(QDir(dir_->path()).entryList(QDir::Files), QStringList{"commport.cfg"});

    // A folder that cannot be written (permissions do not bind root).
    if (geteuid() != 0) {
        QVERIFY(QFile::setPermissions(dir_->path(), QFile::ReadOwner | QFile::ExeOwner));
        const bool savedReadOnly = s.SaveSettings(Path());
        QFile::setPermissions(dir_->path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QVERIFY(!savedReadOnly);
        QCOMPARE(ReadFile(Path()), NineLines);
    }

    // A line break inside a value would shift the lines: not written.
    s.PortNumber = "COM1\r\nTransferRate=75 baud";
    QVERIFY(!s.SaveSettings(Path()));
    QCOMPARE(ReadFile(Path()), NineLines);
}

void TestComSettings::snapshots_data()
{
    QTest::addColumn<SettingsSnapshot>("given");
    QTest::addColumn<SettingsSnapshot>("expected");
    QTest::newRow("non-empty texts unchanged") << NineValues << NineValues;
    QTest::newRow("empty texts: fallback defaults") << SettingsSnapshot{} << Fallback();
    QTest::newRow("integers that are no numbers: 0")
        << Defaults({{WriteMult, "abc"}, {WriteConst, "99999999999"}}) << Defaults();
}

void TestComSettings::snapshots()
{
    QFETCH(SettingsSnapshot, given);
    QFETCH(SettingsSnapshot, expected);
    TComSettings s;
    s.SetSettings(given);
    QCOMPARE(s.GetSettings(), expected);
    if (given == SettingsSnapshot{}) {
        TComSettings fresh; // the window defaults at construction
        QCOMPARE(fresh.GetSettings(), Defaults());
    }
}

// Which file is read and which is saved, for a program folder that can or
// cannot be written, with and without a file beside the program and one of
// the user's; then a save lands where the rule said, its folder made first.
void TestComSettings::settingsFileChosenAndSaved_data()
{
    QTest::addColumn<bool>("writable");
    QTest::addColumn<bool>("besideProgram");
    QTest::addColumn<bool>("userFile");
    QTest::addColumn<QString>("read"); // "program", "user"
    QTest::addColumn<QString>("saved");

    QTest::newRow("writable folder, its own file") << true << true << false << "program" << "program";
    QTest::newRow("writable folder, no file yet") << true << false << false << "program" << "program";
    QTest::newRow("writable folder: a user file is not looked at") << true << true << true << "program" << "program";
    QTest::newRow("read-only folder without a user file: read beside, saved for the user")
        << false << true << false << "program" << "user";
    QTest::newRow("read-only folder with a user file") << false << true << true << "user" << "user";
    QTest::newRow("read-only folder, no file anywhere") << false << false << false << "program" << "user";
}

void TestComSettings::settingsFileChosenAndSaved()
{
    QFETCH(bool, writable);
    QFETCH(bool, besideProgram);
    QFETCH(bool, userFile);
    QFETCH(QString, read);
    QFETCH(QString, saved);

    const QString programDir = dir_->filePath("bin");
    const QString userDir = dir_->filePath("home/.config/kvarn");
    QVERIFY(QDir().mkpath(programDir));
    const QString programFile = programDir + "/commport.cfg";
    const QString ownFile = userDir + "/commport.cfg";
    if (besideProgram)
        QVERIFY(WriteFile(programFile, NineLines));
    if (userFile) {
        QVERIFY(QDir().mkpath(userDir));
        QVERIFY(WriteFile(ownFile, NineWith("COM3", "/dev/ttyUSB1")));
    }

    const TComSettingsFile file = TComSettingsFile::Find(programDir, writable, userDir);
    QCOMPARE(file.ReadPath, read == "program" ? programFile : ownFile);
    QCOMPARE(file.SavePath, saved == "program" ? programFile : ownFile);

    TComSettings s;
    QCOMPARE(s.LoadSettings(file.ReadPath), besideProgram || read == "user");
    const QByteArray expectedPort = read == "user" ? "/dev/ttyUSB1" : besideProgram ? "COM3" : "COM1";
    QCOMPARE(s.PortNumber, expectedPort);

    s.PortNumber = "/dev/ttyACM0";
    QVERIFY(file.Save(s));
    TComSettings back;
    QVERIFY(back.LoadSettings(file.SavePath));
    QCOMPARE(back.PortNumber, QByteArray("/dev/ttyACM0"));
    // The file beside a read-only program is left as it was.
    if (!writable && besideProgram)
        QCOMPARE(ReadFile(programFile), NineLines);
    QCOMPARE(TComSettingsFile::Find(programDir, writable, userDir).ReadPath, file.SavePath);
}

void TestComSettings::userConfigDir_data()
{
    QTest::addColumn<QByteArray>("xdg");
    QTest::addColumn<QString>("expected");
    QTest::newRow("unset") << QByteArray() << QDir::homePath() + "/.config/kvarn";
    QTest::newRow("absolute") << QByteArray("/srv/cfg/") << "/srv/cfg/kvarn";
    QTest::newRow("relative is ignored") << QByteArray("cfg") << QDir::homePath() + "/.config/kvarn";
}

void TestComSettings::userConfigDir()
{
    QFETCH(QByteArray, xdg);
    QFETCH(QString, expected);
    const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
    const bool had = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
    if (xdg.isEmpty())
        qunsetenv("XDG_CONFIG_HOME");
    else
        qputenv("XDG_CONFIG_HOME", xdg);
    const QString dir = TComSettingsFile::UserConfigDir();
    if (had)
        qputenv("XDG_CONFIG_HOME", saved);
    else
        qunsetenv("XDG_CONFIG_HOME");
    QCOMPARE(dir, expected);

    // A folder that is not there can take no file; a temporary one can.
    QVERIFY(!TComSettingsFile::FolderWritable(dir_->filePath("missing")));
    QVERIFY(TComSettingsFile::FolderWritable(dir_->path()));
}

QTEST_GUILESS_MAIN(TestComSettings)
#include "tst_comsettings.moc"
