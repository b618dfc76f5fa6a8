// SPDX-License-Identifier: MIT
#pragma once

// How soon the first frame shows: from starting a program to its clear colour
// on the X screen, for the demo and for a plain EGL window program.

#include <vector>

namespace bench {

struct Startup {
    std::vector<double> demo, plain;  // ms, in the order run
};

// `rounds` starts of each, alternating: one start is at the mercy of whatever
// else the machine is doing.
Startup measureStartup(int rounds);
// --startup's line.
void printStartupLine(const Startup& startup);
void printStartupRows(const Startup& startup);

}  // namespace bench
