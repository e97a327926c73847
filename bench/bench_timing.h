// Shared by the load benchmarks: each reader loads one file a few times in
// one process (the first load also warms the page cache, so there are always
// at least two) and prints the best time, so every reader is measured the
// same way.
#pragma once
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>

// Runs load() at least twice and again while the time spent stays under
// `budget` seconds, at most `limit` times; prints "seconds triangles" of the
// fastest run on stdout. load() returns the triangle count it read, or -1.
// STLV_BENCH_LOADS=N makes it exactly N loads, so that an instruction count
// of the whole process (callgrind) covers the same work for every reader.
inline int timeLoads(const std::function<long long()>& load, double budget = 4.0, int limit = 5) {
    using Clock = std::chrono::steady_clock;
    double best = 1e300;
    long long triangles = -1;
    double spent = 0;
    const char* fixed = getenv("STLV_BENCH_LOADS");
    int loads = fixed ? atoi(fixed) : 0;
    if (loads > 0) budget = 1e300, limit = loads;
    for (int run = 0; run < limit && (run < (loads > 0 ? loads : 2) || spent + best < budget); ++run) {
        auto start = Clock::now();
        triangles = load();
        double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        if (triangles < 0) return 1;
        spent += seconds;
        if (seconds < best) best = seconds;
    }
    printf("%.6f %lld\n", best, triangles);
    return 0;
}
