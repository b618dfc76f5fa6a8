// SPDX-License-Identifier: MIT
// --window-sizes: how the display server's work grows with the window the
// frame is shown in: the demo's 320 x 480 frame at 1x, at 2x (the desktop's
// scale of 2) and full screen, on screens of 1920 x 1080 and 3840 x 2160 and
// on one of the frame's own size, on a 16-bit Xvfb and a headless weston;
// and at 1x and full screen on 1920 x 1080 Xvfb screens of 24 and 30 bits.
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "Bench.h"
#include "Weston.h"
#include "Xvfb.h"

namespace bench {

namespace {

struct ShownAs {
    const char* name;
    int scale;  // the desktop's: Xft.dpi of 96 times it on X, the output's on Wayland
    bool fullscreen;
};

const ShownAs kWhole{"1x, the whole screen", 1, false}, kOneX{"1x", 1, false}, kTwoX{"2x", 2, false},
    kFull{"full screen", 1, true};

// One row of the table: where, how, and what each round measured (the CPU a
// frame shown, us): the X server's and the demo's on X, weston's and the
// demo's on Wayland.
struct Case {
    int width, height, depth;
    ShownAs shown;
    std::vector<double> cost[4];
    // weston has no depth to choose: measured on the 16-bit rows only
    bool wayland() const { return depth == 16; }
};

std::vector<Case> plan() {
    std::vector<Case> cases{{320, 480, 16, kWhole, {}}};
    for (ShownAs shown : {kOneX, kTwoX, kFull}) cases.push_back({1920, 1080, 16, shown, {}});
    for (int depth : {24, 30})
        for (ShownAs shown : {kOneX, kFull}) cases.push_back({1920, 1080, depth, shown, {}});
    for (ShownAs shown : {kOneX, kTwoX, kFull}) cases.push_back({3840, 2160, 16, shown, {}});
    return cases;
}

// The CPU a frame shown, in microseconds: the display server's and the demo's.
struct PerFrame {
    double server = 0, demo = 0;
};

// A demo run not over by then is ended, so that a round stays bounded
// whatever pace a slow server allows.
constexpr int kRunLimitSeconds = 40;
const double kEnded = std::numeric_limits<double>::infinity();

// Waits until the server is done with what came before (weston fades the
// desktop in when it starts and a closed window out): until it has used less
// than a millisecond of CPU in each of two tenths of a second, 10 s at most.
void settle(pid_t server) {
    double last = cpuOf(server);
    for (int i = 0, quiet = 0; i < 100 && quiet < 2; ++i) {
        usleep(100000);
        double now = cpuOf(server);
        quiet = now - last < 0.001 ? quiet + 1 : 0;
        last = now;
    }
}

// Whether the process ended within the limit; it is ended otherwise.
bool endsInTime(pid_t pid) {
    // glibc 2.36 declares pidfd_open without C linkage.
    int handle = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    pollfd p{handle, POLLIN, 0};
    bool ended = handle < 0 || poll(&p, 1, kRunLimitSeconds * 1000) > 0;
    if (handle >= 0) close(handle);
    if (!ended) kill(pid, SIGKILL);
    return ended;
}

// The demo showing `frames` frames and ending: the server's CPU from its
// start to its end, and the demo's own. NaN when the demo failed, infinity
// when it was ended at the limit.
PerFrame framesShown(std::vector<std::string> command, long frames, pid_t server,
                     const std::vector<std::string>& env) {
    command.insert(command.end(), {"--frames", std::to_string(frames)});
    settle(server);
    double s0 = cpuOf(server);
    pid_t pid = launch(command, env);
    bool inTime = endsInTime(pid);
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid) return {std::nan(""), std::nan("")};
    if (!inTime) return {kEnded, kEnded};
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return {std::nan(""), std::nan("")};
    auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6;
    };
    return {cpuOf(server) - s0, seconds(usage.ru_utime) + seconds(usage.ru_stime)};
}

// Per frame shown, by the difference of a long run and a short one, so that
// start-up, mapping the window and exit cancel out.
PerFrame perFrameShown(const ShownAs& shown, pid_t server, const std::vector<std::string>& env) {
    std::vector<std::string> command{demoBinary()};
    if (shown.fullscreen) command.push_back("--fullscreen");
    const long shortRun = 30, longRun = 210;
    PerFrame a = framesShown(command, shortRun, server, env), b = framesShown(command, longRun, server, env);
    double frames = static_cast<double>(longRun - shortRun);
    return {(b.server - a.server) / frames * 1e6, (b.demo - a.demo) / frames * 1e6};
}

// Sets the resources X programs read their dots per inch from (Xft.dpi on
// the root window), which the demo's window takes a whole multiple of.
void setXftDpi(int dpi) {
    Display* d = XOpenDisplay(nullptr);
    if (!d) return;
    std::string resources = "Xft.dpi:\t" + std::to_string(dpi) + "\n";
    XChangeProperty(d, DefaultRootWindow(d), XA_RESOURCE_MANAGER, XA_STRING, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(resources.c_str()), static_cast<int>(resources.size()));
    XCloseDisplay(d);
}

// `rounds` rounds over `cases`, alternating so that what else the machine
// does falls on all of them: the costs into cost[into] and cost[into + 1].
// `at` readies a case's server and gives it and the demo's environment there.
void alternate(const std::vector<Case*>& cases, int rounds, int into,
               const std::function<std::pair<pid_t, std::vector<std::string>>(const Case&)>& at) {
    for (int round = 0; round < rounds; ++round)
        for (Case* c : cases) {
            const auto [server, env] = at(*c);
            PerFrame f = perFrameShown(c->shown, server, env);
            c->cost[into].push_back(f.server);
            c->cost[into + 1].push_back(f.demo);
        }
}

// Every case: an Xvfb for each screen size and depth, then for the screen's
// 16-bit rows one weston a scale, both there through the rounds. Why Wayland
// was not measured, or empty.
std::string measure(std::vector<Case>& cases, int rounds) {
    std::string skipped;
    std::vector<Case*> onX, onWayland;
    for (size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        const Case* next = i + 1 < cases.size() ? &cases[i + 1] : nullptr;
        const bool lastOfScreen = !next || next->width != c.width || next->height != c.height;
        onX.push_back(&cases[i]);
        if (c.wayland()) onWayland.push_back(&cases[i]);
        if (lastOfScreen || next->depth != c.depth) {
            Xvfb server(c.depth, c.width, c.height);
            alternate(onX, rounds, 0, [&](const Case& each) {
                setXftDpi(96 * each.shown.scale);
                return std::pair{server.pid(), std::vector<std::string>{"WAYLAND_DISPLAY="}};
            });
            onX.clear();
        }
        if (!lastOfScreen || onWayland.empty()) continue;
        try {
            Weston plain(c.width, c.height, "desktop-shell.so", 1, true);
            std::optional<Weston> doubled;
            if (std::any_of(onWayland.begin(), onWayland.end(), [](const Case* w) { return w->shown.scale == 2; }))
                doubled.emplace(c.width / 2, c.height / 2, "desktop-shell.so", 2, true);
            alternate(onWayland, rounds, 2, [&](const Case& each) {
                const Weston& weston = each.shown.scale == 2 ? *doubled : plain;
                return std::pair{weston.pid(), weston.environment()};
            });
        } catch (const std::exception& e) {
            skipped = e.what();
        }
        onWayland.clear();
    }
    return skipped;
}

// "median [least-most] us, % of one core at 30 frames a second", or why not.
std::string cell(const std::vector<double>& us, bool applies = true) {
    if (!applies) return "-";
    if (us.empty()) return "not measured";
    if (std::any_of(us.begin(), us.end(), [](double v) { return std::isnan(v); })) return "the demo failed";
    if (std::any_of(us.begin(), us.end(), [](double v) { return std::isinf(v); }))
        return "not done in " + std::to_string(kRunLimitSeconds) + " s";
    double middle = median(us);
    return format("%.0f [%.0f-%.0f] us, %.2f %%", middle, *std::min_element(us.begin(), us.end()),
                  percentile(us, 100), middle / 330);
}

bool tooSlow(const std::vector<double>& us) {
    return !us.empty() && std::isfinite(median(us)) && median(us) > 33000;
}

void print(const std::vector<Case>& cases, int rounds, const std::string& skipped) {
    std::printf("\nHow cost grows with the window: CPU a frame shown, microseconds, median [least-most] of %d "
                "rounds; %% of one core at 30 frames a second\n\n",
                rounds);
    std::printf("| screen | X depth | the frame shown | X server (Xvfb) | the demo on X | compositor (weston, pixman) "
                "| the demo on Wayland |\n|---|---|---|---|---|---|---|\n");
    for (const Case& c : cases)
        std::printf("| %dx%d | %d-bit | %s | %s | %s | %s | %s |\n", c.width, c.height, c.depth, c.shown.name,
                    cell(c.cost[0]).c_str(), cell(c.cost[1]).c_str(), cell(c.cost[2], c.wayland()).c_str(),
                    cell(c.cost[3], c.wayland()).c_str());
    std::printf("\nweston's output has no depth to choose: it is measured once a screen and way shown, on the "
                "16-bit rows.\n");
    if (std::any_of(cases.begin(), cases.end(), [](const Case& c) { return tooSlow(c.cost[0]) || tooSlow(c.cost[2]); }))
        std::printf("Past 33,000 us a frame the server cannot keep the demo's pace: fewer frames are shown, and "
                    "the share of a core is what 30 frames a second would take.\n");
    if (!skipped.empty()) std::printf("Wayland: not measured: %s\n", skipped.c_str());
}

}  // namespace

int windowSizes(int rounds) {
    std::vector<Case> cases = plan();
    print(cases, rounds, measure(cases, rounds));
    return 0;
}

}  // namespace bench
