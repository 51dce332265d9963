#include "instrument/devicearchive.h"

#include "base/cp1251.h"
#include "testfiles.h"

#include <QDir>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

using Rows = QList<QByteArrayList>;

namespace {

std::unique_ptr<TOPVarList> list(const QByteArrayList &names)
{
    auto l = std::make_unique<TOPVarList>();
    for (const QByteArray &n : names)
        l->Add(n);
    return l;
}

QByteArrayList namesOf(const TOPVarList *l)
{
    QByteArrayList out;
    for (int i = 0; l && i < l->Count(); ++i)
        out << l->GetItem(i)->Name;
    return out;
}

Rows rowsOf(const TDeviceArchive &a)
{
    Rows rows;
    for (int r = 0; r < a.RecordCount(); ++r) {
        rows << QByteArrayList();
        const TOPVarList &vars = *a.GetRecord(r)->VarList;
        for (int k = 0; k < vars.Count(); ++k)
            rows.last() << vars.GetItem(k)->Value;
    }
    return rows;
}

void addRecord(TDeviceArchive &a, const QByteArrayList &values)
{
    TOPVarList vars;
    for (const QByteArray &v : values)
        vars.Add("X", "A001", v);
    a.AddRecord(vars);
}

// DATETIME, ALARM1, ACTIVITY with their descriptions and two records.
void fillExample(TDeviceArchive &a)
{
    a.SetNames(*list({"DATETIME", "ALARM1", "ACTIVITY"}));
    a.SetDescriptions(*list({Cp("Дата и время измерения"), Cp("Уставка первого уровня (Бк/м**3)"),
                            Cp("Измеренная величина (Бк/м**3)")}));
    addRecord(a, {"05/03/2004 14.07.00", "100", "12.5"});
    addRecord(a, {"06/03/2004 02.00.59", "100", "1234.75"});
}

} // namespace

class TestDeviceArchive : public QObject {
    Q_OBJECT
private slots:
    void savedFileLayoutAndRoundTrip();
    void loadRules_data();
    void loadRules();
    void recordsAndCopies();
    void refusedAndHostileFiles();
    void notAnArchive_data();
    void notAnArchive();
    void largeArchivesLoadAgain_data();
    void largeArchivesLoadAgain();
    void failedSaveKeepsThePreviousFile();

private:
    QTemporaryDir dir_;
};

void TestDeviceArchive::savedFileLayoutAndRoundTrip()
{
    TDeviceArchive a;
    fillExample(a);
    const QString path = dir_.filePath("layout.daf");
    QVERIFY(a.SaveToFile(path));
    // Descriptions: names padded to the longest name, two blanks, the text.
    // Widths: DATETIME 19 (its values), ALARM1 6 and ACTIVITY 8 (their
    // names); every field padded to width + 2.
    const QByteArray columns = "DATETIME             ALARM1  ACTIVITY  \r\n"
                               "05/03/2004 14.07.00  100     12.5      \r\n"
                               "06/03/2004 02.00.59  100     1234.75   \r\n";
    QCOMPARE(ReadAll(path), "DATETIME  " + Cp("Дата и время измерения") + "\r\n"
                            "ALARM1    " + Cp("Уставка первого уровня (Бк/м**3)") + "\r\n"
                            "ACTIVITY  " + Cp("Измеренная величина (Бк/м**3)") + "\r\n\r\n\r\n" + columns);

    TDeviceArchive b;
    QVERIFY(b.LoadFromFile(path));
    QCOMPARE(namesOf(b.Names()), namesOf(a.Names()));
    QCOMPARE(namesOf(b.Descriptions()), namesOf(a.Descriptions()));
    QCOMPARE(rowsOf(b), rowsOf(a));
    QCOMPARE(b.GetRecord(1)->VarList->GetItem(2)->Name, QByteArray("ACTIVITY"));

    // Descriptions that do not match the columns one to one are left out; the
    // file then begins with the column line, and still loads back.
    a.SetDescriptions(*list({"only one"}));
    QCOMPARE(a.ToFileText(), columns);
    QVERIFY(b.FromFileText(columns));
    QCOMPARE(rowsOf(b), rowsOf(a));
    QCOMPARE(b.Descriptions()->Count(), 0);
}

void TestDeviceArchive::loadRules_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArrayList>("names");
    QTest::addColumn<QByteArrayList>("descriptions");
    QTest::addColumn<Rows>("rows");
    const QByteArray block = "A  first thing\r\nB  second\r\nC  third\r\n\r\n\r\nA  B  C\r\n";
    const QByteArrayList abc{"A", "B", "C"}, descs{"first thing", "second", "third"};

    QTest::newRow("LF line ends") << QByteArray("A  x y\nB    z\n\n\nA  B  \n1  2  \n") << QByteArrayList{"A", "B"}
                                  << QByteArrayList{"x y", "z"} << Rows{{"1", "2"}};
    QTest::newRow("CR line ends") << QByteArray("A  x y\rB    z\r\r\rA  B  \r1  2  \r3\r") << QByteArrayList{"A", "B"}
                                  << QByteArrayList{"x y", "z"} << Rows{{"1", "2"}, {"3", ""}};
    QTest::newRow("short record padded") << block + "1  \r\n" << abc << descs << Rows{{"1", "", ""}};
    QTest::newRow("empty value shifts left") << block + "1      3  \r\n" << abc << descs << Rows{{"1", "3", ""}};
    QTest::newRow("surplus fields ignored") << block + "1  2  3  4  5" << abc << descs << Rows{{"1", "2", "3"}};
    QTest::newRow("leading run: empty field") << block + "  2   3 \r\n" << abc << descs << Rows{{"", "2", "3"}};
    QTest::newRow("single blanks stay") << block + "05/03/2004 14.07.00    x y\r\n" << abc << descs
                                        << Rows{{"05/03/2004 14.07.00", "x y", ""}};
    QTest::newRow("block and column line only") << block << abc << descs << Rows{};
    QTest::newRow("empty record line") << block + "\r\n7\r\n" << abc << descs << Rows{{"", "", ""}, {"7", "", ""}};
    QTest::newRow("no block, empty line at the end") << QByteArray("A  B\n1  2\n\n") << QByteArrayList{"A", "B"}
                                                     << QByteArrayList{} << Rows{{"1", "2"}, {"", ""}};
    QTest::newRow("no block, one column") << QByteArray("DATETIME  \r\n05/03/2004 14.07.00  \r\n")
                                          << QByteArrayList{"DATETIME"} << QByteArrayList{}
                                          << Rows{{"05/03/2004 14.07.00"}};
    QTest::newRow("empty description keeps step") << QByteArray("A  x\r\nB\r\nC    z\r\n\r\n\r\nA  B  C\r\n") << abc
                                                  << QByteArrayList{"x", "", "z"} << Rows{};
    QTest::newRow("code page 1251 bytes as they are")
        << QByteArray("\xC0\xC1  \xE0\xFF\r\n\r\n\r\n\xC0\xC1  \r\n\xFF\xFE\r\n") << QByteArrayList{"\xC0\xC1"}
        << QByteArrayList{"\xE0\xFF"} << Rows{{"\xFF\xFE"}};
}

void TestDeviceArchive::loadRules()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArrayList, names);
    QFETCH(QByteArrayList, descriptions);
    QFETCH(Rows, rows);
    const QString path = dir_.filePath("rules.daf");
    QVERIFY(WriteAll(path, text));
    TDeviceArchive a;
    addRecord(a, {"old"});
    QVERIFY(a.LoadFromFile(path));
    QCOMPARE(namesOf(a.Names()), names);
    QCOMPARE(namesOf(a.Descriptions()), descriptions);
    QCOMPARE(rowsOf(a), rows);
}

void TestDeviceArchive::recordsAndCopies()
{
    TDeviceArchive a;
    QVERIFY(!a.Names() && !a.Descriptions() && !a.GetRecord(0));
    TOPVarList vars;
    vars.Add("ACTIVITY", "A001", "1");
    a.AddRecord(vars);
    vars.GetItem(0)->Value = "2"; // the archive holds its own copy
    a.AddRecord(vars);
    QCOMPARE(rowsOf(a), (Rows{{"1"}, {"2"}}));
    QCOMPARE(a.GetRecord(1)->Number, 1);
    QVERIFY(!a.GetRecord(2) && !a.GetRecord(-1));
    a.SetNames(*list({"ACTIVITY"}));
    a.Clear();
    QCOMPARE(a.RecordCount(), 0);
    QCOMPARE(namesOf(a.Names()), QByteArrayList{"ACTIVITY"}); // the columns stay
    a.AddRecord(vars);
    QCOMPARE(a.GetRecord(0)->Number, 0); // numbering starts again

    TDeviceArchive source;
    fillExample(source);
    std::unique_ptr<TDeviceArchive> created;
    source.CopyTo(created);
    QCOMPARE(created->ToFileText(), source.ToFileText());
    QCOMPARE(created->GetRecord(1)->VarList->GetItem(0)->Index, QByteArray("A001"));
    source.CopyTo(a); // replaces, does not append
    QCOMPARE(rowsOf(a), rowsOf(source));
    source.CopyTo(source); // onto itself: nothing lost
    QCOMPARE(source.RecordCount(), 2);

    // Without a description list the records arrive, then the error of the
    // missing list reaches the caller.
    TDeviceArchive bare;
    bare.SetNames(*list({"X"}));
    addRecord(bare, {"9"});
    QVERIFY_THROWS_EXCEPTION(EOPVarListError, bare.CopyTo(a));
    QCOMPARE(rowsOf(a), Rows{{"9"}});
}

void TestDeviceArchive::refusedAndHostileFiles()
{
    TDeviceArchive a;
    fillExample(a);
    const QByteArray before = a.ToFileText();
    QVERIFY(!a.LoadFromFile(dir_.filePath("missing.daf")));
    QVERIFY(!a.LoadFromFile(dir_.path()));
    // A file larger than any archive is not read into memory at all (sparse).
    {
        QFile huge(dir_.filePath("huge.daf"));
        QVERIFY(huge.open(QIODevice::WriteOnly) && huge.write("A  B\r\n") == 6);
        QVERIFY(huge.resize(TDeviceArchive::MaxFileSize + 1));
    }
    QVERIFY(!a.LoadFromFile(dir_.filePath("huge.daf")));
    QFile::remove(dir_.filePath("huge.daf"));

    // 3000 columns and 2000 short lines would pad into six million values.
    QByteArray wide;
    for (int i = 0; i < 3000; ++i)
        wide += "N" + QByteArray::number(i) + "  ";
    wide += "\n" + QByteArray("x\n").repeated(2000);
    QVERIFY(!a.FromFileText(wide));
    QCOMPARE(a.ToFileText(), before); // all or nothing
    wide.chop(2 * 1990);
    QVERIFY(a.FromFileText(wide));
    QCOMPARE(a.RecordCount(), 10);

    // Binary garbage and lines of megabytes load without harm, and whatever
    // loads is whole: every record has every column.
    QRandomGenerator rng(20240305);
    QByteArray garbage(256 * 1024, '\0');
    for (char &c : garbage)
        c = char(rng.bounded(256));
    const QByteArray longLine = QByteArray("xxxxxx ").repeated(600000);
    for (const QByteArray &text : {garbage, longLine, "A  B\n\n\nA  B\n" + QByteArray("v  ").repeated(400000),
                                   QByteArray(3'000'000, '\r')}) {
        if (a.FromFileText(text)) {
            for (int r = 0; r < a.RecordCount(); ++r)
                QCOMPARE(a.GetRecord(r)->VarList->Count(), a.Names()->Count());
        }
    }
}

void TestDeviceArchive::notAnArchive_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("empty file") << QByteArray();
    QTest::newRow("only line ends") << QByteArray("\r\n\r\n\r\n");
    QTest::newRow("NUL after a column line") << QByteArray("A  B\r\n1  2\r\n\0\0\0\0", 16);
    QTest::newRow("NUL in the first byte") << QByteArray("\0A  B\r\n", 7);
    QTest::newRow("ESC in a value") << QByteArray("A  B\r\n1  \x1b[2J\r\n");
    QTest::newRow("tab in the column line") << QByteArray("A\tB\r\n1  2\r\n");
    QTest::newRow("no code page 1251 character") << QByteArray("A  \x98\r\n1  2\r\n");
    QTest::newRow("CR inside a line of an LF file") << QByteArray("A  B\n1\r2  3\n");
    // A binary file without a NUL byte in its first 64 KiB.
    QByteArray binary;
    for (int i = 0; i < 70000; ++i)
        binary += char(1 + (i * 7919) % 255);
    QTest::newRow("binary without NUL") << binary;
}

// Whatever the program saves has a column line and no control character
// but its line ends: a file without the one or with the other is something
// else, and is refused
// whole, from the file as from the text.
void TestDeviceArchive::notAnArchive()
{
    QFETCH(QByteArray, text);
    TDeviceArchive a;
    fillExample(a);
    const QByteArray before = a.ToFileText();
    const QString path = dir_.filePath("not.daf");
    QVERIFY(WriteAll(path, text));
    QVERIFY(!a.LoadFromFile(path));
    QVERIFY(!a.FromFileText(text));
    QCOMPARE(a.ToFileText(), before);

    // Nor does the program write such a file.
    TDeviceArchive columnless;
    addRecord(columnless, {"1"});
    QVERIFY(!columnless.SaveToFile(path));
    fillExample(columnless);
    addRecord(columnless, {QByteArray("1\0", 2)});
    QVERIFY(!columnless.SaveToFile(path));
    fillExample(columnless);
    addRecord(columnless, {"\x1b[2J"});
    QVERIFY(!columnless.SaveToFile(path));
    QCOMPARE(ReadAll(path), text);
}

void TestDeviceArchive::largeArchivesLoadAgain_data()
{
    QTest::addColumn<int>("records");
    QTest::addColumn<int>("columns");
    QTest::addColumn<QByteArray>("value");
    QTest::newRow("308 000 x 12 with descriptions") << 308000 << 12 << QByteArray("80.5");
    QTest::newRow("400 000 empty values in one column") << 400000 << 1 << QByteArray();
}

// Every archive that can be saved loads again, however many records: the
// limit against hostile files grows with the file. Files as SaveToFile
// writes them, compared byte for byte after the load.
void TestDeviceArchive::largeArchivesLoadAgain()
{
    QFETCH(int, records);
    QFETCH(int, columns);
    QFETCH(QByteArray, value);
    QByteArray text, columnLine, recordLine;
    for (int c = 0; c < columns; ++c) {
        const QByteArray name = c ? "C" + QByteArray::number(c) : QByteArray("X");
        if (columns > 1)
            text += name.leftJustified(3, ' ') + "  d" + QByteArray::number(c) + "\r\n";
        const int width = int(std::max(name.size(), value.size())) + 2;
        columnLine += name.leftJustified(width, ' ');
        recordLine += value.leftJustified(width, ' ');
    }
    if (columns > 1)
        text += "\r\n\r\n";
    text += columnLine + "\r\n" + (recordLine + "\r\n").repeated(records);

    TDeviceArchive a;
    QVERIFY(a.FromFileText(text));
    QCOMPARE(a.RecordCount(), records);
    QCOMPARE(a.Value(records - 1, columns - 1).toByteArray(), value);
    QCOMPARE(a.GetRecord(records - 1)->VarList->GetItem(columns - 1)->Value, value);
    QVERIFY(a.ToFileText() == text);
}

void TestDeviceArchive::failedSaveKeepsThePreviousFile()
{
    TDeviceArchive a;
    fillExample(a);
    for (int i = 0; i < 100; ++i)
        addRecord(a, {"05/03/2004 14.07.00", "100", QByteArray::number(i)});
    QVERIFY(WriteAll(dir_.filePath("plain"), "x"));
    QVERIFY(!a.SaveToFile(dir_.filePath("plain/a.daf"))); // a folder that is a file

    const QString path = dir_.filePath("old.daf");
    const QByteArray old = "OLD  \r\n1  \r\n";
    QVERIFY(WriteAll(path, old));
    {
        FileSizeLimit limit(1000);
        QVERIFY(limit.Active());
        QVERIFY(!a.SaveToFile(path));
    }
    QCOMPARE(ReadAll(path), old);
    QCOMPARE(QDir(dir_.path()).entryList({"old.daf*"}, QDir::Files).size(), 1); // no leftovers
}

QTEST_GUILESS_MAIN(TestDeviceArchive)
#include "tst_devicearchive.moc"
