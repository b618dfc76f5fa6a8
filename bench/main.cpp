// SPDX-License-Identifier: MIT
// Measures what a frame costs, back to back and at the demo's own pace
// against bare GL and a plain EGL window program, whether memory stays flat,
// how soon the first frame shows and how well the 0.033 s timer keeps time, on
// a private 16-bit Xvfb and a headless weston, and how the display server's
// work grows with the window. Usage: orvanel_bench [--quick | --soak FRAMES |
// --startup | --window-sizes [ROUNDS]]; --plain-window, --plain-wayland and
// --bare-paced run the baselines themselves.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

#include "Bench.h"
#include "Xvfb.h"

namespace {

const char kUsage[] =
    "usage: orvanel_bench [--quick | --startup | --soak FRAMES | --window-sizes [ROUNDS]]\n"
    "Measures the demo against bare GL and a plain EGL window program, on a private\n"
    "16-bit Xvfb and a headless weston: frame times back to back, CPU at the demo's\n"
    "own pace (per frame over bare GL too), memory, the first frame and the timer.\n"
    "  --quick          a short run\n"
    "  --startup        the start-up timings alone\n"
    "  --soak FRAMES    frames back to back, the resident set as it goes\n"
    "  --window-sizes [ROUNDS]\n"
    "                   alone: the display server's CPU a frame with the frame shown\n"
    "                   at 1x, 2x and full screen on 1920x1080 and 3840x2160 screens,\n"
    "                   on X and on Wayland, and at 1x and full screen on 1920x1080\n"
    "                   X screens of 24 and 30 bits (3 rounds unless told; about 4\n"
    "                   minutes a round)\n"
    "(--plain-window [N], --plain-wayland [N] and --bare-paced [N] run the\n"
    "baselines themselves, for N frames or for ever: a plain EGL window program on\n"
    "DISPLAY, the same on WAYLAND_DISPLAY, bare GL; scripts/count.sh counts their\n"
    "instructions.)\n"
    "The demo measured is the one built beside this program, or the one\n"
    "ORVANEL_BENCH_DEMO names (to measure another build against the same code).\n";

int usageError(const std::string& what) {
    std::fprintf(stderr, "orvanel_bench: %s\n%s", what.c_str(), kUsage);
    return 2;
}

bool is(const char* arg, const char* option) { return std::strcmp(arg, option) == 0; }

// The run on a private 16-bit Xvfb: the first frame and the paced runs, each
// program a process of its own, then what runs in this process.
int run(const char* option, long number) {
    Xvfb server(16);
    const bool quick = is(option, "--quick"), soak = is(option, "--soak"), startupOnly = is(option, "--startup");
    bench::Rows programs;
    if (!soak) bench::startup(startupOnly, programs);
    if (!soak && !startupOnly) bench::paced(server.pid(), quick ? 1 : 3, quick ? 2 : 6, programs);
    return startupOnly ? 0 : bench::inProcess(server.pid(), quick, soak ? number : 0, programs);
}

int dispatch(const char* option, int argc, char** argv) {
    const long number = argc > 2 ? std::atol(argv[2]) : 0;
    if (is(option, "--plain-window")) return bench::plainProgram(bench::Plain::XWindow, number);
    if (is(option, "--plain-wayland")) return bench::plainProgram(bench::Plain::Wayland, number);
    if (is(option, "--bare-paced")) return bench::plainProgram(bench::Plain::Pbuffer, number);
    if (is(option, "--window-sizes")) {
        const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
        return rounds > 0 ? bench::windowSizes(rounds) : usageError("--window-sizes takes a number of rounds");
    }
    if (argc > 1 && !is(option, "--quick") && !is(option, "--startup") && !is(option, "--soak"))
        return usageError(std::string("unknown option '") + option + "'");
    if (is(option, "--soak") && number <= 0) return usageError("--soak needs a number of frames");
    return run(option, number);
}

}  // namespace

int main(int argc, char** argv) {
    const char* option = argc > 1 ? argv[1] : "";
    if (is(option, "--help") || is(option, "-h")) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    try {
        return dispatch(option, argc, argv);
    } catch (const std::exception& e) {
        // A server that would not start.
        std::fprintf(stderr, "orvanel_bench: %s\n", e.what());
        return 1;
    }
}
