// SPDX-License-Identifier: MIT
// Real rendering with Mesa under a private X server whose depth comes from
// ORVANEL_TEST_DEPTH (16 by default).
#include <GLES/gl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>

#include "DrawCube.h"
#include "UIGLView.h"
#include "Session.h"
#include "UIKit.h"
#include "Connection.h"
#include "Xvfb.h"
// After gtest: Xlib's None and Bool macros clash with its names.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

int gDepth = 16;

struct RGB {
    int r, g, b;  // 5-6-5 channel values
};

RGB split(uint16_t p) { return {p >> 11, (p >> 5) & 63, p & 31}; }

::testing::AssertionResult near(RGB got, RGB want, int tolerance = 1) {
    if (std::abs(got.r - want.r) <= tolerance && std::abs(got.g - want.g) <= tolerance &&
        std::abs(got.b - want.b) <= tolerance)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "got (" << got.r << "," << got.g << "," << got.b << ") want ("
                                         << want.r << "," << want.g << "," << want.b << ")";
}

// How far the screen may be from the buffer: nothing, but a 15-bit screen has
// no room for green's sixth bit.
int exact() { return gDepth == 15 ? 1 : 0; }

// What the screen shows at (x, y), in 5-6-5 channel values (the window is at
// the top left, with no window manager to move it).
RGB onScreen(int x, int y) {
    Display* dpy = XOpenDisplay(nullptr);
    XImage* image = XGetImage(dpy, DefaultRootWindow(dpy), x, y, 1, 1, AllPlanes, ZPixmap);
    unsigned long p = XGetPixel(image, 0, 0);
    auto channel = [p](unsigned long mask, int bits) {
        int shift = 0;
        while (!((mask >> shift) & 1)) ++shift;
        unsigned long v = (p & mask) >> shift, max = mask >> shift;
        return static_cast<int>((v * ((1u << bits) - 1) + max / 2) / max);
    };
    RGB out{channel(image->red_mask, 5), channel(image->green_mask, 6), channel(image->blue_mask, 5)};
    XDestroyImage(image);
    XCloseDisplay(dpy);
    return out;
}

// A frame of `view` (w x h) black but for its top `rows` rows, white.
void drawTopRowsWhite(UIGLView* view, int w, int h, int rows) {
    view->beginScene();
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    glEnable(GL_SCISSOR_TEST);
    glScissor(0, h - rows, w, rows);  // GL's origin is the bottom left
    glClearColor(1, 1, 1, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    glDisable(GL_SCISSOR_TEST);
    view->endScene();
}

class RenderTest : public ::testing::Test {
protected:
    void SetUp() override {
        pool = alloc<NSAutoreleasePool>()->init();
        std::string error;
        ASSERT_TRUE(session.start(error)) << error;
        window = alloc<UIWindow>()->initWithContentRect(CGRectMake(0, 0, 320, 480));
        window->_setHidden(false);
        view = static_cast<UIGLView*>(alloc<UIGLView>()->initWithFrame(CGRectMake(0, 0, 320, 480)));
        ASSERT_NE(view, nullptr);
        ASSERT_NE(view->eglSurface(), EGL_NO_SURFACE);
        window->setContentView(view);
        // The picture: s < 64 reddish, s >= 64 greenish; t < 64 has no blue.
        for (int i = 0; i < 128 * 128; ++i) {
            const uint8_t red = i % 128 < 64 ? 255 : 0, blue = i / 128 < 64 ? 0 : 255;
            picture.insert(picture.end(), {red, static_cast<uint8_t>(255 - red), blue});
        }
    }
    void TearDown() override {
        if (view) view->release();
        if (window) window->release();
        pool->release();
    }
    const uint16_t* pixels() const {
        return static_cast<const uint16_t*>(CoreSurfaceBufferGetBaseAddress(view->screenSurface()));
    }
    RGB at(int x, int y) const { return split(pixels()[y * 320 + x]); }

    void drawFrame(bool cube) {
        view->beginScene();
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        glClearColor(0.3f, 0.3f, 0.4f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        if (cube) {
            // Half size, so that the clear colour stays at the corners.
            glScalef(0.5f, 0.5f, 0.5f);
            DrawCube(128, 128, picture.data());
            for (GLenum cap :
                 {GL_TEXTURE_2D, GL_LIGHTING, GL_LIGHT0, GL_LIGHT1, GL_VERTEX_ARRAY, GL_TEXTURE_COORD_ARRAY})
                EXPECT_TRUE(glIsEnabled(cap)) << cap;
        }
        view->endScene();
        window->composite();
        session.sync();
    }

    UIKitPlatform::Session session;
    NSAutoreleasePool* pool = nullptr;
    UIWindow* window = nullptr;
    UIGLView* view = nullptr;
    std::vector<uint8_t> picture;
};

TEST_F(RenderTest, ClearColourReachesTheBufferAndTheWindow) {
    drawFrame(false);
    for (auto [x, y] : {std::pair{0, 0}, {319, 0}, {0, 479}, {319, 479}, {160, 240}})
        EXPECT_EQ(pixels()[y * 320 + x], 0x4A6C) << x << "," << y;
    for (auto [x, y] : {std::pair{0, 0}, {319, 479}}) EXPECT_TRUE(near(onScreen(x, y), split(0x4A6C), exact()));
    // While a frame is being drawn (the buffer locked) the window keeps the last one.
    CoreSurfaceBufferLock(view->screenSurface(), 3);
    std::fill_n(const_cast<uint16_t*>(pixels()), 320 * 480, 0);
    window->composite();
    session.sync();
    EXPECT_TRUE(near(onScreen(0, 0), split(0x4A6C), exact()));
    CoreSurfaceBufferUnlock(view->screenSurface());
}

TEST_F(RenderTest, CubeIsLitTexturedInItsFaceColourTheRightWayUp) {
    drawFrame(true);
    // The corners keep the clear colour.
    for (auto [x, y] : {std::pair{0, 0}, {319, 0}, {0, 479}, {319, 479}})
        EXPECT_EQ(pixels()[y * 320 + x], 0x4A6C) << x << "," << y;
    // With these matrices the z = -1 face (yellow) faces the viewer: its s
    // runs left to right, t bottom to top, and yellow keeps no blue.
    // Lit with the default light straight on, the shade is full.
    const RGB red{31, 0, 0}, green{0, 63, 0};
    for (int y : {300, 180}) {  // lower, upper
        EXPECT_TRUE(near(at(100, y), red)) << y;
        EXPECT_TRUE(near(at(220, y), green)) << y;
    }
    // The window shows the buffer as it is.
    for (auto [x, y] : {std::pair{100, 300}, {220, 180}, {5, 5}})
        EXPECT_TRUE(near(onScreen(x, y), at(x, y), exact())) << x << "," << y;
}

TEST_F(RenderTest, ReadBackKeepsTheTopRowFirst) {
    // The top half white: the buffer's first rows must be the ones that change.
    drawTopRowsWhite(view, 320, 480, 240);
    EXPECT_EQ(pixels()[10 * 320 + 10], 0xFFFF);
    EXPECT_EQ(pixels()[470 * 320 + 10], 0x0000);

    // A row of an odd number of pixels is not a multiple of four bytes.
    auto* odd = static_cast<UIGLView*>(alloc<UIGLView>()->initWithFrame(CGRectMake(0, 0, 161, 5)));
    ASSERT_NE(odd->eglSurface(), EGL_NO_SURFACE);
    drawTopRowsWhite(odd, 161, 5, 2);
    auto* px = static_cast<const uint8_t*>(CoreSurfaceBufferGetBaseAddress(odd->screenSurface()));
    int pitch = CoreSurfaceBufferGetBytesPerRow(odd->screenSurface());
    auto oddAt = [&](int x, int y) {
        uint16_t p;
        std::memcpy(&p, px + y * pitch + x * 2, 2);
        return p;
    };
    for (int x : {0, 80, 160}) {
        EXPECT_EQ(oddAt(x, 0), 0xFFFF) << x;
        EXPECT_EQ(oddAt(x, 1), 0xFFFF) << x;
        EXPECT_EQ(oddAt(x, 2), 0x0000) << x;
        EXPECT_EQ(oddAt(x, 4), 0x0000) << x;
    }
    odd->release();
}

TEST_F(RenderTest, AFrameThatNeverWaitsIsReadBackAtTheUnlock) {
    CoreSurfaceBufferLock(view->screenSurface(), 3);
    eglMakeCurrent(view->eglDisplay(), view->eglSurface(), view->eglSurface(), view->eglContext());
    glClearColor(1, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    eglMakeCurrent(view->eglDisplay(), EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    CoreSurfaceBufferUnlock(view->screenSurface());
    EXPECT_EQ(pixels()[0], 0xF800);
    EXPECT_EQ(pixels()[320 * 480 - 1], 0xF800);
    EXPECT_EQ(eglGetCurrentContext(), EGL_NO_CONTEXT);  // what was current is current again
}

TEST_F(RenderTest, FramesFollowOneAnother) {
    for (int k = 0; k < 4; ++k) drawFrame(k % 2 == 1);
    EXPECT_NE(pixels()[240 * 320 + 160], 0x4A6C);
    drawFrame(false);
    EXPECT_EQ(pixels()[240 * 320 + 160], 0x4A6C);
    EXPECT_EQ(CoreSurfaceBufferGetLockCount(view->screenSurface()), 0);
    EXPECT_EQ(eglGetCurrentContext(), EGL_NO_CONTEXT);  // nothing current between frames
}

// A flood of signals before the run loop reads any never blocks the process
// in its handler.
TEST_F(RenderTest, SignalsNeverBlockTheProcess) {
    pid_t child = fork();
    if (child == 0) {
        for (int k = 0; k < 100000; ++k) raise(SIGTERM);
        _exit(0);
    }
    ASSERT_GT(child, 0);
    int status = 0;
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (waitpid(child, &status, WNOHANG) == 0 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (kill(child, SIGKILL) == 0) waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "stuck in the signal handler";
}

// While another client holds the server, nothing put is read: drawing moves
// on to memory the server is done with and, once there is none, waits for
// the server rather than overwrite what it has yet to show.
TEST_F(RenderTest, DrawingNeverOverwritesAFrameTheServerHasNotRead) {
    Display* other = XOpenDisplay(nullptr);
    ASSERT_NE(other, nullptr);
    XGrabServer(other);
    XSync(other, False);
    std::thread release([other] {
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        XUngrabServer(other);
        XFlush(other);
    });
    std::vector<const uint16_t*> memory;
    auto start = std::chrono::steady_clock::now();
    for (int k = 0; k < 4; ++k) {  // red, red, red, yellow
        view->beginScene();
        glClearColor(1, k == 3, 0, 1);
        glClear(GL_COLOR_BUFFER_BIT);
        view->endScene();
        memory.push_back(pixels());
        window->composite();
    }
    EXPECT_GT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(250));  // it waited
    release.join();
    session.sync();
    XCloseDisplay(other);
    for (size_t i = 0; gDepth == 16 && i < 3; ++i) EXPECT_NE(memory[i], memory[i + 1]) << i;  // shared memory
    EXPECT_TRUE(near(onScreen(0, 0), split(0xFFE0), exact()));
}

TEST_F(RenderTest, ProtocolErrorsAreReportedAndTheProgramGoesOn) {
    bool timedOut = false;
    auto connection = x11::Connection::open(*NSRunLoop::mainRunLoop(), timedOut);
    ASSERT_TRUE(connection);
    ::testing::internal::CaptureStderr();
    XFreePixmap(connection->display(), 0x7ffffff);  // no such pixmap
    XSync(connection->display(), False);
    std::string said = ::testing::internal::GetCapturedStderr();
    connection.reset();
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    EXPECT_EQ(said.rfind("X error: BadPixmap", 0), 0u) << said;
    drawFrame(false);  // and the window still works
    EXPECT_TRUE(near(onScreen(0, 0), split(0x4A6C), exact()));
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (const char* d = std::getenv("ORVANEL_TEST_DEPTH")) gDepth = std::atoi(d);
    std::unique_ptr<Xvfb> server;
    try {
        server = std::make_unique<Xvfb>(gDepth);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    std::printf("rendering on Xvfb %s, depth %d\n", server->name().c_str(), gDepth);
    return RUN_ALL_TESTS();
}
