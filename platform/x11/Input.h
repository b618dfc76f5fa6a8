// SPDX-License-Identifier: MIT
#pragma once

// Turns a window's X events into what the platform knows: pointer, touch,
// key commands, close requests and exposure.

#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>

#include "DisplayBackend.h"
#include "Window.h"

namespace x11 {

// A window's input: its events, in frame coordinates, to its listener.
class Input {
public:
    Input(const WindowState& window, display::WindowListener& listener) : mWindow(window), mListener(listener) {}
    void handle(const XEvent& event);
    void handleTouch(const XIDeviceEvent& event);

private:
    void key(const XKeyEvent& event);

    const WindowState& mWindow;
    display::WindowListener& mListener;
};

}  // namespace x11
