// SPDX-License-Identifier: MIT
#include "KeyCommands.h"

#include "DisplayBackend.h"

namespace display {
namespace {
constexpr uint32_t kEscape = 0xff1b, kLowerQ = 0x71, kUpperQ = 0x51, kF11 = 0xffc8;
}

KeyCommand commandForKey(uint32_t keysym, KeyModifiers m) {
    if (m.other) return KeyCommand::Nothing;
    if (keysym == kF11 && !m.control) return KeyCommand::ToggleFullscreen;
    bool q = keysym == kLowerQ || keysym == kUpperQ;
    if (m.control) return q ? KeyCommand::Quit : KeyCommand::Nothing;
    return q || keysym == kEscape ? KeyCommand::Quit : KeyCommand::Nothing;
}

void keyPressed(uint32_t keysym, KeyModifiers modifiers, WindowListener& listener) {
    switch (commandForKey(keysym, modifiers)) {
    case KeyCommand::Quit: listener.windowCloseRequested(); break;
    case KeyCommand::ToggleFullscreen: listener.windowFullscreenToggled(); break;
    case KeyCommand::Nothing: break;
    }
}

}  // namespace display
