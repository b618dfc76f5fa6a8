// SPDX-License-Identifier: MIT
#include "Input.h"

#include <linux/input-event-codes.h>
#include <sys/mman.h>
#include <unistd.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "KeyCommands.h"

namespace wl {
namespace {

std::vector<std::pair<wl_surface*, InputTarget*>> gSurfaces;

InputTarget* targetOf(wl_surface* surface) {
    for (auto& [s, t] : gSurfaces)
        if (s == surface) return t;
    return nullptr;
}

struct Pointer {
    wl_pointer* proxy = nullptr;
    wl_surface* surface = nullptr;  // under the pointer, if one of ours
    double x = 0, y = 0;            // surface-local
    unsigned held = 0;              // display::kHeld bits
} gPointer;

struct Keyboard {
    wl_keyboard* proxy = nullptr;
    wl_surface* surface = nullptr;
    xkb_context* context = nullptr;
    xkb_keymap* keymap = nullptr;
    xkb_state* state = nullptr;
} gKeyboard;

struct Finger {
    int id;
    wl_surface* surface;
    double x, y;  // surface-local
};
struct Touch {
    wl_touch* proxy = nullptr;
    std::vector<Finger> fingers;
} gTouch;

bool inFrame(wl_surface* surface, double& x, double& y, InputTarget*& target) {
    target = targetOf(surface);
    if (!target) return false;
    target->toFrame(surface, x, y);
    return true;
}

// --- pointer

int buttonNumber(uint32_t code) {
    switch (code) {
    case BTN_LEFT: return 1;
    case BTN_MIDDLE: return 2;
    case BTN_RIGHT: return 3;
    default: return 0;
    }
}

void pointerEnter(void*, wl_pointer*, uint32_t, wl_surface* surface, wl_fixed_t x, wl_fixed_t y) {
    gPointer.surface = targetOf(surface) ? surface : nullptr;
    gPointer.x = wl_fixed_to_double(x);
    gPointer.y = wl_fixed_to_double(y);
}

void pointerLeave(void*, wl_pointer*, uint32_t, wl_surface*) { gPointer.surface = nullptr; }

void pointerMotion(void*, wl_pointer*, uint32_t, wl_fixed_t x, wl_fixed_t y) {
    gPointer.x = wl_fixed_to_double(x);
    gPointer.y = wl_fixed_to_double(y);
    double fx = gPointer.x, fy = gPointer.y;
    InputTarget* target = nullptr;
    if (gPointer.held && inFrame(gPointer.surface, fx, fy, target)) target->listener().windowMotion(fx, fy, gPointer.held);
}

void pointerButton(void*, wl_pointer*, uint32_t, uint32_t time, uint32_t code, uint32_t state) {
    int button = buttonNumber(code);
    if (!button) return;
    unsigned before = gPointer.held;
    bool pressed = state == WL_POINTER_BUTTON_STATE_PRESSED;
    if (pressed)
        gPointer.held |= display::kHeld[button - 1];
    else
        gPointer.held &= ~display::kHeld[button - 1];
    double x = gPointer.x, y = gPointer.y;
    InputTarget* target = nullptr;
    if (inFrame(gPointer.surface, x, y, target)) target->listener().windowButton(button, pressed, x, y, time, before);
}

void pointerAxis(void*, wl_pointer*, uint32_t, uint32_t, wl_fixed_t) {}
void pointerFrame(void*, wl_pointer*) {}
void pointerAxisSource(void*, wl_pointer*, uint32_t) {}
void pointerAxisStop(void*, wl_pointer*, uint32_t, uint32_t) {}
void pointerAxisDiscrete(void*, wl_pointer*, uint32_t, int32_t) {}

// Newer protocol versions add members; those stay null (never sent at the
// version bound).
const wl_pointer_listener kPointerListener = [] {
    wl_pointer_listener l{};
    l.enter = pointerEnter;
    l.leave = pointerLeave;
    l.motion = pointerMotion;
    l.button = pointerButton;
    l.axis = pointerAxis;
    l.frame = pointerFrame;
    l.axis_source = pointerAxisSource;
    l.axis_stop = pointerAxisStop;
    l.axis_discrete = pointerAxisDiscrete;
    return l;
}();

// --- keyboard

void dropKeymap() {
    if (gKeyboard.state) xkb_state_unref(gKeyboard.state);
    if (gKeyboard.keymap) xkb_keymap_unref(gKeyboard.keymap);
    gKeyboard.state = nullptr;
    gKeyboard.keymap = nullptr;
}

void keymap(void*, wl_keyboard*, uint32_t format, int32_t fd, uint32_t size) {
    dropKeymap();
    if (format == WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1 && gKeyboard.context) {
        void* text = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
        if (text != MAP_FAILED) {
            gKeyboard.keymap = xkb_keymap_new_from_string(gKeyboard.context, static_cast<const char*>(text),
                                                          XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS);
            munmap(text, size);
        }
        if (gKeyboard.keymap) gKeyboard.state = xkb_state_new(gKeyboard.keymap);
    }
    ::close(fd);
}

void keyboardEnter(void*, wl_keyboard*, uint32_t, wl_surface* surface, wl_array*) { gKeyboard.surface = surface; }

void keyboardLeave(void*, wl_keyboard*, uint32_t, wl_surface*) { gKeyboard.surface = nullptr; }

bool active(const char* modifier) {
    return xkb_state_mod_name_is_active(gKeyboard.state, modifier, XKB_STATE_MODS_EFFECTIVE) > 0;
}

void key(void*, wl_keyboard*, uint32_t, uint32_t, uint32_t code, uint32_t state) {
    InputTarget* target = targetOf(gKeyboard.surface);
    if (!target || !gKeyboard.state || state != WL_KEYBOARD_KEY_STATE_PRESSED) return;
    // The keysym of the active group and level, so that q is q on any layout.
    xkb_keysym_t sym = xkb_state_key_get_one_sym(gKeyboard.state, code + 8);
    display::KeyModifiers m;
    m.control = active(XKB_MOD_NAME_CTRL);
    m.other = active(XKB_MOD_NAME_ALT) || active(XKB_MOD_NAME_LOGO) || active("Mod3") || active("Mod5");
    switch (display::commandForKey(sym, m)) {
    case display::KeyCommand::Quit: target->listener().windowCloseRequested(); break;
    case display::KeyCommand::ToggleFullscreen: target->listener().windowFullscreenToggled(); break;
    case display::KeyCommand::Nothing: break;
    }
}

void modifiers(void*, wl_keyboard*, uint32_t, uint32_t depressed, uint32_t latched, uint32_t locked,
               uint32_t group) {
    if (gKeyboard.state) xkb_state_update_mask(gKeyboard.state, depressed, latched, locked, 0, 0, group);
}

void repeatInfo(void*, wl_keyboard*, int32_t, int32_t) {}

const wl_keyboard_listener kKeyboardListener = {keymap, keyboardEnter, keyboardLeave, key, modifiers, repeatInfo};

// --- touch

Finger* finger(int id) {
    for (Finger& f : gTouch.fingers)
        if (f.id == id) return &f;
    return nullptr;
}

void touchAt(display::Touch phase, const Finger& f, uint32_t time) {
    double x = f.x, y = f.y;
    InputTarget* target = nullptr;
    if (inFrame(f.surface, x, y, target)) target->listener().windowTouch(phase, f.id, x, y, time);
}

void touchDown(void*, wl_touch*, uint32_t, uint32_t time, wl_surface* surface, int32_t id, wl_fixed_t x,
               wl_fixed_t y) {
    if (finger(id) || !targetOf(surface)) return;
    gTouch.fingers.push_back({id, surface, wl_fixed_to_double(x), wl_fixed_to_double(y)});
    touchAt(display::Touch::Begin, gTouch.fingers.back(), time);
}

void touchUp(void*, wl_touch*, uint32_t, uint32_t time, int32_t id) {
    Finger* f = finger(id);
    if (!f) return;
    Finger gone = *f;
    gTouch.fingers.erase(gTouch.fingers.begin() + (f - gTouch.fingers.data()));
    touchAt(display::Touch::End, gone, time);
}

void touchMotion(void*, wl_touch*, uint32_t time, int32_t id, wl_fixed_t x, wl_fixed_t y) {
    Finger* f = finger(id);
    if (!f) return;
    f->x = wl_fixed_to_double(x);
    f->y = wl_fixed_to_double(y);
    touchAt(display::Touch::Update, *f, time);
}

void touchFrame(void*, wl_touch*) {}

// The compositor took the touches (a gesture of its own): each finger ends.
void touchCancel(void*, wl_touch*) {
    std::vector<Finger> fingers;
    fingers.swap(gTouch.fingers);
    for (const Finger& f : fingers) touchAt(display::Touch::End, f, 0);
}

void touchShape(void*, wl_touch*, int32_t, wl_fixed_t, wl_fixed_t) {}
void touchOrientation(void*, wl_touch*, int32_t, wl_fixed_t) {}

const wl_touch_listener kTouchListener = {touchDown,  touchUp,    touchMotion,     touchFrame,
                                          touchCancel, touchShape, touchOrientation};

// --- seat

// Seats before version 3 have no release request.
template <class Device>
void letGo(Device* device, void (*release)(Device*), void (*destroy)(Device*)) {
    if (wl_proxy_get_version(reinterpret_cast<wl_proxy*>(device)) >= 3)
        release(device);
    else
        destroy(device);
}

void releaseDevices(bool pointer, bool keyboard, bool touch) {
    if (pointer && gPointer.proxy) {
        letGo(gPointer.proxy, wl_pointer_release, wl_pointer_destroy);
        gPointer = Pointer{};
    }
    if (keyboard && gKeyboard.proxy) {
        letGo(gKeyboard.proxy, wl_keyboard_release, wl_keyboard_destroy);
        gKeyboard.proxy = nullptr;
        gKeyboard.surface = nullptr;
        dropKeymap();
    }
    if (touch && gTouch.proxy) {
        letGo(gTouch.proxy, wl_touch_release, wl_touch_destroy);
        gTouch = Touch{};
    }
}

void capabilities(void*, wl_seat* seat, uint32_t caps) {
    bool pointer = caps & WL_SEAT_CAPABILITY_POINTER, keyboard = caps & WL_SEAT_CAPABILITY_KEYBOARD,
         touch = caps & WL_SEAT_CAPABILITY_TOUCH;
    releaseDevices(!pointer, !keyboard, !touch);
    if (pointer && !gPointer.proxy) {
        gPointer.proxy = wl_seat_get_pointer(seat);
        wl_pointer_add_listener(gPointer.proxy, &kPointerListener, nullptr);
    }
    if (keyboard && !gKeyboard.proxy) {
        gKeyboard.proxy = wl_seat_get_keyboard(seat);
        wl_keyboard_add_listener(gKeyboard.proxy, &kKeyboardListener, nullptr);
    }
    if (touch && !gTouch.proxy) {
        gTouch.proxy = wl_seat_get_touch(seat);
        wl_touch_add_listener(gTouch.proxy, &kTouchListener, nullptr);
    }
}

void seatName(void*, wl_seat*, const char*) {}
const wl_seat_listener kSeatListener = {capabilities, seatName};

}  // namespace

void addInputSurface(wl_surface* surface, InputTarget* target) { gSurfaces.emplace_back(surface, target); }

void removeInputTarget(InputTarget* target) {
    std::erase_if(gSurfaces, [target](const auto& entry) { return entry.second == target; });
    // Nothing may reach a window that is gone.
    if (!targetOf(gPointer.surface)) gPointer.surface = nullptr;
    if (!targetOf(gKeyboard.surface)) gKeyboard.surface = nullptr;
    std::erase_if(gTouch.fingers, [](const Finger& f) { return !targetOf(f.surface); });
}

void watchSeat(wl_seat* seat) {
    if (!gKeyboard.context) gKeyboard.context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    wl_seat_add_listener(seat, &kSeatListener, nullptr);
}

void forgetSeat() {
    releaseDevices(true, true, true);
    if (gKeyboard.context) xkb_context_unref(gKeyboard.context);
    gKeyboard = Keyboard{};
}

}  // namespace wl
