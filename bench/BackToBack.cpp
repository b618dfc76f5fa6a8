// SPDX-License-Identifier: MIT
// Before Xlib, whose None is a macro.
#include "Session.h"

#include "BackToBack.h"

#include <sched.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "BareGL.h"
#include "TestGLView.h"
#include "UIKit.h"

namespace bench {

RealPath::RealPath() {
    CGRect r = CGRectMake(0, 0, 320, 480);
    window = alloc<UIWindow>()->initWithContentRect(r);
    window->_setHidden(false);
    view = static_cast<TestGLView*>(alloc<TestGLView>()->initWithFrame(r));
    window->setContentView(view);
}

void RealPath::frame() {
    view->setNeedsDisplay();
    NSRunLoop::mainRunLoop()->runOnce(0);
}

double RealPath::run(int frames, std::vector<double>& ms) {
    double c0 = cpu();
    for (int i = 0; i < frames; ++i) {
        double t0 = wall();
        frame();
        ms.push_back((wall() - t0) * 1000.0);
    }
    UIKitPlatform::Session::current()->sync();
    return cpu() - c0;
}

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

BackToBack runBackToBack(RealPath& real, const uint8_t* picture, int frames) {
    BareGL bare(picture);
    std::vector<double> realMs, bareMs;
    real.run(100, realMs);
    bare.run(100, bareMs);
    realMs.clear();
    bareMs.clear();
    double realCpu = 0, bareCpu = 0;
    for (int round = 0; round < 10; ++round) {
        realCpu += real.run(frames / 10, realMs);
        bareCpu += bare.run(frames / 10, bareMs);
    }
    return {summarise(realMs, realCpu), summarise(bareMs, bareCpu)};
}

void printBackToBack(const BackToBack& result) {
    const Stats &r = result.real, &b = result.bare;
    std::printf("| frame, whole real path (ms): min / median / p99 | %.3f / %.3f / %.3f |\n", r.min, r.median, r.p99);
    std::printf("| frame, whole real path: CPU ms per frame | %.3f |\n", r.cpuPerFrame);
    std::printf("| frame, bare GL into a pbuffer (ms): min / median / p99 | %.3f / %.3f / %.3f |\n", b.min,
                b.median, b.p99);
    std::printf("| frame, bare GL: CPU ms per frame | %.3f |\n", b.cpuPerFrame);
    std::printf("| ratio, real path to bare GL (median) | %.3f |\n", r.median / b.median);
}

}  // namespace bench
