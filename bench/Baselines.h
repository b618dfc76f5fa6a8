// SPDX-License-Identifier: MIT
#pragma once

// The baselines as programs of their own, drawing at the demo's pace until
// they are ended: bare GL into a pbuffer (--bare-paced), or a plain EGL
// program's window on X (--plain-window) or on Wayland (--plain-wayland).

namespace bench {

enum class Plain { Pbuffer, XWindow, Wayland };

// `frames` frames at the demo's pace, or for ever (0); the exit status.
int runPlainProgram(Plain kind, long frames);

}  // namespace bench
