// SPDX-License-Identifier: MIT
#include "UIKit.h"

#include <EGL/egl.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <utility>

#include "CommandLine.h"
#include "DisplayBackend.h"
#include "LayerTree.h"
#include "Picture.h"
#include "PointerInput.h"
#include "Process.h"
#include "RunStats.h"
#include "Screenshot.h"
#include "SurfaceBufferInternal.h"

namespace {
float gStatusBarHeight = 20;
std::vector<UIWindow*> gWindows;
UIWindow* gKeyWindow = nullptr;
UIWindow* gFrontWindow = nullptr;

int gSignalToken = 0;
bool gStarted = false;
long gFramesShown = 0;
long gFramesDrawn = 0;  // of those, the ones GL drew
std::unique_ptr<UIKitPlatform::RunStats> gStats;  // with --stats

void displayWindows() {
    display::Backend* backend = display::current();
    // What the window system has said (a window just mapped, a frame asked
    // for, input) counts before drawing.
    if (backend) backend->dispatchPending();
    // By index: drawing may open or close a window.
    bool waiting = false;
    for (size_t i = 0; i < gWindows.size(); ++i) {
        UIWindow* w = gWindows[i];
        w->displayIfNeeded();
        waiting |= !w->isHidden() && w->contentView() && w->contentView()->needsDisplay();
    }
    if (backend) backend->flush();
    // A view waits for its window to be shown or asked for a frame: that
    // news wakes the loop, so that the frame does not wait for the next tick.
    if (waiting) NSRunLoop::mainRunLoop()->wakeOnSources();
}

// Frames GL drew into the view's buffers so far.
unsigned long long framesRead(UIView* view) {
    unsigned long long n = 0;
    if (view && view->layer())
        layertree::forEachBuffer(view->layer(), [&](CoreSurfaceBufferRef b, float, float) { n += b->framesRead; });
    return n;
}

// The program's icon as installed for the desktop (its 64 px size), where it is.
void showProgramIcon(display::Window& window) {
    // The resources are share/orvanel; the icons share/icons.
    std::string path = NSBundle::mainBundle()->pathForResource("../icons/hicolor/64x64/apps/orvanel", "png");
    picture::Pixels image;
    std::string error;
    if (path.empty() || !picture::readImage(path, image, error) || image.width > 256 || image.height > 256) return;
    std::vector<uint32_t> argb;
    for (size_t i = 0; i < image.rgba.size(); i += 4) {
        const uint8_t* p = &image.rgba[i];
        argb.push_back(uint32_t{p[3]} << 24 | uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2]);
    }
    window.setIcon(argb, image.width, image.height);
}

void deliver(UIView* view, PointerAction action) {
    // By PointerAction::Kind.
    static constexpr void (UIView::*kHandlers[])(GSEventRef) = {&UIView::mouseDown, &UIView::mouseDragged,
                                                                &UIView::mouseUp};
    view->retain();
    (view->*kHandlers[action.kind])(&action.event);
    view->release();
}
}  // namespace

// The window system's side of a window, and what it tells the window.
struct UIWindow::Native final : display::WindowListener {
    explicit Native(UIWindow& owner) : owner(owner) {}

    void windowExposed() override { owner.composite(); }
    void windowCloseRequested() override { NSRunLoop::mainRunLoop()->stop(0); }
    void windowFullscreenToggled() override {
        fullscreen = !fullscreen;
        if (window) window->setFullscreen(fullscreen);
    }
    void windowButton(int button, bool pressed, double x, double y, unsigned long timeMs, unsigned held) override {
        send(pressed ? mouse.press(button, x, y, timeMs) : mouse.release(button, x, y, held));
    }
    void windowMotion(double x, double y, unsigned held) override { send(mouse.motion(x, y, held)); }
    void windowTouch(display::Touch phase, int id, double x, double y, unsigned long timeMs) override {
        send(phase == display::Touch::Begin    ? touch.begin(id, x, y, timeMs)
             : phase == display::Touch::Update ? touch.update(id, x, y)
                                               : touch.end(id, x, y));
    }
    void send(std::optional<PointerAction> action) {
        if (action && owner.mContentView) deliver(owner.mContentView, *action);
    }

    UIWindow& owner;
    std::unique_ptr<display::Window> window;  // null without a window system
    MousePointer mouse;
    TouchPointer touch;
    bool fullscreen = false;
};

// No status bar is drawn: only the mode is kept, and nothing waits on a fence.
void UIApplication::setStatusBarMode(int mode, int, float, int) { mStatusBarMode = mode; }

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
    mNative = new Native(*this);
    auto toInt = [](float v) {
        return std::isfinite(v) ? static_cast<int>(std::clamp(v, -32768.0f, 32767.0f)) : 0;
    };
    if (display::Backend* backend = display::current()) {
        mNative->window = backend->createWindow(toInt(rect.origin.x), toInt(rect.origin.y), toInt(rect.size.width),
                                                toInt(rect.size.height), "Orvanel", *mNative);
        // Nothing drawn could be seen: the run ends, saying so once.
        if (!mNative->window) {
            std::fprintf(stderr, "orvanel: the %s window system refused the window\n", backend->name());
            NSRunLoop::mainRunLoop()->stop(1);
        }
    }
    if (mNative->window) {
        showProgramIcon(*mNative->window);
        if (UIKitPlatform::options().fullscreen) mNative->windowFullscreenToggled();
    }
    gWindows.push_back(this);
    return this;
}

void UIWindow::orderFront(id) {
    gFrontWindow = this;
    if (mNative && mNative->window) mNative->window->raise();
}

bool UIWindow::isFront() const { return gFrontWindow == this; }

void UIWindow::makeKey(id) {
    if (gKeyWindow) gKeyWindow->mKey = false;
    gKeyWindow = this;
    mKey = true;
}

void UIWindow::_setHidden(bool hidden) {
    mHidden = hidden;
    if (mNative && mNative->window) mNative->window->setShown(!hidden);
    if (display::Backend* backend = display::current()) backend->flush();
}

void UIWindow::setContentView(UIView* view) {
    if (view) view->retain();
    if (mContentView) mContentView->release();
    mContentView = view;
    // A view is drawn once when it comes on screen, before any redraw request.
    if (view) view->setNeedsDisplay();
}

display::WindowListener& UIWindow::_windowSystemInput() { return *mNative; }

long UIWindow::_framesPresented() const { return mNative && mNative->window ? mNative->window->framesPresented() : 0; }

void UIWindow::displayIfNeeded() {
    if (mHidden || !mContentView || !mContentView->needsDisplay()) return;
    // Nobody would see it: the view stays marked and is drawn once shown.
    if (mNative && mNative->window && !mNative->window->wantsFrame()) return;
    unsigned long long before = framesRead(mContentView);
    mContentView->displayIfNeeded();
    if (framesRead(mContentView) != before) {
        if (++gFramesDrawn == 1) process::delivered(process::kAnyFrame);
        if (gStats) gStats->frameShown(NSRunLoop::mainRunLoop()->now());
    }
    composite();
    long wanted = UIKitPlatform::options().frames;
    if (++gFramesShown == wanted) NSRunLoop::mainRunLoop()->stop(0);
}

void UIWindow::composite() {
    if (!mNative || !mNative->window || !mContentView || !mContentView->layer()) return;
    // The content view fills the window; its layer tree is drawn from the top
    // left. A buffer being drawn (locked) keeps what the window showed of it.
    display::Window& window = *mNative->window;
    layertree::forEachBuffer(mContentView->layer(), [&](CoreSurfaceBufferRef b, float x, float y) {
        if (b->lockCount == 0)
            window.put({b->memory, b->width, b->height, b->pitch, b->shared.get()}, static_cast<int>(x),
                       static_cast<int>(y));
    });
    window.present();
}

const std::vector<UIWindow*>& UIWindow::windows() { return gWindows; }

UIWindow::~UIWindow() {
    std::erase(gWindows, this);
    if (gKeyWindow == this) gKeyWindow = nullptr;
    if (gFrontWindow == this) gFrontWindow = nullptr;
    setContentView(nullptr);
    delete mNative;
}

namespace UIKitPlatform {

bool start(std::string* error) {
    if (gStarted) return true;
    // A 320 x 480 frame is too small for Mesa's software rasterizer to gain
    // from its worker threads: their hand-offs cost a third more CPU than
    // drawing on one thread. The user's own setting wins.
    setenv("LP_NUM_THREADS", "0", 0);
    std::string why;
    NSRunLoop* loop = NSRunLoop::mainRunLoop();
    // The offscreen backend always opens.
    std::unique_ptr<display::Backend> backend =
        options().offscreen ? display::makeOffscreenBackend() : display::openChosen(*loop, why);
    if (options().offscreen) backend->open(*loop);
    if (!backend) {
        if (error) *error = why;
        return false;
    }
    // EGL draws off screen on every backend (Mesa's surfaceless platform),
    // whatever the environment says: the same 5-6-5 configuration, so the
    // same frame, on every screen, and no connection of EGL's own to the
    // display server that could hang.
    setenv("EGL_PLATFORM", "surfaceless", 1);
    display::setCurrent(std::move(backend));
    loop->addObserver(displayWindows);
    if (int stops = process::stopSignals(); stops >= 0)
        gSignalToken = loop->addInputSource(stops, [] {
            process::drainStopSignals();
            NSRunLoop::mainRunLoop()->stop(0);
        });
    gStarted = true;
    return true;
}

void sync() {
    if (display::Backend* backend = display::current()) backend->sync();
}

void stop() {
    if (!gStarted) return;
    if (gSignalToken) NSRunLoop::mainRunLoop()->removeSource(std::exchange(gSignalToken, 0));
    process::releaseStopSignals();
    display::setCurrent(nullptr);
    NSRunLoop::mainRunLoop()->reset();
    gStarted = false;
}

}  // namespace UIKitPlatform

namespace {
// The end of a run the command line bounded: what it did, on one line.
class RunSummary : public NSObject {
public:
    void finish() { NSRunLoop::mainRunLoop()->stop(0); }
};

// --stats: one line, or one JSON object on a line of its own.
void printStats(UIKitPlatform::Options::Stats how, UIKitPlatform::RunStats::Summary s, double started,
                long long lateBefore, long long dueBefore) {
    NSRunLoop* loop = NSRunLoop::mainRunLoop();
    display::Backend* backend = display::current();
    // What the window system has done by now is all it will say it showed.
    if (backend) backend->sync();
    s.seconds = loop->now() - started;
    s.lateTicks = loop->lateTicks() - lateBefore;
    // The first frame comes before any tick; each later one is a tick's.
    s.missedTicks = std::max(0ll, loop->dueTicks() - dueBefore - std::max(0l, s.frames - 1));
    for (UIWindow* w : UIWindow::windows()) s.presented += w->_framesPresented();
    // A window shown again after it was covered is no new frame.
    s.presented = std::min(s.presented, s.frames);
    s.backend = backend ? backend->name() : "none";
    s.renderer = CoreSurfaceRendererName();
    bool json = how == UIKitPlatform::Options::Stats::Json;
    std::printf("%s\n", (json ? UIKitPlatform::RunStats::json(s) : UIKitPlatform::RunStats::line(s)).c_str());
}

// What EGL says of itself when nothing could be drawn.
std::string whyNothingWasDrawn() {
    EGLDisplay display = eglGetDisplay(EGL_DEFAULT_DISPLAY);
    if (display == EGL_NO_DISPLAY) return "EGL has no display here (is Mesa's libegl-mesa0 installed?)";
    if (!eglInitialize(display, nullptr, nullptr)) {
        char code[16];
        std::snprintf(code, sizeof code, "0x%04x", eglGetError());
        // Mesa's EGL also fails so on a screen it has no configuration for.
        return std::string("EGL could not be initialised (error ") + code +
               "; are Mesa's drivers installed, and is the screen one they draw for?)";
    }
    return "GL drew none of them (see the messages above)";
}

// Says why the run failed, on standard error; the status that says so.
int fail(const std::string& why) {
    std::fprintf(stderr, "orvanel: %s\n", why.c_str());
    return 1;
}

// The last frame the key window showed, as a PNG; false when it cannot be
// written (said on standard error).
bool writeScreenshot(const std::string& path) {
    UIWindow* window = gKeyWindow ? gKeyWindow : gWindows.empty() ? nullptr : gWindows.front();
    int width = static_cast<int>(UIHardware::kScreenWidth), height = static_cast<int>(UIHardware::kScreenHeight);
    std::string error;
    std::vector<uint16_t> pixels = UIKitPlatform::snapshot(window ? window->contentView() : nullptr, width, height);
    process::writingScreenshot(true);
    bool written = UIKitPlatform::writePng565(path, pixels, width, height, error, process::screenshotTemporary);
    process::writingScreenshot(false);
    if (written) {
        process::delivered(process::kScreenshot);
        return true;
    }
    fail(error);
    return false;
}
}  // namespace

int UIApplicationMain(int argc, char** argv, Class applicationClass) {
    UIKitPlatform::ParsedCommandLine command = UIKitPlatform::parseCommandLine(argc, argv);
    if (command.exitStatus) {
        std::fputs(command.text.c_str(), *command.exitStatus == 0 ? stdout : stderr);
        return *command.exitStatus;
    }
    const UIKitPlatform::Options& options = command.options;
    UIKitPlatform::setOptions(options);
    // The picture the user named must be shown, or nothing is; one of their
    // own made by the picture tool stands in for the device's fixed path.
    std::string picture = options.picture;
    if (std::string error; !picture.empty() && !picture::usable(picture, error)) return fail(error);
    if (picture.empty()) {
        std::string own = picture::userPath();
        struct stat st {};
        if (!own.empty() && lstat(own.c_str(), &st) == 0) picture = own;
    }
    if (!picture.empty()) NSUserDefaults::standardUserDefaults()->_setStringForKey(picture, "picture");
    // The screenshot never replaces the picture it shows.
    struct stat st {};
    std::string shown = !picture.empty()                             ? picture
                        : lstat(picture::kSystemPath, &st) == 0 ? picture::kSystemPath
                                                                 : NSBundle::mainBundle()->pathForResource("tesmor", "raw");
    if (!options.screenshot.empty() && picture::sameFile(shown, options.screenshot)) {
        std::fprintf(stderr, "orvanel: %s is the picture shown; name another file for --screenshot\n",
                     options.screenshot.c_str());
        return 2;
    }
    // What the run owes the user should the display server stop answering:
    // what was asked for, and then frames for it (a plain run asks for none).
    unsigned owed = (options.frames || options.duration ? process::kClosingLine : 0) |
                    (options.stats != UIKitPlatform::Options::Stats::None ? process::kSummary : 0) |
                    (options.screenshot.empty() ? 0 : process::kScreenshot);
    process::owe(owed ? owed | process::kAnyFrame : 0);
    if (std::string error; !UIKitPlatform::start(&error)) return fail(error);
    gFramesShown = gFramesDrawn = 0;
    if (options.stats != UIKitPlatform::Options::Stats::None) gStats = std::make_unique<UIKitPlatform::RunStats>();
    double runStarted = NSRunLoop::mainRunLoop()->now();
    long long lateBefore = NSRunLoop::mainRunLoop()->lateTicks();
    long long dueBefore = NSRunLoop::mainRunLoop()->dueTicks();
    if (options.duration) {
        RunSummary* summary = alloc<RunSummary>();
        NSTimer::scheduledTimerWithTimeInterval(options.duration, summary, &RunSummary::finish, nullptr, false);
        summary->release();  // the timer's now
        // Due then, whatever the display server does meanwhile.
        process::endWithin(options.duration + 1);
    }
    UIApplication* app = applicationClass.create();
    if (app) app = app->init();
    if (!app) {
        UIKitPlatform::stop();
        return 1;
    }
    app->applicationDidFinishLaunching(app);
    int status = NSRunLoop::mainRunLoop()->run();
    // The end is due: what is left to say and write is owed within a second.
    process::endWithin(1);
    if (options.frames || options.duration) {
        NSRunLoop* loop = NSRunLoop::mainRunLoop();
        std::printf("orvanel: %ld frame%s shown in %.2f s, %lld late\n", gFramesDrawn, gFramesDrawn == 1 ? "" : "s",
                    loop->now() - runStarted, loop->lateTicks() - lateBefore);
        process::delivered(process::kClosingLine);
    }
    if (gStats) {
        printStats(options.stats, gStats->summary(), runStarted, lateBefore, dueBefore);
        gStats.reset();
        process::delivered(process::kSummary);
    }
    // The view carries on when GL cannot draw, as on the device; the run
    // does not count as one that worked, and leaves no picture of nothing.
    bool drewNothing = gFramesShown > 0 && gFramesDrawn == 0;
    if (drewNothing) {
        std::fprintf(stderr, "orvanel: no frame could be drawn: %s\n", whyNothingWasDrawn().c_str());
        status = 1;
    } else if (!options.screenshot.empty() && !writeScreenshot(options.screenshot) && status == 0) {
        status = 1;
    }
    app->applicationWillTerminate();
    app->release();
    UIKitPlatform::stop();
    return status;
}
