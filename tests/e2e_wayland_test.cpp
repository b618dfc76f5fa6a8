// SPDX-License-Identifier: MIT
// Natively on Wayland, under weston.
#include "EndToEndFrames.h"
#include "EndToEndHarness.h"

namespace e2e {
namespace {

// Natively on Wayland (weston nested in the X server, no X for the demo):
// the frame the compositor shows is the one X shows, input reaches the
// camera with the same mapping, Esc ends it, and so does losing the compositor.
TEST_F(EndToEnd, NativeOnWaylandTheSameFramesAndInput) {
    Xvfb nest(24, 400, 480);  // weston's screenshots of a 16-bit output are blank
    std::unique_ptr<Weston> weston;
    try {
        weston = std::make_unique<Weston>(400, 480);  // a window wider than the frame
    } catch (const std::exception& e) {
        GTEST_SKIP() << e.what();
    }
    int out = -1;
    auto launched = std::chrono::steady_clock::now();
    pid_t pid = launch(markedPicture(), out, {.wayland = weston.get()});
    ASSERT_GT(pid, 0);
    auto screenshot = [&] { return compositorScreen(*weston).value_or(Screen{std::vector<uint16_t>(320 * 480)}); };
    Screen first;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    do {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        first = screenshot();
    } while (!showsAFrame(first) && std::chrono::steady_clock::now() < deadline);
    ASSERT_TRUE(showsAFrame(first)) << "no frame reached the compositor";
    expectTexelZeroAtTheCorners(first, screenshot, launched);

    // weston's seat follows the X pointer's motion, not its place: to the far
    // corner and back brings the two together.
    Pointer pointer;
    pointer.move(2000, 2000);
    pointer.move(0, 0);
    auto shown = [&] { return screenshot().px; };
    Blob start = measure(shown);
    pointer.drag(3, 140, 240, 240, 240);
    Blob panned = measure(shown);
    EXPECT_NEAR(panned.x - start.x, 73.5, 12);
    EXPECT_NEAR(panned.y, start.y, 12);

    pointer.key(XK_Escape);
    EXPECT_TRUE(endsCleanly(pid, 0, std::chrono::seconds(1))) << "Esc";
    EXPECT_EQ(readAll(out), glVersionLine());

    pid = launch(markedPicture(), out, {.wayland = weston.get()});
    ASSERT_TRUE(waitUntil([&] { return showsAFrame(screenshot()); })) << "no frame the second time";
    weston->kill();
    std::optional<int> ended = endsWithin(pid, std::chrono::seconds(1));
    ASSERT_TRUE(ended) << "still running a second after the compositor went away";
    EXPECT_TRUE(WIFEXITED(*ended) && WEXITSTATUS(*ended) == 1) << *ended;
    EXPECT_EQ(readAll(out), glVersionLine() + "display connection lost\n");
}

// On a desktop whose compositor draws no decorations (weston's own shell),
// libdecor draws them; F11 goes full screen and back to the size it had, and
// the close button ends the demo with status 0.
TEST_F(EndToEnd, OnWaylandTheDecorationsCloseButtonEndsIt) {
    Xvfb nest(24, 500, 700);
    std::unique_ptr<Weston> weston;
    try {
        weston = std::make_unique<Weston>(500, 700, "desktop-shell.so");
    } catch (const std::exception& e) {
        GTEST_SKIP() << e.what();
    }
    int out = -1;
    pid_t pid = launch(markedPicture(), out, {.wayland = weston.get()});
    // Where the window put the frame: the clear colour's bounds, once they
    // are `wanted` wide.
    int left = 500, top = 700, right = -1;
    auto frameBounds = [&](int wanted) {
        for (int attempt = 0; attempt < 50 && right - left + 1 != wanted; ++attempt) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            std::vector<unsigned char> rgb;
            int width = 0, height = 0;
            if (!weston->screenshot(rgb, width, height) || width != 500) continue;
            left = 500, top = 700, right = -1;
            for (int y = 0; y < height; ++y)
                for (int x = 0; x < width; ++x) {
                    const unsigned char* p = &rgb[(static_cast<size_t>(y) * width + x) * 3];
                    if (p[0] == 74 && p[1] == 77 && p[2] == 99) {
                        left = std::min(left, x);
                        top = std::min(top, y);
                        right = std::max(right, x);
                    }
                }
        }
        return right - left + 1;
    };
    ASSERT_EQ(frameBounds(320), 320) << "no frame reached the compositor";
    // F11 twice: full screen (the frame fitted to 500 x 700), then back to
    // the size it had.
    Pointer pointer;
    pointer.move(2000, 2000);
    pointer.move(0, 0);
    pointer.move(left + 160, top + 240);
    pointer.key(XK_F11);
    EXPECT_EQ(frameBounds(467), 467) << "not full screen";
    pointer.key(XK_F11);
    EXPECT_EQ(frameBounds(320), 320) << "not back to its size";
    // The close button sits at the right of the title bar above the frame.
    pointer.move(right - 16, top - 12);
    pointer.click(1);
    EXPECT_TRUE(endsCleanly(pid, 0, std::chrono::seconds(2))) << "the close button";
    close(out);
}

// Asked for full screen at start, the window fills the desktop shell's
// output (the frame scaled to its height); and whenever the compositor goes
// or stops answering during the window's set-up, it ends with the status
// that says so, never a crash.
TEST_F(EndToEnd, OnWaylandFullScreenAtStartAndEndsCleanlyAtEveryStageOfItsSetUp) {
    std::unique_ptr<Weston> weston = headlessWeston(800, 720, "desktop-shell.so");
    if (!weston) GTEST_SKIP() << "weston did not start (is the weston package installed?)";
    int out = -1;
    pid_t pid = launch(markedPicture(), out, {.wayland = weston.get(), .args = {"--fullscreen"}});
    int left = 800, right = -1;
    for (int attempt = 0; attempt < 50 && right - left + 1 != 480; ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        std::vector<unsigned char> rgb;
        int width = 0, height = 0;
        if (!weston->screenshot(rgb, width, height) || width != 800) continue;
        left = 800, right = -1;
        for (int x = 0; x < 800; ++x) {
            const unsigned char* p = &rgb[(static_cast<size_t>(5) * width + x) * 3];  // a row near the top
            if (p[0] == 74 && p[1] == 77 && p[2] == 99) left = std::min(left, x), right = std::max(right, x);
        }
    }
    EXPECT_EQ(right - left + 1, 480) << "not full screen: the frame's top row spans " << left << " to " << right;
    EXPECT_TRUE(endsCleanly(pid));
    close(out);

    for (int ms : {1, 3, 5, 8}) {
        SCOPED_TRACE(std::to_string(ms) + " ms after start");
        // Stopped: a signal still ends it, with status 0, within the second it promises.
        pid = launch({}, out, {.pictureAtPath = false, .wayland = weston.get()});
        ASSERT_TRUE(catches(pid, SIGTERM));  // its own start has run
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        kill(weston->pid(), SIGSTOP);
        EXPECT_TRUE(endsCleanly(pid, SIGTERM, std::chrono::seconds(3))) << "compositor stopped";
        kill(weston->pid(), SIGCONT);
        close(out);
        // Gone: status 1.
        std::unique_ptr<Weston> doomed = headlessWeston(320, 480, "desktop-shell.so");
        ASSERT_TRUE(doomed);
        pid = launch({}, out, {.pictureAtPath = false, .wayland = doomed.get()});
        ASSERT_TRUE(catches(pid, SIGTERM));
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        doomed->kill();
        std::optional<int> ended = endsWithin(pid, std::chrono::seconds(3));
        ASSERT_TRUE(ended) << "still running after the compositor went away";
        EXPECT_TRUE(WIFEXITED(*ended) && WEXITSTATUS(*ended) == 1) << "compositor gone: wait status " << *ended;
        close(out);
    }
}

}  // namespace
}  // namespace e2e
