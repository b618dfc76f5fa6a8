// SPDX-License-Identifier: MIT
// The measurements that run programs of their own: how soon the first frame
// shows on the private X server, and the CPU at the demo's own pace, as a
// user's machine runs it, on that server and on a headless weston drawing
// with pixman.
#include <unistd.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <cstdio>
#include <stdexcept>

#include "Bench.h"
#include "Weston.h"

namespace bench {

namespace {
// Time from starting a program to its first frame on the screen (the clear
// colour at 5-6-5 in the screen's corner); -1 when it did not show in 10 s.
double firstFrameMs(const std::vector<std::string>& command) {
    Display* dpy = XOpenDisplay(nullptr);
    double t0 = wall(), shown = -1;
    pid_t pid = launch(command);
    for (; wall() - t0 < 10; usleep(500)) {
        XImage* image = XGetImage(dpy, DefaultRootWindow(dpy), 0, 0, 1, 1, AllPlanes, ZPixmap);
        unsigned long p = XGetPixel(image, 0, 0);
        XDestroyImage(image);
        if (p == 0x4A6C) {
            shown = (wall() - t0) * 1000.0;
            break;
        }
    }
    servers::stop(pid);
    XCloseDisplay(dpy);
    return shown;
}

// A program at its own pace: its command line and what it adds to its
// environment.
struct Program {
    std::vector<std::string> command, env;
};

// The words of the paced rows, on X and on Wayland.
struct Words {
    const char *at, *over, *share, *bare, *plain, *server;
};
const Words kOnX{"at 0.033 s a frame", "at 0.033 s a frame", "its X server share", "bare GL into a pbuffer",
                 "window", "server"};
const Words kOnWayland{"on Wayland at 0.033 s a frame", "on Wayland", "compositor's share",
                       "bare GL on the surfaceless platform", "Wayland", "compositor"};

// The demo, bare GL and a plain EGL program, in that order, in alternating
// rounds so that what else the machine does falls on all of them: the CPU of
// each and of the display server over `seconds`, once it has been running
// for a second; their rows.
void pacedOn(pid_t server, int rounds, double seconds, const std::vector<Program>& programs, const Words& w,
             Rows& rows) {
    std::vector<double> process[3], share[3];  // % of one core, one value a round
    for (int round = 0; round < rounds; ++round)
        for (int i = 0; i < 3; ++i) {
            pid_t pid = launch(programs[i].command, programs[i].env);
            usleep(1000000);
            double w0 = wall(), p0 = cpuOf(pid), s0 = cpuOf(server);
            usleep(static_cast<useconds_t>(seconds * 1e6));
            double span = wall() - w0;
            process[i].push_back((cpuOf(pid) - p0) / span * 100);
            share[i].push_back((cpuOf(server) - s0) / span * 100);
            servers::stop(pid);
        }
    const double demo = median(process[0]), bare = median(process[1]), plain = median(process[2]);
    const double demoServer = median(share[0]), plainServer = median(share[2]);
    rows.push_back(format("| %s, CPU (%% of one core): demo / %s | %.2f / %.2f |", w.at, w.share, demo, demoServer));
    rows.push_back(format("| %s: %s | %.2f |", w.at, w.bare, bare));
    rows.push_back(format("| %s: plain EGL %s program / %s | %.2f / %.2f |", w.at, w.plain, w.share, plain,
                          plainServer));
    rows.push_back(format("| %s, ratio: demo to bare GL | %.3f |", w.at, demo / bare));
    rows.push_back(format("| %s, ratio: demo and %s to plain EGL program and %s | %.3f |", w.at, w.server, w.server,
                          (demo + demoServer) / (plain + plainServer)));
    // A percent of one core at 0.033 s a frame is 330 microseconds a frame.
    rows.push_back(format("| %s, over bare GL (us of CPU a frame): demo / %s | %.0f / %.0f |", w.over, w.share,
                          (demo - bare) * 330, demoServer * 330));
    rows.push_back(format("| %s, over bare GL (us of CPU a frame): plain EGL program / %s | %.0f / %.0f |", w.over,
                          w.share, (plain - bare) * 330, plainServer * 330));
}
}  // namespace

void startup(bool alone, Rows& rows) {
    std::vector<double> demo, plain;  // ms, in the order run
    // Alternating: one start is at the mercy of whatever else the machine is
    // doing.
    for (int i = 0; i < (alone ? 10 : 5); ++i) {
        demo.push_back(firstFrameMs({demoBinary()}));
        plain.push_back(firstFrameMs({kSelf, "--plain-window"}));
    }
    if (alone) {
        std::printf("process start to first frame shown (ms): min %.1f, median %.1f, max %.1f; "
                    "a plain EGL program's median %.1f\n",
                    *std::min_element(demo.begin(), demo.end()), median(demo), percentile(demo, 100), median(plain));
        return;
    }
    rows.push_back(format("| process start to first frame shown (ms), median of %zu | %.1f |", demo.size(),
                          median(demo)));
    rows.push_back(format("| the same for a plain EGL window program (ms) | %.1f |", median(plain)));
    rows.push_back(format("| first frame, demo to plain EGL program | %.3f |", median(demo) / median(plain)));
}

void paced(pid_t server, int rounds, double seconds, Rows& rows) {
    const std::vector<std::string> demo{demoBinary()}, onX{"WAYLAND_DISPLAY="};
    pacedOn(server, rounds, seconds, {{demo, onX}, {{kSelf, "--bare-paced"}, onX}, {{kSelf, "--plain-window"}, onX}},
            kOnX, rows);
    // On Wayland the demo is held against bare GL on the surfaceless platform
    // that its EGL runs on there, and against a plain EGL program's
    // wl_egl_window.
    try {
        Weston weston(320, 480, "desktop-shell.so", 1, true);
        const std::vector<std::string> env = weston.environment();
        pacedOn(weston.pid(), rounds, seconds,
                {{demo, env},
                 {{kSelf, "--bare-paced"}, {"DISPLAY=", "EGL_PLATFORM=surfaceless"}},
                 {{kSelf, "--plain-wayland"}, env}},
                kOnWayland, rows);
    } catch (const std::exception& e) {
        rows.push_back(format("| on Wayland | not measured: %s |", e.what()));
    }
}

}  // namespace bench
