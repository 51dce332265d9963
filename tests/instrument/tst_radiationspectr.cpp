#include "instrument/radiationspectr.h"

#include "filesizelimit.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>
#include <clocale>
#include <limits>

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

// A file image: the header text zero-padded to 512 bytes, then count i = seed + i.
QByteArray spectrumFile(const QByteArray &header, int seed, int size = TRadiationSpectr::FileSize)
{
    QByteArray bytes = header.left(512);
    bytes.append(QByteArray(512 - bytes.size(), '\0'));
    for (int i = 0; i < 1024; ++i) {
        char le[4];
        qToLittleEndian<qint32>(seed + i, le);
        bytes.append(le, 4);
    }
    bytes.resize(size, '\x5A');
    return bytes;
}

void fill(TRadiationSpectr &s, int seed)
{
    for (int i = 0; i < 1024; ++i)
        s.SetCount(i, seed + i);
}

} // namespace

class TestRadiationSpectr : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void savedFileLayout();
    void roundTripKeepsCountsAndCoefficients_data();
    void roundTripKeepsCountsAndCoefficients();
    void headerRules_data();
    void headerRules();
    void fileSizeRules_data();
    void fileSizeRules();
    void failedSaveKeepsThePreviousFile();
    void countsOutsideTheChannels();
    void blockLoading_data();
    void blockLoading();
    void assignCounts();
    void rangeSumDoesNotOverflow();

private:
    QTemporaryDir dir_;
};

void TestRadiationSpectr::initTestCase()
{
    QVERIFY(dir_.isValid());
    // A locale with "," as the decimal separator: the file must not care.
    const char *names[] = {"ru_RU.UTF-8", "ru_RU.utf8", "de_DE.UTF-8", "de_DE.utf8"};
    for (const char *n : names)
        if (std::setlocale(LC_ALL, n))
            break;
}

void TestRadiationSpectr::savedFileLayout()
{
    TRadiationSpectr s;
    s.CoefA = 0.5L;
    s.CoefB = -3.0L;
    s.SetCount(0, 1);
    s.SetCount(1, -2);
    s.SetCount(1023, 0x12345678);
    const QString path = dir_.filePath("layout.spc");
    QVERIFY(s.SaveToFile(path));

    const QByteArray file = readAll(path);
    QCOMPARE(file.size(), 4608);
    const QByteArray text("A=0.5; B=-3;");
    QCOMPARE(file.left(text.size()), text);
    QCOMPARE(file.mid(text.size(), 512 - text.size()), QByteArray(512 - text.size(), '\0'));
    QCOMPARE(file.mid(512, 8), QByteArray("\x01\x00\x00\x00\xFE\xFF\xFF\xFF", 8));
    QCOMPARE(file.mid(4604, 4), QByteArray("\x78\x56\x34\x12", 4));
    QCOMPARE(file.mid(516 + 4, 4), QByteArray(4, '\0'));

    TRadiationSpectr fresh;
    QVERIFY(fresh.SaveToFile(path));
    QVERIFY(readAll(path).startsWith(QByteArray("A=1; B=0;\0", 10)));
}

void TestRadiationSpectr::roundTripKeepsCountsAndCoefficients_data()
{
    QTest::addColumn<double>("a");
    QTest::addColumn<double>("b");
    QTest::newRow("uncalibrated") << 1.0 << 0.0;
    QTest::newRow("6.62 keV per channel") << 6.62 << 0.0;
    QTest::newRow("negative offset") << 0.5 << -3.0;
    QTest::newRow("scientific") << 1e20 << 1.5e-7;
    QTest::newRow("15 digits") << 1.23456789012345 << -987.654321098765;
}

void TestRadiationSpectr::roundTripKeepsCountsAndCoefficients()
{
    QFETCH(double, a);
    QFETCH(double, b);
    TRadiationSpectr s;
    s.CoefA = a;
    s.CoefB = b;
    fill(s, -500);
    s.SetCount(7, std::numeric_limits<qint32>::min());
    s.SetCount(8, std::numeric_limits<qint32>::max());
    const QString path = dir_.filePath("roundtrip.spc");
    QVERIFY(s.SaveToFile(path));

    TRadiationSpectr back;
    back.CoefA = 99;
    back.CoefB = 99;
    QVERIFY(back.LoadFromFile(path));
    QCOMPARE(double(back.CoefA), a);
    QCOMPARE(double(back.CoefB), b);
    for (int i = 0; i < 1024; ++i)
        QCOMPARE(back.GetCount(i), s.GetCount(i));
    QCOMPARE(back.FileImage(), s.FileImage());
}

void TestRadiationSpectr::headerRules_data()
{
    // The object starts with CoefA 7 and CoefB 9 so that kept values show.
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<double>("a");
    QTest::addColumn<double>("b");
    QTest::newRow("as written") << QByteArray("A=2; B=4;") << 2.0 << 4.0;
    QTest::newRow("all zero bytes keeps both") << QByteArray() << 7.0 << 9.0;
    QTest::newRow("B first: A reads empty") << QByteArray("B=2;A=5;") << 1.0 << 2.0;
    QTest::newRow("letters after A=") << QByteArray("A=abc; B=4;") << 1.0 << 4.0;
    QTest::newRow("bad B") << QByteArray("A=5; B=x;") << 5.0 << 0.0;
    QTest::newRow("only A") << QByteArray("A=2.5;") << 2.5 << 9.0;
    QTest::newRow("only B") << QByteArray("B=3;") << 7.0 << 3.0;
    QTest::newRow("no semicolon") << QByteArray("A=5 B=6") << 7.0 << 9.0;
    QTest::newRow("blanks around values") << QByteArray("  A= 6.5 ; B= -1E3 ;") << 6.5 << -1000.0;
    QTest::newRow("comma is no separator") << QByteArray("A=1,5; B=0;") << 1.0 << 0.0;
    QTest::newRow("leading zero bytes") << QByteArray("\0\0\0A=3; B=1;", 12) << 3.0 << 1.0;
    QTest::newRow("zero byte inside a value") << QByteArray("A=3\0 4; B=1;", 12) << 1.0 << 1.0;
    QTest::newRow("not a number: inf") << QByteArray("A=inf; B=nan;") << 1.0 << 0.0;
    QTest::newRow("512 bytes, no padding") << (QByteArray("A=8; B=2;") + QByteArray(503, 'x')) << 8.0 << 2.0;
}

void TestRadiationSpectr::headerRules()
{
    QFETCH(QByteArray, header);
    QFETCH(double, a);
    QFETCH(double, b);
    const QString path = dir_.filePath("header.spc");
    QVERIFY(writeAll(path, spectrumFile(header, 100)));
    TRadiationSpectr s;
    s.CoefA = 7;
    s.CoefB = 9;
    QVERIFY(s.LoadFromFile(path));
    QCOMPARE(double(s.CoefA), a);
    QCOMPARE(double(s.CoefB), b);
    QCOMPARE(s.GetCount(0), 100); // counts load whatever the header says
    QCOMPARE(s.GetCount(1023), 1123);
}

void TestRadiationSpectr::fileSizeRules_data()
{
    QTest::addColumn<int>("size"); // -1: no file at all, -2: a directory
    QTest::addColumn<bool>("loads");
    QTest::newRow("4608") << 4608 << true;
    QTest::newRow("5000: tail ignored") << 5000 << true;
    QTest::newRow("4607") << 4607 << false;
    QTest::newRow("512: header only") << 512 << false;
    QTest::newRow("empty") << 0 << false;
    QTest::newRow("missing") << -1 << false;
    QTest::newRow("directory") << -2 << false;
}

void TestRadiationSpectr::fileSizeRules()
{
    QFETCH(int, size);
    QFETCH(bool, loads);
    QString path = dir_.filePath(QStringLiteral("size%1.spc").arg(size));
    if (size >= 0)
        QVERIFY(writeAll(path, spectrumFile("A=3; B=4;", 1, size)));
    else if (size == -2)
        QVERIFY(QDir(dir_.path()).mkpath(path));
    const QByteArray before = readAll(path);

    TRadiationSpectr s;
    s.CoefA = 7;
    s.CoefB = 9;
    fill(s, 5000);
    QCOMPARE(s.LoadFromFile(path), loads);
    QCOMPARE(readAll(path), before); // loading never touches the file
    if (loads) {
        QCOMPARE(double(s.CoefA), 3.0);
        QCOMPARE(double(s.CoefB), 4.0);
        QCOMPARE(s.GetCount(1023), 1024);
    } else {
        QCOMPARE(double(s.CoefA), 7.0);
        QCOMPARE(double(s.CoefB), 9.0);
        QCOMPARE(s.GetCount(0), 5000);
        QCOMPARE(s.GetCount(1023), 6023);
    }
}

void TestRadiationSpectr::failedSaveKeepsThePreviousFile()
{
    TRadiationSpectr s;
    fill(s, 1);
    // A folder that is a file cannot hold anything.
    const QString notAFolder = dir_.filePath("plain");
    QVERIFY(writeAll(notAFolder, "x"));
    QVERIFY(!s.SaveToFile(notAFolder + "/a.spc"));
    QVERIFY(!s.SaveToFile(QString()));

    // A save that breaks off half-way leaves the previous file whole.
    const QString path = dir_.filePath("old.spc");
    const QByteArray old = spectrumFile("A=2; B=0;", 77);
    QVERIFY(writeAll(path, old));
    {
        FileSizeLimit limit(1000);
        QVERIFY(limit.Active());
        QVERIFY(!s.SaveToFile(path));
    }
    QCOMPARE(readAll(path), old);
    QCOMPARE(QDir(dir_.path()).entryList(QDir::Files).filter("old.spc").size(), 1); // no leftovers
}

void TestRadiationSpectr::countsOutsideTheChannels()
{
    TRadiationSpectr s;
    fill(s, 1);
    for (int c : {-1, 1024, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()}) {
        QCOMPARE(s.GetCount(c), 0);
        s.SetCount(c, 42); // ignored, no write outside the counts
        QCOMPARE(s.GetCount(c), 0);
    }
    QCOMPARE(s.GetCount(0), 1);
    QCOMPARE(s.GetCount(1023), 1024);
    s.CoefA = 2;
    s.Clear();
    QCOMPARE(s.GetCount(1023), 0);
    QCOMPARE(double(s.CoefA), 2.0); // Clear keeps the calibration
}

void TestRadiationSpectr::blockLoading_data()
{
    QTest::addColumn<QByteArray>("block");
    QTest::addColumn<bool>("swap");
    QTest::addColumn<bool>("result");
    QTest::addColumn<QList<int>>("counts"); // channels 0, 1, 2, 1023

    QTest::newRow("null") << QByteArray() << false << false << QList<int>{0, 0, 0, 0};
    QTest::newRow("3 bytes") << QByteArray("\x01\x02\x03", 3) << false << true << QList<int>{0, 0, 0, 0};
    QTest::newRow("10 bytes") << QByteArray("\x01\x00\x00\x00\x00\x01\x00\x00\xFF\xFF", 10) << false << true
                              << QList<int>{1, 256, 0, 0};
    QTest::newRow("swapped") << QByteArray("\x00\x00\x00\x01\x00\x00\x01\x00", 8) << true << true
                             << QList<int>{1, 256, 0, 0};
    QTest::newRow("negative") << QByteArray("\xFF\xFF\xFF\xFF", 4) << false << true << QList<int>{-1, 0, 0, 0};
    QByteArray full(5000, '\0');
    full[4 * 1023] = 9;
    full[4096] = 1; // beyond the last channel
    QTest::newRow("longer than 4096") << full << false << true << QList<int>{0, 0, 0, 9};
}

void TestRadiationSpectr::blockLoading()
{
    QFETCH(QByteArray, block);
    QFETCH(bool, swap);
    QFETCH(bool, result);
    QFETCH(QList<int>, counts);
    TRadiationSpectr s;
    fill(s, 1000);
    s.CoefA = 3;
    QCOMPARE(s.LoadFromBlock(block, swap), result);
    QCOMPARE(s.GetCount(0), counts[0]);
    QCOMPARE(s.GetCount(1), counts[1]);
    QCOMPARE(s.GetCount(2), counts[2]);
    QCOMPARE(s.GetCount(1023), counts[3]);
    QCOMPARE(double(s.CoefA), 3.0);

    // A negative size reads nothing.
    QVERIFY(s.LoadFromBlock(block.constData() ? block.constData() : "", -8, swap));
    QCOMPARE(s.GetCount(0), 0);
}

void TestRadiationSpectr::assignCounts()
{
    TRadiationSpectr source;
    source.CoefA = 6.62L;
    source.CoefB = 5;
    fill(source, 10);
    TRadiationSpectr target;
    fill(target, 99);
    QVERIFY(!target.AssignCounts(nullptr));
    QCOMPARE(target.GetCount(0), 99);

    QVERIFY(target.AssignCounts(&source));
    QCOMPARE(target.GetCount(0), 10);
    QCOMPARE(target.GetCount(1023), 1033);
    QCOMPARE(double(target.CoefA), 1.0); // the calibration is not copied
    QCOMPARE(double(target.CoefB), 0.0);

    QVERIFY(target.AssignCounts(&target));
    QCOMPARE(target.GetCount(1023), 1033);
}

void TestRadiationSpectr::rangeSumDoesNotOverflow()
{
    TRadiationSpectr s;
    for (int i = 0; i < 1024; ++i)
        s.SetCount(i, std::numeric_limits<qint32>::max());
    QCOMPARE(s.SumCounts(0, 1023), qint64(1024) * std::numeric_limits<qint32>::max());

    fill(s, 0); // count i = i
    QCOMPARE(s.SumCounts(80, 120), qint64(41 * 100));
    QCOMPARE(s.SumCounts(120, 80), qint64(41 * 100)); // markers in either order
    QCOMPARE(s.SumCounts(5, 5), qint64(5));
    QCOMPARE(s.SumCounts(-5, 2), qint64(3));
    QCOMPARE(s.SumCounts(1020, 5000), qint64(1020 + 1021 + 1022 + 1023));
    QCOMPARE(s.SumCounts(std::numeric_limits<int>::min(), std::numeric_limits<int>::max()),
             qint64(1023) * 1024 / 2);
    QCOMPARE(s.SumCounts(2000, 3000), qint64(0));
}

QTEST_GUILESS_MAIN(TestRadiationSpectr)
#include "tst_radiationspectr.moc"
