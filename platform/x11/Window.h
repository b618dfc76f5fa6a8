// SPDX-License-Identifier: MIT
#pragma once

// The X backend's windows: creation, the properties window managers read,
// visibility and size.

#include <X11/Xlib.h>
#include <X11/extensions/Xrender.h>

#include <cstdint>
#include <string>
#include <vector>

#include "Connection.h"
#include "Image.h"
#include "WindowGeometry.h"

namespace x11 {

struct Window {
    std::shared_ptr<Link> link;  // null: not made on a connection
    ::Window id = 0;
    int width = 0;  // the frame's size
    int height = 0;
    int firstScale = 1;   // of the window's first size
    int windowWidth = 0;  // the window's, which the user may change
    int windowHeight = 0;
    display::Fit fit;
    int depth = 0;
    int bytesPerPixel = 0;  // 0: frames cannot be shown (not a TrueColor visual)
    bool native565 = false; // the window takes 5-6-5 rows as they are
    bool mapped = false;
    bool obscured = false;
    bool fullscreen = false;
    int restoreX = 0, restoreY = 0;  // where it was before full screen, with no window manager
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

// The connection the window was made on, while it is open; null otherwise.
Display* displayOf(const Window& window);
const Features* featuresOf(const Window& window);

bool createWindow(const std::shared_ptr<Link>& link, Window& window, int x, int y, int width, int height,
                  const std::string& title);
void destroyWindow(Window& window);
void mapWindow(Window& window, bool shown);
void raiseWindow(Window& window);
// _NET_WM_ICON: what window managers show in task bars and switchers.
void setIcon(Window& window, const std::vector<uint32_t>& argb, int width, int height);
// Through the window manager where there is one; otherwise the window covers
// the screen itself, and goes back to its size on leaving.
void setFullscreen(Window& window, bool fullscreen);
// Keeps `mapped` and `obscured` up to date from the window's own events.
void trackVisibility(Window& window, const XEvent& event);
bool isVisible(const Window& window);
// The window's new size (from ConfigureNotify): the frame is fitted anew.
void resized(Window& window, int width, int height);
// Where the frame is shown: fitted where the server scales, else unscaled at
// the top left.
display::Fit shownFit(const Window& window);

// Presentation (Present.cpp).
// Sets up what showing frames needs once the window exists.
void preparePresentation(Window& window);
// Tells the server how the frame is scaled into the window now.
void applyFit(Window& window);
// Draws the frame at (x, y) in the window, converted to its format (15, 16,
// 24 or 30 bits); from `shared`, the image its pixels are in, as it is where
// the window is 5-6-5.
void putImage565(Window& window, const display::Frame& frame, Image* shared, int x, int y);
// Shows what the puts since the last present drew, scaled to the window.
void present(Window& window);

}  // namespace x11
