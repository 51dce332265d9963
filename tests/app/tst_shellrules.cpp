// The application shell's rules without a window: the tabs a privilege text
// opens, commands when no page is active, the test-mode pause file, poll
// interval and dialog field, the clock's text, and the settings binding
// (clock values, panels, lamps, and what each operated control does).

#include "app/clocktext.h"
#include "app/commands.h"
#include "app/privileges.h"
#include "app/settingsbinding.h"
#include "app/testmodepause.h"
#include "base/cp1251.h"
#include "instrument/ormak.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>

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
    void pauseField_data();
    void pauseField();
    void dateFormatWithoutWeekday();

    void deviceDateTime_data();
    void deviceDateTime();
    void replaceDateAndTime_data();
    void replaceDateAndTime();
    void panels_data();
    void panels();
    void displaysReadTheLists();
    void edits_data();
    void edits();
    void selfBackgroundFromMeasured_data();
    void selfBackgroundFromMeasured();
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
    // A pipe in its place is not waited on.
    const QString pipe = dir.filePath(QStringLiteral("pipe.dtf"));
    QCOMPARE(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    QCOMPARE(LoadTestModePauseFile(pipe), kDefaultTestModePause);
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

void TestShellRules::pauseField_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("seconds");
    QTest::newRow("empty") << QByteArray("   ") << -1;
    QTest::newRow("0") << QByteArray("0  ") << -1;
    QTest::newRow("1") << QByteArray("1") << 1;
    QTest::newRow("255") << QByteArray("255") << 255;
    QTest::newRow("256") << QByteArray("256") << -1;
    QTest::newRow("300") << QByteArray("300") << -1;
    QTest::newRow("blanks inside") << QByteArray(" 2 5") << 25;
    QTest::newRow("sign") << QByteArray("-5") << -1;
}

void TestShellRules::pauseField()
{
    QFETCH(QByteArray, text);
    QFETCH(int, seconds);
    QCOMPARE(PauseIntervalFromText(text), seconds);
    // What the field shows for a pause comes back as that pause.
    if (seconds > 0)
        QCOMPARE(PauseIntervalFromText(PauseIntervalText(seconds)), seconds);
    for (const qint32 outside : {0, 256, -10, std::numeric_limits<qint32>::max()})
        QVERIFY(PauseIntervalText(outside).isEmpty());
}

void TestShellRules::dateFormatWithoutWeekday()
{
    for (const char *name : {"C", "en_US", "ru_RU", "de_DE"}) {
        const QLocale locale{QLatin1String(name)};
        const QString format = DevDateFormat(locale);
        const QString shown = locale.toString(QDate(2003, 12, 24), format);
        QVERIFY2(shown.contains(QLatin1String("2003")) && shown.contains(QLatin1String("24")), qPrintable(shown));
        QVERIFY2(!shown.contains(locale.dayName(3)), qPrintable(shown)); // no "Wednesday"
        QCOMPARE(locale.toDate(shown, format), QDate(2003, 12, 24));
    }
}

void TestShellRules::deviceDateTime_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QDate>("date"); // null: the picker keeps its value
    QTest::addColumn<QTime>("time");
    QTest::newRow("whole") << QByteArray("05/03/2004 14.07.00") << QDate(2004, 3, 5) << QTime(14, 7, 0);
    QTest::newRow("blanks between") << QByteArray("24/12/2003   17.00.09") << QDate(2003, 12, 24) << QTime(17, 0, 9);
    QTest::newRow("no blank") << QByteArray("24/12/2003") << QDate() << QTime();
    QTest::newRow("empty") << QByteArray() << QDate() << QTime();
    QTest::newRow("31 February stops both") << QByteArray("31/02/2004 10.00.00") << QDate() << QTime();
    QTest::newRow("one-digit day") << QByteArray("5/3/2004 10.00.00") << QDate() << QTime();
    QTest::newRow("bad time keeps the date") << QByteArray("01/01/2004 25.00.00") << QDate(2004, 1, 1) << QTime();
    QTest::newRow("time missing") << QByteArray("01/01/2004 ") << QDate(2004, 1, 1) << QTime();
    QTest::newRow("letters") << QByteArray("aa/bb/cccc dd.ee.ff") << QDate() << QTime();
}

void TestShellRules::deviceDateTime()
{
    QFETCH(QByteArray, text);
    QFETCH(QDate, date);
    QFETCH(QTime, time);
    const TDeviceDateTime parsed = ParseDeviceDateTime(text);
    QCOMPARE(parsed.Date.value_or(QDate()), date);
    QCOMPARE(parsed.Time.value_or(QTime()), time);
    if (date.isValid() && time.isValid()) // the text the pickers give back
        QCOMPARE(ParseDeviceDateTime(FormatDeviceDateTime(date, time)).Time, parsed.Time);
}

void TestShellRules::replaceDateAndTime_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("newDate");
    QTest::addColumn<QByteArray>("newTime");
    const QByteArray base = "24/12/2003 17.00.00";
    QTest::newRow("plain") << base << QByteArray("01/02/0999 17.00.00") << QByteArray("24/12/2003 09.05.03");
    QTest::newRow("no blank: unchanged") << QByteArray("24/12/2003") << QByteArray("24/12/2003")
                                         << QByteArray("24/12/2003");
    QTest::newRow("leading blanks, tail dropped")
        << QByteArray("  24/12/2003  17.00.00 extra") << QByteArray("01/02/0999 17.00.00")
        << QByteArray("24/12/2003 09.05.03");
}

void TestShellRules::replaceDateAndTime()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, newDate);
    QFETCH(QByteArray, newTime);
    QCOMPARE(ReplaceDatePart(text, QDate(999, 2, 1)), newDate);
    QCOMPARE(ReplaceTimePart(text, QTime(9, 5, 3, 999)), newTime); // milliseconds dropped
    QCOMPARE(FormatDeviceDateTime(QDate(2004, 3, 5), QTime(14, 7, 0)), QByteArray("05/03/2004 14.07.00"));
}

void TestShellRules::panels_data()
{
    QTest::addColumn<QByteArray>("status");
    QTest::addColumn<QList<int>>("states");
    QTest::newRow("0") << QByteArray("0") << QList<int>{ssSound, ssRunning, ssSound, ssSound};
    QTest::newRow("48") << QByteArray("48") << QList<int>{ssFault, ssStopped, ssSound, ssSound};
    QTest::newRow("240 with blanks") << QByteArray(" 240 ") << QList<int>{ssFault, ssStopped, ssFault, ssFault};
    QTest::newRow("abc") << QByteArray("abc") << QList<int>{ssSound, ssSound, ssSound, ssSound};
    QTest::newRow("empty") << QByteArray() << QList<int>{ssSound, ssSound, ssSound, ssSound};
    QTest::newRow("hexadecimal is no integer") << QByteArray("0x10") << QList<int>{0, 0, 0, 0};
}

void TestShellRules::panels()
{
    QFETCH(QByteArray, status);
    QFETCH(QList<int>, states);
    const std::array<int, 4> got = StatusPanelStates(status);
    QCOMPARE(QList<int>(got.begin(), got.end()), states);

    // Flags, lamps and contacts: trimmed, exact, anything else the default.
    QCOMPARE(OnOffState(" 1 "), int(osOn));
    QCOMPARE(OnOffState("11"), int(osOff));
    const TRgb lime{0, 255, 0}, darkGreen{0, 128, 0};
    const struct {
        QByteArray indicator;
        int lamp, button;
        TRgb green;
    } lamps[] = {{" 2 ", lsRed, 0, darkGreen}, {"1", lsYellow, 1, darkGreen}, {"7", lsGreen, 2, lime},
                 {"", lsGreen, 2, lime}};
    for (const auto &l : lamps) {
        QCOMPARE(LampState(l.indicator), l.lamp);
        QCOMPARE(LampRadioButton(l.lamp), l.button);
        QCOMPARE(LampColours(l.lamp)[2], l.green);
    }
    QCOMPARE(DryContactItem(" 1"), 0);
    QCOMPARE(DryContactItem("0"), 1);
    QCOMPARE(DryContactItem(""), -1);
    QCOMPARE(DryContactItem("2"), -1);
}

void TestShellRules::displaysReadTheLists()
{
    QVERIFY(!CommonDisplay(nullptr) && !CounterDisplay(nullptr) && !ServiceDisplay(nullptr));
    // Each item by its place in the lists (the window shows the rest as is).
    TORMAK device(nullptr);
    device.CommonVars->GetItem(2)->Value = "1"; // DRYCONTACTIN
    device.AlarmUnitVars->GetItem(1)->Value = "1";
    const TCommonDisplay c = *CommonDisplay(&device);
    QVERIFY(c.DryContactIn == 0 && c.DryContactOut == -1 && c.Siren == osOff && c.Lamp == lsYellow);
    device.CounterVars->GetItem(5)->Value = "16"; // STATUS
    QCOMPARE(CounterDisplay(&device)->Status[0], int(ssFault));
    for (const char *k : {"0.0", "00", "", "0.5"}) {
        device.CounterVars->GetItem(0)->Value = k;
        QVERIFY2(!CounterDetached(device), k);
    }
    device.CounterVars->GetItem(0)->Value = " 0\t";
    QVERIFY(CounterDetached(device));
}

void TestShellRules::edits_data()
{
    // The control, what it hands over, and then the lists' values and the
    // result as "COMMON|ALARM|COUNTER|SERVICE => command show" with the lists
    // joined by ",".
    QTest::addColumn<QByteArray>("sender");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("expected");
    const char *rows[][3] = {
        {"BASIndRB1", "", "24/12/2003 17.00.00,S,1,0,5,H|0,2|0.5,A1,A2,,,,,10|F,,,,, => cmdWriteAlarmUnit"},
        {"BASIndRB2", "", "24/12/2003 17.00.00,S,1,0,5,H|0, 1 |0.5,A1,A2,,,,,10|F,,,,, =>"},
        {"BASIndRB3", "", "24/12/2003 17.00.00,S,1,0,5,H|0,0|0.5,A1,A2,,,,,10|F,,,,, => cmdWriteAlarmUnit"},
        {"SireneBtn", "", "24/12/2003 17.00.00,S,1,0,5,H|1, 1 |0.5,A1,A2,,,,,10|F,,,,, => cmdWriteAlarmUnit"},
        {"DryContactIN", "", "24/12/2003 17.00.00,S,1,0,5,H|0, 1 |0.5,A1,A2,,,,,10|F,,,,, => common"},
        {"DryContactOUT", "", "24/12/2003 17.00.00,S,1,1,5,H|0, 1 |0.5,A1,A2,,,,,10|F,,,,, => cmdWriteDevice"},
        {"DCLevelEdit", "7.5", "24/12/2003 17.00.00,S,1,0,7.5,H|0, 1 |0.5,A1,A2,,,,,10|F,,,,, =>"},
        {"DevDate", "", "01/02/2005 17.00.00,S,1,0,5,H|0, 1 |0.5,A1,A2,,,,,10|F,,,,, =>"},
        {"DevTime", "", "24/12/2003 09.05.03,S,1,0,5,H|0, 1 |0.5,A1,A2,,,,,10|F,,,,, =>"},
        {"SynchroBtn", "", "01/02/2005 09.05.03,S,1,0,5,H|0, 1 |0.5,A1,A2,,,,,10|F,,,,, => cmdWriteDevice common"},
        {"Edit11", "x", "24/12/2003 17.00.00,S,1,0,5,H|0, 1 |x,A1,A2,,,,,10|F,,,,, =>"},
        {"Edit13", "", "24/12/2003 17.00.00,S,1,0,5,H|0, 1 |0.5,,A2,,,,,10|F,,,,, =>"},
        {"Edit16", " 9 ", "24/12/2003 17.00.00,S,1,0,5,H|0, 1 |0.5,A1, 9 ,,,,,10|F,,,,, =>"},
        {"Edit1DT", "20", "24/12/2003 17.00.00,S,1,0,5,H|0, 1 |0.5,A1,A2,,,,,20|F,,,,, =>"},
        {"SelfFonEdit", "3", "24/12/2003 17.00.00,S,1,0,5,H|0, 1 |0.5,A1,A2,,,,,10|3,,,,, =>"},
        {"MngEdit5", "36.6", "24/12/2003 17.00.00,S,1,0,5,H|0, 1 |0.5,A1,A2,,,,,10|F,,,,,36.6 =>"},
        {"CopyToSelfFonBtn", "", "24/12/2003 17.00.00,S,1,0,5,H|0, 1 |0.5,A1,A2,,,,,10|5,,,,, => service 5"},
        {"NumPanel", "x", "24/12/2003 17.00.00,S,1,0,5,H|0, 1 |0.5,A1,A2,,,,,10|F,,,,, =>"},
    };
    for (const auto &r : rows)
        QTest::newRow(r[0]) << QByteArray(r[0]) << QByteArray(r[1]) << QByteArray(r[2]);
}

void TestShellRules::edits()
{
    QFETCH(QByteArray, sender);
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, expected);
    TORMAK device(nullptr);
    auto fill = [](TOPVarList &list, const QList<QByteArray> &values) {
        for (int i = 0; i < values.size(); ++i)
            list.GetItem(i)->Value = values[i];
    };
    fill(*device.CommonVars, {"24/12/2003 17.00.00", "S", "1", "0", "5", "H"});
    fill(*device.AlarmUnitVars, {"0", " 1 "});
    fill(*device.CounterVars, {"0.5", "A1", "A2", "", "", "", "", "10"});
    fill(*device.ServiceVars, {"F"});

    TControlInput input;
    input.Text = text;
    input.FirstItemSelected = true;
    input.Date = QDate(2005, 2, 1);
    input.Time = QTime(9, 5, 3);
    const TEditResult result = ApplySettingsEdit(device, sender, input);

    auto join = [](const TOPVarList &list) {
        QList<QByteArray> values;
        for (int i = 0; i < list.Count(); ++i)
            values << list.GetItem(i)->Value;
        return values.join(',');
    };
    QByteArray got = join(*device.CommonVars) + '|' + join(*device.AlarmUnitVars) + '|' + join(*device.CounterVars)
        + '|' + join(*device.ServiceVars) + " =>";
    if (result.Write)
        got += ' ' + QByteArray(CommandName(*result.Write));
    if (result.ShowCommon)
        got += " common";
    if (result.ShowService)
        got += " service";
    if (result.SelfBackgroundText)
        got += ' ' + *result.SelfBackgroundText;
    QCOMPARE(got, expected);
}

void TestShellRules::selfBackgroundFromMeasured_data()
{
    QTest::addColumn<QByteArray>("duration");
    QTest::addColumn<QByteArray>("factor");
    QTest::addColumn<QByteArray>("result");
    QTest::newRow("10 x 0.5") << QByteArray("10") << QByteArray("0.5") << QByteArray("5");
    QTest::newRow("blanks") << QByteArray(" 3 ") << QByteArray(" 1.5") << QByteArray("4.5");
    QTest::newRow("empty duration") << QByteArray() << QByteArray("0.5") << QByteArray("0");
    QTest::newRow("comma is no number") << QByteArray("10") << QByteArray("0,5") << QByteArray("0");
    QTest::newRow("beyond every range") << QByteArray("1e4000") << QByteArray("1e4000") << QByteArray("0");
}

void TestShellRules::selfBackgroundFromMeasured()
{
    QFETCH(QByteArray, duration);
    QFETCH(QByteArray, factor);
    QFETCH(QByteArray, result);
    QCOMPARE(SelfBackgroundFromMeasured(duration, factor), result);
}

QTEST_MAIN(TestShellRules)
#include "tst_shellrules.moc"
