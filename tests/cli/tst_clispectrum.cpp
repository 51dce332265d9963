// kvarnctl's spectrum files, run as a script runs it: conversions between the
// formats that give the .spc back byte for byte, and the peaks of spectra
// made here with known lines.

#include "analysis/syntheticspectrum.h"
#include "instrument/radiationspectr.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

QByteArray spcFile(const QByteArray &header, const std::vector<double> &counts)
{
    TRadiationSpectr s;
    for (int c = 0; c < TRadiationSpectr::ChannelCount; ++c)
        s.SetCount(c, qint32(counts[size_t(c)]));
    return header + QByteArray(TRadiationSpectr::HeaderSize - header.size(), '\0') +
           s.FileImage().mid(TRadiationSpectr::HeaderSize);
}

// Lines at the given energies on a calibration of 2.5 keV per channel from 10 keV.
std::vector<double> linesAt(std::initializer_list<double> keV, unsigned seed)
{
    TSyntheticSpectrum s;
    for (double e : keV)
        s.Peaks.push_back({(e - 10) / 2.5, 3.0, 20000});
    return s.Counted(seed);
}

} // namespace

class TestCliSpectrum : public QObject {
    Q_OBJECT
private slots:
    void init();
    void convertGivesTheSpcBack_data();
    void convertGivesTheSpcBack();
    void peaksNamedAndBackgroundSubtracted();
    void badFilesRefused();

private:
    struct Result {
        int Code = -1;
        QByteArray Out;
        QString Err;
    };
    Result run(const QStringList &arguments);
    QString path(const QString &name) const { return dir_->filePath(name); }
    bool write(const QString &name, const QByteArray &bytes);
    QByteArray read(const QString &name);

    std::unique_ptr<QTemporaryDir> dir_;
};

void TestCliSpectrum::init()
{
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
}

TestCliSpectrum::Result TestCliSpectrum::run(const QStringList &arguments)
{
    QProcess p;
    p.setWorkingDirectory(dir_->path());
    p.start(qEnvironmentVariable("KVARN_CTL"), arguments);
    Result r;
    if (!p.waitForFinished(60000))
        return r;
    r.Code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.Out = p.readAllStandardOutput();
    r.Err = QString::fromLocal8Bit(p.readAllStandardError());
    return r;
}

bool TestCliSpectrum::write(const QString &name, const QByteArray &bytes)
{
    QFile f(path(name));
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

QByteArray TestCliSpectrum::read(const QString &name)
{
    QFile f(path(name));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void TestCliSpectrum::convertGivesTheSpcBack_data()
{
    QTest::addColumn<QByteArray>("header");
    QTest::newRow("uncalibrated") << QByteArray("A=1; B=0;");
    QTest::newRow("calibrated") << QByteArray("A=2.91; B=-12.3456789012345;");
    QTest::newRow("scientific") << QByteArray("A=1.5E-7; B=1E20;");
    QTest::newRow("no blank") << QByteArray("A=6.62;B=0;");
    QTest::newRow("B first") << QByteArray("B=2;A=5;");
    QTest::newRow("all zero") << QByteArray();
    QTest::newRow("more digits") << QByteArray("A=0.12345678901234567891; B=1;");
    QTest::newRow("remarks") << QByteArray("\x01 note \xcf\xf0\xe8\xe1\xee\xf0 A=3; B=4; \xff end");
    QTest::newRow("no number") << QByteArray("A=abc; B=;");
}

void TestCliSpectrum::convertGivesTheSpcBack()
{
    QFETCH(QByteArray, header);
    const QByteArray original = spcFile(header, linesAt({662}, 1));
    QVERIFY(write("a.spc", original));
    for (const char *other : {"n42", "spe"}) {
        const QString middle = QStringLiteral("a.") + other;
        Result r = run({"convert", "a.spc", middle});
        QVERIFY2(r.Code == 0, qPrintable(r.Err));
        r = run({"convert", middle, "back.spc"});
        QVERIFY2(r.Code == 0, qPrintable(r.Err));
        QVERIFY2(read("back.spc") == original, other);
    }
}

void TestCliSpectrum::peaksNamedAndBackgroundSubtracted()
{
    // Cs-137 in the main spectrum; K-40 in both, so the net spectrum lacks it.
    QVERIFY(write("main.spc", spcFile("A=2.5; B=10;", linesAt({661.657, 1460.82}, 2))));
    QVERIFY(write("background.spc", spcFile("A=2.5; B=10;", linesAt({1460.82}, 3))));
    QCOMPARE(run({"convert", "main.spc", "main.n42"}).Code, 0);

    Result r = run({"peaks", "main.n42", "--csv"});
    QVERIFY2(r.Code == 0, qPrintable(r.Err));
    QList<QByteArray> rows = r.Out.trimmed().split('\n');
    QCOMPARE(rows.takeFirst(), "channel,energy_kev,fwhm_channels,net_area,net_area_sigma,continuum,reduced_chi2,nuclide");
    QStringList nuclides;
    for (const QByteArray &row : rows) {
        const QList<QByteArray> f = row.split(',');
        QCOMPARE(f.size(), 8);
        if (f[7].isEmpty())
            continue;
        nuclides << QString::fromLatin1(f[7]);
        const double truth = f[7] == "Cs-137" ? 661.657 : 1460.82;
        QVERIFY(std::abs(f[1].toDouble() - truth) < 2.5 * 0.5);
        QVERIFY(std::abs(f[3].toDouble() - 20000) < 4 * f[4].toDouble());
        QVERIFY(std::abs(f[2].toDouble() / (2.3548 * 3) - 1) < 0.1);
    }
    QCOMPARE(nuclides, (QStringList{"Cs-137", "K-40"}));

    r = run({"peaks", "main.spc", "--background", "background.spc", "--threshold", "5"});
    QVERIFY2(r.Code == 0, qPrintable(r.Err));
    const QString table = QString::fromLocal8Bit(r.Out);
    QVERIFY2(table.contains("Cs-137") && !table.contains("K-40"), qPrintable(table));
}

void TestCliSpectrum::badFilesRefused()
{
    QVERIFY(write("a.spc", spcFile("A=1; B=0;", linesAt({}, 4))));
    QCOMPARE(run({"convert", "a.spc", "a.n42"}).Code, 0);
    QByteArray n42 = read("a.n42");
    QVERIFY(write("short.n42", n42.replace("compressionCode=\"None\">\n", "compressionCode=\"None\">\n7 ")));
    QVERIFY(write("short.spe", "$DATA:\r\n0 1023\r\n1 2 3\r\n"));
    const std::pair<QStringList, QString> refused[] = {
        {{"peaks", "short.n42"}, "holds 1025 channels"},
        {{"convert", "short.spe", "x.spc"}, "holds 3 channels"},
        {{"convert", "a.spc", "./a.spc"}, "the same file"},
        {{"convert", "a.spc", "a.txt"}, "writes a spectrum as .spc, .n42, .spe or .csv"},
        {{"peaks", "a.spc", "--threshold", "0.5"}, "from 1 to 100"},
        {{"peaks", "a.spc", "--background", "missing.spc"}, "missing.spc does not exist"},
    };
    for (const auto &[arguments, reason] : refused) {
        const Result r = run(arguments);
        QCOMPARE(r.Code, 2);
        QVERIFY2(r.Err.contains(reason), qPrintable(r.Err));
        QVERIFY(!QFile::exists(path("x.spc")));
    }
}

QTEST_GUILESS_MAIN(TestCliSpectrum)
#include "tst_clispectrum.moc"
