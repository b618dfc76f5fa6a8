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

struct WindowState {
    std::shared_ptr<Link> link;  // null: not made on a connection
    ::Window id = 0;
    int width = 0, height = 0;  // the frame's size
    int firstScale = 1;   // of the window's first size
    int windowWidth = 0, windowHeight = 0;  // the window's, which the user may change
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
Display* displayOf(const WindowState& window);

bool createWindow(const std::shared_ptr<Link>& link, WindowState& window, int x, int y, int width, int height,
                  const std::string& title);
void destroyWindow(WindowState& window);
// _NET_WM_ICON: what window managers show in task bars and switchers.
void setIcon(WindowState& window, const std::vector<uint32_t>& argb, int width, int height);
// Through the window manager where there is one; otherwise the window covers
// the screen itself, and goes back to its size on leaving.
void setFullscreen(WindowState& window, bool fullscreen);
// Keeps `mapped` and `obscured` up to date from the window's own events.
void trackVisibility(WindowState& window, const XEvent& event);
bool isVisible(const WindowState& window);
// The window's new size (from ConfigureNotify): the frame is fitted anew.
void resized(WindowState& window, int width, int height);
// Where the frame is shown: fitted where the server scales, else unscaled at
// the top left.
display::Fit shownFit(const WindowState& window);

}  // namespace x11
