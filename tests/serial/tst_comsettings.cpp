// The settings file "commport.cfg": every reading rule, the exact bytes
// written, the round trip, and saves that fail without harming the old file.

#include "protocol/textutils.h"
#include "serial/comsettings.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>
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

SettingsSnapshot Snap(const QByteArray &port, const QByteArray &rate, const QByteArray &stop,
                      const QByteArray &parity, const QByteArray &latency, const QByteArray &dtr,
                      const QByteArray &rts, const QByteArray &wm, const QByteArray &wc)
{
    return SettingsSnapshot{port, rate, stop, parity, latency, dtr, rts, wm, wc};
}

SettingsSnapshot WindowDefaults()
{
    return Snap("COM1", "9600 baud", "1 bit", "None", "Approximately 0.25 second", "Disable",
                "Disable", "0", "0");
}

SettingsSnapshot FallbackDefaults()
{
    return Snap("COM1", "9600 baud", "1 bit", "None", "Approximately 0.25 second", "HandShake",
                "HandShake", "0", "0");
}

QByteArray NineLines()
{
    return "PortNumber=COM3\r\n"
           "TransferRate=19200 baud\r\n"
           "StopBits=2 bit\r\n"
           "Paritet=Even\r\n"
           "LatencyPeriod=50 millisecond\r\n"
           "DTRControl=Enable\r\n"
           "RTSControl=HandShake\r\n"
           "WriteTimeOutMultiplier=3\r\n"
           "WriteTimeOutConstant=-7\r\n";
}

SettingsSnapshot NineValues()
{
    return Snap("COM3", "19200 baud", "2 bit", "Even", "50 millisecond", "Enable", "HandShake",
                "3", "-7");
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
    void defaultsAtConstruction();
    void loading_data();
    void loading();
    void missingKeysKeepCurrentValues();
    void unreadableFileGivesFallbackDefaults();
    void fileNameWithoutFolderLiesInProgramDir();
    void savingWritesNineCrLfLinesInOrder();
    void roundTripKeepsTypedTexts();
    void failedSaveKeepsPreviousFile();
    void lineBreakInValueIsNotSaved();
    void snapshots_data();
    void snapshots();

private:
    std::unique_ptr<QTemporaryDir> dir_;
    QString Path() const { return dir_->filePath("commport.cfg"); }
};

void TestComSettings::init()
{
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
}

void TestComSettings::defaultsAtConstruction()
{
    TComSettings s;
    QCOMPARE(s.GetSettings(), WindowDefaults());
    s.SetFallbackDefaults();
    QCOMPARE(s.GetSettings(), FallbackDefaults());
    QCOMPARE(TComSettings::TransferRateItems().size(), 17);
    QCOMPARE(TComSettings::LatencyPeriodItems().size(), 18);
}

void TestComSettings::loading_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("result");
    QTest::addColumn<SettingsSnapshot>("expected");

    QTest::newRow("all nine lines") << NineLines() << true << NineValues();
    QTest::newRow("keys in another order") << QByteArray("WriteTimeOutConstant=5\r\nPortNumber=COM4\r\n")
                                           << true
                                           << Snap("COM4", "9600 baud", "1 bit", "None",
                                                   "Approximately 0.25 second", "Disable", "Disable",
                                                   "0", "5");
    QTest::newRow("only the port: the rest at window defaults")
        << QByteArray("PortNumber=COM2\r\n") << true
        << Snap("COM2", "9600 baud", "1 bit", "None", "Approximately 0.25 second", "Disable",
                "Disable", "0", "0");
    QTest::newRow("empty file") << QByteArray() << true << WindowDefaults();
    QTest::newRow("multiplier not a whole number: all fall back")
        << NineLines().replace("WriteTimeOutMultiplier=3", "WriteTimeOutMultiplier=1.5") << false
        << FallbackDefaults();
    QTest::newRow("constant empty: all fall back")
        << NineLines().replace("WriteTimeOutConstant=-7", "WriteTimeOutConstant=") << false
        << FallbackDefaults();
    QTest::newRow("constant beyond 32 bits: all fall back")
        << NineLines().replace("WriteTimeOutConstant=-7", "WriteTimeOutConstant=2147483648") << false
        << FallbackDefaults();
    QTest::newRow("tenth line never read")
        << NineLines() + "PortNumber=COM9\r\nWriteTimeOutConstant=x\r\n" << true << NineValues();
    QTest::newRow("blank before '=' matches nothing; blank after is kept")
        << QByteArray("PortNumber =COM2\r\nTransferRate= 4800 baud\r\n") << true
        << Snap("COM1", " 4800 baud", "1 bit", "None", "Approximately 0.25 second", "Disable",
                "Disable", "0", "0");
    QTest::newRow("trailing blanks kept")
        << QByteArray("TransferRate=19200 baud  \r\n") << true
        << Snap("COM1", "19200 baud  ", "1 bit", "None", "Approximately 0.25 second", "Disable",
                "Disable", "0", "0");
    QTest::newRow("repeated key takes the later value; '=' in value kept")
        << QByteArray("PortNumber=COM2\r\nPortNumber=a=b\r\n") << true
        << Snap("a=b", "9600 baud", "1 bit", "None", "Approximately 0.25 second", "Disable",
                "Disable", "0", "0");
    QTest::newRow("keys are case-sensitive; lines without '=' ignored")
        << QByteArray("portnumber=COM2\r\nPortNumber\r\n=COM3\r\n") << true << WindowDefaults();
    QTest::newRow("empty value is kept empty")
        << QByteArray("Paritet=\r\n") << true
        << Snap("COM1", "9600 baud", "1 bit", "", "Approximately 0.25 second", "Disable",
                "Disable", "0", "0");
    QTest::newRow("LF and lone CR end lines too")
        << QByteArray("PortNumber=COM2\nStopBits=2 bit\rParitet=Odd") << true
        << Snap("COM2", "9600 baud", "2 bit", "Odd", "Approximately 0.25 second", "Disable",
                "Disable", "0", "0");
    QTest::newRow("code page 1251 bytes as they are")
        << QByteArray("PortNumber=\xCF\xEE\xF0\xF2 \xB9" "1\r\n") << true
        << Snap("\xCF\xEE\xF0\xF2 \xB9" "1", "9600 baud", "1 bit", "None",
                "Approximately 0.25 second", "Disable", "Disable", "0", "0");
    QTest::newRow("integers with blanks around and a sign")
        << QByteArray("WriteTimeOutMultiplier= +12 \r\nWriteTimeOutConstant=-2147483648\r\n") << true
        << Snap("COM1", "9600 baud", "1 bit", "None", "Approximately 0.25 second", "Disable",
                "Disable", "12", "-2147483648");
    QTest::newRow("over-long first line: all fall back")
        << QByteArray("PortNumber=") + QByteArray(200000, 'x') + "\r\n" << false << FallbackDefaults();
    QTest::newRow("over-long tenth line is never read")
        << NineLines() + QByteArray(200000, 'x') << true << NineValues();
    QTest::newRow("binary garbage without '='")
        << QByteArray("\x00\x01\xFF\xFE\r\n\x00\x00", 8) << true << WindowDefaults();
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

void TestComSettings::missingKeysKeepCurrentValues()
{
    TComSettings s;
    s.SetSettings(NineValues());
    QVERIFY(WriteFile(Path(), "Paritet=Mark\r\n"));
    QVERIFY(s.LoadSettings(Path()));
    SettingsSnapshot expected = NineValues();
    expected.Paritet = "Mark";
    QCOMPARE(s.GetSettings(), expected);
}

void TestComSettings::unreadableFileGivesFallbackDefaults()
{
    TComSettings s;
    s.SetSettings(NineValues());
    QVERIFY(!s.LoadSettings(dir_->filePath("absent.cfg")));
    QCOMPARE(s.GetSettings(), FallbackDefaults());

    s.SetSettings(NineValues());
    QVERIFY(QDir(dir_->path()).mkdir("folder.cfg"));
    QVERIFY(!s.LoadSettings(dir_->filePath("folder.cfg")));
    QCOMPARE(s.GetSettings(), FallbackDefaults());
}

void TestComSettings::fileNameWithoutFolderLiesInProgramDir()
{
    const QString before = ProgramDir();
    SetProgramDir(dir_->path());
    QVERIFY(WriteFile(Path(), "PortNumber=COM4\r\n"));
    TComSettings s;
    const bool loaded = s.LoadSettings("commport.cfg");
    s.PortNumber = "COM2";
    const bool saved = s.SaveSettings("commport.cfg");
    SetProgramDir(before);
    QVERIFY(loaded);
    QVERIFY(saved);
    QVERIFY(ReadFile(Path()).startsWith("PortNumber=COM2\r\n"));
    QCOMPARE(TComSettings::ResolvePath("sub/commport.cfg"), QString("sub/commport.cfg"));
}

void TestComSettings::savingWritesNineCrLfLinesInOrder()
{
    TComSettings s;
    s.SetSettings(NineValues());
    QVERIFY(s.SaveSettings(Path()));
    QCOMPARE(ReadFile(Path()), NineLines());
}

void TestComSettings::roundTripKeepsTypedTexts()
{
    const SettingsSnapshot typed = Snap("/dev/pts/7", "19200 baud  ", " 1 bit", "none",
                                        "\xC1\xFB\xF1\xF2\xF0\xEE", "enable", "X=Y", "-1",
                                        "2147483647");
    TComSettings s;
    s.SetSettings(typed);
    QVERIFY(s.SaveSettings(Path()));
    TComSettings back;
    QVERIFY(back.LoadSettings(Path()));
    QCOMPARE(back.GetSettings(), typed);
    QCOMPARE(back, s);
}

void TestComSettings::failedSaveKeepsPreviousFile()
{
    QVERIFY(WriteFile(Path(), NineLines()));
    TComSettings s;
    s.PortNumber = "COM2";

    // The folder does not exist.
    QVERIFY(!s.SaveSettings(dir_->filePath("missing/commport.cfg")));

    // The write itself fails half-way (file size limit; works for root too).
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
    QCOMPARE(ReadFile(Path()), NineLines());
    QCOMPARE(QDir(dir_->path()).entryList(QDir::Files), QStringList{"commport.cfg"});

    // A folder that cannot be written (permissions do not bind root).
    if (geteuid() != 0) {
        QVERIFY(QFile::setPermissions(dir_->path(), QFile::ReadOwner | QFile::ExeOwner));
        const bool savedReadOnly = s.SaveSettings(Path());
        QFile::setPermissions(dir_->path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QVERIFY(!savedReadOnly);
        QCOMPARE(ReadFile(Path()), NineLines());
    }
}

void TestComSettings::lineBreakInValueIsNotSaved()
{
    QVERIFY(WriteFile(Path(), NineLines()));
    TComSettings s;
    s.PortNumber = "COM1\r\nTransferRate=75 baud";
    QVERIFY(!s.SaveSettings(Path()));
    QCOMPARE(ReadFile(Path()), NineLines());
}

void TestComSettings::snapshots_data()
{
    QTest::addColumn<SettingsSnapshot>("given");
    QTest::addColumn<SettingsSnapshot>("expected");
    QTest::newRow("non-empty texts unchanged") << NineValues() << NineValues();
    QTest::newRow("empty texts: fallback defaults")
        << SettingsSnapshot{} << FallbackDefaults();
    QTest::newRow("integers that are no numbers: 0")
        << Snap("COM2", "x", "y", "z", "w", "v", "u", "abc", "99999999999")
        << Snap("COM2", "x", "y", "z", "w", "v", "u", "0", "0");
}

void TestComSettings::snapshots()
{
    QFETCH(SettingsSnapshot, given);
    QFETCH(SettingsSnapshot, expected);
    TComSettings s;
    s.SetSettings(given);
    QCOMPARE(s.GetSettings(), expected);
}

QTEST_GUILESS_MAIN(TestComSettings)
#include "tst_comsettings.moc"
