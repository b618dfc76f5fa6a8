// SPDX-License-Identifier: MIT
#pragma once

// Frames back to back in this process: the demo's view drawn as the run loop
// draws it (the real path) against bare GL, in alternating rounds.

#include <sys/types.h>

#include <cstdint>
#include <vector>

#include "Measure.h"

class UIWindow;
class TestGLView;

namespace bench {

// The demo's view in a window of a started session, drawn as the run loop
// draws it.
struct RealPath {
    UIWindow* window = nullptr;
    TestGLView* view = nullptr;

    RealPath();
    // One pass of the run loop, as the demo's timer gets: the redraw, the
    // composite and the window system's events.
    void frame();
    // Adds `frames` frame times (ms) to `ms`; returns the CPU seconds used.
    double run(int frames, std::vector<double>& ms);
};

// Back to back, each frame's request wakes the server on the frame's own core
// (the kernel expects the writer to sleep next, as the demo at 30 frames a
// second does), and the server's copy of the frame then runs in the frame's
// time. So the server gets a core of its own, as the device's display
// hardware is its own. Returns whether it could.
bool giveServerItsOwnCore(pid_t server);

struct BackToBack {
    Stats real, bare;
};

// `frames` frames of each after 100 to warm up, in ten alternating rounds so
// that what else the machine does falls on both.
BackToBack runBackToBack(RealPath& real, const uint8_t* picture, int frames);
void printBackToBack(const BackToBack& result);

}  // namespace bench
