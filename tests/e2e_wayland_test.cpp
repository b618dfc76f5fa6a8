// SPDX-License-Identifier: MIT
// Natively on Wayland, under weston.
#include "EndToEndFrames.h"

namespace e2e {
namespace {

// Natively on Wayland (weston nested in the X server, no X for the demo):
// the frame the compositor shows is the one X shows, input reaches the
// camera with the same mapping, Esc ends it, and so does losing the compositor.
TEST_F(EndToEnd, NativeOnWaylandTheSameFramesAndInput) {
    Xvfb nest(24, 400, 480);  // weston's screenshots of a 16-bit output are blank
    std::unique_ptr<Weston> weston = startWeston(400, 480, "kiosk-shell.so");  // a window wider than the frame
    if (!weston) GTEST_SKIP() << "weston did not start";
    auto launched = std::chrono::steady_clock::now();
    auto demo = std::make_unique<Demo>(markedPicture(), How{.env = weston->environment()});
    auto screenshot = [&] { return compositorScreen(*weston); };
    ASSERT_TRUE(waitUntil([&] { return showsAFrame(screenshot()); })) << "no frame reached the compositor";
    expectTexelZeroAtTheCorners(screenshot, launched);

    // weston's seat follows the X pointer's motion, not its place: to the far
    // corner and back brings the two together.
    Client pointer;
    pointer.move(2000, 2000);
    pointer.move(0, 0);
    auto shown = [&] { return screenshot().px; };
    Blob start = measure(shown);
    pointer.drag(3, 140, 240, 240, 240);
    Blob panned = measure(shown);
    EXPECT_NEAR(panned.x - start.x, 73.5, 12);
    EXPECT_NEAR(panned.y, start.y, 12);

    pointer.keys({XK_Escape});
    EXPECT_TRUE(endsCleanly(demo->pid, 0, 1s)) << "Esc";
    EXPECT_EQ(demo->said(), glVersionLine());

    demo = std::make_unique<Demo>(markedPicture(), How{.env = weston->environment()});
    ASSERT_TRUE(waitUntil([&] { return showsAFrame(screenshot()); })) << "no frame the second time";
    weston->kill();
    EXPECT_TRUE(ends(demo->pid, W_EXITCODE(1, 0), 0, 1s)) << "the compositor gone";
    EXPECT_EQ(demo->said(), glVersionLine() + "display connection lost\n");
}

// On a desktop whose compositor draws no decorations (weston's own shell),
// libdecor draws them and the frames go on under them; F11 goes full screen
// and back to the size it had, and the close button ends the demo with
// status 0.
TEST_F(EndToEnd, OnWaylandTheDecorationsCloseButtonEndsIt) {
    Xvfb nest(24, 500, 700);
    std::unique_ptr<Weston> weston = startWeston(500, 700, "desktop-shell.so");
    if (!weston) GTEST_SKIP() << "weston did not start";
    Demo demo(markedPicture(), {.env = weston->environment()});
    // Where the window put the frame, once it is `wanted` wide.
    Bounds frame;
    auto frameWidth = [&](int wanted) {
        waitUntil([&] {
            frame = clearBounds(*weston);
            return frame.width() == wanted;
        });
        return frame.width();
    };
    ASSERT_EQ(frameWidth(320), 320) << "no frame reached the compositor";
    Rgb before = weston->screenshot();
    EXPECT_TRUE(waitUntil([&] { return weston->screenshot().px != before.px; })) << "the cube does not spin";
    // F11 twice: full screen (the frame fitted to 500 x 700), then back to
    // the size it had.
    Client pointer;
    pointer.move(2000, 2000);
    pointer.move(0, 0);
    pointer.move(frame.left + 160, frame.top + 240);
    pointer.keys({XK_F11});
    EXPECT_EQ(frameWidth(467), 467) << "not full screen";
    pointer.keys({XK_F11});
    EXPECT_EQ(frameWidth(320), 320) << "not back to its size";
    // The close button sits at the right of the title bar above the frame.
    pointer.click(frame.right - 16, frame.top - 12);
    EXPECT_TRUE(endsCleanly(demo.pid, 0, 2s)) << "the close button";
}

// Asked for full screen at start, the window fills the desktop shell's
// output (the frame scaled to its height); and whenever the compositor goes
// or stops answering during the window's set-up, it ends with the status
// that says so, never a crash.
TEST_F(EndToEnd, OnWaylandFullScreenAtStartAndEndsCleanlyAtEveryStageOfItsSetUp) {
    std::unique_ptr<Weston> weston = startWeston(800, 720, "desktop-shell.so", true);
    if (!weston) GTEST_SKIP() << "weston did not start";
    auto demo = std::make_unique<Demo>(markedPicture(), How{.args = {"--fullscreen"}, .env = weston->environment()});
    Bounds frame;
    auto filled = [&] {
        frame = clearBounds(*weston);
        return frame.width() == 480 && frame.top == 0;
    };
    EXPECT_TRUE(waitUntil(filled)) << "not full screen: the frame spans " << frame.left << " to " << frame.right
                                   << " from row " << frame.top;
    EXPECT_TRUE(endsCleanly(demo->pid));

    for (int ms : {1, 3, 5, 8})
        for (bool gone : {false, true}) {
            SCOPED_TRACE(std::to_string(ms) + " ms after start, compositor " + (gone ? "gone" : "stopped"));
            std::unique_ptr<Weston> doomed = gone ? startWeston(320, 480, "desktop-shell.so", true) : nullptr;
            ASSERT_TRUE(doomed || !gone);
            const Weston& compositor = gone ? *doomed : *weston;
            demo = std::make_unique<Demo>(std::vector<uint8_t>{},
                                          How{.pictureAtPath = false, .env = compositor.environment()});
            ASSERT_TRUE(catches(demo->pid, SIGTERM));  // its own start has run
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
            // Gone: status 1. Stopped: a signal still ends it, with status 0,
            // within the second it promises.
            kill(compositor.pid(), gone ? SIGTERM : SIGSTOP);
            EXPECT_TRUE(gone ? ends(demo->pid, W_EXITCODE(1, 0), 0, 3s) : endsCleanly(demo->pid, SIGTERM, 3s));
            kill(compositor.pid(), SIGCONT);
        }
}

}  // namespace
}  // namespace e2e
