// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "OrvanelApp.h"
#include "Session.h"
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
        session = std::make_unique<UIKitPlatform::Session>();
        app = static_cast<OrvanelApp*>(alloc<OrvanelApp>()->init());
    }
    void TearDown() override {
        for (UIWindow* w : std::vector<UIWindow*>(session->windows())) w->release();
        NSRunLoop::mainRunLoop()->reset();
        app->release();
        session.reset();
        TestGLView::picturePath = TestGLView::kPicturePath;
        RecordingTest::TearDown();
    }
    void tick(double t) {
        now = t;
        NSRunLoop::mainRunLoop()->runOnce(0);
    }
    double now = 0;
    std::unique_ptr<UIKitPlatform::Session> session;
    OrvanelApp* app = nullptr;
};

TEST_F(AppTest, LaunchBuildsAFullScreenWindowWithTheTestViewAndStartsTheTimer) {
    UIHardware::_setStatusBarHeight(20);
    EXPECT_EQ(rectOf(UIHardware::fullScreenApplicationContentRect()), (std::vector<float>{0, 20, 320, 460}));
    app->setStatusBarMode(5, 0, 0, 0);
    app->applicationDidFinishLaunching(app);
    EXPECT_EQ(UIHardware::statusBarHeight(), 0.0f);
    EXPECT_EQ(app->statusBarMode(), 0);
    ASSERT_EQ(session->windows().size(), 1u);
    UIWindow* window = session->windows()[0];
    EXPECT_EQ(rectOf(window->contentRect()), (std::vector<float>{0, 0, 320, 480}));
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
        session->windows()[0]->displayIfNeeded();
    }
    app->applicationWillTerminate();
}

// The backend the environment names, or the one it points to; one line when
// it cannot be opened, and nothing of the application runs.
TEST_F(AppTest, MainReportsAMissingDisplayAndReturnsTheLoopsStatus) {
    const std::string any = ": set WAYLAND_DISPLAY to a Wayland compositor or DISPLAY to an X display",
                      x11 = ": ORVANEL_BACKEND=x11 needs an X display: set DISPLAY to one",
                      wayland = ": ORVANEL_BACKEND=wayland needs a Wayland compositor: set WAYLAND_DISPLAY to one";
    struct Case {
        const char *backend, *wayland, *x11;
        std::string said;
    } cases[] = {
        {"", "", ":65000", "cannot open display \":65000\"" + any},
        {"x11", "orvanel-none", ":65000", "cannot open display \":65000\"" + x11},
        {"", "orvanel-none", ":65000",
         "cannot connect to the Wayland compositor \"orvanel-none\"; cannot open display \":65000\"" + any},
        // A peer on the socket that never answers is given up on.
        {"", "orvanel-silent", ":65000",
         "cannot connect to the Wayland compositor \"orvanel-silent\" (no answer within 3 s); cannot open display "
         "\":65000\"" + any},
        {"wayland", "", ":65000", "cannot connect to the Wayland compositor \"wayland-0\"" + wayland},
        {"x11", "", "", "no X display (DISPLAY is not set)" + x11},
        {"gdi", "", ":65000", "ORVANEL_BACKEND is \"gdi\"; it can be x11 or wayland"},
    };
    setenv("XDG_RUNTIME_DIR", testing::TempDir().c_str(), 1);
    std::string silentPath = testing::TempDir() + "orvanel-silent";
    int silent = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    silentPath.copy(address.sun_path, sizeof address.sun_path - 1);
    unlink(silentPath.c_str());
    ASSERT_EQ(bind(silent, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(silent, 4), 0);
    for (const Case& c : cases) {
        setenv("ORVANEL_BACKEND", c.backend, 1);
        setenv("WAYLAND_DISPLAY", c.wayland, 1);
        setenv("DISPLAY", c.x11, 1);
        ::testing::internal::CaptureStderr();
        char name[] = "orvanel";
        char* argv[] = {name, nullptr};
        EXPECT_EQ(OrvanelMain(1, argv), 1);
        std::string err = ::testing::internal::GetCapturedStderr();
        std::string offscreen = std::string(c.backend) == "gdi" ? "" : ", or run with --offscreen";
        EXPECT_EQ(err, "orvanel: " + c.said + offscreen + "\n") << c.backend << " " << c.wayland;
        EXPECT_TRUE(rec::calls.empty());
    }
    close(silent);
    unlink(silentPath.c_str());
    for (const char* name : {"ORVANEL_BACKEND", "WAYLAND_DISPLAY", "DISPLAY", "XDG_RUNTIME_DIR"}) unsetenv(name);
}

// The command line: answers on standard output with status 0, a bad option or
// value one line naming it and a hint on standard error with status 2, and
// nothing of the application runs.
TEST_F(AppTest, CommandLineAnswersOrRefusesBeforeAnythingStarts) {
    // A FIFO named as the picture is refused by what it is, never waited on.
    const std::string fifo = std::string(testing::TempDir()) + "orvanel_fifo_" + std::to_string(getpid());
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string out, err;  // what each stream starts with
    } cases[] = {
        {{"--help"}, 0, "usage: orvanel [OPTION]... [PICTURE]\n", ""},
        {{"-h"}, 0, "usage: orvanel [OPTION]... [PICTURE]\n", ""},
        {{"--version"}, 0, "orvanel ", ""},
        {{"--bogus"}, 2, "", "orvanel: unknown option '--bogus'\nTry 'orvanel --help' for the options.\n"},
        // A picture named alone or after "--": one that cannot be shown ends it before anything starts.
        {{"photo.png"}, 1, "", "orvanel: cannot read photo.png: No such file or directory\n"},
        {{"--", "--frames"}, 1, "", "orvanel: cannot read --frames: No such file or directory\n"},
        {{"--picture=/"}, 1, "", "orvanel: / is not a regular file\n"},
        {{fifo}, 1, "", "orvanel: " + fifo + " is not a regular file\n"},
        {{""}, 2, "", "orvanel: the picture's name is empty\n"},
        {{"--picture", "/proc/self/cmdline"}, 1, "", "orvanel: /proc/self/cmdline is neither a PNG image nor"},
        {{"a.png", "--picture=b.png"}, 2, "", "orvanel: one picture only: 'a.png' and 'b.png'\n"},
        {{"--version=1"}, 2, "", "orvanel: option '--version' takes no value\n"},
        {{"--help=x"}, 2, "", "orvanel: option '--help' takes no value\n"},
        {{"--frames", " 5"}, 2, "", "orvanel: option '--frames' needs a whole number of frames above 0, not ' 5'\n"},
        {{"--frames", "2.5"}, 2, "", "orvanel: option '--frames' needs a whole number of frames above 0, not '2.5'\n"},
        {{"--duration", " 1"}, 2, "", "orvanel: option '--duration' needs a number of seconds above 0, not ' 1'\n"},
        {{"--frames", "0"}, 2, "", "orvanel: option '--frames' needs a whole number of frames above 0, not '0'\n"},
        {{"--frames=12x"}, 2, "", "orvanel: option '--frames' needs a whole number of frames above 0, not '12x'\n"},
        {{"--duration", "-1"}, 2, "", "orvanel: option '--duration' needs a number of seconds above 0, not '-1'\n"},
        {{"--duration=inf"}, 2, "", "orvanel: option '--duration' needs a number of seconds above 0, not 'inf'\n"},
        {{"--duration=0x10"}, 2, "", "orvanel: option '--duration' needs a number of seconds above 0, not '0x10'\n"},
        {{"--frames"}, 2, "", "orvanel: option '--frames' needs a whole number of frames above 0\n"},
        {{"--duration=0"}, 2, "", "orvanel: option '--duration' needs a number of seconds above 0, not '0'\n"},
        {{"--picture"}, 2, "", "orvanel: option '--picture' needs a FILE\n"},
        {{"--screenshot="}, 2, "", "orvanel: option '--screenshot' needs a FILE\n"},
        {{"--offscreen=yes"}, 2, "", "orvanel: option '--offscreen' takes no value\n"},
        {{"--stats=yes"}, 2, "", "orvanel: option '--stats' takes no value or 'json', not 'yes'\n"},
        {{"--frames", "3", "--help"}, 0, "usage: orvanel", ""},
        {{"--", "--help"}, 1, "", "orvanel: cannot read --help: No such file or directory\n"},
    };
    output();  // the fixture's capture ends: each case has its own
    for (const Case& c : cases) {
        std::vector<char*> argv{const_cast<char*>("orvanel")};
        for (const std::string& a : c.args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::testing::internal::CaptureStdout();
        ::testing::internal::CaptureStderr();
        int status = OrvanelMain(static_cast<int>(argv.size()) - 1, argv.data());
        std::fflush(stdout);
        std::string out = ::testing::internal::GetCapturedStdout(), err = ::testing::internal::GetCapturedStderr();
        std::string what = c.args[0] + (c.args.size() > 1 ? " " + c.args[1] : "");
        EXPECT_EQ(status, c.status) << what;
        EXPECT_EQ(out.rfind(c.out, 0), 0u) << what << ": " << out;
        EXPECT_EQ(err.rfind(c.err, 0), 0u) << what << ": " << err;
        EXPECT_EQ(out.empty(), c.out.empty()) << what;
        EXPECT_EQ(err.empty(), c.err.empty()) << what;
        EXPECT_TRUE(rec::calls.empty()) << what;
    }
    unlink(fifo.c_str());
}

}  // namespace
