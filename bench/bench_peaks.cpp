// Times the search and fit of the peaks of a 1024-channel spectrum with 15
// lines on an exponential continuum (each run a new Poisson draw). Target:
// a median of 5 ms or less.
//
//   bench_peaks [runs]

#include "analysis/peaksearch.h"
#include "analysis/syntheticspectrum.h"
#include "benchmeasure.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char **argv)
{
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
    const TSyntheticSpectrum spectrum = FifteenPeaks(2.0);
    std::vector<std::vector<double>> draws;
    for (int i = 0; i < runs; ++i)
        draws.push_back(spectrum.Counted(unsigned(1000 + i)));

    std::vector<double> times;
    size_t found = 0;
    QElapsedTimer timer;
    for (const std::vector<double> &counts : draws) {
        timer.start();
        const std::vector<TPeak> peaks = FindPeaks(counts, 1.0, 0.0);
        times.push_back(bench::MsSince(timer));
        found += peaks.size();
    }
    std::sort(times.begin(), times.end());
    const double median = times[times.size() / 2];
    std::printf("search and fit, 1024 channels, 15 lines: %d runs, %.1f peaks found on average\n", runs,
                double(found) / runs);
    std::printf("  median %.3f ms, 90th percentile %.3f ms, worst %.3f ms (target: median <= 5 ms) %s\n", median,
                times[times.size() * 9 / 10], times.back(), median <= 5.0 ? "OK" : "SLOW");
    return 0;
}
