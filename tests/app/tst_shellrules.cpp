// The application shell's rules without a window: the tabs a privilege text
// opens, commands when no page is active, the test-mode pause file and poll
// interval, and the clock's text.

#include "app/clocktext.h"
#include "app/commands.h"
#include "app/privileges.h"
#include "app/testmodepause.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {
// "1 3 | 1 2 | 2": the pages, the settings sub-pages and the spectrum sub-pages shown.
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
    return out.simplified();
}
} // namespace

class TestShellRules : public QObject {
    Q_OBJECT
private slots:
    void privileges_data();
    void privileges();
    void nothingRunsWithoutAnActivePage();
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
    const char *rows[][2] = {
        {"1-1;1-2;1-3;2-1;2-2;3;4;", "1 2 3 4 | 1 2 3 | 1 2"},
        {"1-1;", "1 | 1 |"},
        {"", "| |"},
        {"1;", "| |"},      // a page with sub-pages opens only through one of them
        {"1-0;", "| |"},
        {"2-3;", "| |"},
        {"0;", "| |"},
        {"1-y;", "1 | 1 |"},    // a sub-page that is no number counts as 1
        {"-2;3;", "3 | |"},     // no page number: skipped
        {"1-;2-2;", "2 | | 2"}, // "-" without a sub-page opens none
        {" 3 ;", "3 | |"},
        {"1-2-3;", "1 | 1 |"},                   // "2-3" is no number
        {"99999999999999999999;4", "4 | |"},     // too big: page 1, which has no sub-page open
        {";;;4;;", "4 | |"},
        {"2-1;1-1;", "1 2 | 1 | 1"},
    };
    for (const auto &r : rows)
        QTest::newRow(r[0][0] ? r[0] : "(empty)") << QByteArray(r[0]) << QByteArray(r[1]);
}

void TestShellRules::privileges()
{
    QFETCH(QByteArray, privileges);
    QFETCH(QByteArray, tabs);
    QCOMPARE(describe(TabsForPrivileges(privileges)), tabs);
}

void TestShellRules::nothingRunsWithoutAnActivePage()
{
    // Every tab hidden leaves no page (0) or no sub-page active.
    for (const TPageSelection s : {TPageSelection{0, 1, 1}, TPageSelection{pgSettings, 0, 1},
                                   TPageSelection{pgSpectr, 1, 0}, TPageSelection{5, 1, 1}}) {
        QVERIFY(!RequestCommand(s) && !DispatchCommand(s) && !LoadFileCommand(s) && !SaveFileCommand(s));
    }
    QCOMPARE(PageControls(0), (TPageControls{false, false, false}));
    QVERIFY(!SettingsReadCommand(4));
}

void TestShellRules::pauseFileReading_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("pause");
    QTest::newRow("blanks around") << QByteArray("  30 \t\r\n") << 30;
    QTest::newRow("no line end") << QByteArray("7") << 7;
    QTest::newRow("LF only, more lines") << QByteArray("12\nabc\n") << 12;
    QTest::newRow("only the first line counts") << QByteArray("\r\n30\r\n") << 10;
    QTest::newRow("not a number") << QByteArray("abc\r\n") << 10;
    QTest::newRow("fraction") << QByteArray("2.5\r\n") << 10;
    QTest::newRow("empty file") << QByteArray() << 10;
    QTest::newRow("beyond the dialog's range, kept") << QByteArray("300\r\n") << 300;
    QTest::newRow("negative, kept") << QByteArray("-5\r\n") << -5;
    QTest::newRow("beyond 32 bits") << QByteArray("4294967296\r\n") << 10;
    QTest::newRow("binary") << QByteArray("\x00\xff\x01", 3) << 10;
    QTest::newRow("endless first line") << QByteArray(1 << 20, '1') << 10;
}

void TestShellRules::pauseFileReading()
{
    QFETCH(QByteArray, content);
    QFETCH(int, pause);
    QTemporaryDir dir;
    QFile f(dir.filePath(QStringLiteral("kvarn.dtf")));
    QVERIFY(f.open(QIODevice::WriteOnly) && f.write(content) == content.size());
    f.close();
    QCOMPARE(LoadTestModePauseFile(f.fileName()), pause);
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

    // Failures say so and leave nothing behind.
    const QString nowhere = dir.filePath(QStringLiteral("missing/kvarn.dtf"));
    QVERIFY(!SaveTestModePauseFile(nowhere, 25));
    QVERIFY(!QFile::exists(nowhere));
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("taken")));
    QVERIFY(!SaveTestModePauseFile(dir.filePath(QStringLiteral("taken")), 25));
    QVERIFY(QFileInfo(dir.filePath(QStringLiteral("taken"))).isDir());
}

void TestShellRules::pollInterval()
{
    QCOMPARE(TestModeTimerInterval(1), 1000);
    QCOMPARE(TestModeTimerInterval(255), 255000);
    // Never a continuous poll, never an overflow.
    QCOMPARE(TestModeTimerInterval(0), 1000);
    QCOMPARE(TestModeTimerInterval(std::numeric_limits<qint32>::min()), 1000);
    QCOMPARE(TestModeTimerInterval(3000000), std::numeric_limits<int>::max());
}

void TestShellRules::clockText_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QTime>("time");
    QTest::addColumn<QString>("text");
    // The long time format without the zone that many locales put into it.
    QTest::newRow("ru") << "ru_RU" << QTime(21, 45, 59) << "21:45:59";
    QTest::newRow("en_US") << "en_US" << QTime(21, 5, 3) << "9:05:03 PM";
    QTest::newRow("C") << "C" << QTime(7, 0, 0) << "07:00:00";
}

void TestShellRules::clockText()
{
    QFETCH(QString, locale);
    QFETCH(QTime, time);
    QFETCH(QString, text);
    QCOMPARE(ClockText(time, QLocale(locale)), text);
}

QTEST_MAIN(TestShellRules)
#include "tst_shellrules.moc"
