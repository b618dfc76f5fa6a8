// SPDX-License-Identifier: MIT
#pragma once

// What a run cost, for --stats: the time between frames shown, the CPU they
// took, and what the window system said it showed.

#include <string>
#include <vector>

namespace UIKitPlatform {

// The rank, from 1, of the p-th quantile (0 < p <= 1) of n values in
// ascending order by the nearest-rank rule: ceil(p x n), at least 1.
size_t nearestRank(double p, size_t n);

class RunStats {
public:
    struct Summary {
        long frames = 0;
        double seconds = 0;
        long long lateTicks = 0;
        long long missedTicks = 0;  // ticks due that gave no frame of their own, the late ones among them
        double p50 = 0, p95 = 0, p99 = 0, max = 0;  // ms between frames shown
        double userUs = 0, systemUs = 0;            // CPU per frame after the first, microseconds
        long presented = 0;                          // frames the window system said it showed
        std::string backend, renderer;
    };

    // A frame drawn and shown at `now` (seconds). The CPU is counted from the
    // first: what the process did before it (its start) is not the frames'.
    void frameShown(double now);
    // The intervals' percentiles, the frames and the CPU since the first.
    Summary summary() const;

    static std::string line(const Summary& s);
    static std::string json(const Summary& s);

private:
    // Intervals in 10-microsecond bins up to a second; longer ones counted
    // exactly. A day at 30 frames a second costs no more memory than a minute.
    static constexpr int kBinsPerMs = 100;
    std::vector<unsigned> mBins = std::vector<unsigned>(1000 * kBinsPerMs);
    std::vector<double> mLong;
    double mLast = -1, mMax = 0;
    long mFrames = 0;
    double mUserStart = 0, mSystemStart = 0;
};

}  // namespace UIKitPlatform
