#pragma once
// Spectra made to order for the analysis tests and benchmarks: Gaussian
// peaks of known area on an exponential continuum, counted with Poisson
// noise from a fixed seed.

#include <cmath>
#include <random>
#include <vector>

struct TTruePeak {
    double Channel;
    double Sigma;
    double Area;
};

struct TSyntheticSpectrum {
    int Channels = 1024;
    double ContinuumHeight = 3000; // counts per channel at channel 0 ...
    double ContinuumDecay = 250;   // ... falling e-fold over this many channels
    double ContinuumFloor = 50;
    std::vector<TTruePeak> Peaks;

    double Continuum(double c) const { return ContinuumHeight * std::exp(-c / ContinuumDecay) + ContinuumFloor; }

    // The expected counts: each peak integrated over each channel's width.
    std::vector<double> Expected() const
    {
        std::vector<double> mean(static_cast<size_t>(Channels));
        for (int c = 0; c < Channels; ++c) {
            mean[size_t(c)] = Continuum(c);
            for (const TTruePeak &p : Peaks) {
                const double lo = (c - 0.5 - p.Channel) / (p.Sigma * std::sqrt(2.0));
                const double hi = (c + 0.5 - p.Channel) / (p.Sigma * std::sqrt(2.0));
                mean[size_t(c)] += p.Area * 0.5 * (std::erf(hi) - std::erf(lo));
            }
        }
        return mean;
    }

    std::vector<double> Counted(unsigned seed) const
    {
        std::mt19937_64 random(seed);
        std::vector<double> counts;
        for (double m : Expected())
            counts.push_back(double(std::poisson_distribution<long>(m)(random)));
        return counts;
    }

    // About what the fit's 1 sigma of a peak's area will be: its own counts
    // and the continuum's under it, the continuum counted twice (once for
    // itself, once for its own estimate).
    double ExpectedAreaSigma(const TTruePeak &p) const
    {
        return std::sqrt(p.Area + 2 * 2 * 2.3548 * p.Sigma * Continuum(p.Channel));
    }
};

// Fifteen peaks spread over the spectrum, widths growing with the channel
// like a scintillator's; `scale` multiplies every area.
inline TSyntheticSpectrum FifteenPeaks(double scale = 1.0)
{
    TSyntheticSpectrum s;
    for (int k = 0; k < 15; ++k) {
        const double channel = 50 + 64.0 * k + 3.3 * (k % 4);
        const double sigma = 1.2 + 0.06 * std::sqrt(channel) * (1 + k % 3);
        s.Peaks.push_back({channel, sigma, scale * (3000 + 1700.0 * ((k * 7) % 11))});
    }
    return s;
}
