// SPDX-License-Identifier: MIT
// The X backend behind the display contract: a connection and its windows.
#include <cstdlib>

#include "Connection.h"
#include "DisplayBackend.h"
#include "Window.h"

namespace x11 {
namespace {

class X11Backend final : public display::Backend {
public:
    const char* name() const override { return "x11"; }
    bool open(display::EventLoop& loop) override {
        if (!mConnection) mConnection = Connection::open(loop, mTimedOut);
        return mConnection != nullptr;
    }
    std::string openFailure() const override {
        const char* name = std::getenv("DISPLAY");
        if (!name || !*name) return "no X display (DISPLAY is not set)";
        return std::string("cannot open display \"") + name + "\"" + (mTimedOut ? " (no answer within 3 s)" : "");
    }
    std::unique_ptr<display::Window> createWindow(int x, int y, int width, int height, const std::string& title,
                                                  display::WindowListener& listener) override {
        if (!mConnection) return nullptr;
        auto window = std::make_unique<Window>(*mConnection, listener);
        if (!window->create(x, y, width, height, title)) return nullptr;
        return window;
    }
    void dispatchPending() override {
        if (mConnection) mConnection->dispatchQueued();
    }
    void flush() override {
        if (mConnection) mConnection->flush();
    }
    void sync() override {
        if (Display* dpy = mConnection ? mConnection->display() : nullptr) XSync(dpy, False);
    }

private:
    std::unique_ptr<Connection> mConnection;
    bool mTimedOut = false;
};

}  // namespace
}  // namespace x11

std::unique_ptr<display::Backend> display::makeX11Backend() { return std::make_unique<x11::X11Backend>(); }
