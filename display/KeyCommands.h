// SPDX-License-Identifier: MIT
#pragma once

// The keys small GL demos answer to, the same on every window system. Keysyms
// are the X and xkbcommon values, read from the active group and level.

#include <cstdint>

namespace display {

enum class KeyCommand { Nothing, Quit, ToggleFullscreen };

struct KeyModifiers {
    bool control = false;
    // Alt, Super, AltGr and the like: a combination that means something to
    // the desktop, never to the demo. Shift and the lock keys do not count.
    bool other = false;
};

KeyCommand commandForKey(uint32_t keysym, KeyModifiers modifiers);
class WindowListener;
// The key's command, told to the window's listener.
void keyPressed(uint32_t keysym, KeyModifiers modifiers, WindowListener& listener);

}  // namespace display
