#include "instrument/radiationspectr.h"

#include "testfiles.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>
#include <clocale>
#include <limits>

namespace {

// A file: the header text zero-padded to 512 bytes, count i = 100 + i, cut or
// extended to size.
QByteArray spectrumFile(const QByteArray &header, int size = 4608)
{
    QByteArray bytes = header + QByteArray(512 - header.size(), '\0');
    for (qint32 i = 0; i < 1024; ++i) {
        char le[4];
        qToLittleEndian<qint32>(100 + i, le);
        bytes.append(le, 4);
    }
    bytes.resize(size, 'Z');
    return bytes;
}

} // namespace

class TestRadiationSpectr : public QObject {
    Q_OBJECT
private slots:
    void savedFileLayoutAndRoundTrip();
    void fileRules_data();
    void fileRules();
    void failedSaveKeepsThePreviousFile();
    void blockLoading_data();
    void blockLoading();
    void channelBoundsAndRangeSum();

private:
    QTemporaryDir dir_;
};

void TestRadiationSpectr::savedFileLayoutAndRoundTrip()
{
    // A locale with "," as the decimal separator: the file must not care.
    for (const char *n : {"ru_RU.UTF-8", "ru_RU.utf8", "de_DE.UTF-8"})
        if (std::setlocale(LC_ALL, n))
            break;
    TRadiationSpectr s;
    s.CoefA = 0.5L;
    s.CoefB = -3.0L;
    s.SetCount(0, 1);
    s.SetCount(1, -2);
    s.SetCount(1023, 0x12345678);
    const QString path = dir_.filePath("layout.spc");
    QVERIFY(s.SaveToFile(path));
    const QByteArray file = ReadAll(path);
    QCOMPARE(file.size(), 4608);
    QCOMPARE(file.left(512), QByteArray("A=0.5; B=-3;") + QByteArray(500, '\0'));
    QCOMPARE(file.mid(512, 12), QByteArray("\x01\0\0\0\xFE\xFF\xFF\xFF\0\0\0\0", 12));
    QCOMPARE(file.right(4), QByteArray("\x78\x56\x34\x12"));

    s.CoefA = 1.23456789012345L;
    s.CoefB = 1e20L;
    QVERIFY(s.SaveToFile(path));
    TRadiationSpectr back;
    QVERIFY(back.LoadFromFile(path));
    QCOMPARE(double(back.CoefA), 1.23456789012345);
    QCOMPARE(double(back.CoefB), 1e20);
    QCOMPARE(back.FileImage(), s.FileImage());
    QVERIFY(TRadiationSpectr().HeaderBytes().startsWith(QByteArray("A=1; B=0;\0", 10)));
}

void TestRadiationSpectr::fileRules_data()
{
    // The object starts with CoefA 7, CoefB 9 and count 0 at -5, so that what
    // a load keeps shows.
    QTest::addColumn<QByteArray>("file"); // empty: no file at all
    QTest::addColumn<bool>("loads");
    QTest::addColumn<double>("a");
    QTest::addColumn<double>("b");
    QTest::newRow("as written") << spectrumFile("A=2; B=4;") << true << 2.0 << 4.0;
    QTest::newRow("all zero: both kept") << spectrumFile("") << true << 7.0 << 9.0;
    QTest::newRow("B first: A reads empty") << spectrumFile("B=2;A=5;") << true << 1.0 << 2.0;
    QTest::newRow("letters after A=") << spectrumFile("A=abc; B=4;") << true << 1.0 << 4.0;
    QTest::newRow("bad B") << spectrumFile("A=5; B=x;") << true << 5.0 << 0.0;
    QTest::newRow("only B") << spectrumFile("B=3;") << true << 7.0 << 3.0;
    QTest::newRow("no semicolon") << spectrumFile("A=5 B=6") << true << 7.0 << 9.0;
    QTest::newRow("blanks and exponent") << spectrumFile("  A= 6.5 ; B= -1E3 ;") << true << 6.5 << -1000.0;
    QTest::newRow("comma is no separator") << spectrumFile("A=1,5; B=0;") << true << 1.0 << 0.0;
    QTest::newRow("inf and nan are no numbers") << spectrumFile("A=inf; B=nan;") << true << 1.0 << 0.0;
    QTest::newRow("512 bytes of text") << spectrumFile(QByteArray("A=8;B=2;").leftJustified(512, 'x')) << true
                                       << 8.0 << 2.0;
    QTest::newRow("5000 bytes: tail ignored") << spectrumFile("A=3;", 5000) << true << 3.0 << 9.0;
    QTest::newRow("4607 bytes") << spectrumFile("A=3;", 4607) << false << 7.0 << 9.0;
    QTest::newRow("missing") << QByteArray() << false << 7.0 << 9.0;
}

void TestRadiationSpectr::fileRules()
{
    QFETCH(QByteArray, file);
    QFETCH(bool, loads);
    QFETCH(double, a);
    QFETCH(double, b);
    const QString path = dir_.filePath("rules.spc");
    QFile::remove(path);
    if (!file.isEmpty())
        QVERIFY(WriteAll(path, file));
    TRadiationSpectr s;
    s.CoefA = 7;
    s.CoefB = 9;
    s.SetCount(0, -5);
    QCOMPARE(s.LoadFromFile(path), loads);
    QCOMPARE(double(s.CoefA), a);
    QCOMPARE(double(s.CoefB), b);
    QCOMPARE(s.GetCount(0), loads ? 100 : -5); // the counts load whatever the header says
    QVERIFY(!s.LoadFromFile(dir_.path()));     // a folder
}

void TestRadiationSpectr::failedSaveKeepsThePreviousFile()
{
    TRadiationSpectr s;
    s.SetCount(5, 5);
    QVERIFY(WriteAll(dir_.filePath("plain"), "x"));
    QVERIFY(!s.SaveToFile(dir_.filePath("plain/a.spc"))); // a folder that is a file
    QVERIFY(!s.SaveToFile(QString()));

    // A save that breaks off half-way (file size limit) leaves the old file whole.
    const QString path = dir_.filePath("old.spc");
    const QByteArray old = spectrumFile("A=2; B=0;");
    QVERIFY(WriteAll(path, old));
    {
        FileSizeLimit limit(1000);
        QVERIFY(limit.Active());
        QVERIFY(!s.SaveToFile(path));
    }
    QCOMPARE(ReadAll(path), old);
    QCOMPARE(QDir(dir_.path()).entryList({"old.spc*"}, QDir::Files).size(), 1); // no leftovers
}

void TestRadiationSpectr::blockLoading_data()
{
    QTest::addColumn<QByteArray>("block");
    QTest::addColumn<bool>("swap");
    QTest::addColumn<bool>("result");
    QTest::addColumn<QList<int>>("counts"); // channels 0, 1, 2, 1023
    QTest::newRow("null") << QByteArray() << false << false << QList<int>{0, 0, 0, 0};
    QTest::newRow("3 bytes") << QByteArray("\1\2\3") << false << true << QList<int>{0, 0, 0, 0};
    QTest::newRow("10 bytes") << QByteArray("\1\0\0\0\0\1\0\0\xFF\xFF", 10) << false << true
                              << QList<int>{1, 256, 0, 0};
    QTest::newRow("swapped") << QByteArray("\0\0\0\1\xFF\xFF\xFF\xFE", 8) << true << true
                             << QList<int>{1, -2, 0, 0};
    QByteArray full(5000, '\0');
    full[4 * 1023] = 9;
    full[4096] = 1; // beyond the last channel
    QTest::newRow("5000 bytes") << full << false << true << QList<int>{0, 0, 0, 9};
}

void TestRadiationSpectr::blockLoading()
{
    QFETCH(QByteArray, block);
    QFETCH(bool, swap);
    QFETCH(bool, result);
    QFETCH(QList<int>, counts);
    TRadiationSpectr s;
    for (int i = 0; i < 1024; ++i)
        s.SetCount(i, 1000);
    s.CoefA = 3;
    QCOMPARE(s.LoadFromBlock(block, swap), result);
    QCOMPARE((QList<int>{s.GetCount(0), s.GetCount(1), s.GetCount(2), s.GetCount(1023)}), counts);
    QCOMPARE(double(s.CoefA), 3.0);
}

void TestRadiationSpectr::channelBoundsAndRangeSum()
{
    constexpr int kMin = std::numeric_limits<int>::min(), kMax = std::numeric_limits<int>::max();
    TRadiationSpectr s, ramp; // ramp: count i = i
    for (int i = 0; i < 1024; ++i) {
        s.SetCount(i, std::numeric_limits<qint32>::max());
        ramp.SetCount(i, i);
    }
    for (int c : {-1, 1024, kMin, kMax}) {
        s.SetCount(c, 42); // ignored, no write outside the counts
        QCOMPARE(s.GetCount(c), 0);
    }
    QCOMPARE(s.SumCounts(0, 1023), qint64(1024) * std::numeric_limits<qint32>::max()); // beyond 32 bits
    QCOMPARE(ramp.SumCounts(120, 80), qint64(41 * 100)); // markers in either order
    QCOMPARE(ramp.SumCounts(-5, 2), qint64(3));
    QCOMPARE(ramp.SumCounts(kMin, kMax), qint64(1023) * 1024 / 2);

    ramp.CoefA = 6.62L;
    QVERIFY(!s.AssignCounts(nullptr));
    QVERIFY(s.AssignCounts(&ramp) && s.AssignCounts(&s));
    QCOMPARE(s.GetCount(1023), 1023);
    QCOMPARE(double(s.CoefA), 1.0); // the calibration is not copied
}

QTEST_GUILESS_MAIN(TestRadiationSpectr)
#include "tst_radiationspectr.moc"
