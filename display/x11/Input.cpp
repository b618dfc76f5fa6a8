// SPDX-License-Identifier: MIT
#include "Input.h"

#include <X11/XKBlib.h>
#include <X11/keysym.h>

#include "KeyCommands.h"

namespace x11 {

void Layout::refit() {
    // Full screen at a whole scale; a window the user sized, as large as fits.
    fit = !serverScales ? display::unscaled(frameWidth, frameHeight)
          : fullscreen  ? display::fitWhole(frameWidth, frameHeight, width, height)
                        : display::fitFrame(frameWidth, frameHeight, width, height);
}

bool Layout::track(const XEvent& e) {
    if (e.type == MapNotify) mapped = true;
    if (e.type == UnmapNotify) mapped = false;
    if (e.type == VisibilityNotify) obscured = e.xvisibility.state == VisibilityFullyObscured;
    if (e.type != ConfigureNotify || (e.xconfigure.width == width && e.xconfigure.height == height)) return false;
    width = e.xconfigure.width;
    height = e.xconfigure.height;
    refit();
    return true;
}

void Input::key(const XKeyEvent& e) {
    // The keysym of the active group and level, so that q is q on any layout.
    KeySym sym = NoSymbol;
    unsigned consumed = 0;
    if (!XkbLookupKeySym(e.display, static_cast<KeyCode>(e.keycode), e.state, &consumed, &sym)) return;
    // Mod2 is Num Lock on every common layout, Lock is Caps Lock.
    display::KeyModifiers m{(e.state & ControlMask) != 0, (e.state & (Mod1Mask | Mod3Mask | Mod4Mask | Mod5Mask)) != 0};
    display::keyPressed(static_cast<uint32_t>(sym), m, mListener);
}

void Input::handle(const XEvent& e) {
    switch (e.type) {
    case Expose:
        if (e.xexpose.count == 0) mListener.windowExposed();
        return;
    case ClientMessage:
        if (static_cast<Atom>(e.xclient.data.l[0]) == XInternAtom(e.xany.display, "WM_DELETE_WINDOW", False))
            mListener.windowCloseRequested();
        return;
    case DestroyNotify:
        mListener.windowCloseRequested();
        return;
    case KeyPress:
        key(e.xkey);
        return;
    case ButtonPress:
    case ButtonRelease:
    case MotionNotify:
        break;
    default:
        return;
    }
    // The frame may be scaled and centred: the view gets frame coordinates.
    double x = e.type == MotionNotify ? e.xmotion.x : e.xbutton.x;
    double y = e.type == MotionNotify ? e.xmotion.y : e.xbutton.y;
    display::toFrame(mLayout.fit, x, y);
    unsigned state = e.type == MotionNotify ? e.xmotion.state : e.xbutton.state;
    unsigned held = (state / Button1Mask) & 7;  // left, middle and right, as kHeld's bits
    if (e.type == MotionNotify)
        mListener.windowMotion(x, y, held);
    else
        mListener.windowButton(static_cast<int>(e.xbutton.button), e.type == ButtonPress, x, y, e.xbutton.time,
                              held);
}

void Input::handleTouch(const XIDeviceEvent& d) {
    display::Touch phase = d.evtype == XI_TouchBegin    ? display::Touch::Begin
                           : d.evtype == XI_TouchUpdate ? display::Touch::Update
                                                        : display::Touch::End;
    double x = d.event_x, y = d.event_y;
    display::toFrame(mLayout.fit, x, y);
    mListener.windowTouch(phase, d.detail, x, y, d.time);
}

}  // namespace x11
