// SPDX-License-Identifier: MIT
#include "PointerInput.h"

#include "DisplayBackend.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace {
const unsigned* const kMasks = display::kHeld;

// kHeld's bits are 1 << (button - 1).
int lowestHeld(unsigned held) { return held & 7 ? std::countr_zero(held & 7) + 1 : 0; }

PointerAction make(PointerAction::Kind kind, double x, double y, int clicks, int button) {
    return PointerAction{kind, __GSEvent{CGRectMake(static_cast<float>(x), static_cast<float>(y), 0, 0),
                                         static_cast<float>(clicks), static_cast<float>(button)}};
}
}  // namespace

int ClickCount::press(bool same, double atX, double atY, unsigned long atTime) {
    bool again = same && clicks > 0 && atTime - time <= MousePointer::kDoubleClickMs &&
                 std::fabs(atX - x) <= MousePointer::kDoubleClickDistance &&
                 std::fabs(atY - y) <= MousePointer::kDoubleClickDistance;
    clicks = again ? clicks + 1 : 1;
    x = atX;
    y = atY;
    time = atTime;
    return clicks;
}

std::optional<PointerAction> MousePointer::press(int button, double x, double y, unsigned long timeMs) {
    if (button < 1 || button > 3) return std::nullopt;
    mClicks.press(button == mLastButton, x, y, timeMs);
    mLastButton = mButton = button;
    return make(PointerAction::Down, x, y, mClicks.clicks, button);
}

std::optional<PointerAction> MousePointer::motion(double x, double y, unsigned held) {
    int button = (mButton && (held & kMasks[mButton - 1])) ? mButton : lowestHeld(held);
    if (!button) return std::nullopt;
    mButton = button;
    return make(PointerAction::Dragged, x, y, mClicks.clicks, button);
}

std::optional<PointerAction> MousePointer::release(int button, double x, double y, unsigned held) {
    if (button < 1 || button > 3) return std::nullopt;
    unsigned still = held & ~kMasks[button - 1];
    if (button != mButton && lowestHeld(still)) return std::nullopt;  // another drag goes on
    mButton = 0;
    return make(PointerAction::Up, x, y, mClicks.clicks, button);
}

TouchPointer::Finger* TouchPointer::find(int id) {
    Finger* found = std::ranges::find(mFingers, mFingers + mCount, id, &Finger::id);
    return found == mFingers + mCount ? nullptr : found;
}

PointerAction TouchPointer::at(PointerAction::Kind kind, int button) const {
    double x = 0, y = 0;
    for (size_t i = 0; i < mCount; ++i) {
        x += mFingers[i].x / static_cast<double>(mCount);
        y += mFingers[i].y / static_cast<double>(mCount);
    }
    return make(kind, x, y, mTaps.clicks, button);
}

std::optional<PointerAction> TouchPointer::begin(int id, double x, double y, unsigned long timeMs) {
    if (find(id) || mCount == kMaxFingers) return std::nullopt;
    mFingers[mCount++] = Finger{id, x, y};
    if (mCount > 1) return at(PointerAction::Dragged, static_cast<int>(mCount));
    mTaps.press(true, x, y, timeMs);
    return at(PointerAction::Down, 1);
}

std::optional<PointerAction> TouchPointer::update(int id, double x, double y) {
    Finger* f = find(id);
    if (!f) return std::nullopt;
    f->x = x;
    f->y = y;
    return at(PointerAction::Dragged, static_cast<int>(mCount));
}

std::optional<PointerAction> TouchPointer::end(int id, double x, double y) {
    Finger* f = find(id);
    if (!f) return std::nullopt;
    if (mCount == 1) {  // the last finger's own place
        mCount = 0;
        return make(PointerAction::Up, x, y, mTaps.clicks, 1);
    }
    *f = mFingers[--mCount];
    return at(PointerAction::Dragged, static_cast<int>(mCount));
}
