// SPDX-License-Identifier: MIT
#include "TimerRun.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "BackToBack.h"
#include "Measure.h"
#include "TestGLView.h"
#include "UIKit.h"

namespace bench {

double TimerRun::percentile(double p) const { return bench::percentile(lateness, p); }

double TimerRun::worst() const { return lateness.empty() ? 0 : *std::max_element(lateness.begin(), lateness.end()); }

namespace {
class Ticker : public NSObject {
public:
    TimerRun* run = nullptr;
    void tick() {
        double now = wall();
        double k = std::floor((now - run->start) / run->period);
        double late = now - (run->start + k * run->period);
        run->lateness.push_back(late * 1000.0);
        run->lastLate = late;
        if (run->path) run->path->view->setNeedsDisplay();
    }
    void finish() { NSRunLoop::mainRunLoop()->stop(0); }
};
}  // namespace

TimerRun runTimer(RealPath* path, double seconds) {
    TimerRun timed;
    timed.path = path;
    auto* ticker = alloc<Ticker>();
    ticker->run = &timed;
    double c0 = cpu();
    timed.start = wall();
    NSTimer* ticks = NSTimer::scheduledTimerWithTimeInterval(timed.period, ticker, &Ticker::tick, nullptr, true);
    NSTimer::scheduledTimerWithTimeInterval(seconds, ticker, &Ticker::finish, nullptr, false);
    NSRunLoop::mainRunLoop()->run();
    ticks->invalidate();
    timed.elapsed = wall() - timed.start;
    timed.cpuShare = (cpu() - c0) / timed.elapsed * 100.0;
    ticker->release();
    return timed;
}

void printTimer(const TimerRun& timed, const TimerRun& idle) {
    std::printf("| timer run (s) | %.1f |\n", timed.elapsed);
    std::printf("| frames shown at the 0.033 s timer | %zu of %d due |\n", timed.lateness.size(),
                static_cast<int>(timed.elapsed / timed.period));
    std::printf("| tick lateness median / p99 / worst (ms) | %.3f / %.3f / %.3f |\n", timed.percentile(50),
                timed.percentile(99), timed.worst());
    std::printf("| tick lateness, the timer alone with nothing drawn (%.0f s): median / p99 / worst (ms) "
                "| %.3f / %.3f / %.3f |\n",
                idle.elapsed, idle.percentile(50), idle.percentile(99), idle.worst());
    std::printf("| drift at the end (ms) | %.3f |\n", timed.lastLate * 1000.0);
    std::printf("| CPU at 30 frames a second (%% of one core) | %.2f |\n", timed.cpuShare);
}

}  // namespace bench
