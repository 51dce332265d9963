#include "sim/simspectrum.h"

#include "sim/simrandom.h"

#include <cmath>

namespace {

struct Line {
    double keV;
    double amplitude; // counts at the top of the line
};

// Xe-133, Xe-135, Cs-137, Ar-41, K-40.
constexpr Line kMainLines[] = {{81, 6000}, {250, 1800}, {662, 1500}, {1293, 260}, {1461, 120}};
// The detector's own: Cs-137 traces, K-40 and Tl-208 from the shielding.
constexpr Line kBackgroundLines[] = {{662, 40}, {1461, 110}, {2614, 25}};

// Resolution of a NaI crystal: the width grows with the square root of the energy.
double sigmaChannels(double channel) { return 0.45 * std::sqrt(channel) + 0.8; }

double continuum(double ch)
{
    const double shape = 4000.0 * std::exp(-ch / 90.0) + 600.0 * std::exp(-ch / 400.0) + 20.0;
    // The lower discriminator cuts the first channels off.
    return shape * (1.0 - std::exp(-ch / 6.0));
}

} // namespace

TSimCounts SimSpectrumCounts(TSimSpectrumKind kind, quint64 seed)
{
    const bool main = kind == TSimSpectrumKind::Main;
    const double scale = main ? 1.0 : 0.12;
    TSimCounts counts{};
    for (int ch = 0; ch < kSimChannels; ++ch) {
        double mean = scale * continuum(ch);
        auto addLines = [&](const auto &lines) {
            for (const Line &line : lines) {
                const double centre = line.keV / kSimKeVPerChannel;
                const double s = sigmaChannels(centre);
                const double d = (ch - centre) / s;
                if (std::abs(d) < 8)
                    mean += line.amplitude * std::exp(-0.5 * d * d);
            }
        };
        if (main)
            addLines(kMainLines);
        else
            addLines(kBackgroundLines);
        // Counting noise: Poisson, close enough to a normal of variance = mean.
        const double noisy = mean + std::sqrt(mean) * SimGauss(seed, kStreamSpectrum + (main ? 0 : 1), quint64(ch));
        counts[ch] = quint32(std::max(0.0, std::round(noisy)));
    }
    return counts;
}

QByteArray SimSpectrumBytes(const TSimCounts &counts)
{
    QByteArray out(int(counts.size()) * 4, '\0');
    for (int i = 0; i < int(counts.size()); ++i)
        for (int b = 0; b < 4; ++b)
            out[4 * i + b] = char(quint8(counts[i] >> (8 * b)));
    return out;
}
