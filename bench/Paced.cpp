// SPDX-License-Identifier: MIT
#include "Paced.h"

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <stdexcept>

#include "Measure.h"
#include "Weston.h"

namespace bench {

namespace {
struct PacedCost {
    double process = 0, server = 0;  // % of one core
};

// A program at its own pace: its CPU and the display server's over
// `seconds`, once it has been running for a second.
PacedCost pacedCost(const std::vector<std::string>& command, pid_t server, double seconds,
                    const std::vector<std::string>& env) {
    pid_t pid = launch(command, env);
    usleep(1000000);
    double w0 = wall(), p0 = cpuOf(pid), s0 = cpuOf(server);
    usleep(static_cast<useconds_t>(seconds * 1e6));
    double w = wall() - w0;
    PacedCost cost{(cpuOf(pid) - p0) / w * 100, (cpuOf(server) - s0) / w * 100};
    stop(pid);
    return cost;
}

struct Environments {
    std::vector<std::string> demo, bare, plain;
};

// The three in alternating rounds, so that what else the machine does falls
// on all of them.
PacedRuns rounds(pid_t server, int count, double seconds, const std::string& plainOption, const Environments& env) {
    const std::vector<std::string> demo{demoBinary()}, bare{selfPath(), "--bare-paced"},
        plain{selfPath(), plainOption};
    PacedRuns runs;
    for (int round = 0; round < count; ++round) {
        PacedCost d = pacedCost(demo, server, seconds, env.demo);
        PacedCost b = pacedCost(bare, server, seconds, env.bare);
        PacedCost p = pacedCost(plain, server, seconds, env.plain);
        runs.demo.push_back(d.process);
        runs.demoServer.push_back(d.server);
        runs.bare.push_back(b.process);
        runs.plain.push_back(p.process);
        runs.plainServer.push_back(p.server);
    }
    return runs;
}
}  // namespace

Paced measurePaced(pid_t server, int count, double seconds) {
    Paced paced;
    const std::vector<std::string> onX{"WAYLAND_DISPLAY="};
    paced.x = rounds(server, count, seconds, "--plain-window", {onX, onX, onX});
    // On Wayland the demo is held against bare GL on the surfaceless platform
    // that its EGL runs on there, and against a plain EGL program's
    // wl_egl_window.
    WithoutX headless;
    try {
        Weston weston(320, 480, "desktop-shell.so");
        const std::vector<std::string> onWayland = weston.environment();
        paced.wayland = rounds(weston.pid(), count, seconds, "--plain-wayland",
                               {onWayland, {"EGL_PLATFORM=surfaceless"}, onWayland});
    } catch (const std::exception& e) {
        paced.waylandSkipped = e.what();
    }
    return paced;
}

namespace {
// The rows' names, on X and on Wayland.
struct Labels {
    const char *cpu, *bare, *plain, *toBare, *sums, *demoOver, *plainOver;
};

const Labels xRows{
    "at 0.033 s a frame, CPU (% of one core): demo / its X server share",
    "at 0.033 s a frame: bare GL into a pbuffer",
    "at 0.033 s a frame: plain EGL window program / its X server share",
    "at 0.033 s a frame, ratio: demo to bare GL",
    "at 0.033 s a frame, ratio: demo and server to plain EGL program and server",
    "at 0.033 s a frame, over bare GL (us of CPU a frame): demo / its X server share",
    "at 0.033 s a frame, over bare GL (us of CPU a frame): plain EGL program / its X server share",
};

const Labels waylandRows{
    "on Wayland at 0.033 s a frame, CPU (% of one core): demo / compositor's share",
    "on Wayland at 0.033 s a frame: bare GL on the surfaceless platform",
    "on Wayland at 0.033 s a frame: plain EGL Wayland program / compositor's share",
    "on Wayland at 0.033 s a frame, ratio: demo to bare GL",
    "on Wayland at 0.033 s a frame, ratio: demo and compositor to plain EGL program and compositor",
    "on Wayland, over bare GL (us of CPU a frame): demo / compositor's share",
    "on Wayland, over bare GL (us of CPU a frame): plain EGL program / compositor's share",
};

void printRuns(const PacedRuns& runs, const Labels& name) {
    double demo = median(runs.demo), bare = median(runs.bare), plain = median(runs.plain);
    double demoServer = median(runs.demoServer), plainServer = median(runs.plainServer);
    std::printf("| %s | %.2f / %.2f |\n", name.cpu, demo, demoServer);
    std::printf("| %s | %.2f |\n", name.bare, bare);
    std::printf("| %s | %.2f / %.2f |\n", name.plain, plain, plainServer);
    std::printf("| %s | %.3f |\n", name.toBare, demo / bare);
    std::printf("| %s | %.3f |\n", name.sums, (demo + demoServer) / (plain + plainServer));
    // A percent of one core at 0.033 s a frame is 330 microseconds a frame.
    std::printf("| %s | %.0f / %.0f |\n", name.demoOver, (demo - bare) * 330, demoServer * 330);
    std::printf("| %s | %.0f / %.0f |\n", name.plainOver, (plain - bare) * 330, plainServer * 330);
}
}  // namespace

void printPaced(const Paced& paced) {
    printRuns(paced.x, xRows);
    if (paced.waylandSkipped.empty())
        printRuns(paced.wayland, waylandRows);
    else
        std::printf("| on Wayland | not measured: %s |\n", paced.waylandSkipped.c_str());
}

}  // namespace bench
