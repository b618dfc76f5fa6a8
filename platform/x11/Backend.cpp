// SPDX-License-Identifier: MIT
// The X backend behind the platform's display contract: routes each event of
// the connection to the window it belongs to.
#include <X11/extensions/XInput2.h>

#include <algorithm>
#include <cstdlib>
#include <deque>
#include <vector>

#include "Connection.h"
#include "DisplayBackend.h"
#include "FrameRing.h"
#include "Image.h"
#include "Input.h"
#include "Present.h"
#include "Window.h"

namespace x11 {
namespace {

class X11Window final : public display::Window, public EventTarget {
public:
    X11Window(std::shared_ptr<Link> link, display::WindowListener& listener)
        : mLink(std::move(link)), mInput(mWindow, listener) {
        mLink->windows.push_back(this);
    }
    ~X11Window() override {
        std::erase(mLink->windows, static_cast<EventTarget*>(this));
        destroyWindow(mWindow);
    }
    bool create(int x, int y, int width, int height, const std::string& title) {
        return createWindow(mLink, mWindow, x, y, width, height, title);
    }
    ::Window id() const override { return mWindow.id; }
    void setShown(bool shown) override {
        if (Display* dpy = displayOf(mWindow)) (shown ? XMapWindow : XUnmapWindow)(dpy, mWindow.id);
    }
    void raise() override {
        if (Display* dpy = displayOf(mWindow)) XRaiseWindow(dpy, mWindow.id);
    }
    void setFullscreen(bool fullscreen) override { x11::setFullscreen(mWindow, fullscreen); }
    bool wantsFrame() const override { return isVisible(mWindow); }
    void put(const display::Frame& frame, int x, int y) override {
        putImage565(mWindow, frame, display::BlockRing<Image>::currentOf(frame.lent), x, y);
    }
    void present() override {
        x11::present(mWindow);
        // The frame is shown once the server has done the requests so far.
        Display* dpy = displayOf(mWindow);
        if (!dpy) return;
        while (!mShown.empty() && processed(dpy, mShown.front())) {
            mShown.pop_front();
            ++mPresented;
        }
        mShown.push_back(NextRequest(dpy) - 1);
    }
    long framesPresented() const override {
        Display* dpy = displayOf(mWindow);
        return mPresented + (dpy ? std::ranges::count_if(mShown, [dpy](auto r) { return processed(dpy, r); }) : 0);
    }
    void setIcon(const std::vector<uint32_t>& argb, int width, int height) override {
        x11::setIcon(mWindow, argb, width, height);
    }
    // The connection's event for this window.
    void handle(const XEvent& event) {
        // Each takes the events it knows.
        if (event.type == ConfigureNotify) resized(mWindow, event.xconfigure.width, event.xconfigure.height);
        trackVisibility(mWindow, event);
        mInput.handle(event);
    }
    void handleTouch(const XIDeviceEvent& event) { mInput.handleTouch(event); }

private:
    std::shared_ptr<Link> mLink;
    WindowState mWindow;
    std::deque<unsigned long> mShown;  // the last request of each frame the server has not yet done
    long mPresented = 0;
    Input mInput;
};

class X11Backend final : public display::Backend {
public:
    const char* name() const override { return "x11"; }
    bool open(display::EventLoop& loop) override {
        if (!mConnection) mConnection = Connection::open(loop, [this](XEvent& event) { route(event); }, mTimedOut);
        return mConnection != nullptr;
    }
    std::string openFailure() const override {
        const char* name = std::getenv("DISPLAY");
        if (!name || !*name) return "no X display (DISPLAY is not set)";
        return std::string("cannot open display \"") + name + "\"" + (mTimedOut ? " (no answer within 3 s)" : "");
    }
    void close() override { mConnection.reset(); }
    std::unique_ptr<display::Window> createWindow(int x, int y, int width, int height, const std::string& title,
                                                  display::WindowListener& listener) override {
        if (!mConnection) return nullptr;
        auto window = std::make_unique<X11Window>(mConnection->link(), listener);
        if (!window->create(x, y, width, height, title)) return nullptr;
        return window;
    }
    std::unique_ptr<display::FrameMemory> createFrameMemory(int width, int height, int pitch, size_t) override {
        return mConnection ? x11::createFrameMemory(mConnection->link(), width, height, pitch) : nullptr;
    }
    void dispatchPending() override {
        if (mConnection) mConnection->dispatchQueued();
    }
    void flush() override {
        if (mConnection) mConnection->flush();
    }
    void sync() override {
        if (Display* dpy = display()) XSync(dpy, False);
    }

private:
    Display* display() const { return mConnection ? mConnection->display() : nullptr; }
    X11Window* windowWithId(::Window id) const {
        return static_cast<X11Window*>(mConnection->link()->windowWithId(id));
    }
    void route(XEvent& event) {
        const Features& f = mConnection->features();
        if (event.type == GenericEvent && event.xcookie.extension == f.xiOpcode) {
            if (XGetEventData(event.xany.display, &event.xcookie)) {
                auto* d = static_cast<XIDeviceEvent*>(event.xcookie.data);
                if (X11Window* w = windowWithId(d->event)) w->handleTouch(*d);
                XFreeEventData(event.xany.display, &event.xcookie);
            }
            return;
        }
        // A completion has done its work by being read: it told which
        // requests the server has done.
        if (f.shmCompletion >= 0 && event.type == f.shmCompletion) return;
        if (X11Window* w = windowWithId(event.xany.window)) w->handle(event);
    }

    std::unique_ptr<Connection> mConnection;
    bool mTimedOut = false;
};

}  // namespace
}  // namespace x11

std::unique_ptr<display::Backend> display::makeX11Backend() { return std::make_unique<x11::X11Backend>(); }
