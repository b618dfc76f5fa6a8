// SPDX-License-Identifier: MIT
// The Wayland backend behind the platform's display contract. EGL runs on
// Mesa's surfaceless platform; the platform reads each frame back into
// shared memory the compositor shows as it is.
#include <cstdlib>

#include "Buffers.h"
#include "Connection.h"
#include "DisplayBackend.h"
#include "Shell.h"
#include "Window.h"

namespace wl {
namespace {

class WaylandBackend final : public display::Backend {
public:
    const char* name() const override { return "wayland"; }
    bool open(display::EventLoop& loop) override { return wl::open(loop, mWhy); }
    std::string openFailure() const override {
        const char* name = std::getenv("WAYLAND_DISPLAY");
        return std::string("cannot connect to the Wayland compositor \"") + (name && *name ? name : "wayland-0") +
               "\"" + (mWhy.empty() ? "" : " (" + mWhy + ")");
    }
    void close() override {
        // Everything made on the connection goes before it does.
        detachAllWindows();
        forgetAllBuffers();
        closeShell();
        wl::close();
    }
    std::unique_ptr<display::Window> createWindow(int, int, int width, int height, const std::string& title,
                                                  display::WindowListener& listener) override {
        auto window = std::make_unique<wl::Window>(width, height, title, listener);
        if (!window->ok()) return nullptr;
        return window;
    }
    display::EglPlatform eglPlatform() const override { return display::EglPlatform::Surfaceless; }
    unsigned long createPixmap(int, int) override { return 0; }
    void freePixmap(unsigned long) override {}
    std::unique_ptr<display::FrameMemory> createFrameMemory(int width, int height, int pitch, size_t size) override {
        return wl::createFrameMemory(width, height, pitch, size);
    }
    void dispatchPending() override { wl::dispatchPending(); }
    void flush() override { wl::flush(); }
    void sync() override { roundtrip(); }

private:
    std::string mWhy;  // why open() failed, when known
};

}  // namespace
}  // namespace wl

std::unique_ptr<display::Backend> display::makeWaylandBackend() { return std::make_unique<wl::WaylandBackend>(); }
