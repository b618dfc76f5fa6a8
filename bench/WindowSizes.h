// SPDX-License-Identifier: MIT
#pragma once

// How the display server's work grows with the window the frame is shown
// in: the demo's 320 x 480 frame at 1x, at 2x (the desktop's scale of 2) and
// full screen, on screens of 1920 x 1080 and 3840 x 2160 and on one of the
// frame's own size, on a 16-bit Xvfb and a headless weston; and at 1x and
// full screen on 1920 x 1080 Xvfb screens of 24 and 30 bits.

namespace bench {

// --window-sizes: `rounds` rounds; prints the table.
int runWindowSizes(int rounds);

}  // namespace bench
