#include "instrument/devicearchive.h"

#include "filesizelimit.h"
#include "protocol/cp1251.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

using Rows = QList<QByteArrayList>;

namespace {

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeAll(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

std::unique_ptr<TOPVarList> nameList(const QByteArrayList &names)
{
    auto list = std::make_unique<TOPVarList>();
    for (const QByteArray &n : names)
        list->Add(n);
    return list;
}

QByteArrayList namesOf(const TOPVarList *list)
{
    QByteArrayList out;
    for (int i = 0; list && i < list->Count(); ++i)
        out << list->GetItem(i)->Name;
    return out;
}

Rows rowsOf(const TDeviceArchive &a)
{
    Rows rows;
    for (int r = 0; r < a.RecordCount(); ++r) {
        QByteArrayList row;
        const TOPVarList &vars = *a.GetRecord(r)->VarList;
        for (int k = 0; k < vars.Count(); ++k)
            row << vars.GetItem(k)->Value;
        rows << row;
    }
    return rows;
}

void addRecord(TDeviceArchive &a, const QByteArrayList &values, const QByteArray &index = QByteArray())
{
    TOPVarList vars;
    for (int k = 0; k < values.size(); ++k)
        vars.Add(a.Names() ? a.Names()->GetItem(k)->Name : QByteArray("X"), index, values[k]);
    a.AddRecord(vars);
}

// DATETIME, ALARM1, ACTIVITY with their descriptions and two records.
void fillExample(TDeviceArchive &a)
{
    a.SetNames(*nameList({"DATETIME", "ALARM1", "ACTIVITY"}));
    a.SetDescriptions(*nameList({Cp("Дата и время измерения"), Cp("Уставка первого уровня (Бк/м**3)"),
                                 Cp("Измеренная величина (Бк/м**3)")}));
    addRecord(a, {"05/03/2004 14.07.00", "100", "12.5"}, "A001");
    addRecord(a, {"06/03/2004 02.00.59", "100", "1234.75"}, "A002");
}

} // namespace

class TestDeviceArchive : public QObject {
    Q_OBJECT
private slots:
    void savedFileLayout();
    void roundTrip();
    void mismatchedDescriptionsGiveABlocklessFileThatLoadsBack();
    void loadRules_data();
    void loadRules();
    void fieldSplitting_data();
    void fieldSplitting();
    void recordsAreCopiesNumberedInOrder();
    void copyTo();
    void badFilesLeaveTheArchiveAsItWas();
    void garbageAndHugeLinesLoadWithoutHarm();
    void failedSaveKeepsThePreviousFile();

private:
    QTemporaryDir dir_;
};

void TestDeviceArchive::savedFileLayout()
{
    TDeviceArchive a;
    fillExample(a);
    const QString path = dir_.filePath("layout.daf");
    QVERIFY(a.SaveToFile(path));

    // Descriptions: names padded to the longest name (8), two blanks, text.
    // Widths: DATETIME 19 (its values), ALARM1 6 (its name), ACTIVITY 8 (its
    // name; 1234.75 is shorter); every field padded to width + 2.
    const QByteArray expected = "DATETIME  " + Cp("Дата и время измерения") + "\r\n"
                                "ALARM1    " + Cp("Уставка первого уровня (Бк/м**3)") + "\r\n"
                                "ACTIVITY  " + Cp("Измеренная величина (Бк/м**3)") + "\r\n"
                                "\r\n"
                                "\r\n"
                                "DATETIME             ALARM1  ACTIVITY  \r\n"
                                "05/03/2004 14.07.00  100     12.5      \r\n"
                                "06/03/2004 02.00.59  100     1234.75   \r\n";
    QCOMPARE(readAll(path), expected);
    QCOMPARE(a.ToFileText(), expected);
}

void TestDeviceArchive::roundTrip()
{
    TDeviceArchive a;
    fillExample(a);
    addRecord(a, {"", "", ""});                        // every value empty
    addRecord(a, {"07/03/2004 00.00.00", "", "0"}); // empty in the middle
    const QString path = dir_.filePath("roundtrip.daf");
    QVERIFY(a.SaveToFile(path));

    TDeviceArchive b;
    QVERIFY(b.LoadFromFile(path));
    QCOMPARE(namesOf(b.Names()), namesOf(a.Names()));
    QCOMPARE(namesOf(b.Descriptions()), namesOf(a.Descriptions()));
    QCOMPARE(b.RecordCount(), 4);
    const Rows rows = rowsOf(b);
    QCOMPARE(rows[0], (QByteArrayList{"05/03/2004 14.07.00", "100", "12.5"}));
    QCOMPARE(rows[1], (QByteArrayList{"06/03/2004 02.00.59", "100", "1234.75"}));
    QCOMPARE(rows[2], (QByteArrayList{"", "", ""}));
    // An empty value in the middle cannot be told from the separator: the
    // following value moves one column to the left.
    QCOMPARE(rows[3], (QByteArrayList{"07/03/2004 00.00.00", "0", ""}));
    // Loaded items carry the column name and no index.
    QCOMPARE(b.GetRecord(1)->VarList->GetItem(2)->Name, QByteArray("ACTIVITY"));
    QCOMPARE(b.GetRecord(1)->VarList->GetItem(2)->Index, QByteArray());

    // Saving what was loaded gives the same file again.
    TDeviceArchive c;
    fillExample(c);
    QVERIFY(c.SaveToFile(path));
    QVERIFY(b.LoadFromFile(path));
    QCOMPARE(b.ToFileText(), readAll(path));
}

void TestDeviceArchive::mismatchedDescriptionsGiveABlocklessFileThatLoadsBack()
{
    TDeviceArchive a;
    fillExample(a);
    a.SetDescriptions(*nameList({"only one"}));
    const QString path = dir_.filePath("noblock.daf");
    QVERIFY(a.SaveToFile(path));
    const QByteArray file = readAll(path);
    QVERIFY(file.startsWith("DATETIME             ALARM1  ACTIVITY  \r\n"));

    TDeviceArchive b;
    QVERIFY(b.LoadFromFile(path));
    QCOMPARE(namesOf(b.Names()), (QByteArrayList{"DATETIME", "ALARM1", "ACTIVITY"}));
    QVERIFY(b.Descriptions());
    QCOMPARE(b.Descriptions()->Count(), 0);
    QCOMPARE(rowsOf(b), rowsOf(a));

    // No description list at all: the same file.
    a.SetDescriptions(nullptr);
    QCOMPARE(a.ToFileText(), file);
}

void TestDeviceArchive::loadRules_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArrayList>("names");
    QTest::addColumn<QByteArrayList>("descriptions");
    QTest::addColumn<Rows>("rows");

    const QByteArray block = "A  first thing\r\nB  second\r\nC  third\r\n\r\n\r\n";
    const QByteArrayList abc{"A", "B", "C"};
    const QByteArrayList descs{"first thing", "second", "third"};

    QTest::newRow("LF line ends") << QByteArray("A  x y\nB    z\n\n\nA  B  \n1  2  \n")
                                  << QByteArrayList{"A", "B"} << QByteArrayList{"x y", "z"}
                                  << Rows{{"1", "2"}};
    QTest::newRow("short record padded") << block + "A  B  C  \r\n1  \r\n" << abc << descs
                                         << Rows{{"1", "", ""}};
    QTest::newRow("surplus fields ignored") << block + "A  B  C  \r\n1  2  3  4  5\r\n" << abc << descs
                                            << Rows{{"1", "2", "3"}};
    QTest::newRow("empty first field") << block + "A  B  C  \r\n  2  3\r\n" << abc << descs
                                       << Rows{{"", "2", "3"}};
    QTest::newRow("block and column line only") << block + "A  B  C  \r\n" << abc << descs << Rows{};
    QTest::newRow("single blanks stay in the field")
        << block + "A  B  C\r\n05/03/2004 14.07.00    x y   z\r\n" << abc << descs
        << Rows{{"05/03/2004 14.07.00", "x y", "z"}};
    QTest::newRow("last line without line end") << block + "A  B  C\r\n1  2  3" << abc << descs
                                                << Rows{{"1", "2", "3"}};
    QTest::newRow("empty record line") << block + "A  B  C\r\n\r\n7\r\n" << abc << descs
                                       << Rows{{"", "", ""}, {"7", "", ""}};
    QTest::newRow("no block") << QByteArray("A  B  \r\n1  2  \r\n3  4  \r\n") << QByteArrayList{"A", "B"}
                              << QByteArrayList{} << Rows{{"1", "2"}, {"3", "4"}};
    QTest::newRow("no block, one column") << QByteArray("DATETIME  \r\n05/03/2004 14.07.00  \r\n")
                                          << QByteArrayList{"DATETIME"} << QByteArrayList{}
                                          << Rows{{"05/03/2004 14.07.00"}};
    QTest::newRow("empty description keeps step")
        << QByteArray("A  x\r\nB\r\nC    z\r\n\r\n\r\nA  B  C\r\n1  2  3\r\n") << abc
        << QByteArrayList{"x", "", "z"} << Rows{{"1", "2", "3"}};
    QTest::newRow("blank lines before the column line") << QByteArray("A  x\n\n\n\n\nA\n1\n")
                                                        << QByteArrayList{"A"} << QByteArrayList{"x"}
                                                        << Rows{{"1"}};
    QTest::newRow("empty file") << QByteArray() << QByteArrayList{} << QByteArrayList{} << Rows{};
    QTest::newRow("only line ends") << QByteArray("\r\n\r\n\r\n") << QByteArrayList{} << QByteArrayList{}
                                    << Rows{};
    QTest::newRow("code page 1251 bytes as they are")
        << QByteArray("\xC0\xC1  \xE0\xFF\xA8\r\n\r\n\r\n\xC0\xC1  \r\n\xFF\xFE  \r\n") << QByteArrayList{"\xC0\xC1"}
        << QByteArrayList{"\xE0\xFF\xA8"} << Rows{{"\xFF\xFE"}};
}

void TestDeviceArchive::loadRules()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArrayList, names);
    QFETCH(QByteArrayList, descriptions);
    QFETCH(Rows, rows);
    const QString path = dir_.filePath("rules.daf");
    QVERIFY(writeAll(path, text));
    TDeviceArchive a;
    addRecord(a, {"old"});
    QVERIFY(a.LoadFromFile(path));
    QCOMPARE(namesOf(a.Names()), names);
    QCOMPARE(namesOf(a.Descriptions()), descriptions);
    QCOMPARE(rowsOf(a), rows);
    for (int r = 0; r < a.RecordCount(); ++r)
        QCOMPARE(a.GetRecord(r)->Number, r);
}

void TestDeviceArchive::fieldSplitting_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<int>("maxFields");
    QTest::addColumn<QByteArrayList>("fields");
    QTest::newRow("two blanks") << QByteArray("A  B") << -1 << QByteArrayList{"A", "B"};
    QTest::newRow("many blanks") << QByteArray("A      B  ") << -1 << QByteArrayList{"A", "B"};
    QTest::newRow("single blank inside") << QByteArray("a b  c d") << -1 << QByteArrayList{"a b", "c d"};
    QTest::newRow("lone field trimmed") << QByteArray(" A ") << -1 << QByteArrayList{"A"};
    QTest::newRow("leading run") << QByteArray("  A") << -1 << QByteArrayList{"", "A"};
    QTest::newRow("blanks only") << QByteArray("     ") << -1 << QByteArrayList{""};
    QTest::newRow("empty") << QByteArray() << -1 << QByteArrayList{};
    QTest::newRow("tab is no blank") << QByteArray("A\t\tB") << -1 << QByteArrayList{"A\t\tB"};
    QTest::newRow("limited") << QByteArray("1  2  3  4") << 2 << QByteArrayList{"1", "2"};
    QTest::newRow("limit zero") << QByteArray("1  2") << 0 << QByteArrayList{};
}

void TestDeviceArchive::fieldSplitting()
{
    QFETCH(QByteArray, line);
    QFETCH(int, maxFields);
    QFETCH(QByteArrayList, fields);
    QCOMPARE(TDeviceArchive::SplitFields(line, maxFields), fields);
}

void TestDeviceArchive::recordsAreCopiesNumberedInOrder()
{
    TDeviceArchive a;
    QCOMPARE(a.RecordCount(), 0);
    QVERIFY(!a.Names());
    QVERIFY(!a.Descriptions());
    QVERIFY(!a.GetRecord(0));

    TOPVarList vars;
    vars.Add("ACTIVITY", "A001", "1");
    a.AddRecord(vars);
    vars.GetItem(0)->Value = "2"; // the archive holds its own copy
    a.AddRecord(vars);
    QCOMPARE(a.RecordCount(), 2);
    QCOMPARE(a.GetRecord(0)->VarList->GetItem(0)->Value, QByteArray("1"));
    QCOMPARE(a.GetRecord(0)->VarList->GetItem(0)->Index, QByteArray("A001"));
    QCOMPARE(a.GetRecord(1)->Number, 1);
    QVERIFY(!a.GetRecord(2));
    QVERIFY(!a.GetRecord(-1));

    auto names = nameList({"ACTIVITY"});
    a.SetNames(*names);
    names->GetItem(0)->Name = "CHANGED";
    QCOMPARE(namesOf(a.Names()), QByteArrayList{"ACTIVITY"});

    a.Clear();
    QCOMPARE(a.RecordCount(), 0);
    QVERIFY(!a.GetRecord(0));
    QCOMPARE(namesOf(a.Names()), QByteArrayList{"ACTIVITY"}); // the columns stay
    a.AddRecord(vars);
    QCOMPARE(a.GetRecord(0)->Number, 0); // numbering starts again

    a.SetNames(nullptr);
    QVERIFY(!a.Names());
}

void TestDeviceArchive::copyTo()
{
    TDeviceArchive source;
    fillExample(source);

    std::unique_ptr<TDeviceArchive> created;
    source.CopyTo(created);
    QVERIFY(created);
    QCOMPARE(created->ToFileText(), source.ToFileText());
    QCOMPARE(created->GetRecord(1)->VarList->GetItem(0)->Index, QByteArray("A002"));

    TDeviceArchive target;
    addRecord(target, {"a"});
    addRecord(target, {"b"});
    addRecord(target, {"c"});
    source.CopyTo(target); // replaces, does not append
    QCOMPARE(rowsOf(target), rowsOf(source));
    QCOMPARE(target.GetRecord(1)->Number, 1);

    source.CopyTo(source); // onto itself: nothing lost
    QCOMPARE(source.RecordCount(), 2);

    // A source without a description list: the records arrive, then the
    // error of the missing list reaches the caller.
    TDeviceArchive bare;
    bare.SetNames(*nameList({"X"}));
    addRecord(bare, {"9"});
    QVERIFY_THROWS_EXCEPTION(EOPVarListError, bare.CopyTo(target));
    QCOMPARE(rowsOf(target), Rows{{"9"}});
    QCOMPARE(namesOf(target.Names()), QByteArrayList{"X"});
}

void TestDeviceArchive::badFilesLeaveTheArchiveAsItWas()
{
    TDeviceArchive a;
    fillExample(a);
    const QByteArray before = a.ToFileText();

    QVERIFY(!a.LoadFromFile(dir_.filePath("missing.daf")));
    QVERIFY(!a.LoadFromFile(QString()));
    QVERIFY(!a.LoadFromFile(dir_.path()));

    // A column line of 3000 names followed by 2000 one-value lines would pad
    // into six million values: refused.
    QByteArray wide;
    for (int i = 0; i < 3000; ++i)
        wide += "N" + QByteArray::number(i) + "  ";
    wide += "\n" + QByteArray("x\n").repeated(2000);
    const QString path = dir_.filePath("wide.daf");
    QVERIFY(writeAll(path, wide));
    QVERIFY(!a.LoadFromFile(path));
    QCOMPARE(a.ToFileText(), before);

    // The same columns with few records load.
    wide.truncate(wide.size() - 2 * 1990);
    QVERIFY(writeAll(path, wide));
    QVERIFY(a.LoadFromFile(path));
    QCOMPARE(a.Names()->Count(), 3000);
    QCOMPARE(a.RecordCount(), 10);
}

void TestDeviceArchive::garbageAndHugeLinesLoadWithoutHarm()
{
    QRandomGenerator rng(20240305);
    QByteArray garbage(256 * 1024, '\0');
    for (char &c : garbage)
        c = char(rng.bounded(256));
    QByteArray oneLongLine(4 * 1024 * 1024, 'x');
    for (qsizetype i = 7; i < oneLongLine.size(); i += 7)
        oneLongLine[i] = ' ';
    QByteArray manyFields;
    for (int i = 0; i < 400000; ++i)
        manyFields += "v  ";
    const QByteArray cases[] = {
        garbage,
        oneLongLine,
        "A  B\n\n\nA  B\n" + manyFields + "\n" + oneLongLine,
        QByteArray(3 * 1024 * 1024, '\r'),
        QByteArray(3 * 1024 * 1024, ' '),
    };
    int n = 0;
    for (const QByteArray &text : cases) {
        const QString path = dir_.filePath(QStringLiteral("garbage%1.daf").arg(n++));
        QVERIFY(writeAll(path, text));
        TDeviceArchive a;
        if (a.LoadFromFile(path)) {
            // Whatever loaded is whole: every record has every column.
            for (int r = 0; r < a.RecordCount(); ++r)
                QCOMPARE(a.GetRecord(r)->VarList->Count(), a.Names()->Count());
            QVERIFY(!a.ToFileText().isEmpty());
        }
    }
}

void TestDeviceArchive::failedSaveKeepsThePreviousFile()
{
    TDeviceArchive a;
    fillExample(a);
    for (int i = 0; i < 100; ++i)
        addRecord(a, {"05/03/2004 14.07.00", "100", QByteArray::number(i)});
    const QString notAFolder = dir_.filePath("plain");
    QVERIFY(writeAll(notAFolder, "x"));
    QVERIFY(!a.SaveToFile(notAFolder + "/a.daf"));
    QVERIFY(!a.SaveToFile(QString()));

    const QString path = dir_.filePath("old.daf");
    const QByteArray old = "OLD  \r\n1  \r\n";
    QVERIFY(writeAll(path, old));
    {
        FileSizeLimit limit(1000);
        QVERIFY(limit.Active());
        QVERIFY(!a.SaveToFile(path));
    }
    QCOMPARE(readAll(path), old);
    QCOMPARE(QDir(dir_.path()).entryList({"old.daf*"}, QDir::Files).size(), 1); // no leftovers
}

QTEST_GUILESS_MAIN(TestDeviceArchive)
#include "tst_devicearchive.moc"
