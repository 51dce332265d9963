#!/usr/bin/python3
"""The peak fits of kvarnctl against SciPy's curve_fit on the same regions.

Makes a 1024-channel spectrum with 15 Gaussian lines on an exponential
continuum (Poisson counts from a fixed seed), writes it as a .spc, runs
`kvarnctl peaks` on it (the table gives each peak's fitted region, --csv its
values), fits every region again with scipy.optimize.curve_fit under the same
model and weights, and prints the ratio of the net areas (target: within
0.5 %) and of the times. Not a test: it only prints.

    bench/compare_scipy.py [KVARNCTL] [SEED]

KVARNCTL defaults to build/release/src/cli/kvarnctl beside this folder.
"""

import csv
import io
import math
import os
import struct
import subprocess
import sys
import tempfile
import time

import numpy as np
from scipy.optimize import curve_fit
from scipy.special import erf

HERE = os.path.dirname(os.path.abspath(__file__))
KVARNCTL = sys.argv[1] if len(sys.argv) > 1 else os.path.join(HERE, "..", "build", "release", "src", "cli", "kvarnctl")
SEED = int(sys.argv[2]) if len(sys.argv) > 2 else 1
CHANNELS = 1024


def spectrum(seed):
    """Fifteen lines, widths growing with the channel, on 3000 exp(-c/250) + 50."""
    c = np.arange(CHANNELS, dtype=float)
    mean = 3000 * np.exp(-c / 250) + 50
    for k in range(15):
        centre = 50 + 64.0 * k + 3.3 * (k % 4)
        sigma = 1.2 + 0.06 * math.sqrt(centre) * (1 + k % 3)
        area = 2 * (3000 + 1700.0 * ((k * 7) % 11))
        lo = (c - 0.5 - centre) / (sigma * math.sqrt(2))
        hi = (c + 0.5 - centre) / (sigma * math.sqrt(2))
        mean += area * 0.5 * (erf(hi) - erf(lo))
    return np.random.default_rng(seed).poisson(mean).astype(float)


def write_spc(path, counts):
    header = b"A=1; B=0;"
    with open(path, "wb") as f:
        f.write(header + b"\0" * (512 - len(header)))
        f.write(struct.pack("<1024i", *[int(v) for v in counts]))


RUNS = 7


def median_time(run):
    """The result of run() and the median of RUNS wall times."""
    times = []
    for _ in range(RUNS):
        started = time.perf_counter()
        result = run()
        times.append(time.perf_counter() - started)
    return result, sorted(times)[RUNS // 2]


def kvarnctl(*arguments):
    out, seconds = median_time(lambda: subprocess.run([KVARNCTL, *arguments], check=True, capture_output=True).stdout)
    return out.decode(), seconds


def model(peaks, middle):
    def f(x, b0, b1, sigma, *rest):
        y = b0 + b1 * (x - middle)
        for k in range(peaks):
            area, centre = rest[2 * k], rest[2 * k + 1]
            y = y + area / (math.sqrt(2 * math.pi) * abs(sigma)) * np.exp(-0.5 * ((x - centre) / sigma) ** 2)
        return y
    return f


def fit_region(counts, first, last, peaks):
    """Two passes as kvarnctl fits: weights from the counts, then from the model."""
    x = np.arange(first, last + 1, dtype=float)
    y = counts[first:last + 1]
    middle = 0.5 * (first + last)
    f = model(len(peaks), middle)
    start = [0.5 * (y[0] + y[-1]), (y[-1] - y[0]) / max(1, last - first), peaks[0]["fwhm"] / 2.3548200450309493]
    for p in peaks:
        start += [p["area"], p["channel"]]
    variance = np.maximum(y, 1.0)
    for _ in range(2):
        params, covariance = curve_fit(f, x, y, p0=start, sigma=np.sqrt(variance), absolute_sigma=True, maxfev=20000)
        start = list(params)
        variance = np.maximum(f(x, *params), 1.0)
    return [(params[3 + 2 * k], math.sqrt(covariance[3 + 2 * k][3 + 2 * k])) for k in range(len(peaks))]


def main():
    counts = spectrum(SEED)
    with tempfile.TemporaryDirectory() as folder:
        spc = os.path.join(folder, "synthetic.spc")
        flat = os.path.join(folder, "flat.spc")
        write_spc(spc, counts)
        write_spc(flat, np.full(CHANNELS, 1000.0))
        table, _ = kvarnctl("peaks", spc)
        text, ours = kvarnctl("peaks", spc, "--csv")
        _, startup = kvarnctl("peaks", flat, "--csv")

    rows = list(csv.DictReader(io.StringIO(text)))
    regions = [line.split()[-2] for line in table.splitlines()[1:]]
    groups = {}
    for row, region in zip(rows, regions):
        first, last = (int(v) for v in region.split("-"))
        groups.setdefault((first, last), []).append({
            "channel": float(row["channel"]), "fwhm": float(row["fwhm_channels"]),
            "area": float(row["net_area"]), "sigma": float(row["net_area_sigma"])})

    fitted, scipy_time = median_time(
        lambda: {key: fit_region(counts, key[0], key[1], peaks) for key, peaks in groups.items()})

    print(f"{len(rows)} peaks in {len(groups)} regions (seed {SEED})")
    print(f"{'channel':>9} {'kvarnctl area':>15} {'SciPy area':>15} {'ratio':>9} {'sigma ratio':>12}")
    worst = 0.0
    for key, peaks in sorted(groups.items()):
        for peak, (area, sigma) in zip(peaks, fitted[key]):
            ratio = peak["area"] / area
            worst = max(worst, abs(ratio - 1))
            print(f"{peak['channel']:9.2f} {peak['area']:15.1f} {area:15.1f} {ratio:9.5f} {peak['sigma'] / sigma:12.4f}")
    print(f"largest area difference {100 * worst:.4f} % (target: within 0.5 %) {'OK' if worst <= 0.005 else 'OFF'}")
    print(f"time (medians of {RUNS}): kvarnctl peaks {1000 * ours:.1f} ms for the whole run (search, fits, process start; "
          f"{1000 * startup:.1f} ms on a spectrum without peaks), SciPy {1000 * scipy_time:.1f} ms for the fits alone; "
          f"SciPy / kvarnctl = {scipy_time / ours:.2f}, "
          f"SciPy / (kvarnctl less the start) = {scipy_time / max(ours - startup, 1e-6):.1f}")


if __name__ == "__main__":
    main()
