#pragma once
// Deterministic noise for the emulator. Every value is a pure function of the
// seed and a few keys (a measurement cycle, a record number, a channel), so a
// value can be recomputed at any time without keeping a generator's state and
// two runs with the same seed give the same installation.

#include <QtGlobal>
#include <cmath>

// SplitMix64 finaliser: a well-mixed 64-bit hash of one word.
inline quint64 SimMix(quint64 x)
{
    x += 0x9E3779B97F4A7C15ULL;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
    return x ^ (x >> 31);
}

inline quint64 SimHash(quint64 seed, quint64 a, quint64 b = 0, quint64 c = 0)
{
    return SimMix(SimMix(SimMix(SimMix(seed) ^ a) ^ b) ^ c);
}

// Uniform in [0, 1).
inline double SimUniform(quint64 seed, quint64 a, quint64 b = 0, quint64 c = 0)
{
    return double(SimHash(seed, a, b, c) >> 11) * (1.0 / 9007199254740992.0);
}

// Standard normal (Box-Muller on two independent uniforms).
inline double SimGauss(quint64 seed, quint64 a, quint64 b = 0)
{
    const double u1 = 1.0 - SimUniform(seed, a, b, 1); // (0, 1]
    const double u2 = SimUniform(seed, a, b, 2);
    return std::sqrt(-2.0 * std::log(u1)) * std::cos(6.283185307179586 * u2);
}

// Keys that keep the separate streams of one seed apart.
enum SimStream : quint64 {
    kStreamActivity = 0x41435456, // measured activity, noise
    kStreamRelease = 0x52454C53,  // activity, occasional releases
    kStreamStatus = 0x53544154,
    kStreamContact = 0x44525943,
    kStreamArchive = 0x41524348,
    kStreamSpectrum = 0x53504543,
    kStreamGarbage = 0x47415242,
};
