// SPDX-License-Identifier: MIT
// No display at all: windows that show nothing and always want a frame, EGL
// on Mesa's surfaceless platform. The frames stay in the surface buffers
// (for a screenshot at the end).
#include "DisplayBackend.h"

namespace {

// The contract's defaults are this backend's behaviour.
class OffscreenWindow final : public display::Window {};

class OffscreenBackend final : public display::Backend {
public:
    const char* name() const override { return "offscreen"; }
    bool open(display::EventLoop&) override { return true; }
    std::unique_ptr<display::Window> createWindow(int, int, int, int, const std::string&,
                                                  display::WindowListener&) override {
        return std::make_unique<OffscreenWindow>();
    }
};

}  // namespace

std::unique_ptr<display::Backend> display::makeOffscreenBackend() { return std::make_unique<OffscreenBackend>(); }
