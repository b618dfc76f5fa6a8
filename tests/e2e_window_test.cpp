// SPDX-License-Identifier: MIT
// The window on a private X server: the frames it shows, its properties, mapping, scaling.
#include "EndToEndFrames.h"
#include "EndToEndHarness.h"

namespace e2e {
namespace {

TEST_F(EndToEnd, ShowsTheSpinningCubeOnTheClearColourAndEndsOnSigterm) {
    std::vector<uint8_t> picture = markedPicture();
    int out = -1;
    auto launched = std::chrono::steady_clock::now();
    pid_t pid = launch(picture, out);
    ASSERT_GT(pid, 0);

    Screen first;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    do {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        first = grab();
    } while (first.at(0, 0) != kClear && std::chrono::steady_clock::now() < deadline);
    ASSERT_EQ(first.at(0, 0), kClear) << "no frame reached the screen";
    for (auto [x, y] : {std::pair{319, 0}, {0, 479}, {319, 479}, {10, 240}})
        EXPECT_EQ(first.at(x, y), kClear) << x << "," << y;
    EXPECT_NE(first.at(160, 240), kClear) << "the cube is in the middle";

    Screen second = nextFrame(first);
    EXPECT_NE(first.px, second.px) << "the cube spins";

    expectTexelZeroAtTheCorners(second, grab, launched);

    EXPECT_TRUE(endsCleanly(pid, SIGTERM));
    EXPECT_EQ(readAll(out), glVersionLine());
}

TEST_F(EndToEnd, WindowIsNamedAfterTheProgramAndClosingItEndsTheDemo) {
    int out = -1;
    pid_t pid = launch(std::vector<uint8_t>(128 * 128 * 3, 90), out);
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(waitForFrame());
    Display* dpy = XOpenDisplay(nullptr);
    ::Window window = findWindow(dpy, "Orvanel");
    ASSERT_NE(window, 0u) << "no window titled Orvanel";
    XClassHint hint{};
    ASSERT_TRUE(XGetClassHint(dpy, window, &hint));
    EXPECT_STREQ(hint.res_name, "orvanel");
    EXPECT_STREQ(hint.res_class, "Orvanel");
    XFree(hint.res_name);
    XFree(hint.res_class);
    // It can be made a quarter of its size and no smaller, and it hears of
    // being covered.
    XSizeHints hints{};
    long supplied = 0;
    ASSERT_TRUE(XGetWMNormalHints(dpy, window, &hints, &supplied));
    EXPECT_TRUE(hints.flags & PMinSize);
    EXPECT_FALSE(hints.flags & (PPosition | USPosition)) << "the window manager places it";
    EXPECT_EQ(std::pair(hints.min_width, hints.min_height), std::pair(80, 120));
    XWindowAttributes seen;
    XGetWindowAttributes(dpy, window, &seen);
    EXPECT_TRUE(seen.all_event_masks & VisibilityChangeMask);
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    XGetWindowProperty(dpy, window, XInternAtom(dpy, "_NET_WM_PID", False), 0, 1, False, XA_CARDINAL, &type,
                       &format, &count, &after, &data);
    ASSERT_EQ(count, 1u) << "no _NET_WM_PID";
    EXPECT_EQ(*reinterpret_cast<long*>(data), pid);
    XFree(data);
    // Its icon, 64 px, opaque where the cube is.
    XGetWindowProperty(dpy, window, XInternAtom(dpy, "_NET_WM_ICON", False), 0, 2 + 64 * 64, False, XA_CARDINAL,
                       &type, &format, &count, &after, &data);
    ASSERT_EQ(count, 2u + 64 * 64) << "no _NET_WM_ICON";
    const long* icon = reinterpret_cast<long*>(data);
    EXPECT_EQ(std::pair(icon[0], icon[1]), std::pair(64l, 64l));
    EXPECT_EQ((static_cast<unsigned long>(icon[2 + 32 * 64 + 32]) & 0xffffffffu) >> 24, 255u) << "the icon's centre is not opaque";
    XFree(data);
    XTextProperty machine{};
    EXPECT_TRUE(XGetWMClientMachine(dpy, window, &machine));
    if (machine.value) XFree(machine.value);
    XWindowAttributes attrs;
    XGetWindowAttributes(dpy, window, &attrs);
    EXPECT_EQ(attrs.width, 320);
    EXPECT_EQ(attrs.height, 480);

    // What a window manager sends when the user closes the window.
    XEvent close{};
    close.xclient.type = ClientMessage;
    close.xclient.window = window;
    close.xclient.message_type = XInternAtom(dpy, "WM_PROTOCOLS", False);
    close.xclient.format = 32;
    close.xclient.data.l[0] = static_cast<long>(XInternAtom(dpy, "WM_DELETE_WINDOW", False));
    close.xclient.data.l[1] = CurrentTime;
    XSendEvent(dpy, window, False, NoEventMask, &close);
    XSync(dpy, False);
    XCloseDisplay(dpy);

    EXPECT_TRUE(endsCleanly(pid, 0)) << "closing the window";
    ::close(out);
}

TEST_F(EndToEnd, UnmappedItDrawsNothingAndMappedAgainItDrawsOn) {
    int out = -1;
    pid_t pid = launch({}, out, {.pictureAtPath = false});
    ASSERT_TRUE(waitForFrame());
    Display* dpy = XOpenDisplay(nullptr);
    ::Window window = findWindow(dpy, "Orvanel");
    ASSERT_NE(window, 0u);
    auto cpuOverASecond = [pid] {
        long long before = cpuNs(pid);
        std::this_thread::sleep_for(std::chrono::seconds(1));
        return cpuNs(pid) - before;
    };
    long long shown = cpuOverASecond();
    XUnmapWindow(dpy, window);
    XSync(dpy, False);
    long long hidden = cpuOverASecond();
    // Drawing is most of what it does: hidden, only the timer is left.
    EXPECT_LT(hidden * 5, shown) << "hidden " << hidden << " ns, shown " << shown << " ns";
    XMapWindow(dpy, window);
    XSync(dpy, False);
    ASSERT_TRUE(waitForFrame());
    Screen first = grab();
    Screen second = nextFrame(first);
    EXPECT_TRUE(showsAFrame(second));
    EXPECT_NE(first.px, second.px) << "it does not spin on";
    XCloseDisplay(dpy);
    EXPECT_TRUE(endsCleanly(pid, SIGTERM));
    close(out);
}

// Every k x k block of the frame at (x0, 0) in the window is one colour.
int blocksNotWhole(const std::vector<uint16_t>& px, int width, int x0, int k) {
    int bad = 0;
    for (int by = 0; by < 480; ++by)
        for (int bx = 0; bx < 320; ++bx) {
            uint16_t first = px[static_cast<size_t>(by * k) * width + x0 + bx * k];
            for (int dy = 0; dy < k; ++dy)
                for (int dx = 0; dx < k; ++dx)
                    bad += px[static_cast<size_t>(by * k + dy) * width + x0 + bx * k + dx] != first;
        }
    return bad;
}

// On a screen of 192 dots per inch the window starts twice the frame's size;
// resized, it shows the frame as large as fits in exact blocks, centred, and
// pointer input is mapped back; Esc and q end it as closing the window does.
TEST_F(EndToEnd, ScaledByTheServerInWholeBlocksWithInputMappedBackAndEscOrQEndsIt) {
    Xvfb big(16, 1000, 1500);
    Display* dpy = XOpenDisplay(nullptr);
    ASSERT_NE(dpy, nullptr);
    const char resources[] = "Xft.dpi:\t192\n";
    XChangeProperty(dpy, DefaultRootWindow(dpy), XA_RESOURCE_MANAGER, XA_STRING, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(resources), sizeof resources - 1);
    XSync(dpy, False);
    for (KeySym key : {XK_Escape, XK_q}) {
        int out = -1;
        pid_t pid = launch(std::vector<uint8_t>(128 * 128 * 3, 200), out);
        ::Window window = 0;
        ASSERT_TRUE(waitUntil([&] {
            window = findWindow(dpy, "Orvanel");
            XWindowAttributes seen{};
            // Only a window on screen can be read.
            return window && XGetWindowAttributes(dpy, window, &seen) && seen.map_state == IsViewable &&
                   windowPixels(dpy, window, 1, 1)[0] == kClear;
        })) << "no frame in a window titled Orvanel";
        if (key == XK_Escape) {
            XWindowAttributes attrs;
            XGetWindowAttributes(dpy, window, &attrs);
            EXPECT_EQ(attrs.width, 640);
            EXPECT_EQ(attrs.height, 960);
            std::vector<uint16_t> px = windowPixels(dpy, window, 640, 960);
            EXPECT_EQ(blocksNotWhole(px, 640, 0, 2), 0);
            EXPECT_EQ(px[0], kClear);
            EXPECT_EQ(px[640 * 960 - 1], kClear);
            auto shown = [&] { return windowPixels(dpy, window, 640, 960); };
            double before = measure(shown, 640).x;
            EXPECT_NEAR(before, 320, 24);

            // Right button, 200 window pixels: 100 frame pixels, one unit of
            // pan, 73.5 frame pixels on screen.
            Pointer pointer;
            pointer.drag(3, 200, 480, 400, 480);
            EXPECT_NEAR(measure(shown, 640).x - before, 147, 24);

            XResizeWindow(dpy, window, 1000, 1440);  // scale 3, 20 pixels of black each side
            XSync(dpy, False);
            waitUntil([&] { return windowPixels(dpy, window, 1000, 1440)[20] == kClear; }, std::chrono::seconds(3));
            px = windowPixels(dpy, window, 1000, 1440);
            EXPECT_EQ(blocksNotWhole(px, 1000, 20, 3), 0);
            EXPECT_EQ(px[0], 0);
            EXPECT_EQ(px[19], 0);
            EXPECT_EQ(px[20], kClear);
            EXPECT_EQ(px[979], kClear);
            EXPECT_EQ(px[980], 0);

            // Wider and smaller windows, and a change of width alone: the
            // frame fitted and centred each time, black beside it.
            struct Size {
                int width, height, x, y, shownWidth;
            };
            for (Size size : {Size{1000, 960, 180, 0, 640}, Size{400, 480, 40, 0, 320}, Size{160, 480, 0, 120, 160},
                              Size{700, 480, 190, 0, 320}}) {
                XResizeWindow(dpy, window, static_cast<unsigned>(size.width), static_cast<unsigned>(size.height));
                XSync(dpy, False);
                // Until the frame is where this size puts it (what the
                // checks below say, at most three seconds).
                waitUntil(
                    [&] {
                        auto shown = windowPixels(dpy, window, size.width, size.height);
                        return shown[static_cast<size_t>(size.y) * size.width + size.x] == kClear &&
                               (size.x == 0 || shown[static_cast<size_t>(size.y) * size.width + size.x - 1] == 0);
                    },
                    std::chrono::seconds(3));
                px = windowPixels(dpy, window, size.width, size.height);
                auto at = [&](int x, int y) { return px[static_cast<size_t>(y) * size.width + x]; };
                int right = size.x + size.shownWidth - 1, bottom = size.height - 1 - size.y;
                SCOPED_TRACE(std::to_string(size.width) + "x" + std::to_string(size.height));
                EXPECT_EQ(at(size.x, size.y), kClear);
                EXPECT_EQ(at(right, bottom), kClear);
                if (size.x > 0) {
                    EXPECT_EQ(at(size.x - 1, size.y), 0);
                }
                if (right + 1 < size.width) {
                    EXPECT_EQ(at(right + 1, bottom), 0);
                }
                if (size.y > 0) {
                    EXPECT_EQ(at(size.x, size.y - 1), 0);
                }
            }

            // Partly covered, it draws on.
            ::Window cover = XCreateSimpleWindow(dpy, DefaultRootWindow(dpy), 0, 0, 100, 100, 0, 0, 0);
            XMapRaised(dpy, cover);
            XSync(dpy, False);
            std::vector<uint16_t> covered = windowPixels(dpy, window, 700, 480);
            EXPECT_TRUE(waitUntil([&] { return windowPixels(dpy, window, 700, 480) != covered; },
                                  std::chrono::seconds(2)))
                << "a partly covered window stopped drawing";
            XDestroyWindow(dpy, cover);
        }
        XSetInputFocus(dpy, window, RevertToParent, CurrentTime);
        KeyCode code = XKeysymToKeycode(dpy, key);
        XTestFakeKeyEvent(dpy, code, True, CurrentTime);
        XTestFakeKeyEvent(dpy, code, False, CurrentTime);
        XSync(dpy, False);
        EXPECT_TRUE(endsCleanly(pid, 0, std::chrono::seconds(1))) << XKeysymToString(key);
        close(out);
    }
    XCloseDisplay(dpy);
}

}  // namespace
// Under a window manager that speaks EWMH (the test is one: it maps what
// asks to be mapped and hears what is sent to the root), F11 asks it for full
// screen and F11 again for the window back.
TEST_F(EndToEnd, UnderAWindowManagerF11AsksForFullScreenAndBack) {
    Display* dpy = XOpenDisplay(nullptr);
    ASSERT_NE(dpy, nullptr);
    ::Window root = DefaultRootWindow(dpy), check = XCreateSimpleWindow(dpy, root, 0, 0, 1, 1, 0, 0, 0);
    XChangeProperty(dpy, root, XInternAtom(dpy, "_NET_SUPPORTING_WM_CHECK", False), XA_WINDOW, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(&check), 1);
    XSelectInput(dpy, root, SubstructureRedirectMask);
    XSync(dpy, False);
    const Atom state = XInternAtom(dpy, "_NET_WM_STATE", False);
    const long full = static_cast<long>(XInternAtom(dpy, "_NET_WM_STATE_FULLSCREEN", False));
    std::vector<std::pair<long, long>> asked;  // each _NET_WM_STATE request: what to do, to which state
    auto serve = [&] {
        while (XPending(dpy)) {
            XEvent e;
            XNextEvent(dpy, &e);
            if (e.type == MapRequest) XMapWindow(dpy, e.xmaprequest.window);
            if (e.type == ClientMessage && e.xclient.message_type == state)
                asked.push_back({e.xclient.data.l[0], e.xclient.data.l[1]});
        }
    };
    int out = -1;
    pid_t pid = launch(std::vector<uint8_t>(128 * 128 * 3, 90), out);
    ASSERT_TRUE(waitUntil([&] { return serve(), showsAFrame(grab()); })) << "no frame under the window manager";
    Pointer pointer;
    pointer.move(160, 240);
    pointer.key(XK_F11);
    EXPECT_TRUE(waitUntil([&] { return serve(), asked.size() == 1; })) << "F11 asked nothing";
    pointer.key(XK_F11);
    EXPECT_TRUE(waitUntil([&] { return serve(), asked.size() == 2; })) << "the second F11 asked nothing";
    EXPECT_EQ(asked, (std::vector<std::pair<long, long>>{{1, full}, {0, full}}));
    pointer.key(XK_Escape);
    EXPECT_TRUE(endsCleanly(pid, 0)) << "Esc";
    ::close(out);
    XDestroyWindow(dpy, check);
    XCloseDisplay(dpy);
}

}  // namespace e2e
