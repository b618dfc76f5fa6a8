// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "TestViews.h"
#include "UIGLView.h"

namespace {

using Names = std::vector<std::string>;

class GLViewTest : public RecordingTest {};

double handle(void* p) { return static_cast<double>(reinterpret_cast<uintptr_t>(p)); }

TEST_F(GLViewTest, FullInitialisationRunsTheStepsInOrderAndLeavesTheContextCurrent) {
    UIGLView* view = make<UIGLView>(0, 0, 320, 480);
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(output(), "GL version 1.4\n");
    EXPECT_EQ(rec::names(), (Names{"eglGetDisplay", "eglInitialize", "eglChooseConfig", "eglCreateContext",
                                   "CoreSurfaceBufferCreate", "CoreSurfaceBufferLock",
                                   "CoreSurfaceBufferUnlock", "eglCreatePixmapSurface", "eglMakeCurrent"}));
    EXPECT_EQ(rec::calls[0].args[0], 0.0);  // EGL_DEFAULT_DISPLAY
    EXPECT_EQ(rec::calls[2].args, (std::vector<double>{0x3020, 16, 0x3025, 16, 0x3033, 1, 0x3038}));
    EXPECT_EQ(rec::calls[3].args, (std::vector<double>{handle(rec::config()), 0, 0}));
    EXPECT_EQ(rec::calls[5].args[0], 3.0);  // lock flag
    EXPECT_EQ(rec::calls[7].args[0], handle(rec::config()));
    EXPECT_EQ(rec::calls[7].args[2], 0.0);  // no attribute list
    EXPECT_EQ(rec::calls[8].args, (std::vector<double>{handle(rec::display()), handle(rec::surface()),
                                                       handle(rec::surface()), handle(rec::context())}));

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

TEST_F(GLViewTest, BufferPropertiesFor320By480) {
    UIGLView* view = make<UIGLView>(0, 0, 320, 480);
    using P = std::vector<std::pair<std::string, std::string>>;
    EXPECT_EQ(rec::lastProperties, (P{{"Global", "true"},
                                      {"MemoryRegion", "\"PurpleGFXMem\""},
                                      {"Pitch", "i3:640"},
                                      {"Width", "i3:320"},
                                      {"Height", "i3:480"},
                                      {"PixelFormat", "i3:1278555701"},
                                      {"AllocSize", "i3:307200"}}));
    EXPECT_EQ(CoreSurfaceBufferGetWidth(view->screenSurface()), 320);
    EXPECT_EQ(CoreSurfaceBufferGetHeight(view->screenSurface()), 480);
    EXPECT_EQ(CoreSurfaceBufferGetBytesPerRow(view->screenSurface()), 640);
    view->release();
}

TEST_F(GLViewTest, FractionalWidthTruncatesForTheBufferButNotForTheLayer) {
    UIGLView* view = make<UIGLView>(10, 20, 320.7f, 480);
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(rec::lastProperties[2].second, "i3:640");
    EXPECT_EQ(rec::lastProperties[3].second, "i3:320");
    EXPECT_EQ(rec::lastProperties[6].second, "i3:307200");
    CGRect frame = view->layer()->sublayers().at(0)->frame();
    EXPECT_EQ(frame.origin.x, 0.0f);
    EXPECT_EQ(frame.origin.y, 0.0f);
    EXPECT_EQ(frame.size.width, 320.7f);
    EXPECT_EQ(frame.size.height, 480.0f);
    view->release();
}

TEST_F(GLViewTest, FailedInitialiseReturnsTheViewWithNullFieldsAndPrintsNothing) {
    rec::script.initializeFails = true;
    UIGLView* view = make<UIGLView>(0, 0, 320, 480);
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(output(), "");
    EXPECT_EQ(rec::names(), (Names{"eglGetDisplay", "eglInitialize"}));
    EXPECT_EQ(view->eglDisplay(), nullptr);
    EXPECT_EQ(view->eglContext(), nullptr);
    EXPECT_EQ(view->eglSurface(), nullptr);
    EXPECT_EQ(view->screenSurface(), nullptr);
    EXPECT_TRUE(view->layer()->sublayers().empty());
    view->release();
}

TEST_F(GLViewTest, ParentInitialiserReturningNothingStopsBeforeEGL) {
    EXPECT_EQ(make<UIGLView>(0, 0, NAN, 480), nullptr);
    EXPECT_EQ(make<UIGLView>(0, 0, -1, 480), nullptr);
    EXPECT_EQ(make<UIGLView>(0, 0, 1e9f, 480), nullptr);
    EXPECT_EQ(make<UIGLView>(0, 0, 320, 32768), nullptr);
    EXPECT_TRUE(rec::calls.empty());
    EXPECT_EQ(output(), "");
}

TEST_F(GLViewTest, NoUsableConfigIsReportedAndTheLaterStepsStillRun) {
    for (auto setup : {+[] { rec::script.chooseFails = true; }, +[] { rec::script.configCount = 0; },
                       +[] { rec::script.configCount = 2; }}) {
        rec::reset();
        setup();
        UIGLView* view = make<UIGLView>(0, 0, 320, 480);
        EXPECT_EQ(rec::names(), (Names{"eglGetDisplay", "eglInitialize", "eglChooseConfig", "eglCreateContext",
                                       "CoreSurfaceBufferCreate", "CoreSurfaceBufferLock",
                                       "CoreSurfaceBufferUnlock", "eglCreatePixmapSurface",
                                       "eglMakeCurrent"}));
        // No config was chosen, so none is handed on.
        EXPECT_EQ(rec::only("eglCreateContext")[0].args[0], 0.0);
        EXPECT_EQ(rec::only("eglCreatePixmapSurface")[0].args[0], 0.0);
        EXPECT_EQ(view->layer()->sublayers().size(), 1u);
        view->release();
    }
    EXPECT_EQ(output(), "GL version 1.4\nfailed to find usable config =(\n"
                        "GL version 1.4\nfailed to find usable config =(\n"
                        "GL version 1.4\nfailed to find usable config =(\n");
}

// Each failing step prints its line (error codes in zero-padded hex) and the
// set-up goes on to the make-current; what failed is stored as null.
TEST_F(GLViewTest, EachFailedStepIsOneLineAndTheSetUpGoesOn) {
    struct Case {
        void (*setup)();
        EGLint error;
        const char* said;
        bool context, surface;  // stored
    } cases[] = {
        {[] { rec::script.contextFails = true; }, 0, "failed to allocate context =(\n", false, true},
        {[] { rec::script.surfaceFails = true; }, 0x300B, "failed to create surface =(, 300b\n", true, false},
        {[] { rec::script.surfaceFails = true; }, 0x1F, "failed to create surface =(, 001f\n", true, false},
        {[] { rec::script.makeCurrentFails = true; }, 0x3002, "make current error: 3002\n", true, true},
        {[] { rec::script.chooseFails = rec::script.contextFails = rec::script.surfaceFails =
                  rec::script.makeCurrentFails = true; },
         0x3009,
         "failed to find usable config =(\nfailed to allocate context =(\nfailed to create surface =(, 3009\n"
         "make current error: 3009\n",
         false, false},
    };
    output();  // each case's own output below
    for (const Case& c : cases) {
        rec::reset();
        c.setup();
        rec::script.error = c.error;
        ::testing::internal::CaptureStdout();
        UIGLView* view = make<UIGLView>(0, 0, 320, 480);
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), std::string("GL version 1.4\n") + c.said);
        EXPECT_EQ(view->eglContext(), c.context ? rec::context() : nullptr) << c.said;
        EXPECT_EQ(view->eglSurface(), c.surface ? rec::surface() : nullptr) << c.said;
        EXPECT_GT(rec::indexOf("eglMakeCurrent"), rec::indexOf("eglCreatePixmapSurface")) << c.said;
        view->release();
    }
}

TEST_F(GLViewTest, SceneBracketLocksMakesCurrentThenReleasesAndUnlocks) {
    UIGLView* view = make<UIGLView>(0, 0, 320, 480);
    rec::calls.clear();
    view->beginScene();
    EXPECT_EQ(CoreSurfaceBufferGetLockCount(view->screenSurface()), 1);
    view->endScene();
    EXPECT_EQ(CoreSurfaceBufferGetLockCount(view->screenSurface()), 0);
    EXPECT_EQ(rec::names(), (Names{"eglWaitNative", "CoreSurfaceBufferLock", "eglMakeCurrent", "eglWaitGL",
                                   "eglMakeCurrent", "CoreSurfaceBufferUnlock"}));
    EXPECT_EQ(rec::calls[0].args[0], 0x305B);
    EXPECT_EQ(rec::calls[1].args[0], 3.0);
    EXPECT_EQ(rec::calls[2].args, (std::vector<double>{handle(rec::display()), handle(rec::surface()),
                                                       handle(rec::surface()), handle(rec::context())}));
    EXPECT_EQ(rec::calls[4].args, (std::vector<double>{handle(rec::display()), 0, 0, 0}));
    view->release();
}

TEST_F(GLViewTest, EndSceneReleasesEvenAfterAFailedMakeCurrent) {
    UIGLView* view = make<UIGLView>(0, 0, 320, 480);
    rec::calls.clear();
    rec::script.makeCurrentFails = true;
    rec::script.error = 0x300E;
    view->beginScene();
    view->endScene();
    EXPECT_EQ(rec::names(), (Names{"eglWaitNative", "CoreSurfaceBufferLock", "eglMakeCurrent", "eglGetError",
                                   "eglWaitGL", "eglMakeCurrent", "CoreSurfaceBufferUnlock"}));
    EXPECT_EQ(rec::calls[5].args, (std::vector<double>{handle(rec::display()), 0, 0, 0}));
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
