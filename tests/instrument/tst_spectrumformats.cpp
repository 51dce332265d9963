// N42, SPE and CSV spectra: written and read back to the same counts and
// coefficients, and refused with a reason when they are not what they claim.
#include "instrument/spectrumformats.h"

#include "base/textutils.h"

#include <QTest>
#include <QXmlStreamReader>

#include <limits>

namespace {

TRadiationSpectr sample(long double a, long double b, int seed)
{
    TRadiationSpectr s;
    s.CoefA = a;
    s.CoefB = b;
    for (int c = 0; c < TRadiationSpectr::ChannelCount; ++c)
        s.SetCount(c, (c * 7919 + seed * 104729) % 100000 - (c % 97 == 0 ? 5 : 0));
    s.SetCount(3, std::numeric_limits<qint32>::max());
    s.SetCount(4, std::numeric_limits<qint32>::min());
    return s;
}

bool sameCounts(const TRadiationSpectr &x, const TRadiationSpectr &y)
{
    for (int c = 0; c < TRadiationSpectr::ChannelCount; ++c)
        if (x.GetCount(c) != y.GetCount(c))
            return false;
    return true;
}

} // namespace

class TestSpectrumFormats : public QObject {
    Q_OBJECT
private slots:
    void writtenAndReadBack_data();
    void writtenAndReadBack();
    void n42IsWellFormed();
    void refused_data();
    void refused();
};

void TestSpectrumFormats::writtenAndReadBack_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<bool>("background");
    QTest::addColumn<double>("a");
    QTest::addColumn<double>("b");
    QTest::newRow("n42") << int(TSpectrumFormat::N42) << false << 2.91 << -12.3456789012345;
    QTest::newRow("n42 with background") << int(TSpectrumFormat::N42) << true << 0.5 << -3.0;
    QTest::newRow("n42 tiny slope") << int(TSpectrumFormat::N42) << false << 1.5e-7 << 1e20;
    QTest::newRow("spe") << int(TSpectrumFormat::Spe) << false << 2.91 << -12.3456789012345;
    QTest::newRow("spe uncalibrated") << int(TSpectrumFormat::Spe) << false << 1.0 << 0.0;
    QTest::newRow("csv") << int(TSpectrumFormat::Csv) << false << 3.25 << -7.5;
    QTest::newRow("spc") << int(TSpectrumFormat::Spc) << false << 6.62 << 0.0;
}

void TestSpectrumFormats::writtenAndReadBack()
{
    QFETCH(int, format);
    QFETCH(bool, background);
    QFETCH(double, a);
    QFETCH(double, b);
    TSpectrumFile file;
    // Coefficients as a .spc gives them: read from their 15-digit text.
    file.Main = sample(StrToFloatDot(FloatToStrDot(a)), StrToFloatDot(FloatToStrDot(b)), 1);
    if (background)
        file.Background = sample(1.25, 4, 2);
    const QByteArray bytes = SpectrumFileImage(file, TSpectrumFormat(format));
    TSpectrumFile read;
    QString error;
    QVERIFY2(ParseSpectrumFile(bytes, TSpectrumFormat(format), read, &error), qPrintable(error));
    QVERIFY(sameCounts(read.Main, file.Main));
    if (format == int(TSpectrumFormat::Csv)) {
        // Energies to 15 digits give the line back to about as many.
        QVERIFY(std::abs(double(read.Main.CoefA - file.Main.CoefA)) < 1e-12);
        QVERIFY(std::abs(double(read.Main.CoefB - file.Main.CoefB)) < 1e-12);
    } else {
        QCOMPARE(read.Main.CoefA, file.Main.CoefA);
        QCOMPARE(read.Main.CoefB, file.Main.CoefB);
    }
    QCOMPARE(read.Background.has_value(), background);
    if (background) {
        QVERIFY(sameCounts(*read.Background, *file.Background));
        QCOMPARE(read.Background->CoefA, file.Background->CoefA);
        QCOMPARE(read.Background->CoefB, file.Background->CoefB);
    }
    // Written again, the same bytes.
    QCOMPARE(SpectrumFileImage(read, TSpectrumFormat(format)), bytes);
}

void TestSpectrumFormats::n42IsWellFormed()
{
    TSpectrumFile file;
    file.Main = sample(2, 1, 3);
    file.Background = sample(2, 1, 4);
    QXmlStreamReader xml(SpectrumFileImage(file, TSpectrumFormat::N42));
    QStringList kinds;
    QList<qsizetype> sizes;
    while (!xml.atEnd()) {
        xml.readNext();
        if (!xml.isStartElement())
            continue;
        QCOMPARE(xml.namespaceUri().toString(), QStringLiteral("http://physics.nist.gov/N42/2011/N42"));
        if (xml.name() == u"MeasurementClassCode")
            kinds << xml.readElementText();
        if (xml.name() == u"ChannelData")
            sizes << xml.readElementText().simplified().split(' ').size();
    }
    QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
    QCOMPARE(kinds, (QStringList{"Foreground", "Background"}));
    QCOMPARE(sizes, (QList<qsizetype>{1024, 1024}));
}

void TestSpectrumFormats::refused_data()
{
    TSpectrumFile file;
    file.Main = sample(2, 1, 5);
    const QByteArray n42 = SpectrumFileImage(file, TSpectrumFormat::N42);
    const QByteArray spe = SpectrumFileImage(file, TSpectrumFormat::Spe);
    const QByteArray csv = SpectrumFileImage(file, TSpectrumFormat::Csv);
    const QByteArray firstCounts = QByteArray::number(file.Main.GetCount(0)) + ' ' +
                                   QByteArray::number(file.Main.GetCount(1));
    QByteArray calibration = n42;
    calibration.replace("<CoefficientValues>1 2</CoefficientValues>", "<CoefficientValues>1 2 0.001</CoefficientValues>");

    QTest::addColumn<int>("format");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<int>("kind");
    using K = TSpectrumFileProblem;
    QTest::newRow("n42 short") << int(TSpectrumFormat::N42) << QByteArray(n42).replace(firstCounts, firstCounts.split(' ')[1])
                               << "holds 1023 channels" << int(K::ChannelCount);
    QTest::newRow("n42 letters") << int(TSpectrumFormat::N42) << QByteArray(n42).replace(firstCounts, "12x " + firstCounts.split(' ')[1])
                                 << "channel 0 (\"12x\")" << int(K::Counts);
    QTest::newRow("n42 too many counts") << int(TSpectrumFormat::N42) << QByteArray(n42).replace(firstCounts, "2147483648 " + firstCounts.split(' ')[1])
                                         << "no whole number" << int(K::Counts);
    QTest::newRow("n42 other namespace") << int(TSpectrumFormat::N42) << QByteArray(n42).replace("N42/2011/N42", "N42/2006/N42")
                                         << "not an N42 document" << int(K::Layout);
    QTest::newRow("n42 cut") << int(TSpectrumFormat::N42) << n42.left(n42.size() / 2) << "not well-formed XML" << int(K::Layout);
    QTest::newRow("n42 bent calibration") << int(TSpectrumFormat::N42) << calibration << "not a straight line" << int(K::Calibration);
    QTest::newRow("n42 no spectrum") << int(TSpectrumFormat::N42)
                                     << QByteArray("<RadInstrumentData xmlns=\"http://physics.nist.gov/N42/2011/N42\"/>")
                                     << "holds no spectrum" << int(K::Layout);
    QTest::newRow("spe half") << int(TSpectrumFormat::Spe) << QByteArray(spe).replace("0 1023", "0 511") << "channels 0 to 511" << int(K::ChannelCount);
    QTest::newRow("spe extra count") << int(TSpectrumFormat::Spe) << QByteArray(spe).replace("$ENER_FIT:", "7\r\n$ENER_FIT:")
                                     << "holds 1025 channels" << int(K::ChannelCount);
    QTest::newRow("spe no data") << int(TSpectrumFormat::Spe) << QByteArray("$SPEC_ID:\r\nx\r\n") << "no $DATA:" << int(K::Layout);
    QTest::newRow("spe bad slope") << int(TSpectrumFormat::Spe) << QByteArray(spe).replace("1 2 keV", "1 two keV")
                                   << "\"two\" is no number" << int(K::Calibration);
    QTest::newRow("csv header") << int(TSpectrumFormat::Csv) << QByteArray(csv).replace("channel,energy_kev,count", "a,b,c")
                                << "CSV header" << int(K::Layout);
    QTest::newRow("csv bent") << int(TSpectrumFormat::Csv) << QByteArray(csv).replace("\n10,21,", "\n10,21.5,")
                              << "straight line (row 12)" << int(K::Calibration);
    QTest::newRow("csv row order") << int(TSpectrumFormat::Csv) << QByteArray(csv).replace("\n10,21,", "\n11,21,")
                                   << "row 12 is not channel 10" << int(K::Layout);
    QTest::newRow("spc short") << int(TSpectrumFormat::Spc) << QByteArray(4607, '\0') << "this one 4607" << int(K::ChannelCount);
}

void TestSpectrumFormats::refused()
{
    QFETCH(int, format);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, reason);
    QFETCH(int, kind);
    TSpectrumFile file;
    file.Main.SetCount(0, 77);
    QString error;
    TSpectrumFileProblem problem = TSpectrumFileProblem::None;
    QVERIFY(!ParseSpectrumFile(bytes, TSpectrumFormat(format), file, &error, &problem));
    QVERIFY2(error.contains(reason), qPrintable(error));
    QCOMPARE(int(problem), kind);
    QCOMPARE(file.Main.GetCount(0), 77); // nothing taken from a refused file
}

QTEST_GUILESS_MAIN(TestSpectrumFormats)
#include "tst_spectrumformats.moc"
