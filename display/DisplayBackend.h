// SPDX-License-Identifier: MIT
#pragma once

// The one contract between the platform and a window system. A backend
// connects, serves its events on the main run loop, makes windows that show
// 5-6-5 frames, and turns the window system's input into the pointer, touch
// and key events below. Nothing above it sees a backend's types.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "WindowGeometry.h"

namespace display {

// The pointer buttons held (left, middle, right), as a mask of these bits;
// each backend converts its window system's own.
constexpr unsigned kHeld[3] = {1u << 0, 1u << 1, 1u << 2};

// The main loop, as a backend sees it: its connection's descriptor served
// when readable, and a stop when the connection is lost.
class EventLoop {
public:
    // `wakes`: whether the descriptor wakes the loop for itself while a
    // frame is due soon (otherwise it is read on each pass). A token for
    // removeSource.
    virtual int addInputSource(int fd, std::function<void()> readable, bool wakes) = 0;
    virtual void removeSource(int token) = 0;
    // Ends the run with this status.
    virtual void stop(int status) = 0;

protected:
    ~EventLoop() = default;
};

enum class Touch { Begin, Update, End };

// What a window tells its owner. Positions are in frame coordinates.
class WindowListener {
public:
    // Shows the last frame again (the window system lost its copy).
    virtual void windowExposed() = 0;
    // The close button, or a key that closes small GL demos.
    virtual void windowCloseRequested() = 0;
    // The key that toggles full screen (F11).
    virtual void windowFullscreenToggled() = 0;
    // Buttons 1-3 are left, middle and right; `held` the buttons down before
    // this event, in kHeld bits.
    virtual void windowButton(int button, bool pressed, double x, double y, unsigned long timeMs,
                              unsigned held) = 0;
    virtual void windowMotion(double x, double y, unsigned held) = 0;
    virtual void windowTouch(Touch phase, int id, double x, double y, unsigned long timeMs) = 0;

protected:
    ~WindowListener() = default;
};

// A surface buffer's pixel memory, lent by the window that shows the buffer:
// memory the window system reads as it is, so that a frame read back into
// it is shown without a copy.
class FrameMemory {
public:
    virtual ~FrameMemory() = default;
    virtual uint8_t* pixels() = 0;
    // Memory that nobody else reads until the next present, holding what
    // pixels() held when `keep` is set; it may be other memory than before.
    virtual uint8_t* forWriting(bool keep) = 0;
};

// A frame to show: 5-6-5 rows, top row first, and the memory they are in
// when it is memory the window lent.
struct Frame {
    const uint8_t* pixels = nullptr;
    int width = 0, height = 0, pitch = 0;
    const FrameMemory* memory = nullptr;
};

// What a window does by default is what a window with no display does:
// nothing, and it always wants a frame.
class Window {
public:
    virtual ~Window() = default;
    virtual void setShown(bool /*shown*/) {}
    virtual void raise() {}
    // The frame fitted to the whole screen, black around it, or back.
    virtual void setFullscreen(bool /*fullscreen*/) {}
    // Shown, not fully covered, and ready for a frame: drawing now is seen.
    virtual bool wantsFrame() const { return true; }
    // Memory for the frames of a buffer of this size that the window shows
    // as it is; null: the buffer's own memory will do.
    virtual std::shared_ptr<FrameMemory> lendFrameMemory(int /*width*/, int /*height*/, int /*pitch*/) {
        return nullptr;
    }
    // The frame's rows at (x, y) of the window's frame.
    virtual void put(const Frame& /*frame*/, int /*x*/, int /*y*/) {}
    // Shows what the puts since the last present drew.
    virtual void present() {}
    // Frames the window system has said it showed (or has done with) so far.
    virtual long framesPresented() const { return 0; }
    // The program's icon for the desktop's task bar: ARGB, top row first.
    // Where the desktop finds it by the program's name, nothing is done.
    virtual void setIcon(const std::vector<uint32_t>& /*argb*/, int /*width*/, int /*height*/) {}
};

// What a backend does by default is what one with no window system does.
class Backend {
public:
    virtual ~Backend() = default;
    // "x11", "wayland"...
    virtual const char* name() const = 0;
    // Connects and serves the connection on `loop` until the backend goes.
    virtual bool open(EventLoop& loop) = 0;
    // The one line that says why open() failed.
    virtual std::string openFailure() const { return {}; }
    // Null when the window system refuses the window.
    virtual std::unique_ptr<Window> createWindow(int x, int y, int width, int height, const std::string& title,
                                                 WindowListener& listener) = 0;
    // Reads what the window system has sent, without waiting, and hands it
    // to the windows.
    virtual void dispatchPending() {}
    // Sends what was asked of the window system.
    virtual void flush() {}
    // Waits until the window system has done everything asked of it.
    virtual void sync() {}
};

// No display at all, or the backend the environment names: the one
// ORVANEL_BACKEND (x11 or wayland) names, or else the first that opens of the
// compositor WAYLAND_DISPLAY names, the X display DISPLAY names and the
// compositor's default socket. Null, with one line naming what was tried in
// `error`, when none opens.
std::unique_ptr<Backend> openBackend(EventLoop& loop, bool offscreen, std::string& error);

std::unique_ptr<Backend> makeX11Backend();
std::unique_ptr<Backend> makeWaylandBackend();
std::unique_ptr<Backend> makeOffscreenBackend();

}  // namespace display
