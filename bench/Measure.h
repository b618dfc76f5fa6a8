// SPDX-License-Identifier: MIT
#pragma once

// What every part of the benchmark measures with: clocks, the CPU and memory
// a process used, the percentiles of a run, and how it starts the programs
// it measures.

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace bench {

// Seconds: the monotonic clock, and this process's CPU.
double wall();
double cpu();
// This process's resident set.
double residentMiB();
// The CPU of every thread of a process so far, in seconds: schedstat counts
// in nanoseconds where /proc/PID/stat counts in ticks of 10 ms.
double cpuOf(pid_t pid);

// The p-th percentile (0 < p <= 100) by the platform's nearest-rank rule; 0
// when there are no values.
double percentile(std::vector<double> values, double p);
double median(const std::vector<double>& values);

struct Stats {
    double min, median, p99, cpuPerFrame;
};
// Frame times (ms) and the CPU they took.
Stats summarise(std::vector<double> ms, double cpuSeconds);

// Starts a program with its output thrown away, `env` (NAME=VALUE) added to
// its environment, drawing on one thread as the demo does unless told.
pid_t launch(const std::vector<std::string>& argv, const std::vector<std::string>& env = {});
// Ends a program launched and waits for it.
void stop(pid_t pid);

// The demo measured: $ORVANEL_BENCH_DEMO when set, the one built beside.
std::string demoBinary();
// This program, to run its baselines as processes of their own.
std::string selfPath();

// The 128 x 128 RGB picture the bare GL frames and the in-process demo view
// draw on the cube.
std::vector<uint8_t> testPicture();

// $DISPLAY unset while it lives (so that weston runs headless), put back
// after.
class WithoutX {
public:
    WithoutX();
    ~WithoutX();
    WithoutX(const WithoutX&) = delete;
    WithoutX& operator=(const WithoutX&) = delete;

private:
    std::string mDisplay;
};

}  // namespace bench
