// SPDX-License-Identifier: MIT
#include "Input.h"

#include <linux/input-event-codes.h>
#include <sys/mman.h>
#include <unistd.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <map>
#include <utility>
#include <vector>

#include "Connection.h"
#include "KeyCommands.h"

namespace wl {
namespace {

struct Pointer {
    wl_pointer* proxy = nullptr;
    wl_surface* surface = nullptr;  // under the pointer, if one of ours
    double x = 0, y = 0;            // surface-local
    unsigned held = 0;              // display::kHeld bits
};

template <auto Unref>
struct Deleter {
    void operator()(auto* object) const { Unref(object); }
};

struct Keyboard {
    wl_keyboard* proxy = nullptr;
    InputTarget* target = nullptr;  // the window with the focus
    // The state goes before the keymap it was made from.
    std::unique_ptr<xkb_keymap, Deleter<xkb_keymap_unref>> keymap;
    std::unique_ptr<xkb_state, Deleter<xkb_state_unref>> state;
};

struct Finger {
    int id;
    wl_surface* surface;
    double x, y;  // surface-local
};
struct Touch {
    wl_touch* proxy = nullptr;
    std::vector<Finger> fingers;
};

}  // namespace

// Each listener's data.
struct Seat::State {
    std::map<wl_surface*, InputTarget*> surfaces;
    std::unique_ptr<xkb_context, Deleter<xkb_context_unref>> xkb{xkb_context_new(XKB_CONTEXT_NO_FLAGS)};
    Pointer pointer;
    Keyboard keyboard;
    Touch touch;

    InputTarget* targetOf(wl_surface* surface) const {
        auto found = surfaces.find(surface);
        return found == surfaces.end() ? nullptr : found->second;
    }
    // The window whose surface it is, with (x, y) made frame coordinates.
    InputTarget* inFrame(wl_surface* surface, double& x, double& y) const {
        InputTarget* target = targetOf(surface);
        if (target) target->toFrame(x, y);
        return target;
    }
};

namespace {
using State = Seat::State;
State& of(void* data) { return *static_cast<State*>(data); }

// --- pointer

// Buttons 1-3 by their codes, which run BTN_LEFT, BTN_RIGHT, BTN_MIDDLE; 0 for
// any other.
int buttonNumber(uint32_t code) {
    constexpr int kNumbers[] = {1, 3, 2};
    return code >= BTN_LEFT && code <= BTN_MIDDLE ? kNumbers[code - BTN_LEFT] : 0;
}

void pointerEnter(void* data, wl_pointer*, uint32_t, wl_surface* surface, wl_fixed_t x, wl_fixed_t y) {
    State& s = of(data);
    s.pointer.surface = s.targetOf(surface) ? surface : nullptr;
    s.pointer.x = wl_fixed_to_double(x);
    s.pointer.y = wl_fixed_to_double(y);
}

void pointerLeave(void* data, wl_pointer*, uint32_t, wl_surface*) { of(data).pointer.surface = nullptr; }

void pointerMotion(void* data, wl_pointer*, uint32_t, wl_fixed_t x, wl_fixed_t y) {
    State& s = of(data);
    Pointer& p = s.pointer;
    p.x = wl_fixed_to_double(x);
    p.y = wl_fixed_to_double(y);
    double fx = p.x, fy = p.y;
    if (InputTarget* target = p.held ? s.inFrame(p.surface, fx, fy) : nullptr)
        target->listener().windowMotion(fx, fy, p.held);
}

void pointerButton(void* data, wl_pointer*, uint32_t, uint32_t time, uint32_t code, uint32_t state) {
    State& s = of(data);
    Pointer& p = s.pointer;
    int button = buttonNumber(code);
    if (!button) return;
    unsigned before = p.held;
    bool pressed = state == WL_POINTER_BUTTON_STATE_PRESSED;
    p.held = pressed ? p.held | display::kHeld[button - 1] : p.held & ~display::kHeld[button - 1];
    double x = p.x, y = p.y;
    if (InputTarget* target = s.inFrame(p.surface, x, y))
        target->listener().windowButton(button, pressed, x, y, time, before);
}

// Newer protocol versions add members; those stay null (never sent at the
// version bound).
const wl_pointer_listener kPointerListener = [] {
    wl_pointer_listener l{};
    l.enter = pointerEnter;
    l.leave = pointerLeave;
    l.motion = pointerMotion;
    l.button = pointerButton;
    l.axis = ignore;
    l.frame = ignore;
    l.axis_source = ignore;
    l.axis_stop = ignore;
    l.axis_discrete = ignore;
    return l;
}();

// --- keyboard

void keymap(void* data, wl_keyboard*, uint32_t format, int32_t fd, uint32_t size) {
    State& s = of(data);
    Keyboard& k = s.keyboard;
    k.state.reset();
    k.keymap.reset();
    if (format == WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1 && s.xkb) {
        void* text = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
        if (text != MAP_FAILED) {
            k.keymap.reset(xkb_keymap_new_from_string(s.xkb.get(), static_cast<const char*>(text),
                                                      XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS));
            munmap(text, size);
        }
        if (k.keymap) k.state.reset(xkb_state_new(k.keymap.get()));
    }
    ::close(fd);
}

// The decorations' surfaces are libdecor's, not known here: the focus on one
// of them is the window's, the one window there is.
void keyboardEnter(void* data, wl_keyboard*, uint32_t, wl_surface* surface, wl_array*) {
    State& s = of(data);
    InputTarget* target = s.targetOf(surface);
    if (!target && surface && s.surfaces.size() == 1) target = s.surfaces.begin()->second;
    s.keyboard.target = target;
}

void keyboardLeave(void* data, wl_keyboard*, uint32_t, wl_surface*) { of(data).keyboard.target = nullptr; }

bool active(const Keyboard& k, const char* modifier) {
    return xkb_state_mod_name_is_active(k.state.get(), modifier, XKB_STATE_MODS_EFFECTIVE) > 0;
}

void key(void* data, wl_keyboard*, uint32_t, uint32_t, uint32_t code, uint32_t state) {
    const State& s = of(data);
    const Keyboard& k = s.keyboard;
    InputTarget* target = k.target;
    if (!target || !k.state || state != WL_KEYBOARD_KEY_STATE_PRESSED) return;
    // The keysym of the active group and level, so that q is q on any layout.
    xkb_keysym_t sym = xkb_state_key_get_one_sym(k.state.get(), code + 8);
    bool other = active(k, XKB_MOD_NAME_ALT) || active(k, XKB_MOD_NAME_LOGO) || active(k, "Mod3") || active(k, "Mod5");
    display::keyPressed(sym, {active(k, XKB_MOD_NAME_CTRL), other}, target->listener());
}

void modifiers(void* data, wl_keyboard*, uint32_t, uint32_t depressed, uint32_t latched, uint32_t locked,
               uint32_t group) {
    Keyboard& k = of(data).keyboard;
    if (k.state) xkb_state_update_mask(k.state.get(), depressed, latched, locked, 0, 0, group);
}

const wl_keyboard_listener kKeyboardListener = {keymap, keyboardEnter, keyboardLeave, key, modifiers, ignore};

// --- touch

Finger* finger(State& s, int id) {
    auto found = std::ranges::find(s.touch.fingers, id, &Finger::id);
    return found == s.touch.fingers.end() ? nullptr : &*found;
}

void touchAt(const State& s, display::Touch phase, const Finger& f, uint32_t time) {
    double x = f.x, y = f.y;
    if (InputTarget* target = s.inFrame(f.surface, x, y)) target->listener().windowTouch(phase, f.id, x, y, time);
}

void touchDown(void* data, wl_touch*, uint32_t, uint32_t time, wl_surface* surface, int32_t id, wl_fixed_t x,
               wl_fixed_t y) {
    State& s = of(data);
    if (finger(s, id) || !s.targetOf(surface)) return;
    s.touch.fingers.push_back({id, surface, wl_fixed_to_double(x), wl_fixed_to_double(y)});
    touchAt(s, display::Touch::Begin, s.touch.fingers.back(), time);
}

void touchUp(void* data, wl_touch*, uint32_t, uint32_t time, int32_t id) {
    State& s = of(data);
    Finger* f = finger(s, id);
    if (!f) return;
    Finger gone = *f;
    s.touch.fingers.erase(s.touch.fingers.begin() + (f - s.touch.fingers.data()));
    touchAt(s, display::Touch::End, gone, time);
}

void touchMotion(void* data, wl_touch*, uint32_t time, int32_t id, wl_fixed_t x, wl_fixed_t y) {
    State& s = of(data);
    Finger* f = finger(s, id);
    if (!f) return;
    f->x = wl_fixed_to_double(x);
    f->y = wl_fixed_to_double(y);
    touchAt(s, display::Touch::Update, *f, time);
}

// The compositor took the touches (a gesture of its own): each finger ends.
void touchCancel(void* data, wl_touch*) {
    State& s = of(data);
    for (const Finger& f : std::exchange(s.touch.fingers, {})) touchAt(s, display::Touch::End, f, 0);
}

const wl_touch_listener kTouchListener = {touchDown, touchUp, touchMotion, ignore, touchCancel, ignore, ignore};

// --- seat

// A device while the seat has it, with its listener; let go, and what was
// known through it forgotten, when the seat no longer has it. Seats before
// version 3 have no release request.
template <class Device, class Proxy, class Listener>
void follow(State& s, wl_seat* seat, bool has, Device& device, Proxy* (*get)(wl_seat*),
            int (*listen)(Proxy*, const Listener*, void*), const Listener& listener, void (*release)(Proxy*),
            void (*destroy)(Proxy*)) {
    if (has && !device.proxy) {
        device.proxy = get(seat);
        listen(device.proxy, &listener, &s);
    } else if (!has && device.proxy) {
        (wl_proxy_get_version(reinterpret_cast<wl_proxy*>(device.proxy)) >= 3 ? release : destroy)(device.proxy);
        device = Device{};
    }
}

void capabilities(void* data, wl_seat* seat, uint32_t caps) {
    State& s = of(data);
    follow(s, seat, caps & WL_SEAT_CAPABILITY_POINTER, s.pointer, wl_seat_get_pointer, wl_pointer_add_listener,
           kPointerListener, wl_pointer_release, wl_pointer_destroy);
    follow(s, seat, caps & WL_SEAT_CAPABILITY_KEYBOARD, s.keyboard, wl_seat_get_keyboard, wl_keyboard_add_listener,
           kKeyboardListener, wl_keyboard_release, wl_keyboard_destroy);
    follow(s, seat, caps & WL_SEAT_CAPABILITY_TOUCH, s.touch, wl_seat_get_touch, wl_touch_add_listener, kTouchListener,
           wl_touch_release, wl_touch_destroy);
}

const wl_seat_listener kSeatListener = {capabilities, ignore};

// Nothing may reach a window that is gone.
void forgetGone(State& s, InputTarget* gone) {
    if (!s.targetOf(s.pointer.surface)) s.pointer.surface = nullptr;
    if (s.keyboard.target == gone) s.keyboard.target = nullptr;
    std::erase_if(s.touch.fingers, [&s](const Finger& f) { return !s.targetOf(f.surface); });
}

}  // namespace

Seat::Seat(wl_seat* seat) : mState(std::make_unique<State>()) {
    wl_seat_add_listener(seat, &kSeatListener, mState.get());
}

// A seat with no devices left.
Seat::~Seat() { capabilities(mState.get(), nullptr, 0); }

void Seat::addInputSurface(wl_surface* surface, InputTarget* target) { mState->surfaces.emplace(surface, target); }

void Seat::removeInputTarget(InputTarget* target) {
    State& s = *mState;
    std::erase_if(s.surfaces, [target](const auto& entry) { return entry.second == target; });
    forgetGone(s, target);
}

}  // namespace wl
