// SPDX-License-Identifier: MIT
#pragma once

// Turns a window's X events into what the platform knows: pointer, touch,
// key commands, close requests and exposure.

#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>

#include "DisplayBackend.h"

namespace x11 {

// Where the frame shows in a window, and whether the window is seen: what
// its input is mapped back through, and when it is drawn for.
struct Layout {
    int frameWidth = 0, frameHeight = 0;
    int width = 0, height = 0;   // the window's, which the user may change
    bool serverScales = false;   // fitted to the window (RENDER); otherwise unscaled at the top left
    bool fullscreen = false;     // at a whole scale
    bool mapped = false, obscured = false;
    display::Fit fit;            // the frame as shown

    // The frame fitted to the window's size now.
    void refit();
    // What the window's own events say of its size and visibility; true
    // when its size changed.
    bool track(const XEvent& event);
    bool visible() const { return mapped && !obscured; }
};

// A window's input: its events, in frame coordinates, to its listener.
class Input {
public:
    Input(const Layout& layout, display::WindowListener& listener) : mLayout(layout), mListener(listener) {}
    void handle(const XEvent& event);
    void handleTouch(const XIDeviceEvent& event);

private:
    void key(const XKeyEvent& event);

    const Layout& mLayout;
    display::WindowListener& mListener;
};

}  // namespace x11
