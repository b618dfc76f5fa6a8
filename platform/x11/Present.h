// SPDX-License-Identifier: MIT
#pragma once

// Showing 5-6-5 frames in an X window: converted to the window's format in
// memory the server reads, scaled by the server (RENDER) where the window is
// not the frame's size.

#include "DisplayBackend.h"
#include "Image.h"
#include "Window.h"

namespace x11 {

// Sets up what showing frames needs once the window exists.
void preparePresentation(WindowState& window);
// Tells the server how the frame is scaled into the window now.
void applyFit(WindowState& window);
// Draws the frame at (x, y) in the window, converted to its format (15, 16,
// 24 or 30 bits); from `shared`, the image its pixels are in, as it is where
// the window is 5-6-5.
void putImage565(WindowState& window, const display::Frame& frame, Image* shared, int x, int y);
// Shows what the puts since the last present drew, scaled to the window.
void present(WindowState& window);

}  // namespace x11
