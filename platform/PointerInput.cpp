#include "PointerInput.h"

#include <X11/X.h>

#include <cstdlib>

namespace {
constexpr unsigned kMasks[] = {Button1Mask, Button2Mask, Button3Mask};

int lowestHeld(unsigned held) {
    for (int b = 1; b <= 3; ++b)
        if (held & kMasks[b - 1]) return b;
    return 0;
}

PointerAction make(PointerAction::Kind kind, int x, int y, int clicks, int button) {
    return PointerAction{kind, __GSEvent{CGRectMake(static_cast<float>(x), static_cast<float>(y), 0, 0),
                                         static_cast<float>(clicks), static_cast<float>(button)}};
}
}  // namespace

std::optional<PointerAction> MousePointer::press(int button, int x, int y, unsigned long timeMs) {
    if (button < 1 || button > 3) return std::nullopt;
    bool again = button == mLastButton && mClicks > 0 && timeMs - mLastTime <= kDoubleClickMs &&
                 std::abs(x - mLastX) <= kDoubleClickDistance &&
                 std::abs(y - mLastY) <= kDoubleClickDistance;
    mClicks = again ? mClicks + 1 : 1;
    mLastButton = button;
    mLastX = x;
    mLastY = y;
    mLastTime = timeMs;
    mButton = button;
    return make(PointerAction::Down, x, y, mClicks, button);
}

std::optional<PointerAction> MousePointer::motion(int x, int y, unsigned held) {
    int button = (mButton && (held & kMasks[mButton - 1])) ? mButton : lowestHeld(held);
    if (!button) return std::nullopt;
    mButton = button;
    return make(PointerAction::Dragged, x, y, mClicks, button);
}

std::optional<PointerAction> MousePointer::release(int button, int x, int y, unsigned held) {
    if (button < 1 || button > 3) return std::nullopt;
    unsigned still = held & ~kMasks[button - 1];
    if (button != mButton && lowestHeld(still)) return std::nullopt;  // another drag goes on
    mButton = 0;
    return make(PointerAction::Up, x, y, mClicks, button);
}
