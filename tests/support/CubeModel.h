// SPDX-License-Identifier: MIT
#pragma once

namespace e2e {

// The cube as the screen should show it, face after face in the order it is
// drawn: each face's corners at texture coordinates (0, 0), (1, 0), (1, 1)
// and (0, 1), and the colour channels it lets through.
struct Face {
    float corner[4][3];
    bool on[3];
};

inline const Face kFaces[6] = {
    {{{-1, 1, -1}, {1, 1, -1}, {1, 1, 1}, {-1, 1, 1}}, {false, true, false}},      // green
    {{{-1, -1, -1}, {1, -1, -1}, {1, -1, 1}, {-1, -1, 1}}, {true, false, true}},   // magenta
    {{{-1, -1, 1}, {1, -1, 1}, {1, 1, 1}, {-1, 1, 1}}, {false, false, true}},      // blue
    {{{-1, -1, -1}, {1, -1, -1}, {1, 1, -1}, {-1, 1, -1}}, {true, true, false}},   // yellow
    {{{1, -1, -1}, {1, 1, -1}, {1, 1, 1}, {1, -1, 1}}, {true, false, false}},      // red
    {{{-1, -1, -1}, {-1, 1, -1}, {-1, 1, 1}, {-1, -1, 1}}, {false, true, true}},   // cyan
};

}  // namespace e2e
