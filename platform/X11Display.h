// SPDX-License-Identifier: MIT
#pragma once

// The platform's one X connection (internal to the platform layer).

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xrender.h>

#include <cstdint>
#include <string>
#include <vector>

namespace x11 {

// Opens the display named by $DISPLAY (or `name`), installs error handlers
// that report and carry on, and serves its events on the main run loop.
bool open(const char* name = nullptr);
void close();
Display* display();  // null when not open
bool lost();         // the connection broke

// What an X event means to the window system; set by the window layer.
using EventHandler = void (*)(const XEvent&);
void setEventHandler(EventHandler handler);

// Touch input (XInput 2.2), where the server has it.
enum class Touch { Begin, Update, End };
using TouchHandler = void (*)(::Window window, Touch phase, int id, double x, double y,
                              unsigned long timeMs);
void setTouchHandler(TouchHandler handler);

// The number of protocol errors reported so far (they do not end the process).
int errorCount();

// Pixel memory that the server reads straight from shared memory (MIT-SHM)
// where it can, and over the connection otherwise.
struct Image {
    char* memory = nullptr;
    int pitch = 0;
    XImage* ximage = nullptr;
    XShmSegmentInfo shm{};
    bool shared = false;
    bool busy = false;  // the server may still be reading it
};

// Where a frame shows in a window: as large as fits with its aspect kept,
// centred, the rest black.
struct Fit {
    double scale = 1;
    int x = 0, y = 0, width = 0, height = 0;
};
Fit fitFrame(int frameWidth, int frameHeight, int windowWidth, int windowHeight);
// A window position in frame coordinates (beyond the frame's edges outside it).
void toFrame(const Fit& fit, double& x, double& y);
// The whole scale the first window takes on a screen of this many dots per
// inch (0: not known).
int scaleForDpi(double dpi);

struct Window {
    ::Window id = 0;
    int width = 0;  // the frame's size
    int height = 0;
    int windowWidth = 0;  // the window's, which the user may change
    int windowHeight = 0;
    Fit fit;
    int depth = 0;
    int bytesPerPixel = 0;  // 0: frames cannot be shown (not a TrueColor visual)
    bool native565 = false; // the window takes 5-6-5 rows as they are
    bool mapped = false;
    bool obscured = false;
    Visual* visual = nullptr;
    GC gc = nullptr;
    // What the server shows from, in the window's format: two, so that a
    // frame never waits for the server to read the one before, and neither is
    // a surface buffer, so that drawing never waits for the server at all.
    Image staging[2];
    int next = 0;
    // Scaled frames: put here, then drawn into the window by the server.
    Pixmap frame = 0;
    Picture framePicture = 0;
    Picture windowPicture = 0;
    // For other formats: one converted row, and each 5-6-5 channel value in
    // the window's format.
    std::vector<uint32_t> row;
    uint32_t red[32] = {}, green[64] = {}, blue[32] = {};
};

bool createWindow(Window& window, int x, int y, int width, int height, const std::string& title);
void destroyWindow(Window& window);
void mapWindow(Window& window, bool shown);
// Keeps `mapped` and `obscured` up to date from the window's own events.
void trackVisibility(Window& window, const XEvent& event);
// The window's new size (from ConfigureNotify): the frame is fitted anew.
void resized(Window& window, int width, int height);
bool isVisible(const Window& window);
void raiseWindow(Window& window);
// Draws 5-6-5 pixels (top row first) at (x, y) in the window, converted to
// its format (15, 16, 24 or 30 bits).
void putImage565(Window& window, const uint8_t* pixels, int width, int height, int pitch, int x, int y);
// Shows what the puts since the last present drew, scaled to the window.
void present(Window& window);
void flush();
// Hands events that Xlib has already read to the handler (no I/O).
void dispatchQueued();

}  // namespace x11
