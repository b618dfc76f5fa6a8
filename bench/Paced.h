// SPDX-License-Identifier: MIT
#pragma once

// At the demo's own pace, as a user's machine runs it: the demo, bare GL and
// a plain EGL window program, each a process of its own, in alternating
// rounds; the CPU of every thread of each, and of the display server, on X
// and on Wayland (a headless weston drawing with pixman).

#include <sys/types.h>

#include <string>
#include <vector>

namespace bench {

// % of one core, one value a round.
struct PacedRuns {
    std::vector<double> demo, demoServer, bare, plain, plainServer;
};

struct Paced {
    PacedRuns x, wayland;
    std::string waylandSkipped;  // why Wayland was not measured
};

// `rounds` rounds of `seconds` each, on the X server `server` and then on a
// weston of its own.
Paced measurePaced(pid_t server, int rounds, double seconds);
void printPaced(const Paced& paced);

}  // namespace bench
