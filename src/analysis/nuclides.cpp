#include "analysis/nuclides.h"

#include <cmath>

namespace {

constexpr TGammaLine kLines[] = {
    {"Pb-212", 238.632, 43.6},  {"Pb-214", 241.997, 7.27},   {"Pb-214", 295.224, 18.42},
    {"Pb-212", 300.087, 3.18},  {"Ac-228", 338.320, 11.27},  {"Pb-214", 351.932, 35.60},
    {"Tl-208", 510.77, 22.6},   {"Tl-208", 583.187, 85.0},   {"Bi-214", 609.312, 45.49},
    {"Cs-137", 661.657, 85.10}, {"Bi-214", 768.356, 4.892},  {"Tl-208", 860.557, 12.5},
    {"Ac-228", 911.204, 25.8},  {"Ac-228", 964.766, 4.99},   {"Ac-228", 968.971, 15.8},
    {"Bi-214", 1120.287, 14.91}, {"Bi-214", 1238.111, 5.831}, {"K-40", 1460.820, 10.66},
    {"Bi-214", 1764.494, 15.31}, {"Bi-214", 2204.21, 4.913}, {"Tl-208", 2614.511, 99.754},
};

} // namespace

std::span<const TGammaLine> GammaLines()
{
    return kLines;
}

const TGammaLine *MatchGammaLine(double energyKeV, double fwhmKeV)
{
    const double half = fwhmKeV / 2;
    if (!(half > 0))
        return nullptr;
    const double sigma = fwhmKeV / kFwhmPerSigma;
    const TGammaLine *best = nullptr;
    double bestWeight = 0;
    for (const TGammaLine &line : kLines) {
        const double d = line.EnergyKeV - energyKeV;
        if (std::abs(d) > half)
            continue;
        const double weight = line.Intensity * std::exp(-0.5 * d * d / (sigma * sigma));
        if (weight > bestWeight) {
            bestWeight = weight;
            best = &line;
        }
    }
    return best;
}
