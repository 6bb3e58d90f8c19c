#pragma once

// Runs the registered benchmarks and prints, for each named pair, the ratio
// of a benchmark's median time to its baseline's.

#include <benchmark/benchmark.h>

#include <string>
#include <utility>
#include <vector>

struct RatioPair {
    std::string measured; // full benchmark name, e.g. "BM_Process/64"
    std::string baseline;
    double limit; // the ratio the measured one must stay within
};

// Returns 0 when every ratio is within its limit, 1 otherwise (the figures
// are reported either way; nothing asserts on time in the test suite).
int runAndReportRatios(int argc, char** argv, const std::vector<RatioPair>& pairs);
