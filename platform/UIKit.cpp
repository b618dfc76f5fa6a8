// SPDX-License-Identifier: MIT
#include "UIKit.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include <X11/keysym.h>

#include "PointerInput.h"
#include "SurfaceBufferInternal.h"
#include "X11Display.h"

namespace {
float gStatusBarHeight = 20;
std::vector<UIWindow*> gWindows;
UIWindow* gKeyWindow = nullptr;
UIWindow* gFrontWindow = nullptr;

int gSignalPipe[2] = {-1, -1};
int gSignalToken = 0;
bool gStarted = false;
bool gProcessPrepared = false;  // by the program's own start: handlers stay to the end

// Only async-signal-safe work: the run loop reads the pipe and stops.
void onSignal(int) {
    int saved = errno;
    char byte = 1;
    ssize_t ignored = write(gSignalPipe[1], &byte, 1);
    (void)ignored;
    errno = saved;
}

// SIGINT and SIGTERM end the run loop, whenever they come: one that comes
// before it runs waits in the pipe.
void catchTermination() {
    if (gSignalPipe[0] >= 0 || pipe2(gSignalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}

// The window an X window belongs to, if it is one of ours.
UIWindow* windowWithId(unsigned long id) {
    for (UIWindow* w : gWindows)
        if (w->xWindow() == id) return w;
    return nullptr;
}

void displayWindows() {
    // Events Xlib has already read (a window just mapped) count before drawing.
    x11::dispatchQueued();
    // By index: drawing may open or close a window.
    for (size_t i = 0; i < gWindows.size(); ++i) gWindows[i]->displayIfNeeded();
    x11::flush();
    x11::dispatchQueued();
}
}  // namespace

struct UIWindow::Native {
    x11::Window window;
    MousePointer mouse;
    TouchPointer touch;
};

// No status bar is drawn: only the mode is kept, and nothing waits on a fence.
void UIApplication::setStatusBarMode(int mode, int orientation, float duration, int fenceID) {
    (void)orientation;
    (void)duration;
    (void)fenceID;
    mStatusBarMode = mode;
}

void UIHardware::_setStatusBarHeight(float height) {
    if (std::isfinite(height) && height >= 0 && height <= kScreenHeight) gStatusBarHeight = height;
}

float UIHardware::statusBarHeight() { return gStatusBarHeight; }

CGRect UIHardware::fullScreenApplicationContentRect() {
    return CGRectMake(0, gStatusBarHeight, kScreenWidth, kScreenHeight - gStatusBarHeight);
}

UIView* UIView::initWithFrame(CGRect frame) {
    float w = frame.size.width, h = frame.size.height;
    bool valid = std::isfinite(frame.origin.x) && std::isfinite(frame.origin.y) && std::isfinite(w) &&
                 std::isfinite(h) && w >= 0 && h >= 0 && w <= 32767 && h <= 32767;
    if (!valid) {
        release();
        return nullptr;
    }
    mFrame = frame;
    mLayer = alloc<LKLayer>();
    mLayer->setFrame(bounds());
    return this;
}

void UIView::displayIfNeeded() {
    if (!mNeedsDisplay) return;
    mNeedsDisplay = false;
    drawRect(bounds());
}

UIView::~UIView() {
    if (mLayer) mLayer->release();
}

UIWindow* UIWindow::initWithContentRect(CGRect rect) {
    mRect = rect;
    mNative = new Native;
    auto toInt = [](float v) {
        return std::isfinite(v) ? static_cast<int>(std::clamp(v, -32768.0f, 32767.0f)) : 0;
    };
    x11::createWindow(mNative->window, toInt(rect.origin.x), toInt(rect.origin.y),
                      toInt(rect.size.width), toInt(rect.size.height), "Orvanel");
    gWindows.push_back(this);
    return this;
}

void UIWindow::orderFront(id) {
    gFrontWindow = this;
    if (mNative) x11::raiseWindow(mNative->window);
}

bool UIWindow::isFront() const { return gFrontWindow == this; }

void UIWindow::makeKey(id) {
    if (gKeyWindow) gKeyWindow->mKey = false;
    gKeyWindow = this;
    mKey = true;
}

void UIWindow::_setHidden(bool hidden) {
    mHidden = hidden;
    if (mNative) x11::mapWindow(mNative->window, !hidden);
    x11::flush();
}

void UIWindow::setContentView(UIView* view) {
    if (view) view->retain();
    if (mContentView) mContentView->release();
    mContentView = view;
    // A view is drawn once when it comes on screen, before any redraw request.
    if (view) view->setNeedsDisplay();
}

unsigned long UIWindow::xWindow() const { return mNative ? mNative->window.id : 0; }

void UIWindow::displayIfNeeded() {
    if (mHidden || !mContentView || !mContentView->needsDisplay()) return;
    // Nobody would see it: the view stays marked and is drawn once shown.
    if (mNative && mNative->window.id && !x11::isVisible(mNative->window)) return;
    mContentView->displayIfNeeded();
    composite();
}

namespace {
void compositeLayer(x11::Window& window, const LKLayer* layer, float x, float y) {
    x += layer->frame().origin.x;
    y += layer->frame().origin.y;
    if (CoreSurfaceBufferRef buffer = layer->contents(); buffer && buffer->lockCount == 0)
        x11::putImage565(window, buffer->memory, buffer->width, buffer->height, buffer->pitch, static_cast<int>(x),
                         static_cast<int>(y));
    for (const LKLayer* sub : layer->sublayers()) compositeLayer(window, sub, x, y);
}
}  // namespace

void UIWindow::composite() {
    if (!mNative || !mNative->window.id || !mContentView || !mContentView->layer()) return;
    // The content view fills the window; its layer tree is drawn from the top left.
    const LKLayer* root = mContentView->layer();
    for (const LKLayer* sub : root->sublayers()) compositeLayer(mNative->window, sub, 0, 0);
    x11::present(mNative->window);
}

const std::vector<UIWindow*>& UIWindow::windows() { return gWindows; }

UIWindow::~UIWindow() {
    gWindows.erase(std::remove(gWindows.begin(), gWindows.end(), this), gWindows.end());
    if (gKeyWindow == this) gKeyWindow = nullptr;
    if (gFrontWindow == this) gFrontWindow = nullptr;
    setContentView(nullptr);
    if (mNative) x11::destroyWindow(mNative->window);
    delete mNative;
}

namespace {
void deliver(UIView* view, PointerAction action) {
    view->retain();
    switch (action.kind) {
    case PointerAction::Down: view->mouseDown(&action.event); break;
    case PointerAction::Dragged: view->mouseDragged(&action.event); break;
    case PointerAction::Up: view->mouseUp(&action.event); break;
    }
    view->release();
}
}  // namespace

void UIWindow::_handleEvent(const void* raw) {
    const XEvent& e = *static_cast<const XEvent*>(raw);
    switch (e.type) {
    case Expose:
        if (e.xexpose.count == 0) composite();
        return;
    case ClientMessage:
        if (static_cast<Atom>(e.xclient.data.l[0]) ==
            XInternAtom(e.xany.display, "WM_DELETE_WINDOW", False))
            NSRunLoop::mainRunLoop()->stop(0);
        return;
    case DestroyNotify:
        NSRunLoop::mainRunLoop()->stop(0);
        return;
    case ConfigureNotify:
        x11::resized(mNative->window, e.xconfigure.width, e.xconfigure.height);
        return;
    case KeyPress: {
        // The keys small GL demos close with; they end it as closing the window does.
        KeySym key = XLookupKeysym(const_cast<XKeyEvent*>(&e.xkey), 0);
        if (key == XK_Escape || key == XK_q) NSRunLoop::mainRunLoop()->stop(0);
        return;
    }
    case MapNotify:
    case UnmapNotify:
    case VisibilityNotify:
        x11::trackVisibility(mNative->window, e);
        return;
    case ButtonPress:
    case ButtonRelease:
    case MotionNotify:
        break;
    default:
        return;
    }
    // The frame may be scaled and centred: the view gets frame coordinates.
    double x = e.type == MotionNotify ? e.xmotion.x : e.xbutton.x;
    double y = e.type == MotionNotify ? e.xmotion.y : e.xbutton.y;
    x11::toFrame(mNative->window.fit, x, y);
    std::optional<PointerAction> action;
    if (e.type == ButtonPress)
        action = mNative->mouse.press(static_cast<int>(e.xbutton.button), x, y, e.xbutton.time);
    else if (e.type == MotionNotify)
        action = mNative->mouse.motion(x, y, e.xmotion.state);
    else
        action = mNative->mouse.release(static_cast<int>(e.xbutton.button), x, y, e.xbutton.state);
    if (action && mContentView) deliver(mContentView, *action);
}

void UIWindow::_handleTouch(int phase, int id, double x, double y, unsigned long timeMs) {
    x11::toFrame(mNative->window.fit, x, y);
    std::optional<PointerAction> action;
    if (phase == 0)
        action = mNative->touch.begin(id, x, y, timeMs);
    else if (phase == 1)
        action = mNative->touch.update(id, x, y);
    else
        action = mNative->touch.end(id, x, y);
    if (action && mContentView) deliver(mContentView, *action);
}

namespace UIKitPlatform {

void prepareProcess() {
    // Descriptors 0 to 2 exist before anything opens a file or a connection,
    // so that no diagnostic can land in one.
    for (int fd = 0; fd <= 2; ++fd)
        if (fcntl(fd, F_GETFD) < 0 && errno == EBADF) {
            int opened = open("/dev/null", O_RDWR);
            if (opened >= 0 && opened != fd) {
                dup2(opened, fd);
                ::close(opened);
            }
        }
    // Every finished line reaches the log, however the process ends.
    setvbuf(stdout, nullptr, _IOLBF, 0);
    catchTermination();
    gProcessPrepared = true;
}

void handleXEvent(const void* raw) {
    if (UIWindow* w = windowWithId(static_cast<const XEvent*>(raw)->xany.window)) w->_handleEvent(raw);
}

bool start(const char* displayName) {
    if (gStarted) return true;
    // A 320 x 480 frame is too small for Mesa's software rasterizer to gain
    // from its worker threads: their hand-offs cost a third more CPU than
    // drawing on one thread. The user's own setting wins.
    setenv("LP_NUM_THREADS", "0", 0);
    if (!x11::open(displayName)) return false;
    x11::setEventHandler([](const XEvent& e) { handleXEvent(&e); });
    x11::setTouchHandler([](::Window id, x11::Touch phase, int touch, double x, double y, unsigned long t) {
        if (UIWindow* w = windowWithId(id)) w->_handleTouch(static_cast<int>(phase), touch, x, y, t);
    });
    NSRunLoop* loop = NSRunLoop::mainRunLoop();
    loop->addObserver(displayWindows);
    // The platform is an X11 one, whatever the environment says EGL should use.
    setenv("EGL_PLATFORM", "x11", 1);
    catchTermination();
    if (gSignalPipe[0] >= 0)
        gSignalToken = loop->addInputSource(gSignalPipe[0], [] {
            char bytes[16];
            while (read(gSignalPipe[0], bytes, sizeof bytes) > 0) {
            }
            NSRunLoop::mainRunLoop()->stop(0);
        });
    gStarted = true;
    return true;
}

void sync() {
    if (Display* dpy = x11::display()) XSync(dpy, False);
}

void stop() {
    if (!gStarted) return;
    if (gSignalToken) NSRunLoop::mainRunLoop()->removeInputSource(gSignalToken);
    gSignalToken = 0;
    if (!gProcessPrepared) {
        signal(SIGINT, SIG_DFL);
        signal(SIGTERM, SIG_DFL);
        for (int& fd : gSignalPipe) {
            if (fd >= 0) ::close(fd);
            fd = -1;
        }
    }
    x11::close();
    NSRunLoop::mainRunLoop()->reset();
    gStarted = false;
}

}  // namespace UIKitPlatform

int UIApplicationMain(int argc, char** argv, Class applicationClass) {
    (void)argc;
    (void)argv;
    if (!UIKitPlatform::start()) {
        const char* name = std::getenv("DISPLAY");
        std::fprintf(stderr, "cannot open display \"%s\"\n", name ? name : "");
        return 1;
    }
    UIApplication* app = applicationClass.create();
    if (app) app = app->init();
    if (!app) {
        UIKitPlatform::stop();
        return 1;
    }
    app->applicationDidFinishLaunching(app);
    int status = NSRunLoop::mainRunLoop()->run();
    app->applicationWillTerminate();
    app->release();
    UIKitPlatform::stop();
    return status;
}
