// SPDX-License-Identifier: MIT
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <cstdio>
#include <string>

#include "CoreGraphics.h"
#include "Foundation.h"
#include "RecordingGL.h"

// Each test starts from a clean record with an autorelease pool in place and
// collects what the code printed.
class RecordingTest : public ::testing::Test {
protected:
    void SetUp() override {
        rec::reset();
        // No sample picture unless a test puts one there.
        NSBundle::mainBundle()->_setResourcePath(::testing::TempDir() + "orvanel_no_bundle");
        mPool = alloc<NSAutoreleasePool>()->init();
        std::fflush(stdout);
        ::testing::internal::CaptureStdout();
        mCapturing = true;
    }
    void TearDown() override {
        if (mCapturing) output();
        mPool->release();
    }
    // What was printed since SetUp (ends the capture).
    std::string output() {
        if (!mCapturing) return mOutput;
        std::fflush(stdout);
        mOutput = ::testing::internal::GetCapturedStdout();
        mCapturing = false;
        return mOutput;
    }

    template <class View>
    View* make(float x, float y, float w, float h) {
        return static_cast<View*>(alloc<View>()->initWithFrame(CGRectMake(x, y, w, h)));
    }

private:
    NSAutoreleasePool* mPool = nullptr;
    bool mCapturing = false;
    std::string mOutput;
};

inline std::vector<float> rectOf(CGRect r) { return {r.origin.x, r.origin.y, r.size.width, r.size.height}; }

inline uint32_t bitsOf(float f) {
    uint32_t u;
    static_assert(sizeof u == sizeof f);
    std::memcpy(&u, &f, sizeof u);
    return u;
}
