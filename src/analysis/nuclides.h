#pragma once
// Gamma lines of the nuclides an operator of the installation meets: the
// radon progeny (Pb-214, Bi-214), the thoron progeny (Pb-212, Tl-208, with
// Ac-228 of the same chain), K-40 of the walls and Cs-137. Energies and
// emission probabilities from the evaluated decay data.

#include <span>

// A Gaussian's full width at half maximum over its standard deviation: 2 sqrt(2 ln 2).
constexpr double kFwhmPerSigma = 2.3548200450309493;

struct TGammaLine {
    const char *Nuclide;
    double EnergyKeV;
    double Intensity; // photons per 100 decays
};

std::span<const TGammaLine> GammaLines();

// The line a peak at energyKeV with the given FWHM belongs to: of the lines
// inside the FWHM around the peak, the one whose intensity, weighted by how
// far it lies from the peak, is the largest. Null when none lies there.
const TGammaLine *MatchGammaLine(double energyKeV, double fwhmKeV);
