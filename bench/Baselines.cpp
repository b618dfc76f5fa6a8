// SPDX-License-Identifier: MIT
#include "Baselines.h"

#include <time.h>

#include <X11/Xlib.h>

#include <cstdio>
#include <optional>

#include "BareGL.h"
#include "Measure.h"
#include "PlainWayland.h"

namespace bench {

namespace {
// A plain X window of the frame's size, mapped; 0 without a display.
unsigned long plainXWindow() {
    Display* x = XOpenDisplay(nullptr);
    if (!x) return 0;
    unsigned long id = XCreateSimpleWindow(x, DefaultRootWindow(x), 0, 0, 320, 480, 0, 0, 0);
    XMapWindow(x, id);
    XSync(x, False);
    return id;
}

// Absolute deadlines, so that a late frame does not put off the ones after.
void sleepToNextTick(timespec& next) {
    next.tv_nsec += 33000000;
    if (next.tv_nsec >= 1000000000) {
        next.tv_nsec -= 1000000000;
        ++next.tv_sec;
    }
    clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
}
}  // namespace

int runPlainProgram(Plain kind, long frames) {
    std::vector<uint8_t> picture = testPicture();
    unsigned long window = 0;
    if (kind == Plain::XWindow && !(window = plainXWindow())) return 1;
    std::optional<PlainWaylandWindow> wayland;
    if (kind == Plain::Wayland) {
        wayland.emplace(320, 480);
        if (!wayland->ok()) {
            std::fprintf(stderr, "orvanel_bench: no Wayland window (WAYLAND_DISPLAY names no compositor with "
                                 "xdg-shell?)\n");
            return 1;
        }
    }
    std::optional<BareGL> gl;
    if (wayland)
        gl.emplace(picture.data(), wayland->eglDisplay(), wayland->eglWindow());
    else if (window)
        gl.emplace(picture.data(), window);
    else
        gl.emplace(picture.data());
    if (!gl->ok() || !gl->makeCurrent()) {
        std::fprintf(stderr, "orvanel_bench: EGL could not draw there (0x%x)\n", eglGetError());
        return 1;
    }
    timespec next{};
    clock_gettime(CLOCK_MONOTONIC, &next);
    for (long n = 0; frames == 0 || n < frames; ++n) {
        gl->frame();
        if (wayland && !wayland->serve()) return 1;
        sleepToNextTick(next);
    }
    return 0;
}

}  // namespace bench
