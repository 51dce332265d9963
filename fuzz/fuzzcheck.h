#pragma once
// What every fuzz target checks besides memory faults: a broken invariant
// stops the run, so the fuzzer keeps the input that broke it.

#include <cstdlib>

inline void check(bool condition)
{
    if (!condition)
        std::abort();
}
