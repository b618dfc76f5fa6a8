// SPDX-License-Identifier: MIT
// The window on a private X server: the frames it shows, its properties, mapping, scaling.
#include "EndToEndFrames.h"

namespace e2e {
namespace {

TEST_F(EndToEnd, ShowsTheSpinningCubeOnTheClearColourAndEndsOnSigterm) {
    auto launched = std::chrono::steady_clock::now();
    Demo demo(markedPicture());
    Screen first;
    ASSERT_TRUE(waitUntil([&] { return (first = grab()).at(0, 0) == kClear; })) << "no frame reached the screen";
    for (auto [x, y] : {std::pair{319, 0}, {0, 479}, {319, 479}, {10, 240}})
        EXPECT_EQ(first.at(x, y), kClear) << x << "," << y;
    EXPECT_NE(first.at(160, 240), kClear) << "the cube is in the middle";
    EXPECT_NE(first.px, nextFrame(first).px) << "the cube spins";
    expectTexelZeroAtTheCorners(grab, launched);
    EXPECT_TRUE(endsCleanly(demo.pid, SIGTERM));
    EXPECT_EQ(demo.said(), glVersionLine());
}

// A window's property of 32-bit items, at most `items` of them.
std::vector<long> property(Display* dpy, ::Window window, const char* name, long items) {
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    XGetWindowProperty(dpy, window, XInternAtom(dpy, name, False), 0, items, False, XA_CARDINAL, &type, &format, &count,
                       &after, &data);
    std::vector<long> values(reinterpret_cast<long*>(data), reinterpret_cast<long*>(data) + count);
    if (data) XFree(data);
    return values;
}

TEST_F(EndToEnd, WindowIsNamedAfterTheProgramAndClosingItEndsTheDemo) {
    Demo demo(std::vector<uint8_t>(128 * 128 * 3, 90));
    ASSERT_TRUE(waitForFrame());
    Client x;
    ::Window window = x.window();
    ASSERT_NE(window, 0u) << "no window titled Orvanel";
    XClassHint hint{};
    ASSERT_TRUE(XGetClassHint(x.dpy, window, &hint));
    EXPECT_EQ(std::string(hint.res_name) + "." + hint.res_class, "orvanel.Orvanel");
    XFree(hint.res_name);
    XFree(hint.res_class);
    // It can be made a quarter of its size and no smaller, and it hears of
    // being covered.
    XSizeHints hints{};
    long supplied = 0;
    ASSERT_TRUE(XGetWMNormalHints(x.dpy, window, &hints, &supplied));
    EXPECT_EQ(hints.flags & (PMinSize | PPosition | USPosition), PMinSize) << "the window manager places it";
    EXPECT_EQ(std::pair(hints.min_width, hints.min_height), std::pair(80, 120));
    XWindowAttributes attrs;
    XGetWindowAttributes(x.dpy, window, &attrs);
    EXPECT_TRUE(attrs.all_event_masks & VisibilityChangeMask);
    EXPECT_EQ(std::pair(attrs.width, attrs.height), std::pair(320, 480));
    EXPECT_EQ(property(x.dpy, window, "_NET_WM_PID", 1), std::vector<long>{demo.pid});
    // Its icon, the installed 64 px one, each opaque pixel as it is there.
    std::vector<long> icon = property(x.dpy, window, "_NET_WM_ICON", 2 + 64 * 64);
    ASSERT_EQ(icon.size(), 2u + 64 * 64) << "no _NET_WM_ICON";
    EXPECT_EQ(std::pair(icon[0], icon[1]), std::pair(64l, 64l));
    auto share = std::filesystem::path(SAMPLE_PICTURE).parent_path().parent_path();
    Rgb installed = readPng(share / "icons/hicolor/64x64/apps/orvanel.png");
    ASSERT_EQ(installed.px.size(), 64u * 64 * 3);
    int opaque = 0, wrong = 0;
    for (size_t i = 0; i < 64 * 64; ++i) {
        const unsigned char* p = &installed.px[i * 3];
        bool solid = (icon[2 + i] >> 24 & 0xff) == 255;
        opaque += solid;
        wrong += solid && (icon[2 + i] & 0xffffff) != (p[0] << 16 | p[1] << 8 | p[2]);
    }
    EXPECT_GT(opaque, 1000);
    EXPECT_EQ(wrong, 0) << "pixels not as installed";
    XTextProperty machine{};
    EXPECT_TRUE(XGetWMClientMachine(x.dpy, window, &machine));
    if (machine.value) XFree(machine.value);

    // What a window manager sends when the user closes the window.
    Atom protocols = XInternAtom(x.dpy, "WM_PROTOCOLS", False), del = XInternAtom(x.dpy, "WM_DELETE_WINDOW", False);
    XEvent event{.xclient = {ClientMessage, 0, True, x.dpy, window, protocols, 32, {.l = {long(del), CurrentTime}}}};
    XSendEvent(x.dpy, window, False, NoEventMask, &event);
    XSync(x.dpy, False);
    EXPECT_TRUE(endsCleanly(demo.pid, 0)) << "closing the window";
}

TEST_F(EndToEnd, UnmappedItDrawsNothingAndMappedAgainItDrawsOn) {
    Demo demo({}, {.pictureAtPath = false});
    ASSERT_TRUE(waitForFrame());
    Client x;
    ::Window window = x.window();
    ASSERT_NE(window, 0u);
    auto cpuOverASecond = [&] {
        long long before = cpuNs(demo.pid);
        std::this_thread::sleep_for(1s);
        return cpuNs(demo.pid) - before;
    };
    long long shown = cpuOverASecond();
    XUnmapWindow(x.dpy, window);
    XSync(x.dpy, False);
    long long hidden = cpuOverASecond();
    // Drawing is most of what it does: hidden, only the timer is left.
    EXPECT_LT(hidden * 5, shown) << "hidden " << hidden << " ns, shown " << shown << " ns";
    XMapWindow(x.dpy, window);
    XSync(x.dpy, False);
    ASSERT_TRUE(waitForFrame());
    Screen first = grab(), second = nextFrame(first);
    EXPECT_TRUE(showsAFrame(second));
    EXPECT_NE(first.px, second.px) << "it does not spin on";
    EXPECT_TRUE(endsCleanly(demo.pid, SIGTERM));
}

// How many pixels of the frame at (x0, 0) in the window, scaled k times,
// differ from the top left one of their k x k block.
int blocksNotWhole(const std::vector<uint16_t>& px, int width, int x0, int k) {
    auto at = [&](int x, int y) { return px[static_cast<size_t>(y) * width + x0 + x]; };
    int bad = 0;
    for (int y = 0; y < 480 * k; ++y)
        for (int x = 0; x < 320 * k; ++x) bad += at(x, y) != at(x / k * k, y / k * k);
    return bad;
}

// On a screen of 192 dots per inch the window starts twice the frame's size;
// resized, it shows the frame as large as fits in exact blocks, centred, and
// pointer input is mapped back; Esc and q end it as closing the window does.
TEST_F(EndToEnd, ScaledInWholeBlocksWithInputMappedBackAndEscOrQEndsIt) {
    Xvfb big(16, 1000, 1500);
    Client x;
    const char resources[] = "Xft.dpi:\t192\n";
    XChangeProperty(x.dpy, DefaultRootWindow(x.dpy), XA_RESOURCE_MANAGER, XA_STRING, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(resources), sizeof resources - 1);
    XSync(x.dpy, False);
    for (KeySym key : {XK_Escape, XK_q}) {
        Demo demo(std::vector<uint8_t>(128 * 128 * 3, 200));
        ::Window window = 0;
        XWindowAttributes attrs{};
        ASSERT_TRUE(waitUntil([&] {
            window = x.window();
            // Only a window on screen can be read.
            return window && XGetWindowAttributes(x.dpy, window, &attrs) && attrs.map_state == IsViewable &&
                   windowPixels(x.dpy, window, 1, 1)[0] == kClear;
        })) << "no frame in a window titled Orvanel";
        if (key == XK_Escape) {
            EXPECT_EQ(std::pair(attrs.width, attrs.height), std::pair(640, 960));
            auto shown = [&] { return windowPixels(x.dpy, window, 640, 960); };
            double before = measure(shown, 640).x;
            EXPECT_NEAR(before, 320, 24);
            // Right button, 200 window pixels: 100 frame pixels, one unit of
            // pan, 73.5 frame pixels on screen.
            x.drag(3, 200, 480, 400, 480);
            EXPECT_NEAR(measure(shown, 640).x - before, 147, 24);

            // At each size the frame fitted and centred, in whole blocks
            // where it is scaled 2 or 3 times, black beside it; full screen
            // (F11, with no window manager), at the largest whole scale.
            struct Size {
                int width, height, x, y, shownWidth, block;
            };
            for (Size size : {Size{640, 960, 0, 0, 640, 2}, {1000, 1440, 20, 0, 960, 3}, {1000, 960, 180, 0, 640, 0},
                              {400, 480, 40, 0, 320, 0}, {160, 480, 0, 120, 160, 0}, {1000, 1500, 20, 30, 960, 3},
                              {700, 480, 190, 0, 320, 0}}) {
                SCOPED_TRACE(std::to_string(size.width) + "x" + std::to_string(size.height));
                bool fullscreen = size.height == 1500;
                XSetInputFocus(x.dpy, window, RevertToParent, CurrentTime);
                if (fullscreen) x.keys({XK_F11});
                if (size.width == 700) {  // out of full screen: back to the size it started at
                    x.keys({XK_F11});
                    EXPECT_TRUE(waitUntil([&] {
                        XGetWindowAttributes(x.dpy, window, &attrs);
                        return attrs.width == 640 && attrs.height == 960;
                    }));
                }
                if (!fullscreen)
                    XResizeWindow(x.dpy, window, static_cast<unsigned>(size.width), static_cast<unsigned>(size.height));
                ASSERT_TRUE(waitUntil([&] {
                    XGetWindowAttributes(x.dpy, window, &attrs);
                    return attrs.width == size.width && attrs.height == size.height;
                }));
                std::vector<uint16_t> px;
                auto at = [&](int x, int y) { return px[static_cast<size_t>(y) * size.width + x]; };
                // Until the frame is where this size puts it (what the checks
                // below say, at most three seconds).
                auto placed = [&] {
                    px = windowPixels(x.dpy, window, size.width, size.height);
                    return at(size.x, size.y) == kClear && (size.x == 0 || at(size.x - 1, size.y) == 0);
                };
                waitUntil(placed, 3s);
                int right = size.x + size.shownWidth - 1, bottom = size.height - 1 - size.y;
                EXPECT_EQ(size.block ? blocksNotWhole(px, size.width, size.x, size.block) : 0, 0);
                EXPECT_EQ(at(size.x, size.y), kClear);
                EXPECT_EQ(at(right, bottom), kClear);
                EXPECT_TRUE(size.x == 0 || (at(0, size.y) | at(size.x - 1, size.y)) == 0) << "black at the left";
                EXPECT_TRUE(right + 1 == size.width || (at(right + 1, bottom) | at(size.width - 1, bottom)) == 0)
                    << "black at the right";
                EXPECT_TRUE(size.y == 0 || (at(size.x, 0) | at(size.x, size.y - 1)) == 0) << "black above";
            }

            // Partly covered, it draws on.
            ::Window cover = XCreateSimpleWindow(x.dpy, DefaultRootWindow(x.dpy), 0, 0, 100, 100, 0, 0, 0);
            XMapRaised(x.dpy, cover);
            XSync(x.dpy, False);
            std::vector<uint16_t> covered = windowPixels(x.dpy, window, 700, 480);
            EXPECT_TRUE(waitUntil([&] { return windowPixels(x.dpy, window, 700, 480) != covered; }, 2s))
                << "a partly covered window stopped drawing";
            XDestroyWindow(x.dpy, cover);
        }
        XSetInputFocus(x.dpy, window, RevertToParent, CurrentTime);
        x.keys({key});
        EXPECT_TRUE(endsCleanly(demo.pid, 0, 1s)) << XKeysymToString(key);
    }
}

// Under a window manager that speaks EWMH (the test is one: it maps what
// asks to be mapped and hears what is sent to the root), F11 asks it for full
// screen and F11 again for the window back.
TEST_F(EndToEnd, UnderAWindowManagerF11AsksForFullScreenAndBack) {
    Client x;
    ::Window root = DefaultRootWindow(x.dpy), check = XCreateSimpleWindow(x.dpy, root, 0, 0, 1, 1, 0, 0, 0);
    XChangeProperty(x.dpy, root, XInternAtom(x.dpy, "_NET_SUPPORTING_WM_CHECK", False), XA_WINDOW, 32,
                    PropModeReplace, reinterpret_cast<unsigned char*>(&check), 1);
    XSelectInput(x.dpy, root, SubstructureRedirectMask);
    XSync(x.dpy, False);
    const Atom state = XInternAtom(x.dpy, "_NET_WM_STATE", False);
    const long full = static_cast<long>(XInternAtom(x.dpy, "_NET_WM_STATE_FULLSCREEN", False));
    std::vector<std::pair<long, long>> asked;  // each _NET_WM_STATE request: what to do, to which state
    auto serve = [&] {
        for (XEvent e; XPending(x.dpy);) {
            XNextEvent(x.dpy, &e);
            if (e.type == MapRequest) XMapWindow(x.dpy, e.xmaprequest.window);
            if (e.type == ClientMessage && e.xclient.message_type == state)
                asked.push_back({e.xclient.data.l[0], e.xclient.data.l[1]});
        }
    };
    Demo demo(std::vector<uint8_t>(128 * 128 * 3, 90));
    ASSERT_TRUE(waitUntil([&] { return serve(), showsAFrame(grab()); })) << "no frame under the window manager";
    x.move(160, 240);
    x.keys({XK_F11});
    EXPECT_TRUE(waitUntil([&] { return serve(), asked.size() == 1; })) << "F11 asked nothing";
    x.keys({XK_F11});
    EXPECT_TRUE(waitUntil([&] { return serve(), asked.size() == 2; })) << "the second F11 asked nothing";
    EXPECT_EQ(asked, (std::vector<std::pair<long, long>>{{1, full}, {0, full}}));
    x.keys({XK_Escape});
    EXPECT_TRUE(endsCleanly(demo.pid, 0)) << "Esc";
    XDestroyWindow(x.dpy, check);
}

}  // namespace
}  // namespace e2e
