#include "protocol/opvarlist.h"
#include "protocol/paramlist.h"

#include <QTest>

class TestVarLists : public QObject {
    Q_OBJECT
private slots:
    void lookups_data();
    void lookups();
    void positionsFollowInsertion();
    void copyReplacesTheDestination();
    void copyWithoutSourceLeavesDestination();
    void assignValuesTakesTheFirstMatch();
    void paramListNamesAreExact();
};

void TestVarLists::lookups_data()
{
    // The list: SERIALN, VALUE:0, VALUE:A001, the cp1251 name "\xC0" (capital A of the Cyrillic alphabet).
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("index");
    QTest::addColumn<int>("position");
    QTest::addColumn<int>("byName");
    QTest::newRow("exact") << QByteArray("SERIALN") << QByteArray() << 0 << 0;
    QTest::newRow("lower case") << QByteArray("serialn") << QByteArray() << 0 << 0;
    QTest::newRow("mixed case") << QByteArray("SeRiAlN") << QByteArray() << 0 << 0;
    QTest::newRow("index given, item has none") << QByteArray("SERIALN") << QByteArray("0") << -1 << 0;
    QTest::newRow("index missing") << QByteArray("VALUE") << QByteArray() << -1 << 1;
    QTest::newRow("index") << QByteArray("VALUE") << QByteArray("0") << 1 << 1;
    QTest::newRow("index letter case") << QByteArray("value") << QByteArray("a001") << 2 << 1;
    QTest::newRow("index differs") << QByteArray("VALUE") << QByteArray("A01") << -1 << 1;
    QTest::newRow("prefix") << QByteArray("SERIAL") << QByteArray() << -1 << -1;
    QTest::newRow("longer") << QByteArray("SERIALNO") << QByteArray() << -1 << -1;
    QTest::newRow("empty name") << QByteArray() << QByteArray() << -1 << -1;
    // Only a..z fold: the small Cyrillic a is another letter here.
    QTest::newRow("cyrillic exact") << QByteArray("\xC0") << QByteArray() << 3 << 3;
    QTest::newRow("cyrillic small") << QByteArray("\xE0") << QByteArray() << -1 << -1;
}

void TestVarLists::lookups()
{
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, index);
    QFETCH(int, position);
    QFETCH(int, byName);
    TOPVarList list;
    QCOMPARE(list.IndexOfName(name), -1);
    QCOMPARE(list.IndexOf(name, index), -1);
    list.Add("SERIALN");
    list.Add("VALUE", "0");
    list.Add("VALUE", "A001");
    list.Add("\xC0");
    QCOMPARE(list.IndexOf(name, index), position);
    QCOMPARE(list.IndexOfName(name), byName);
}

void TestVarLists::positionsFollowInsertion()
{
    TOPVarList list;
    list.Add("A", "", "1");
    list.Add("B", "2", "");
    list.Add("A", "", "3"); // duplicates are kept; lookups find the first
    QCOMPARE(list.Count(), 3);
    for (int k = 0; k < 3; ++k)
        QCOMPARE(list.GetItem(k)->Position, k);
    QCOMPARE(list.GetItem(2)->Value, QByteArray("3"));
    QVERIFY(!list.GetItem(3));
    QVERIFY(!list.GetItem(-1));
    QCOMPARE(list.IndexOfName("a"), 0);

    TParamList params;
    params.AddData(42);
    params.AddName("x");
    QCOMPARE(params.Count(), 2);
    QCOMPARE(params.GetItem(0)->Data, qintptr(42));
    QVERIFY(params.GetItem(0)->Name.isEmpty());
    QCOMPARE(params.GetItem(1)->Data, qintptr(0));
    QCOMPARE(params.GetItem(1)->Position, 1);
    QVERIFY(!params.GetItem(2));
    QVERIFY(!params.GetItem(-1));
}

void TestVarLists::copyReplacesTheDestination()
{
    TOPVarList source;
    source.Add("A", "1", "x");
    source.Add("B", "", "y");

    auto destination = std::make_unique<TOPVarList>();
    destination->Add("OLD", "", "z");
    source.CopyTo(destination);
    QVERIFY(destination);
    QCOMPARE(destination->Count(), 2);
    QCOMPARE(destination->IndexOfName("OLD"), -1);
    QCOMPARE(destination->GetItem(0)->Index, QByteArray("1"));
    QCOMPARE(destination->GetItem(1)->Value, QByteArray("y"));

    // The copy is independent of its source, both ways.
    destination->GetItem(0)->Value = "changed";
    source.GetItem(1)->Value = "also changed";
    QCOMPARE(source.GetItem(0)->Value, QByteArray("x"));
    QCOMPARE(destination->GetItem(1)->Value, QByteArray("y"));

    TOPVarList empty;
    empty.CopyTo(destination);
    QVERIFY(destination);
    QCOMPARE(destination->Count(), 0);
    QVERIFY(!destination->GetItem(0));

    // Copying a list into the reference that holds it.
    source.CopyTo(destination);
    TOPVarList::CopyTo(destination.get(), destination);
    QCOMPARE(destination->Count(), 2);
    QCOMPARE(destination->GetItem(1)->Value, QByteArray("also changed"));
}

void TestVarLists::copyWithoutSourceLeavesDestination()
{
    auto destination = std::make_unique<TOPVarList>();
    destination->Add("KEPT");
    TOPVarList *kept = destination.get();
    QVERIFY_THROWS_EXCEPTION(EOPVarListError, TOPVarList::CopyTo(nullptr, destination));
    QCOMPARE(destination.get(), kept);
    QCOMPARE(destination->IndexOfName("KEPT"), 0);
}

void TestVarLists::assignValuesTakesTheFirstMatch()
{
    TOPVarList target;
    target.Add("A", "", "a");
    target.Add("B", "1", "b");
    target.Add("C", "", "c");

    TOPVarList source;
    source.Add("b", "1", "first");
    source.Add("B", "1", "second");
    source.Add("A", "0", "other index");
    source.Add("Z", "", "unknown");
    source.Add("C", "", "");

    target.AssignValues(source);
    QCOMPARE(target.Count(), 3);
    QCOMPARE(source.Count(), 5);
    QCOMPARE(target.GetItem(0)->Value, QByteArray("a"));
    QCOMPARE(target.GetItem(1)->Value, QByteArray("first"));
    QCOMPARE(target.GetItem(2)->Value, QByteArray()); // an empty value is a value too
}

void TestVarLists::paramListNamesAreExact()
{
    TParamList list;
    QCOMPARE(list.IndexOfName("x"), -1);
    list.AddName("Admin");
    list.AddData(7);
    list.AddName("admin");
    QCOMPARE(list.IndexOfName("Admin"), 0);
    QCOMPARE(list.IndexOfName("admin"), 2);
    QCOMPARE(list.IndexOfName("ADMIN"), -1);
    QCOMPARE(list.IndexOfName(""), 1); // the data entry has an empty name
}

QTEST_GUILESS_MAIN(TestVarLists)
#include "tst_varlists.moc"
