#pragma once
// The two gamma spectra the emulated installation holds: 1024 channels of a
// scintillation detector at 3 keV per channel. The main spectrum shows a
// falling continuum with the lines of the gases and nuclides the installation
// is built to see; the background spectrum is the detector's own, much lower.

#include <QByteArray>
#include <QtGlobal>
#include <array>

constexpr int kSimChannels = 1024;
constexpr double kSimKeVPerChannel = 3.0;

enum class TSimSpectrumKind { Main, Background };

using TSimCounts = std::array<quint32, kSimChannels>;

// The counts for a seed; the same seed gives the same spectrum.
TSimCounts SimSpectrumCounts(TSimSpectrumKind kind, quint64 seed);
// The counts as the installation sends them: little-endian 32-bit words.
QByteArray SimSpectrumBytes(const TSimCounts &counts);
