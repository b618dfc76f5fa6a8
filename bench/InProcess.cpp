// SPDX-License-Identifier: MIT
// What runs in this process, on the private X server: the demo's view drawn
// as the run loop draws it (the real path) against bare GL back to back,
// whether memory stays flat, and the demo's 0.033 s timer; or the soak.
#include "Session.h"

#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iterator>

#include "Bench.h"
#include "TestGLView.h"
#include "UIKit.h"
#include "Xvfb.h"

namespace bench {

namespace {
constexpr double kPeriod = 0.033;

// The demo's view in a window of the started session.
struct RealPath {
    UIWindow* window = alloc<UIWindow>()->initWithContentRect(CGRectMake(0, 0, 320, 480));
    TestGLView* view = nullptr;

    RealPath() {
        window->_setHidden(false);
        view = static_cast<TestGLView*>(alloc<TestGLView>()->initWithFrame(CGRectMake(0, 0, 320, 480)));
        window->setContentView(view);
    }
    // One pass of the run loop, as the demo's timer gets: the redraw, the
    // composite and the window system's events.
    void frame() {
        view->setNeedsDisplay();
        NSRunLoop::mainRunLoop()->runOnce(0);
    }
};

// Back to back, each frame's request wakes the server on the frame's own core
// (the kernel expects the writer to sleep next, as the demo at 30 frames a
// second does), and the server's copy of the frame then runs in the frame's
// time. So the server gets a core of its own, as the device's display
// hardware is its own. Returns whether it could.
bool giveServerItsOwnCore(pid_t server) {
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (sched_getaffinity(0, sizeof allowed, &allowed) != 0 || CPU_COUNT(&allowed) < 2) return false;
    int last = 0;
    for (int c = 0; c < CPU_SETSIZE; ++c)
        if (CPU_ISSET(c, &allowed)) last = c;
    cpu_set_t own;
    CPU_ZERO(&own);
    CPU_SET(last, &own);
    // Every thread of it: a mask set on a process binds only its first thread.
    std::error_code error;
    bool moved = false;
    for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(server) + "/task", error))
        moved |= sched_setaffinity(std::atoi(task.path().filename().c_str()), sizeof own, &own) == 0;
    if (!moved) return false;
    CPU_CLR(last, &allowed);
    return sched_setaffinity(0, sizeof allowed, &allowed) == 0;
}

// `frames` frames of each after 100 to warm up, in ten alternating rounds so
// that what else the machine does falls on both; the ratio of the medians.
double backToBack(RealPath& real, const uint8_t* picture, int frames, Rows& rows) {
    BareGL bare(picture);
    constexpr int kReal = 0, kBare = 1;
    std::vector<double> ms[2];  // frame times
    double used[2] = {0, 0};    // CPU seconds
    // The real path's CPU with the server's work on its frames waited for;
    // bare GL current for its rounds only, as the real path draws between.
    auto round = [&](int which, int n) {
        if (which == kBare) bare.makeCurrent();
        double c0 = cpu();
        for (int i = 0; i < n; ++i) {
            double t0 = wall();
            which == kReal ? real.frame() : bare.frame();
            ms[which].push_back((wall() - t0) * 1000.0);
        }
        if (which == kReal) UIKitPlatform::Session::current()->sync();
        used[which] += cpu() - c0;
        if (which == kBare) bare.release();
    };
    round(kReal, 100);
    round(kBare, 100);
    ms[kReal].clear(), ms[kBare].clear();
    used[kReal] = used[kBare] = 0;
    for (int r = 0; r < 10; ++r) round(kReal, frames / 10), round(kBare, frames / 10);
    auto spread = [&](int which) {
        return format("%.3f / %.3f / %.3f", *std::min_element(ms[which].begin(), ms[which].end()), median(ms[which]),
                      percentile(ms[which], 99));
    };
    auto cpuPerFrame = [&](int which) { return used[which] * 1000.0 / static_cast<double>(ms[which].size()); };
    const double ratio = median(ms[kReal]) / median(ms[kBare]);
    rows.push_back(format("| frame, whole real path (ms): min / median / p99 | %s |", spread(kReal).c_str()));
    rows.push_back(format("| frame, whole real path: CPU ms per frame | %.3f |", cpuPerFrame(kReal)));
    rows.push_back(format("| frame, bare GL into a pbuffer (ms): min / median / p99 | %s |", spread(kBare).c_str()));
    rows.push_back(format("| frame, bare GL: CPU ms per frame | %.3f |", cpuPerFrame(kBare)));
    rows.push_back(format("| ratio, real path to bare GL (median) | %.3f |", ratio));
    return ratio;
}

// `frames` frames back to back, the resident set taken as they go: its value
// after 1,000 frames; with `say` (--soak) it is said every 100,000 frames and
// at the end.
double keepGoing(RealPath& real, long frames, bool say) {
    double first = 0;
    for (long done = 1; done <= frames; ++done) {
        real.frame();
        if (done == 1000) first = residentMiB();
        if (!say) continue;
        if (done % 100000 == 0 || done == frames) {
            std::printf("after %ld frames: resident %.2f MiB", done, residentMiB());
            if (done >= 1000) std::printf(" (%+.3f since frame 1,000)", residentMiB() - first);
            std::printf("\n");
        }
        std::fflush(stdout);
    }
    return first;
}

// The demo's 0.033 s timer: each tick's lateness, the view redrawn at each
// when there is one; with none, what is left is the timer and the machine's
// own noise.
class Ticker : public NSObject {
public:
    TestGLView* view = nullptr;
    double start = 0, lastLate = 0, elapsed = 0, cpuShare = 0;
    std::vector<double> lateness;  // ms, in the order of the ticks

    void tick() {
        double now = wall();
        double late = now - (start + std::floor((now - start) / kPeriod) * kPeriod);
        lateness.push_back(late * 1000.0);
        lastLate = late;
        if (view) view->setNeedsDisplay();
    }
    void finish() { NSRunLoop::mainRunLoop()->stop(0); }
    void run(double seconds) {
        double c0 = cpu();
        start = wall();
        NSTimer* ticks = NSTimer::scheduledTimerWithTimeInterval(kPeriod, this, &Ticker::tick, nullptr, true);
        NSTimer::scheduledTimerWithTimeInterval(seconds, this, &Ticker::finish, nullptr, false);
        NSRunLoop::mainRunLoop()->run();
        ticks->invalidate();
        elapsed = wall() - start;
        cpuShare = (cpu() - c0) / elapsed * 100.0;
    }
    // Median / p99 / worst (ms).
    std::string lateStats() const {
        return format("%.3f / %.3f / %.3f", median(lateness), percentile(lateness, 99), percentile(lateness, 100));
    }
};

// The real timer, after the same timer with nothing drawn.
void timer(TestGLView* view, double seconds, Rows& rows) {
    Ticker *idle = alloc<Ticker>(), *timed = alloc<Ticker>();
    idle->run(seconds / 3);
    timed->view = view;
    timed->run(seconds);
    rows.push_back(format("| timer run (s) | %.1f |", timed->elapsed));
    rows.push_back(format("| frames shown at the 0.033 s timer | %zu of %d due |", timed->lateness.size(),
                          static_cast<int>(timed->elapsed / kPeriod)));
    rows.push_back(format("| tick lateness median / p99 / worst (ms) | %s |", timed->lateStats().c_str()));
    rows.push_back(format("| tick lateness, the timer alone with nothing drawn (%.0f s): median / p99 / worst (ms) "
                          "| %s |",
                          idle->elapsed, idle->lateStats().c_str()));
    rows.push_back(format("| drift at the end (ms) | %.3f |", timed->lastLate * 1000.0));
    rows.push_back(format("| CPU at 30 frames a second (%% of one core) | %.2f |", timed->cpuShare));
    idle->release();
    timed->release();
}
}  // namespace

int inProcess(pid_t server, bool quick, long soakFrames, const Rows& programs) {
    Rows rows{"", "| measure | value |", "|---|---|"};
    rows.push_back(format("| the X server's core | %s |",
                          giveServerItsOwnCore(server) ? "its own" : "shared with the frames"));
    NSAutoreleasePool* pool = alloc<NSAutoreleasePool>()->init();
    UIKitPlatform::Session session;
    if (std::string error; !session.start(error)) {
        std::fprintf(stderr, "bench: cannot open the display: %s\n", error.c_str());
        return 1;
    }
    std::fflush(stdout);
    // The view's picture in a file with no name: nothing is left behind
    // however the run ends.
    const std::vector<uint8_t> picture = testPicture();
    const int file = servers::unnamedFile();
    const bool written = file >= 0 && write(file, picture.data(), picture.size()) == std::ssize(picture);
    const std::string path = written ? "/proc/self/fd/" + std::to_string(file) : "";
    TestGLView::picturePath = path.c_str();
    RealPath real;
    if (soakFrames > 0) {
        keepGoing(real, soakFrames, true);
    } else {
        const double ratio = backToBack(real, picture.data(), quick ? 300 : 3000, rows);
        // Whether memory stays flat.
        const int frames = quick ? 5000 : 100000;
        const double after1000 = keepGoing(real, frames, false);
        session.sync();
        const double atEnd = residentMiB();
        rows.push_back(format("| resident set after 1,000 frames (MiB) | %.2f |", after1000));
        rows.push_back(format("| resident set after %d frames (MiB) | %.2f |", frames, atEnd));
        rows.push_back(format("| growth (MiB) | %.3f |", atEnd - after1000));
        rows.insert(rows.end(), programs.begin(), programs.end());
        timer(real.view, quick ? 3 : 60, rows);
        // Once more, alone on the last line, as the benchmark has always ended.
        rows.push_back(format("ratio %.3f", ratio));
        for (const std::string& row : rows) std::puts(row.c_str());
    }
    TestGLView::picturePath = TestGLView::kPicturePath;
    if (file >= 0) close(file);
    pool->release();
    return 0;
}

}  // namespace bench
