#include "base/cp1251.h"
#include "base/textutils.h"

#include <QFileInfo>
#include <QTest>
#include <clocale>

class TestTextUtils : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void hexForms();
    void byteBuffers();
    void generalFormat_data();
    void generalFormat();
    void floatsIgnoreTheLocale();
    void strToFloatDotRejectsNonNumbers();
    void padding();
    void splittingAndWords();
    void replaceAllEndsWhenNewContainsOld();
    void programDirEndsWithSeparator();
    void codePage1251();
    void countNounAgrees();
};

void TestTextUtils::initTestCase()
{
    // A locale whose decimal separator is ",": the conversions must not care.
    const char *names[] = {"ru_RU.UTF-8", "ru_RU.utf8", "de_DE.UTF-8", "de_DE.utf8"};
    for (const char *n : names)
        if (std::setlocale(LC_ALL, n))
            break;
}

void TestTextUtils::hexForms()
{
    QCOMPARE(ByteToHex(0x05, false), QByteArray("5"));
    QCOMPARE(ByteToHex(0x05, true), QByteArray("05"));
    QCOMPARE(ByteToHex(0x0A, false), QByteArray("A"));
    QCOMPARE(ByteToHex(0xA5, false), QByteArray("A5"));
    QCOMPARE(BytesToHex(QByteArray("\x00\x1F", 2)), QByteArray("00 1F "));
    QCOMPARE(int(HexToByte(" 1F")), 31);
    QVERIFY(HexToByte("1f") != 31); // lower case letters are no digits
    QCOMPARE(int(HexToByte("\t\x01" "FF")), 255);
}

void TestTextUtils::byteBuffers()
{
    const quint8 abc[] = {0x41, 0x00, 0x42};
    const QByteArray s = BytesToStr(abc, 3);
    QCOMPARE(s.size(), 3);
    QCOMPARE(s.at(1), '\0');

    quint8 buf[4] = {1, 2, 3, 4};
    SwapBytes(0, 3, buf, 3);
    QCOMPARE(buf[0], quint8(4));
    QCOMPARE(buf[3], quint8(1));
    SwapBytes(0, 4, buf, 3);
    QCOMPARE(buf[0], quint8(4));
    ZeroFill(buf, 1);
    QCOMPARE(buf[1], quint8(0));
    QCOMPARE(buf[2], quint8(3));
}

void TestTextUtils::generalFormat_data()
{
    QTest::addColumn<int>("precision");
    QTest::addColumn<double>("value");
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("12.345/3") << 3 << 12.345 << QByteArray("12.3");
    QTest::newRow("1234.5/3") << 3 << 1234.5 << QByteArray("1.23E3");
    QTest::newRow("0.000012345/3") << 3 << 0.000012345 << QByteArray("1.23E-5");
    QTest::newRow("0.00012345/3") << 3 << 0.00012345 << QByteArray("0.000123");
    QTest::newRow("123.45/3") << 3 << 123.45 << QByteArray("123");
    QTest::newRow("15/3") << 3 << 15.0 << QByteArray("15");
    QTest::newRow("0/3") << 3 << 0.0 << QByteArray("0");
    QTest::newRow("-1234.5/3") << 3 << -1234.5 << QByteArray("-1.23E3");
    // Halves go away from zero; a carry can move the exponent.
    QTest::newRow("12.25/3") << 3 << 12.25 << QByteArray("12.3");
    QTest::newRow("-12.25/3") << 3 << -12.25 << QByteArray("-12.3");
    QTest::newRow("0.125/2") << 2 << 0.125 << QByteArray("0.13");
    QTest::newRow("99.5/2") << 2 << 99.5 << QByteArray("1E2");
    QTest::newRow("0.0099996/4") << 4 << 0.0099996 << QByteArray("0.01");
    QTest::newRow("1/15") << 15 << 1.0 << QByteArray("1");
    QTest::newRow("6.62/15") << 15 << 6.62 << QByteArray("6.62");
    QTest::newRow("1E20/15") << 15 << 1e20 << QByteArray("1E20");
    QTest::newRow("1.5E-7/15") << 15 << 1.5e-7 << QByteArray("1.5E-7");
    QTest::newRow("-3/15") << 15 << -3.0 << QByteArray("-3");
    QTest::newRow("0.5/15") << 15 << 0.5 << QByteArray("0.5");
    QTest::newRow("1E14/15") << 15 << 1e14 << QByteArray("100000000000000");
    QTest::newRow("1E15/15") << 15 << 1e15 << QByteArray("1E15");
}

void TestTextUtils::generalFormat()
{
    QFETCH(int, precision);
    QFETCH(double, value);
    QFETCH(QByteArray, text);
    QCOMPARE(FloatToStrFDot(FloatFormat::General, precision, 0, value), text);
}

void TestTextUtils::floatsIgnoreTheLocale()
{
    QCOMPARE(double(StrToFloatDot("1.5")), 1.5);
    QCOMPARE(FloatToStrDot(1.5L), QByteArray("1.5"));
    QCOMPARE(double(StrToFloatDot(" -2.25E2 ")), -225.0);
    QCOMPARE(double(StrToFloatDot("1E99999")), 0.0); // overflow gives 0
    // Extended precision survives the round trip through text.
    const long double third = 1.0L / 3.0L;
    QCOMPARE(FloatToStrDot(third), QByteArray("0.333333333333333"));
}

void TestTextUtils::strToFloatDotRejectsNonNumbers()
{
    for (const char *bad : {"", " ", "1,5", "abc", "1.5x", "--1", "e5", "1e", "nan", "inf"}) {
        bool ok = true;
        StrToFloatDot(QByteArray(bad), &ok);
        QVERIFY2(!ok, bad);
        QVERIFY_THROWS_EXCEPTION(EConvertError, StrToFloatDot(QByteArray(bad)));
    }
}

void TestTextUtils::padding()
{
    QCOMPARE(PadLeftInt(7, "0", 3), QByteArray("007"));
    QCOMPARE(PadLeftInt(1234, "0", 3), QByteArray("1234"));
    QCOMPARE(PadLeftInt(7, "", 3), QByteArray("7")); // no endless loop on an empty pad
    QCOMPARE(PadRight("ab", " ", 4), QByteArray("ab  "));
    QCOMPARE(PadRight("ab", "", 4), QByteArray("ab"));
}

void TestTextUtils::splittingAndWords()
{
    QByteArray l = "x", r = "y";
    SplitAt("abc", "=", l, r);
    QVERIFY(l.isEmpty() && r.isEmpty());
    SplitAt("a=b=c", "=", l, r);
    QCOMPARE(l, QByteArray("a"));
    QCOMPARE(r, QByteArray("b=c"));

    QCOMPARE(TextBefore("1-2;3", ";"), QByteArray("1-2"));
    QCOMPARE(TextBefore("3", ";"), QByteArray("3"));

    QByteArray t = "abc";
    QVERIFY(!DropThrough(t, ";"));
    QVERIFY(t.isEmpty());
    t = "1-1;2-1;";
    QVERIFY(DropThrough(t, ";"));
    QCOMPARE(t, QByteArray("2-1;"));

    QCOMPARE(FirstWord("  one two"), QByteArray("one"));
    t = "   ";
    QVERIFY(!DropFirstWord(t));
    QVERIFY(t.isEmpty());
    t = "word";
    QVERIFY(DropFirstWord(t));
    QVERIFY(t.isEmpty());
    t = " one   two three";
    QVERIFY(DropFirstWord(t));
    QCOMPARE(t, QByteArray("two three"));

    t = "a.b.c";
    RemoveAll(t, ".");
    QCOMPARE(t, QByteArray("abc"));
}

void TestTextUtils::replaceAllEndsWhenNewContainsOld()
{
    QByteArray t = "1.5.2";
    ReplaceAll(t, ".", ",");
    QCOMPARE(t, QByteArray("1,5,2"));
    t = "a.b";
    ReplaceAll(t, ".", "..");
    QCOMPARE(t, QByteArray("a..b"));
}

void TestTextUtils::programDirEndsWithSeparator()
{
    InitProgramDir();
    QVERIFY(ProgramDir().endsWith(QLatin1Char('/')));
    QVERIFY(QFileInfo::exists(ProgramDir() + QStringLiteral("tst_textutils")));
    QCOMPARE(int(PlatformInfo().PlatformKind), 3);
}

void TestTextUtils::codePage1251()
{
    // Every byte but the unassigned 0x98 survives the trip through Unicode.
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        if (b != 0x98)
            all += char(b);
    const QString text = FromCp1251(all);
    QCOMPARE(text.size(), all.size());
    QCOMPARE(ToCp1251(text), all);

    QCOMPARE(Cp("Общее"), QByteArray("\xCE\xE1\xF9\xE5\xE5"));
    QCOMPARE(FromCp1251("\xA8\xB8\xB9\x88"), QString::fromUtf8("Ёё№€"));
    // What the code page cannot hold becomes one '?' per character.
    QCOMPARE(ToCp1251(QString::fromUtf8("a\u4E2D\U0001F600b")), QByteArray("a??b"));
}

void TestTextUtils::countNounAgrees()
{
    const struct {
        qint64 count;
        const char *text;
    } cases[] = {{0, "0 записей"},   {1, "1 запись"},     {2, "2 записи"},     {4, "4 записи"},
                 {5, "5 записей"},   {11, "11 записей"},  {12, "12 записей"},  {14, "14 записей"},
                 {21, "21 запись"},  {43, "43 записи"},   {111, "111 записей"}, {101, "101 запись"},
                 {1022, "1022 записи"}, {-3, "-3 записи"}};
    for (const auto &c : cases)
        QCOMPARE(CountWithNoun(c.count, "запись", "записи", "записей"), QString::fromUtf8(c.text));
}

QTEST_GUILESS_MAIN(TestTextUtils)
#include "tst_textutils.moc"
