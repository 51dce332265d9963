// Peak search and fit on spectra made in the test with known peaks, the
// nuclide names and the many-point calibration.
#include "analysis/calibrationfit.h"
#include "analysis/nuclides.h"
#include "analysis/peaksearch.h"
#include "syntheticspectrum.h"

#include <QTest>

#include <numeric>

namespace {

const TPeak *nearest(const std::vector<TPeak> &peaks, double channel)
{
    const TPeak *best = nullptr;
    for (const TPeak &p : peaks)
        if (!best || std::abs(p.Channel - channel) < std::abs(best->Channel - channel))
            best = &p;
    return best;
}

} // namespace

class TestPeakSearch : public QObject {
    Q_OBJECT
private slots:
    void strongPeaksFoundAndAreasUnbiased();
    void flatSpectrumHasNoPeak_data();
    void flatSpectrumHasNoPeak();
    void doubletResolved_data();
    void doubletResolved();
    void backgroundSubtracted();
    void nuclidesAndCalibration();
};

void TestPeakSearch::strongPeaksFoundAndAreasUnbiased()
{
    // Every peak of these spectra stands above 10 sigma; over all of them the
    // fitted areas scatter around the true ones as their sigmas say.
    std::vector<double> pulls, chi2;
    for (unsigned seed = 1; seed <= 24; ++seed) {
        const TSyntheticSpectrum spectrum = FifteenPeaks(seed % 2 ? 2.0 : 5.0);
        const std::vector<TPeak> found = FindPeaks(spectrum.Counted(seed), 2.5, 10.0);
        for (const TTruePeak &truth : spectrum.Peaks) {
            QVERIFY(truth.Area / spectrum.ExpectedAreaSigma(truth) > 10);
            const TPeak *peak = nearest(found, truth.Channel);
            QVERIFY2(peak && std::abs(peak->Channel - truth.Channel) < 0.5,
                     qPrintable(QStringLiteral("seed %1: the peak at %2 is not found").arg(seed).arg(truth.Channel)));
            QVERIFY(peak->NetAreaSigma > 0);
            QCOMPARE(peak->EnergyKeV, 2.5 * peak->Channel + 10.0);
            QVERIFY(std::abs(peak->FwhmChannels / (2.3548 * truth.Sigma) - 1) < 0.15);
            chi2.push_back(peak->ReducedChi2);
            QVERIFY(peak->RegionFirst < peak->Channel && peak->Channel < peak->RegionLast);
            pulls.push_back((peak->NetArea - truth.Area) / peak->NetAreaSigma);
        }
    }
    QVERIFY(pulls.size() >= 100);
    const double mean = std::accumulate(pulls.begin(), pulls.end(), 0.0) / double(pulls.size());
    double var = 0;
    for (double p : pulls)
        var += (p - mean) * (p - mean);
    const double sd = std::sqrt(var / double(pulls.size() - 1));
    qInfo("pulls over %d peaks: mean %.3f, standard deviation %.3f", int(pulls.size()), mean, sd);
    QVERIFY2(std::abs(mean) < 0.2, qPrintable(QString::number(mean)));
    QVERIFY2(sd > 0.8 && sd < 1.2, qPrintable(QString::number(sd)));
    // Poisson weights that are right give a chi-square per degree of freedom near 1.
    const double meanChi2 = std::accumulate(chi2.begin(), chi2.end(), 0.0) / double(chi2.size());
    QVERIFY2(meanChi2 > 0.8 && meanChi2 < 1.2, qPrintable(QString::number(meanChi2)));
}

void TestPeakSearch::flatSpectrumHasNoPeak_data()
{
    QTest::addColumn<double>("level");
    QTest::addColumn<double>("decay");
    QTest::newRow("few counts") << 3.0 << 1e9;
    QTest::newRow("flat") << 200.0 << 1e9;
    QTest::newRow("many counts") << 50000.0 << 1e9;
    QTest::newRow("falling") << 5000.0 << 300.0;
}

void TestPeakSearch::flatSpectrumHasNoPeak()
{
    QFETCH(double, level);
    QFETCH(double, decay);
    TSyntheticSpectrum spectrum;
    spectrum.ContinuumHeight = level;
    spectrum.ContinuumDecay = decay;
    spectrum.ContinuumFloor = 0;
    for (unsigned seed = 11; seed <= 20; ++seed)
        for (const TPeak &p : FindPeaks(spectrum.Counted(seed), 1, 0))
            QVERIFY2(p.Significance() < 5,
                     qPrintable(QStringLiteral("seed %1: %2 sigma at %3").arg(seed).arg(p.Significance()).arg(p.Channel)));
}

void TestPeakSearch::doubletResolved_data()
{
    QTest::addColumn<double>("sigma");
    QTest::addColumn<double>("secondArea");
    QTest::newRow("narrow, equal") << 2.0 << 20000.0;
    QTest::newRow("wide, equal") << 5.0 << 20000.0;
    QTest::newRow("narrow, half") << 2.0 << 10000.0;
    QTest::newRow("wide, half") << 4.0 << 10000.0;
}

void TestPeakSearch::doubletResolved()
{
    QFETCH(double, sigma);
    QFETCH(double, secondArea);
    const double fwhm = 2.3548 * sigma;
    TSyntheticSpectrum spectrum;
    spectrum.Peaks = {{500, sigma, 20000}, {500 + 1.5 * fwhm, sigma, secondArea}};
    for (unsigned seed = 21; seed <= 25; ++seed) {
        std::vector<TPeak> found;
        for (const TPeak &p : FindPeaks(spectrum.Counted(seed), 1, 0))
            if (std::abs(p.Channel - 500) < 10 * fwhm)
                found.push_back(p);
        QCOMPARE(found.size(), size_t(2));
        for (size_t k = 0; k < 2; ++k) {
            QVERIFY(std::abs(found[k].Channel - spectrum.Peaks[k].Channel) < 0.5);
            QVERIFY(std::abs(found[k].NetArea - spectrum.Peaks[k].Area) < 4 * found[k].NetAreaSigma);
            QCOMPARE(found[k].RegionFirst, found[0].RegionFirst); // one fit for both
        }
    }
}

void TestPeakSearch::backgroundSubtracted()
{
    // A background line under the main spectrum's continuum vanishes from the
    // net spectrum; the main lines keep their areas, with wider sigmas.
    TSyntheticSpectrum background;
    background.ContinuumHeight = 2000;
    background.Peaks = {{400, 4, 30000}};
    TSyntheticSpectrum main = background;
    main.Peaks.push_back({250, 3, 15000});
    main.Peaks.push_back({700, 5, 15000});
    const std::vector<double> counts = main.Counted(31);
    const TNetSpectrum net = SubtractBackground(counts, background.Counted(32));
    const std::vector<TPeak> gross = FindPeaks(counts, 1, 0);
    const std::vector<TPeak> found = FindPeaks(net.Counts, 1, 0, {}, net.ExtraVariance);
    QCOMPARE(gross.size(), size_t(3));
    QCOMPARE(found.size(), size_t(2));
    for (size_t k = 0; k < 2; ++k) {
        QVERIFY(std::abs(found[k].Channel - main.Peaks[k + 1].Channel) < 0.5);
        QVERIFY(std::abs(found[k].NetArea - 15000) < 4 * found[k].NetAreaSigma);
        QVERIFY(found[k].NetAreaSigma > nearest(gross, found[k].Channel)->NetAreaSigma);
    }
}

void TestPeakSearch::nuclidesAndCalibration()
{
    // Named when a line lies within the FWHM; the stronger of two close lines wins.
    const std::tuple<double, double, const char *> names[] = {
        {662, 40, "Cs-137"}, {1455, 60, "K-40"},   {2600, 100, "Tl-208"}, {240, 20, "Pb-212"},
        {352, 25, "Pb-214"}, {609, 30, "Bi-214"}, {800, 10, nullptr},     {662, 0, nullptr},
    };
    for (const auto &[keV, fwhm, nuclide] : names) {
        const TGammaLine *line = MatchGammaLine(keV, fwhm);
        QCOMPARE(line ? QString::fromLatin1(line->Nuclide) : QString(), QString::fromLatin1(nuclide));
    }

    // Four lines on a slightly bent scale: the straight line, its residuals
    // summing to zero, and the quadratic that recovers the bend.
    std::vector<TCalibrationPoint> points;
    for (double c : {100.0, 250.0, 500.0, 900.0})
        points.push_back({c, 5 + 2.9 * c + 1e-4 * c * c});
    const TCalibrationFit fit = FitCalibration(points);
    QVERIFY(fit.Valid && fit.QuadraticValid);
    QCOMPARE(fit.Residuals.size(), size_t(4));
    QVERIFY(std::abs(std::accumulate(fit.Residuals.begin(), fit.Residuals.end(), 0.0)) < 1e-9);
    QVERIFY(fit.RmsResidual > 1 && fit.RmsResidual < 10);
    QVERIFY(std::abs(fit.Q2 - 1e-4) < 1e-10 && std::abs(fit.Q1 - 2.9) < 1e-7 && fit.QuadraticRms < 1e-6);

    const TCalibrationFit two = FitCalibration({{100, 662}, {200, 1324}});
    QVERIFY(two.Valid && !two.QuadraticValid);
    QCOMPARE(two.CoefA, 6.62);
    QVERIFY(std::abs(two.CoefB) < 1e-9);
    QVERIFY(!FitCalibration({{100, 662}, {100, 700}}).Valid);
    QVERIFY(!FitCalibration({}).Valid);
}

QTEST_GUILESS_MAIN(TestPeakSearch)
#include "tst_peaksearch.moc"
