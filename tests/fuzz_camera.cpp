// SPDX-License-Identifier: MIT
// Random pointer-event sequences into the camera view, and what must hold
// for any of them as a user drags: a press moves nothing (a double click puts
// the default pose back); a drag moves only what its button moves, the way
// the pointer went from where the press was, and the points on the way do
// not change where it ends; at the press point nothing has moved; a release
// ends the drag; no NaN comes from finite input. Built as a libFuzzer target
// with clang (scripts/fuzz.sh), and otherwise as a program that feeds it a
// fixed number of pseudo-random sequences.
#include <array>
#include <bit>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "UIGLCameraView.h"

namespace {

// theta, phi, distance, offset x, offset y
using Pose = std::array<float, 5>;
constexpr float UIGLCameraView::*kPose[5] = {&UIGLCameraView::mCameraTheta, &UIGLCameraView::mCameraPhi,
                                             &UIGLCameraView::mCameraDistance, &UIGLCameraView::mCameraOffsetX,
                                             &UIGLCameraView::mCameraOffsetY};

Pose poseOf(const UIGLCameraView* view) {
    Pose p;
    for (int i = 0; i < 5; ++i) p[i] = view->*kPose[i];
    return p;
}

void setPose(UIGLCameraView* view, const Pose& p) {
    for (int i = 0; i < 5; ++i) view->*kPose[i] = p[i];
}

// To the bit, any NaN the same as any other.
bool same(const Pose& a, const Pose& b) {
    for (int i = 0; i < 5; ++i)
        if (!(std::isnan(a[i]) && std::isnan(b[i])) && std::memcmp(&a[i], &b[i], sizeof a[i]) != 0) return false;
    return true;
}

void check(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "camera: %s\n", what);
    std::abort();
}

float take(const uint8_t*& p) {
    float v;
    std::memcpy(&v, p, sizeof v);
    p += sizeof v;
    return v;
}

// The drag from the press at (ax, ay) with `button` held, now at (x, y),
// moved each of the pose's values from `start` only as that button moves it.
void checkDrag(int button, const Pose& start, const Pose& now, double ax, double ay, double x, double y) {
    // What each button moves, and which way (the pointer's motion to the
    // right, downwards): turning follows it, zooming goes out to the right
    // and in downwards, panning follows it across and against it down.
    static const double kWay[4][5][2] = {{},
                                          {{1, 0}, {0, 1}},
                                          {{}, {}, {1, -1}},
                                          {{}, {}, {}, {1, 0}, {0, -1}}};
    const auto& way = kWay[button >= 1 && button <= 3 ? button : 0];
    for (int i = 0; i < 5; ++i) {
        double motion = way[i][0] * (x - ax) + way[i][1] * (y - ay);
        double moved = static_cast<double>(now[i]) - start[i];
        if (way[i][0] == 0 && way[i][1] == 0)
            check(moved == 0, "a value its button does not move moved");
        else
            check(moved * motion >= 0, "a value moved against the pointer");
    }
    if (x == ax && y == ay) check(same(now, start), "moved without the pointer moving");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The view takes every event; the other takes the presses (from the
    // view's pose) and every other drag, and must end each drag it sees
    // where the first does.
    UIGLCameraView* views[2] = {alloc<UIGLCameraView>(), alloc<UIGLCameraView>()};  // no GL set-up needed
    for (UIGLCameraView* v : views) {
        v->mZUp = true;
        v->resetView();
    }
    UIGLCameraView* view = views[0];
    const Pose home = poseOf(view);
    Pose start = home;
    float ax = 0, ay = 0;
    bool wild = false, skip = false;  // wild: an event value that was not finite
    constexpr size_t kRecord = 1 + 4 * 4;
    for (const uint8_t* p = data; p + kRecord <= data + size;) {
        uint8_t kind = *p++ % 4;
        float x = take(p), y = take(p), deltaX = take(p), deltaY = take(p);
        wild = wild || !std::isfinite(x) || !std::isfinite(y);
        __GSEvent e{CGRectMake(x, y, 0, 0), deltaX, deltaY};
        const Pose before = poseOf(view);
        const int32_t held = view->mButtonDown;
        const bool press = kind == 0 || (kind < 3 && UIGLCameraEventInt(deltaY) != held);
        if (press) {
            // A drag with another button starts a drag of its own there.
            Pose pressed = UIGLCameraEventInt(deltaX) == 2 ? home : before;
            start = pressed;
            ax = x;
            ay = y;
            setPose(views[1], before);  // a skipped drag's end stays where it was
            for (UIGLCameraView* v : views) kind == 0 ? v->mouseDown(&e) : v->mouseDragged(&e);
            check(same(poseOf(view), kind == 0 ? pressed : poseOf(view)), "a press moved the camera");
            check(view->mButtonDown == UIGLCameraEventInt(deltaY), "the button held");
            skip = false;
        } else if (kind < 3) {
            view->mouseDragged(&e);
            if (!skip) {
                views[1]->mouseDragged(&e);
                // (Without a button that moves the camera, a drag leaves
                // the pose as the skipped one put it.)
                if (held >= 1 && held <= 3)
                    check(same(poseOf(views[1]), poseOf(view)), "the points on a drag's way changed where it ends");
            }
            skip = !skip;
        } else {
            for (UIGLCameraView* v : views) v->mouseUp(&e);
            check(view->mButtonDown == 0, "a release left a button held");
            start = poseOf(view);  // from here on, moving turns nothing
        }
        const bool finiteStart = std::all_of(start.begin(), start.end(), [](float v) { return std::isfinite(v); });
        if (kind > 0 && kind < 3 && !wild && finiteStart)
            checkDrag(view->mButtonDown, start, poseOf(view), ax, ay, x, y);
        for (float v : poseOf(view)) check(!std::isnan(v) || wild, "NaN from finite input");
        check(view->mCameraFOV == 50.0f && view->mZUp, "fields no drag touches");
    }
    for (UIGLCameraView* v : views) v->release();
    return 0;
}

#ifndef ORVANEL_LIBFUZZER
// Pseudo-random sequences, with the awkward values mixed in.
int main(int argc, char** argv) {
    long runs = argc > 1 ? std::atol(argv[1]) : 20000;
    std::mt19937 rng(12345);
    const float awkward[] = {0.0f, -0.0f, 1, 2, 3, 4, 2.5f, -1, NAN, INFINITY, -INFINITY, 3e9f, -3e9f,
                             1e-40f, 65535, 400, -400};
    for (long run = 0; run < runs; ++run) {
        std::vector<uint8_t> bytes;
        int events = 1 + static_cast<int>(rng() % 40);
        for (int k = 0; k < events; ++k) {
            bytes.push_back(static_cast<uint8_t>(rng()));
            for (int f = 0; f < 4; ++f) {
                float v;
                unsigned pick = rng() % 10;
                if (pick < 3)
                    v = static_cast<float>(static_cast<int>(rng() % 1000) - 200);
                else if (pick < 5)  // fractions, where single and double rounding part
                    v = static_cast<float>(static_cast<int>(rng() % 100000) - 20000) / 97.0f;
                else if (pick < 8)
                    v = awkward[rng() % (sizeof awkward / sizeof awkward[0])];
                else
                    v = std::bit_cast<float>(static_cast<uint32_t>(rng()));
                if (f >= 2 && pick < 5) v = static_cast<float>(rng() % 5);  // buttons and clicks
                const auto raw = std::bit_cast<std::array<uint8_t, 4>>(v);
                bytes.insert(bytes.end(), raw.begin(), raw.end());
            }
        }
        LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    }
    std::printf("%ld event sequences: every drag moved the camera as a drag does\n", runs);
    return 0;
}
#endif
