#pragma once
// Peaks of a gamma spectrum: found, fitted, measured.
//
// Search: the counts are correlated with a zero-area "Mexican hat" (the
// negative second derivative of a Gaussian) at several widths; a channel
// where the filtered value stands above `Threshold` times its own standard
// deviation, and above its neighbours, is a candidate, with the width of the
// filter that saw it best as its first width.
//
// Fit: candidates closer than a few widths share one region, which is fitted
// by weighted nonlinear least squares (GSL's trust-region solver): one to
// three Gaussians with one common width on a straight continuum. The weights
// are Poisson variances: those of the counts on the first pass, those of the
// fitted model afterwards (so a low channel does not pull the fit down), plus
// whatever variance the caller adds per channel (a subtracted background).
// Peaks whose fitted area is not significant, that lie nearer than a FWHM to
// a stronger one, or that lower the chi-square by less than the threshold
// squared, are dropped and the region fitted again without them.
//
// Counts are plain doubles, channel 0 first; energies come from the two
// calibration coefficients, keV = A * channel + B.

#include <QString>

#include <span>
#include <vector>

struct TPeakSearchOptions {
    // Candidates and reported peaks: significance in standard deviations.
    double Threshold = 3.0;
    // Narrowest and widest Gaussian sigma looked for, in channels.
    double MinSigma = 1.0;
    double MaxSigma = 16.0;
};

struct TPeak {
    double Channel = 0;        // fitted centroid
    double ChannelSigma = 0;   // its 1 sigma
    double EnergyKeV = 0;      // centroid through the calibration
    double FwhmChannels = 0;
    double FwhmKeV = 0;
    double NetArea = 0;        // counts above the continuum
    double NetAreaSigma = 0;   // 1 sigma from the fit's covariance
    // Counts of the fitted continuum within one FWHM either side of the centroid.
    double Continuum = 0;
    double ReducedChi2 = 0;    // of the region's fit
    int RegionFirst = 0;       // channels of the fitted region, inclusive
    int RegionLast = 0;
    QString Nuclide;           // "Bi-214", or empty when no line lies within the FWHM
    double LineKeV = 0;        // energy of that line

    double Significance() const { return NetAreaSigma > 0 ? NetArea / NetAreaSigma : 0; }
};

// The peaks in channel order. extraVariance, when not empty, has one value
// per channel, added to the Poisson variance of the model (twice the counts
// of a background already subtracted from `counts`).
std::vector<TPeak> FindPeaks(std::span<const double> counts, double coefA, double coefB,
                             const TPeakSearchOptions &options = {},
                             std::span<const double> extraVariance = {});

// A spectrum minus a background, with the variance the background adds. When
// the two were counted for the same time this is the net spectrum.
struct TNetSpectrum {
    std::vector<double> Counts;
    std::vector<double> ExtraVariance;
};
TNetSpectrum SubtractBackground(std::span<const double> counts, std::span<const double> background);
// The peaks of counts less a background (none when empty).
std::vector<TPeak> FindNetPeaks(std::span<const double> counts, std::span<const double> background, double coefA,
                                double coefB, const TPeakSearchOptions &options = {});

// One region, channels first to last, fitted from given starting peaks
// (centroids in channels, and a common sigma); FindPeaks is built on it.
// False when the fit does not converge.
struct TRegionFit {
    std::vector<TPeak> Peaks;
    double Sigma = 0;
    double ContinuumAt = 0;     // b0 + b1 * (x - Middle)
    double ContinuumSlope = 0;
    double Middle = 0;
    double Chi2 = 0;
    double ReducedChi2 = 0;
};
bool FitRegion(std::span<const double> counts, std::span<const double> extraVariance, int first, int last,
               const std::vector<double> &centroids, double sigma, TRegionFit &fit);
