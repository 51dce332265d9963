// The application shell's rules without any window: which tabs a privilege
// text opens, which command a button starts on which page, how the tool bar
// looks per page, the test-mode pause file and the clock's text.

#include "app/clocktext.h"
#include "app/commands.h"
#include "app/privileges.h"
#include "app/testmodepause.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <set>

namespace {
// Tabs written compactly: "1 3 4 | 1 2 | 2" = pages | settings sub-pages | spectrum sub-pages.
TPageTabs tabsFrom(const char *text)
{
    TPageTabs tabs;
    const QList<QByteArray> parts = QByteArray(text).split('|');
    auto mark = [](const QByteArray &part, auto &flags) {
        for (const QByteArray &n : part.simplified().split(' '))
            if (!n.isEmpty())
                flags.at(n.toInt() - 1) = true;
    };
    mark(parts.value(0), tabs.Pages);
    mark(parts.value(1), tabs.SettingsSubPages);
    mark(parts.value(2), tabs.SpectrSubPages);
    return tabs;
}

QByteArray describe(const TPageTabs &tabs)
{
    QByteArray out;
    auto list = [&out](const auto &flags) {
        for (size_t i = 0; i < flags.size(); ++i)
            if (flags[i])
                out += QByteArray::number(int(i + 1)) + ' ';
    };
    list(tabs.Pages);
    out += "| ";
    list(tabs.SettingsSubPages);
    out += "| ";
    list(tabs.SpectrSubPages);
    return out.trimmed();
}

bool writeFile(const QString &name, const QByteArray &bytes)
{
    QFile f(name);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}
} // namespace

class TestShellRules : public QObject {
    Q_OBJECT
private slots:
    void privileges_data();
    void privileges();
    void commandKinds();
    void buttonCommandsByPage();
    void pageControls();
    void pauseFileReading_data();
    void pauseFileReading();
    void pauseFileWriting();
    void pollInterval();
    void clockText_data();
    void clockText();
};

void TestShellRules::privileges_data()
{
    QTest::addColumn<QByteArray>("privileges");
    QTest::addColumn<QByteArray>("tabs");

    const struct {
        const char *privileges;
        const char *tabs;
    } rows[] = {
        {"1-1;1-2;1-3;2-1;2-2;3;4;", "1 2 3 4 | 1 2 3 | 1 2"},
        {"1-1;", "1 | 1 |"},
        {"", "| |"},
        {"2;", "| |"},
        {"1;", "| |"},
        {"1-7;", "| |"},
        {"1-0;", "| |"},
        {"5-1;", "| |"},
        {"0;", "| |"},
        {"2-3;", "| |"},
        {"x-2;", "1 | 2 |"},
        {"1-y;", "1 | 1 |"},       // a sub-page that is no number counts as 1
        {"3;4", "3 4 | |"},        // the last entry may lack its ";"
        {"-2;3;", "3 | |"},        // no page number: skipped
        {"1-;2-2;", "2 | | 2"},    // "-" without a sub-page opens no sub-page
        {" 3 ;", "3 | |"},         // blanks around a number
        {"1-2-3;", "1 | 1 |"},     // "2-3" is no number: sub-page 1
        {"99999999999999999999;", "| |"}, // too big for a number: page 1, without sub-pages nothing
        {";;;4;;", "4 | |"},
        {"1-3;1-3;", "1 | 3 |"},
        {"2-1;1-1;", "1 2 | 1 | 1"},
        {"3;4;2;1;", "3 4 | |"},
    };
    for (const auto &r : rows)
        QTest::newRow(r.privileges[0] ? r.privileges : "(empty)") << QByteArray(r.privileges) << QByteArray(r.tabs);
}

void TestShellRules::privileges()
{
    QFETCH(QByteArray, privileges);
    QFETCH(QByteArray, tabs);
    QCOMPARE(describe(TabsForPrivileges(privileges)), describe(tabsFrom(tabs)));
}

void TestShellRules::commandKinds()
{
    // Every command has its own name; reads and writes are apart.
    std::set<QByteArray> names;
    int reads = 0, writes = 0;
    for (int i = 0; i < kCommandCount; ++i) {
        const TCommand c = TCommand(i);
        const QByteArray name = CommandName(c);
        QVERIFY(name.startsWith("cmd"));
        names.insert(name);
        QVERIFY(!(IsReadCommand(c) && IsWriteCommand(c)));
        reads += IsReadCommand(c);
        writes += IsWriteCommand(c);
    }
    QCOMPARE(int(names.size()), 22);
    QCOMPARE(reads, 7);
    QCOMPARE(writes, 5);
    QVERIFY(IsReadCommand(cmdTestPoll));
    QVERIFY(IsReadCommand(cmdReadArchive));
    QVERIFY(IsWriteCommand(cmdWriteAlarmUnit));
    QVERIFY(!IsReadCommand(cmdLoadSpectrumFile) && !IsWriteCommand(cmdSaveArchiveFile));
    QCOMPARE(QByteArray(CommandName(TCommand(kCommandCount))), QByteArray());
}

void TestShellRules::buttonCommandsByPage()
{
    using Opt = std::optional<TCommand>;
    const auto sel = [](int page, int settings, int spectr) { return TPageSelection{page, settings, spectr}; };

    // The sub-page of the other page control does not matter.
    QCOMPARE(RequestCommand(sel(pgSettings, spCounter, spBackgroundSpectr)), Opt(cmdReadCounter));
    QCOMPARE(RequestCommand(sel(pgSpectr, spService, spBackgroundSpectr)), Opt(cmdReadBackgroundSpectrum));
    QCOMPARE(RequestCommand(sel(pgSpectr, spCommon, spMainSpectr)), Opt(cmdReadSpectrum));
    QCOMPARE(RequestCommand(sel(pgArchive, spCounter, spBackgroundSpectr)), Opt(cmdReadArchive));
    QCOMPARE(RequestCommand(sel(pgTerminal, spCommon, spMainSpectr)), Opt());
    QCOMPARE(DispatchCommand(sel(pgSettings, spService, spMainSpectr)), Opt(cmdWriteService));
    QCOMPARE(DispatchCommand(sel(pgSpectr, spCommon, spMainSpectr)), Opt());
    QCOMPARE(LoadFileCommand(sel(pgArchive, spCounter, spMainSpectr)), Opt(cmdLoadArchiveFile));
    QCOMPARE(SaveFileCommand(sel(pgSpectr, spCounter, spBackgroundSpectr)), Opt(cmdSaveSpectrumFile));
    QCOMPARE(LoadFileCommand(sel(pgSettings, spCommon, spMainSpectr)), Opt());
    QCOMPARE(SaveFileCommand(sel(pgTerminal, spCommon, spMainSpectr)), Opt());

    // No page or no sub-page active (every tab hidden): nothing at all.
    for (int page : {0, 5, -1}) {
        QCOMPARE(RequestCommand(sel(page, spCommon, spMainSpectr)), Opt());
        QCOMPARE(DispatchCommand(sel(page, spCommon, spMainSpectr)), Opt());
        QCOMPARE(LoadFileCommand(sel(page, spCommon, spMainSpectr)), Opt());
    }
    QCOMPARE(RequestCommand(sel(pgSettings, 0, spMainSpectr)), Opt());
    QCOMPARE(RequestCommand(sel(pgSpectr, spCommon, 0)), Opt());
    QCOMPARE(DispatchCommand(sel(pgSettings, 4, spMainSpectr)), Opt());
    QCOMPARE(SettingsReadCommand(0), Opt());
    QCOMPARE(SettingsReadCommand(spService), Opt(cmdReadService));
}

void TestShellRules::pageControls()
{
    QCOMPARE(PageControls(pgSettings), (TPageControls{false, true, true}));
    QCOMPARE(PageControls(pgSpectr), (TPageControls{true, true, true}));
    QCOMPARE(PageControls(pgArchive), (TPageControls{true, true, false}));
    QCOMPARE(PageControls(pgTerminal), (TPageControls{false, false, false}));
    QCOMPARE(PageControls(0), (TPageControls{false, false, false}));
}

void TestShellRules::pauseFileReading_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("pause");
    QTest::newRow("plain") << QByteArray("25\r\n") << 25;
    QTest::newRow("blanks around") << QByteArray("  30 \t\r\n") << 30;
    QTest::newRow("no line end") << QByteArray("7") << 7;
    QTest::newRow("LF only, more lines") << QByteArray("12\nabc\n") << 12;
    QTest::newRow("only the first line counts") << QByteArray("\r\n30\r\n") << 10;
    QTest::newRow("not a number") << QByteArray("abc\r\n") << 10;
    QTest::newRow("decimal fraction") << QByteArray("2.5\r\n") << 10;
    QTest::newRow("empty file") << QByteArray() << 10;
    QTest::newRow("out of the dialog's range is kept") << QByteArray("300\r\n") << 300;
    QTest::newRow("zero is kept") << QByteArray("0\r\n") << 0;
    QTest::newRow("negative is kept") << QByteArray("-5\r\n") << -5;
    QTest::newRow("beyond 32 bits") << QByteArray("4294967296\r\n") << 10;
    QTest::newRow("binary") << QByteArray("\x00\xff\x01", 3) << 10;
    QTest::newRow("endless first line") << QByteArray(1 << 20, '1') << 10;
}

void TestShellRules::pauseFileReading()
{
    QFETCH(QByteArray, content);
    QFETCH(int, pause);
    QTemporaryDir dir;
    const QString name = dir.filePath(QStringLiteral("kvarn.dtf"));
    QVERIFY(writeFile(name, content));
    QCOMPARE(LoadTestModePauseFile(name), pause);
    // Reading changes nothing.
    QFile f(name);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), content);
}

void TestShellRules::pauseFileWriting()
{
    QTemporaryDir dir;
    const QString name = dir.filePath(QStringLiteral("kvarn.dtf"));
    QCOMPARE(LoadTestModePauseFile(name), kDefaultTestModePause); // missing

    QVERIFY(SaveTestModePauseFile(name, 25));
    QFile f(name);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("25\r\n"));
    f.close();
    QVERIFY(SaveTestModePauseFile(name, 255));
    QCOMPARE(LoadTestModePauseFile(name), 255);

    // A folder that does not exist: false, and nothing is left behind.
    const QString nowhere = dir.filePath(QStringLiteral("missing/kvarn.dtf"));
    QVERIFY(!SaveTestModePauseFile(nowhere, 25));
    QVERIFY(!QFile::exists(nowhere));
    // The name is a folder: the write fails and the folder stays.
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("taken")));
    QVERIFY(!SaveTestModePauseFile(dir.filePath(QStringLiteral("taken")), 25));
    QVERIFY(QFileInfo(dir.filePath(QStringLiteral("taken"))).isDir());
}

void TestShellRules::pollInterval()
{
    QCOMPARE(TestModeTimerInterval(10), 10000);
    QCOMPARE(TestModeTimerInterval(1), 1000);
    QCOMPARE(TestModeTimerInterval(255), 255000);
    // Never a continuous poll, never an overflow.
    QCOMPARE(TestModeTimerInterval(0), 1000);
    QCOMPARE(TestModeTimerInterval(-5), 1000);
    QCOMPARE(TestModeTimerInterval(std::numeric_limits<qint32>::min()), 1000);
    QCOMPARE(TestModeTimerInterval(3000000), std::numeric_limits<int>::max());
    QCOMPARE(TestModeTimerInterval(std::numeric_limits<qint32>::max()), std::numeric_limits<int>::max());
}

void TestShellRules::clockText_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QTime>("time");
    QTest::addColumn<QString>("text");
    // The long time format without the zone some locales put into it.
    QTest::newRow("ru") << "ru_RU" << QTime(9, 5, 3) << "09:05:03";
    QTest::newRow("ru evening") << "ru_RU" << QTime(21, 45, 59) << "21:45:59";
    QTest::newRow("en_US") << "en_US" << QTime(21, 5, 3) << "9:05:03 PM";
    QTest::newRow("de") << "de_DE" << QTime(7, 0, 0) << "07:00:00";
    QTest::newRow("C") << "C" << QTime(7, 0, 0) << "07:00:00";
}

void TestShellRules::clockText()
{
    QFETCH(QString, locale);
    QFETCH(QTime, time);
    QFETCH(QString, text);
    const QLocale l(locale);
    QCOMPARE(ClockText(time, l), text);
    QVERIFY(!ClockFormat(l).contains(u't'));
}

QTEST_MAIN(TestShellRules)
#include "tst_shellrules.moc"
