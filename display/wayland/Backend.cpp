// SPDX-License-Identifier: MIT
// The Wayland backend behind the platform's display contract. EGL runs on
// Mesa's surfaceless platform; the platform reads each frame back into
// shared memory the compositor shows as it is.

#include "Connection.h"
#include "DisplayBackend.h"
#include "Window.h"

namespace wl {
namespace {

class WaylandBackend final : public display::Backend {
public:
    const char* name() const override { return "wayland"; }
    bool open(display::EventLoop& loop) override {
        if (!mConnection) mConnection = Connection::open(loop, mWhy);
        return mConnection != nullptr;
    }
    std::string openFailure() const override {
        return std::string("cannot connect to the Wayland compositor \"") + socketName() + "\"" +
               (mWhy.empty() ? "" : " (" + mWhy + ")");
    }
    std::unique_ptr<display::Window> createWindow(int, int, int width, int height, const std::string& title,
                                                  display::WindowListener& listener) override {
        if (!mConnection) return nullptr;
        auto window = std::make_unique<wl::Window>(*mConnection, width, height, title, listener);
        if (!window->ok()) return nullptr;
        return window;
    }
    void dispatchPending() override {
        if (mConnection) mConnection->dispatchPending();
    }
    void flush() override {
        if (mConnection) mConnection->flush();
    }
    void sync() override {
        if (mConnection) mConnection->roundtrip();
    }

private:
    std::unique_ptr<Connection> mConnection;
    std::string mWhy;  // why open() failed, when known
};

}  // namespace
}  // namespace wl

std::unique_ptr<display::Backend> display::makeWaylandBackend() { return std::make_unique<wl::WaylandBackend>(); }
