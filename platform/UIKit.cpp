// SPDX-License-Identifier: MIT
#include "UIKit.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "DisplayBackend.h"
#include "LayerTree.h"
#include "Picture.h"
#include "PointerInput.h"
#include "Session.h"
#include "SurfaceBufferInternal.h"

namespace {
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
    UIKitPlatform::Session* session = UIKitPlatform::Session::current();
    if (session && std::isfinite(height) && height >= 0 && height <= kScreenHeight) session->setStatusBarHeight(height);
}

float UIHardware::statusBarHeight() {
    UIKitPlatform::Session* session = UIKitPlatform::Session::current();
    return session ? session->statusBarHeight() : 20;
}

CGRect UIHardware::fullScreenApplicationContentRect() {
    float bar = statusBarHeight();
    return CGRectMake(0, bar, kScreenWidth, kScreenHeight - bar);
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
    mSession = UIKitPlatform::Session::current();
    if (!mSession) return this;
    mSession->addWindow(this);
    auto toInt = [](float v) {
        return std::isfinite(v) ? static_cast<int>(std::clamp(v, -32768.0f, 32767.0f)) : 0;
    };
    if (display::Backend* backend = mSession->backend()) {
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
        if (mSession->options().fullscreen) mNative->windowFullscreenToggled();
    }
    return this;
}

void UIWindow::orderFront(id) {
    if (mSession) mSession->setFrontWindow(this);
    if (mNative && mNative->window) mNative->window->raise();
}

bool UIWindow::isFront() const { return mSession && mSession->frontWindow() == this; }

void UIWindow::makeKey(id) {
    if (mSession) {
        if (UIWindow* key = mSession->keyWindow()) key->mKey = false;
        mSession->setKeyWindow(this);
    }
    mKey = true;
}

void UIWindow::_setHidden(bool hidden) {
    mHidden = hidden;
    if (mNative && mNative->window) mNative->window->setShown(!hidden);
    if (display::Backend* backend = mSession ? mSession->backend() : nullptr) backend->flush();
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
    // Drawn when GL's drawing reached a buffer's memory.
    auto* surfaces = mSession ? &mSession->surfaces() : nullptr;
    unsigned long long before = surfaces ? surfaces->framesReadBack() : 0;
    mContentView->displayIfNeeded();
    bool drawn = surfaces && surfaces->framesReadBack() != before;
    composite();
    if (mSession) mSession->frameShown(drawn);
}

void UIWindow::composite() {
    if (!mNative || !mNative->window || !mContentView || !mContentView->layer()) return;
    // The content view fills the window; its layer tree is drawn from the top
    // left. A buffer being drawn (locked) keeps what the window showed of it;
    // one not yet in memory the window lends is offered some.
    display::Window& window = *mNative->window;
    layertree::forEachBuffer(mContentView->layer(), [&](CoreSurfaceBufferRef b, float x, float y) {
        if (b->lockCount != 0) return;
        if (!b->lent) CoreSurfaceBufferLend(b, window.lendFrameMemory(b->width, b->height, b->pitch));
        window.put({b->memory, b->width, b->height, b->pitch, b->lent.get()}, static_cast<int>(x),
                   static_cast<int>(y));
    });
    window.present();
}

void UIWindow::_leaveSession() {
    if (mNative) mNative->window.reset();
    if (mSession) mSession->removeWindow(this);
    mSession = nullptr;
}

UIWindow::~UIWindow() {
    _leaveSession();
    setContentView(nullptr);
    delete mNative;
}
