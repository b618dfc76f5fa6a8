// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "TestViews.h"
#include "UIGLView.h"

namespace {

using Names = std::vector<std::string>;
using GLViewTest = RecordingTest;

const Names kSetUp{"eglGetDisplay",         "eglInitialize",           "eglChooseConfig",
                   "eglCreateContext",      "CoreSurfaceBufferCreate", "CoreSurfaceBufferLock",
                   "CoreSurfaceBufferUnlock", "eglCreatePixmapSurface", "eglMakeCurrent"};

double handle(void* p) { return static_cast<double>(reinterpret_cast<uintptr_t>(p)); }

const std::vector<double> kCurrent{handle(rec::display()), handle(rec::surface()), handle(rec::surface()),
                                   handle(rec::context())};

TEST_F(GLViewTest, FullInitialisationRunsTheStepsInOrderAndLeavesTheContextCurrent) {
    UIGLView* view = make<UIGLView>(0, 0, 320, 480);
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(output(), "GL version 1.4\n");
    EXPECT_EQ(rec::names(), kSetUp);
    EXPECT_EQ(rec::calls[0].args[0], 0.0);  // EGL_DEFAULT_DISPLAY
    EXPECT_EQ(rec::calls[2].args, (std::vector<double>{0x3020, 16, 0x3025, 16, 0x3033, 1, 0x3038}));
    EXPECT_EQ(rec::calls[3].args, (std::vector<double>{handle(rec::config()), 0, 0}));
    EXPECT_EQ(rec::calls[5].args[0], 3.0);  // lock flag
    EXPECT_EQ(rec::calls[7].args[0], handle(rec::config()));
    EXPECT_EQ(rec::calls[7].args[2], 0.0);  // no attribute list
    EXPECT_EQ(rec::calls[8].args, kCurrent);

    EXPECT_EQ(view->eglDisplay(), rec::display());
    EXPECT_EQ(view->eglContext(), rec::context());
    EXPECT_EQ(view->eglSurface(), rec::surface());
    ASSERT_NE(view->screenSurface(), nullptr);
    EXPECT_EQ(rec::calls[5].ptr, view->screenSurface());
    EXPECT_EQ(CoreSurfaceBufferGetLockCount(view->screenSurface()), 0);

    // The buffer is shown by an opaque layer under the view's own.
    ASSERT_EQ(view->layer()->sublayers().size(), 1u);
    LKLayer* shown = view->layer()->sublayers()[0];
    EXPECT_EQ(shown->contents(), view->screenSurface());
    EXPECT_TRUE(shown->isOpaque());
    view->release();
}

// A fractional width is truncated for the buffer, not for the layer showing it.
TEST_F(GLViewTest, BufferPropertiesFor320By480EvenFromAFractionalWidth) {
    for (float width : {320.0f, 320.7f}) {
        UIGLView* view = make<UIGLView>(10, 20, width, 480);
        using P = std::vector<std::pair<std::string, std::string>>;
        EXPECT_EQ(rec::lastProperties, (P{{"Global", "true"},
                                          {"MemoryRegion", "\"PurpleGFXMem\""},
                                          {"Pitch", "i3:640"},
                                          {"Width", "i3:320"},
                                          {"Height", "i3:480"},
                                          {"PixelFormat", "i3:1278555701"},
                                          {"AllocSize", "i3:307200"}}))
            << width;
        EXPECT_EQ(CoreSurfaceBufferGetWidth(view->screenSurface()), 320);
        EXPECT_EQ(CoreSurfaceBufferGetHeight(view->screenSurface()), 480);
        EXPECT_EQ(CoreSurfaceBufferGetBytesPerRow(view->screenSurface()), 640);
        EXPECT_EQ(rectOf(view->layer()->sublayers().at(0)->frame()), (std::vector<float>{0, 0, width, 480}));
        view->release();
    }
}

TEST_F(GLViewTest, FailedInitialiseReturnsTheViewWithNullFieldsAndPrintsNothing) {
    rec::script.initializeFails = true;
    UIGLView* view = make<UIGLView>(0, 0, 320, 480);
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(output(), "");
    EXPECT_EQ(rec::names(), (Names{"eglGetDisplay", "eglInitialize"}));
    EXPECT_EQ((std::vector<const void*>{view->eglDisplay(), view->eglContext(), view->eglSurface(),
                                        view->screenSurface()}),
              std::vector<const void*>(4, nullptr));
    EXPECT_TRUE(view->layer()->sublayers().empty());
    view->release();
}

TEST_F(GLViewTest, ParentInitialiserReturningNothingStopsBeforeEGL) {
    for (auto [width, height] : {std::pair{NAN, 480.0f}, {-1, 480}, {1e9f, 480}, {320, 32768}})
        EXPECT_EQ(make<UIGLView>(0, 0, width, height), nullptr) << width << "x" << height;
    EXPECT_TRUE(rec::calls.empty());
    EXPECT_EQ(output(), "");
}

// Each failing step prints its line (error codes in zero-padded hex) and the
// set-up goes on to the make-current; what failed is stored as null, and no
// config chosen is none handed on.
TEST_F(GLViewTest, EachFailedStepIsOneLineAndTheSetUpGoesOn) {
    const char* noConfig = "failed to find usable config =(\n";
    struct Case {
        void (*setup)();
        EGLint error;
        std::string said;
        bool config, context, surface;  // chosen, stored, stored
    } cases[] = {
        {[] { rec::script.chooseFails = true; }, 0, noConfig, false, true, true},
        {[] { rec::script.configCount = 0; }, 0, noConfig, false, true, true},
        {[] { rec::script.configCount = 2; }, 0, noConfig, false, true, true},
        {[] { rec::script.contextFails = true; }, 0, "failed to allocate context =(\n", true, false, true},
        {[] { rec::script.surfaceFails = true; }, 0x300B, "failed to create surface =(, 300b\n", true, true, false},
        {[] { rec::script.surfaceFails = true; }, 0x1F, "failed to create surface =(, 001f\n", true, true, false},
        {[] { rec::script.makeCurrentFails = true; }, 0x3002, "make current error: 3002\n", true, true, true},
        {[] { rec::script.chooseFails = rec::script.contextFails = rec::script.surfaceFails =
                  rec::script.makeCurrentFails = true; },
         0x3009,
         "failed to find usable config =(\nfailed to allocate context =(\nfailed to create surface =(, 3009\n"
         "make current error: 3009\n",
         false, false, false},
    };
    output();  // each case's own output below
    for (const Case& c : cases) {
        rec::reset();
        c.setup();
        rec::script.error = c.error;
        ::testing::internal::CaptureStdout();
        UIGLView* view = make<UIGLView>(0, 0, 320, 480);
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), "GL version 1.4\n" + c.said);
        Names steps;
        for (const std::string& name : rec::names())
            if (name != "eglGetError") steps.push_back(name);
        EXPECT_EQ(steps, kSetUp) << c.said;
        const double config = c.config ? handle(rec::config()) : 0;
        EXPECT_EQ(rec::only("eglCreateContext")[0].args[0], config) << c.said;
        EXPECT_EQ(rec::only("eglCreatePixmapSurface")[0].args[0], config) << c.said;
        EXPECT_EQ(view->eglContext(), c.context ? rec::context() : nullptr) << c.said;
        EXPECT_EQ(view->eglSurface(), c.surface ? rec::surface() : nullptr) << c.said;
        EXPECT_EQ(view->layer()->sublayers().size(), 1u) << c.said;
        view->release();
    }
}

// A frame locks the buffer and makes the context current, then releases the
// context and unlocks, the release even when the make-current failed.
TEST_F(GLViewTest, SceneBracketLocksMakesCurrentThenReleasesAndUnlocks) {
    UIGLView* view = make<UIGLView>(0, 0, 320, 480);
    for (bool fails : {false, true}) {
        rec::calls.clear();
        rec::script.makeCurrentFails = fails;
        rec::script.error = 0x300E;
        view->beginScene();
        EXPECT_EQ(CoreSurfaceBufferGetLockCount(view->screenSurface()), 1);
        view->endScene();
        EXPECT_EQ(CoreSurfaceBufferGetLockCount(view->screenSurface()), 0);
        Names names{"eglWaitNative", "CoreSurfaceBufferLock", "eglMakeCurrent", "eglWaitGL", "eglMakeCurrent",
                    "CoreSurfaceBufferUnlock"};
        if (fails) names.insert(names.begin() + 3, "eglGetError");
        EXPECT_EQ(rec::names(), names);
        EXPECT_EQ(rec::calls[0].args[0], 0x305B);
        EXPECT_EQ(rec::calls[1].args[0], 3.0);
        EXPECT_EQ(rec::calls[2].args, kCurrent);
        EXPECT_EQ(rec::calls[fails ? 5 : 4].args, (std::vector<double>{handle(rec::display()), 0, 0, 0}));
    }
    EXPECT_EQ(output(), "GL version 1.4\nmake current error: 300e\n");
    view->release();
}

TEST_F(GLViewTest, HalfInitialisedFramesReportTheBindAndSkipTheMissingBuffer) {
    rec::script.initializeFails = true;
    UIGLView* view = make<UIGLView>(0, 0, 320, 480);
    rec::script.makeCurrentFails = true;
    rec::script.error = 0x3008;
    view->beginScene();
    view->endScene();
    EXPECT_EQ(output(), "make current error: 3008\n");
    for (const char* fn : {"CoreSurfaceBufferLock", "CoreSurfaceBufferUnlock"}) {
        ASSERT_EQ(rec::only(fn).size(), 1u) << fn;
        EXPECT_EQ(rec::only(fn)[0].ptr, nullptr) << fn;
    }
    view->release();
}

}  // namespace
