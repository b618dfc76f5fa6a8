// SPDX-License-Identifier: MIT
#include "Startup.h"

#include <unistd.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "Measure.h"

namespace bench {

namespace {
// Time from starting a program to its first frame on the screen; -1 when it
// did not show in 10 s.
double firstFrameMs(const std::vector<std::string>& command) {
    Display* dpy = XOpenDisplay(nullptr);
    double t0 = wall();
    pid_t pid = launch(command);
    double shown = -1;
    while (wall() - t0 < 10) {
        XImage* image = XGetImage(dpy, DefaultRootWindow(dpy), 0, 0, 1, 1, AllPlanes, ZPixmap);
        unsigned long p = XGetPixel(image, 0, 0);
        XDestroyImage(image);
        // The clear colour at 5-6-5.
        if (p == 0x4A6C) {
            shown = (wall() - t0) * 1000.0;
            break;
        }
        usleep(500);
    }
    stop(pid);
    XCloseDisplay(dpy);
    return shown;
}
}  // namespace

Startup measureStartup(int rounds) {
    Startup startup;
    const std::vector<std::string> demo{demoBinary()}, plain{selfPath(), "--plain-window"};
    for (int i = 0; i < rounds; ++i) {
        startup.demo.push_back(firstFrameMs(demo));
        startup.plain.push_back(firstFrameMs(plain));
    }
    return startup;
}

void printStartupLine(const Startup& startup) {
    std::printf("process start to first frame shown (ms): min %.1f, median %.1f, max %.1f; "
                "a plain EGL program's median %.1f\n",
                *std::min_element(startup.demo.begin(), startup.demo.end()), median(startup.demo),
                *std::max_element(startup.demo.begin(), startup.demo.end()), median(startup.plain));
}

void printStartupRows(const Startup& startup) {
    double demo = median(startup.demo), plain = median(startup.plain);
    std::printf("| process start to first frame shown (ms), median of %zu | %.1f |\n", startup.demo.size(), demo);
    std::printf("| the same for a plain EGL window program (ms) | %.1f |\n", plain);
    std::printf("| first frame, demo to plain EGL program | %.3f |\n", demo / plain);
}

}  // namespace bench
