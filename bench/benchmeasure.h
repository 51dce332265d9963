#pragma once
// What every benchmark measures with: wall time in milliseconds and the
// memory of this process, from /proc (0 where there is none).

#include <QElapsedTimer>

#include <cstdio>
#include <cstring>

namespace bench {

inline double MsSince(const QElapsedTimer &t)
{
    return t.nsecsElapsed() / 1e6;
}

// A "Vm...:" line of /proc/self/status in KiB, e.g. StatusKiB("VmRSS:").
inline long StatusKiB(const char *field)
{
    std::FILE *f = std::fopen("/proc/self/status", "r");
    if (!f)
        return 0;
    char line[256];
    long kib = 0;
    const size_t length = std::strlen(field);
    while (std::fgets(line, sizeof line, f))
        if (std::strncmp(line, field, length) == 0) {
            if (std::sscanf(line + length, "%ld", &kib) != 1)
                kib = 0;
            break;
        }
    std::fclose(f);
    return kib;
}

// The resident memory now, and the most it has been so far.
inline long ResidentKiB()
{
    return StatusKiB("VmRSS:");
}

inline double PeakMiB()
{
    return StatusKiB("VmHWM:") / 1024.0;
}

} // namespace bench
