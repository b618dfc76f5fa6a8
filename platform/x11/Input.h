// SPDX-License-Identifier: MIT
#pragma once

// Turns a window's X events into what the platform knows: pointer, touch,
// key commands, close requests, exposure, size and visibility.

#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>

#include "DisplayBackend.h"
#include "Window.h"

namespace x11 {

void translate(WindowState& window, const XEvent& event, display::WindowListener& listener);
void translateTouch(WindowState& window, const XIDeviceEvent& event, display::WindowListener& listener);

}  // namespace x11
