// SPDX-License-Identifier: MIT
#pragma once

// Where a frame shows in a window of any size, the same on every window system.

namespace display {

// As large as fits with its aspect kept, centred, the rest black.
struct Fit {
    double scale = 1;
    int x = 0, y = 0, width = 0, height = 0;
};
Fit fitFrame(int frameWidth, int frameHeight, int windowWidth, int windowHeight);
// The same at the largest whole scale that fits, so that each pixel is an
// exact block; as large as fits where not even the frame's own size does.
Fit fitWhole(int frameWidth, int frameHeight, int windowWidth, int windowHeight);
// The frame shown unscaled at the top left (a window system that cannot scale).
Fit unscaled(int frameWidth, int frameHeight);
// A window position in frame coordinates (beyond the frame's edges outside it).
void toFrame(const Fit& fit, double& x, double& y);
// The whole scale the first window takes on a screen of this many dots per
// inch (0: not known): the largest at most dpi / 96 whose window fits the
// screen (a screen size of 0: not known), and 1 when none does.
int scaleForDpi(double dpi, int frameWidth = 0, int frameHeight = 0, int screenWidth = 0, int screenHeight = 0);

}  // namespace display
