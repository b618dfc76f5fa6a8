// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "OrvanelApp.h"
#include "TestGLView.h"
#include "TestViews.h"

namespace {

class AppTest : public RecordingTest {
protected:
    void SetUp() override {
        RecordingTest::SetUp();
        TestGLView::picturePath = "/nonexistent/orvanel-test.raw";
        NSRunLoop::mainRunLoop()->reset();
        NSRunLoop::mainRunLoop()->setClock([this] { return now; });
        app = static_cast<OrvanelApp*>(alloc<OrvanelApp>()->init());
    }
    void TearDown() override {
        for (UIWindow* w : std::vector<UIWindow*>(UIWindow::windows())) w->release();
        NSRunLoop::mainRunLoop()->reset();
        app->release();
        TestGLView::picturePath = TestGLView::kPicturePath;
        RecordingTest::TearDown();
    }
    void tick(double t) {
        now = t;
        NSRunLoop::mainRunLoop()->runOnce(0);
    }
    double now = 0;
    OrvanelApp* app = nullptr;
};

TEST_F(AppTest, LaunchBuildsAFullScreenWindowWithTheTestViewAndStartsTheTimer) {
    UIHardware::_setStatusBarHeight(20);
    EXPECT_EQ(UIHardware::fullScreenApplicationContentRect().origin.y, 20.0f);
    EXPECT_EQ(UIHardware::fullScreenApplicationContentRect().size.height, 460.0f);
    app->setStatusBarMode(5, 0, 0, 0);
    app->applicationDidFinishLaunching(app);
    EXPECT_EQ(UIHardware::statusBarHeight(), 0.0f);
    EXPECT_EQ(app->statusBarMode(), 0);
    ASSERT_EQ(UIWindow::windows().size(), 1u);
    UIWindow* window = UIWindow::windows()[0];
    CGRect r = window->contentRect();
    EXPECT_EQ(r.origin.x, 0.0f);
    EXPECT_EQ(r.origin.y, 0.0f);
    EXPECT_EQ(r.size.width, 320.0f);
    EXPECT_EQ(r.size.height, 480.0f);
    EXPECT_TRUE(window->isKey());
    EXPECT_TRUE(window->isFront());
    EXPECT_FALSE(window->isHidden());
    ASSERT_NE(app->mGLView, nullptr);
    EXPECT_NE(dynamic_cast<TestGLView*>(app->mGLView), nullptr);
    EXPECT_EQ(window->contentView(), app->mGLView);
    EXPECT_EQ(app->mGLView->frame().size.height, 480.0f);
    EXPECT_EQ(app->mGLView->retainCount(), 2);  // the application's and the window's

    // Coming on screen, the view is drawn once; then the timer asks for one
    // redraw per period and draws nothing itself.
    EXPECT_TRUE(app->mGLView->needsDisplay());
    window->displayIfNeeded();
    rec::calls.clear();
    tick(0.0329);
    EXPECT_FALSE(app->mGLView->needsDisplay());
    tick(0.0331);
    EXPECT_TRUE(app->mGLView->needsDisplay());
    EXPECT_TRUE(rec::calls.empty());
    window->displayIfNeeded();
    EXPECT_FALSE(app->mGLView->needsDisplay());
    EXPECT_EQ(rec::only("glDrawArrays").size(), 6u);
    tick(0.067);
    EXPECT_TRUE(app->mGLView->needsDisplay());

    app->applicationWillTerminate();
    EXPECT_EQ(window->contentView()->retainCount(), 1);

    // Had the view's initialiser returned nothing, there is nothing to ask.
    app->mGLView = nullptr;
    app->update();
    app->applicationWillTerminate();
}

TEST_F(AppTest, ShellRunsOnWhenTheGLSetUpFailed) {
    rec::script.initializeFails = true;
    app->applicationDidFinishLaunching(app);
    ASSERT_NE(app->mGLView, nullptr);
    for (int k = 1; k <= 3; ++k) {
        tick(0.033 * k + 0.001);
        EXPECT_TRUE(app->mGLView->needsDisplay()) << k;
        UIWindow::windows()[0]->displayIfNeeded();
    }
    app->applicationWillTerminate();
}

// The backend the environment names, or the one it points to; one line when
// it cannot be opened, and nothing of the application runs.
TEST_F(AppTest, MainReportsAMissingDisplayAndReturnsTheLoopsStatus) {
    struct Case {
        const char *backend, *wayland, *x11, *said;
    } cases[] = {
        {"", "", ":65000", "cannot open display \":65000\""},
        {"x11", "orvanel-none", ":65000", "cannot open display \":65000\""},
        {"", "orvanel-none", ":65000", "cannot connect to the Wayland compositor \"orvanel-none\""},
        {"wayland", "", ":65000", "cannot connect to the Wayland compositor \"wayland-0\""},
        {"gdi", "", ":65000", "ORVANEL_BACKEND is \"gdi\"; it can be x11 or wayland"},
    };
    setenv("XDG_RUNTIME_DIR", testing::TempDir().c_str(), 1);
    for (const Case& c : cases) {
        setenv("ORVANEL_BACKEND", c.backend, 1);
        setenv("WAYLAND_DISPLAY", c.wayland, 1);
        setenv("DISPLAY", c.x11, 1);
        ::testing::internal::CaptureStderr();
        char name[] = "orvanel";
        char* argv[] = {name, nullptr};
        EXPECT_EQ(OrvanelMain(1, argv), 1);
        std::string err = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(err, std::string(c.said) + "\n") << c.backend << " " << c.wayland;
        EXPECT_TRUE(rec::calls.empty());
    }
    for (const char* name : {"ORVANEL_BACKEND", "WAYLAND_DISPLAY", "DISPLAY", "XDG_RUNTIME_DIR"}) unsetenv(name);
}

}  // namespace
