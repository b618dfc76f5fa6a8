// SPDX-License-Identifier: MIT
#pragma once

// The demo's 0.033 s timer for a while: ticks, lateness, drift and CPU use.

#include <vector>

namespace bench {

struct RealPath;

struct TimerRun {
    double start = 0;
    double period = 0.033;
    double elapsed = 0;
    double cpuShare = 0;
    std::vector<double> lateness;  // ms, in the order of the ticks
    double lastLate = 0;
    RealPath* path = nullptr;

    double percentile(double p) const;
    double worst() const;
};

// With no path, nothing is drawn: what is left is the timer and the machine's
// own noise.
TimerRun runTimer(RealPath* path, double seconds);
// The timed run's rows, after those of the same timer with nothing drawn.
void printTimer(const TimerRun& timed, const TimerRun& idle);

}  // namespace bench
