// SPDX-License-Identifier: MIT
#pragma once

// The benchmark's run on a private 16-bit Xvfb and a headless weston: the
// first frame, the paced runs, frames back to back, memory and the timer,
// in that order, then the table.

namespace bench {

struct RunOptions {
    bool quick = false;
    bool startupOnly = false;  // --startup
    long soakFrames = 0;       // --soak: that many frames and nothing else
};

int runBenchmark(const RunOptions& options);

}  // namespace bench
