// SPDX-License-Identifier: MIT
// Random pointer-event sequences into the camera view. Every camera value must
// be what the drag arithmetic gives, computed here on its own, and NaN only
// where an event carried a value that was not finite. Built as a libFuzzer
// target with clang (scripts/fuzz.sh), and otherwise as a program that feeds
// it a fixed number of pseudo-random sequences.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "UIGLCameraView.h"

namespace {

struct Model {
    float theta = 45, phi = 30, distance = 7, offsetX = 0, offsetY = 0;
    float startTheta = 0, startPhi = 0, startDistance = 0, startX = 0, startY = 0;
    float downX = 0, downY = 0;
    int32_t button = 0;

    static int32_t toInt(float v) {
        if (!(v >= -2147483648.0f && v < 2147483648.0f)) return 0;
        return static_cast<int32_t>(v);
    }
    void reset() { *this = Model{.button = button}; }
    void down(float x, float y, float deltaX, float deltaY) {
        if (toInt(deltaX) == 2) reset();
        downX = x;
        downY = y;
        button = toInt(deltaY);
        startTheta = theta;
        startPhi = phi;
        startDistance = distance;
        startX = offsetX;
        startY = offsetY;
    }
    void drag(float x, float y, float deltaX, float deltaY) {
        if (toInt(deltaY) != button) down(x, y, deltaX, deltaY);
        volatile float dx = (x - downX) / 400.0f;
        volatile float dy = (y - downY) / 400.0f;
        if (button == 1) {
            volatile float tx = dx * 180.0f, ty = dy * 180.0f;
            theta = startTheta + tx;
            phi = startPhi + ty;
        } else if (button == 2) {
            volatile float spread = dx - dy;
            distance = static_cast<float>(static_cast<double>(startDistance) + static_cast<double>(spread) * 4.0);
        } else if (button == 3) {
            offsetX = static_cast<float>(static_cast<double>(startX) + static_cast<double>(dx) * 4.0);
            offsetY = static_cast<float>(static_cast<double>(startY) + static_cast<double>(dy) * -4.0);
        }
    }
};

bool same(float a, float b) {
    return (std::isnan(a) && std::isnan(b)) || std::memcmp(&a, &b, sizeof a) == 0;
}

void check(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "camera value differs from the arithmetic: %s\n", what);
    std::abort();
}

float take(const uint8_t*& p) {
    float v;
    std::memcpy(&v, p, sizeof v);
    p += sizeof v;
    return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto* view = alloc<UIGLCameraView>();  // no GL set-up: the handlers need none
    view->mZUp = true;
    view->resetView();
    Model model;
    bool wild = false;  // an event value that was not finite
    constexpr size_t kRecord = 1 + 4 * 4;
    for (const uint8_t* p = data; p + kRecord <= data + size;) {
        uint8_t kind = *p++ % 4;
        float x = take(p), y = take(p), deltaX = take(p), deltaY = take(p);
        wild = wild || !std::isfinite(x) || !std::isfinite(y);
        __GSEvent e{CGRectMake(x, y, 0, 0), deltaX, deltaY};
        switch (kind) {
        case 0:
            view->mouseDown(&e);
            model.down(x, y, deltaX, deltaY);
            break;
        case 1:
        case 2:
            view->mouseDragged(&e);
            model.drag(x, y, deltaX, deltaY);
            break;
        default:
            view->mouseUp(&e);
            model.button = 0;
            break;
        }
        check(view->mButtonDown == model.button, "button");
        check(same(view->mCameraTheta, model.theta), "theta");
        check(same(view->mCameraPhi, model.phi), "phi");
        check(same(view->mCameraDistance, model.distance), "distance");
        check(same(view->mCameraOffsetX, model.offsetX), "offset x");
        check(same(view->mCameraOffsetY, model.offsetY), "offset y");
        check(same(view->mMouseDownX, model.downX) && same(view->mMouseDownY, model.downY), "anchor");
        for (float v : {view->mCameraTheta, view->mCameraPhi, view->mCameraDistance, view->mCameraOffsetX,
                        view->mCameraOffsetY})
            check(!std::isnan(v) || wild, "NaN from finite input");
        check(view->mCameraFOV == 50.0f && view->mZUp, "untouched fields");
    }
    view->release();
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
                else {
                    uint32_t bits = static_cast<uint32_t>(rng());
                    std::memcpy(&v, &bits, sizeof v);
                }
                if (f >= 2 && pick < 5) v = static_cast<float>(rng() % 5);  // buttons and clicks
                uint8_t raw[4];
                std::memcpy(raw, &v, 4);
                bytes.insert(bytes.end(), raw, raw + 4);
            }
        }
        LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    }
    std::printf("%ld event sequences: every camera value as the arithmetic gives it\n", runs);
    return 0;
}
#endif
