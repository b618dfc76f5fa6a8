// SPDX-License-Identifier: MIT
// No display at all: windows that show nothing and always want a frame, EGL
// on Mesa's surfaceless platform. The frames stay in the surface buffers
// (for a screenshot at the end).
#include "DisplayBackend.h"

namespace {

class OffscreenWindow final : public display::Window {
public:
    void setShown(bool) override {}
    void raise() override {}
    void setFullscreen(bool) override {}
    bool wantsFrame() const override { return true; }
    void put(const display::Frame&, int, int) override {}
    void present() override {}
};

class OffscreenBackend final : public display::Backend {
public:
    const char* name() const override { return "offscreen"; }
    bool open(display::EventLoop&) override { return true; }
    std::string openFailure() const override { return {}; }
    void close() override {}
    std::unique_ptr<display::Window> createWindow(int, int, int, int, const std::string&,
                                                  display::WindowListener&) override {
        return std::make_unique<OffscreenWindow>();
    }
    display::EglPlatform eglPlatform() const override { return display::EglPlatform::Surfaceless; }
    unsigned long createPixmap(int, int) override { return 0; }
    void freePixmap(unsigned long) override {}
    std::unique_ptr<display::FrameMemory> createFrameMemory(int, int, int, size_t) override { return nullptr; }
    void dispatchPending() override {}
    void flush() override {}
    void sync() override {}
};

}  // namespace

std::unique_ptr<display::Backend> display::makeOffscreenBackend() { return std::make_unique<OffscreenBackend>(); }
