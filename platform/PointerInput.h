// SPDX-License-Identifier: MIT
#pragma once

// Turns window-system pointer input into the view's pointer events.

#include <optional>

#include "GraphicsServices.h"

struct PointerAction {
    enum Kind { Down, Dragged, Up } kind;
    __GSEvent event;
};

// Presses near enough in time and place to the last count as one more click.
struct ClickCount {
    int clicks = 0;
    double x = 0, y = 0;
    unsigned long time = 0;
    // The press's count; `same`: it may go on from the last (the same button).
    int press(bool same, double atX, double atY, unsigned long atTime);
};

// Mouse: left, middle and right buttons are button numbers 1, 2 and 3; the press's click
// count is the delta-X value.
class MousePointer {
public:
    static constexpr unsigned long kDoubleClickMs = 400;
    static constexpr int kDoubleClickDistance = 5;

    // `held` is the buttons down before this event (display::kHeld bits).
    std::optional<PointerAction> press(int button, double x, double y, unsigned long timeMs);
    std::optional<PointerAction> motion(double x, double y, unsigned held);
    std::optional<PointerAction> release(int button, double x, double y, unsigned held);

private:
    int mButton = 0;  // the button of the drag in progress
    ClickCount mClicks;
    int mLastButton = 0;
};

// Touch screen: the number of fingers down is the button number and the tap
// count the delta-X value; the location is the fingers' centre. A finger added
// or lifted mid-drag changes the button number, which re-anchors the drag.
class TouchPointer {
public:
    std::optional<PointerAction> begin(int id, double x, double y, unsigned long timeMs);
    std::optional<PointerAction> update(int id, double x, double y);
    std::optional<PointerAction> end(int id, double x, double y);

private:
    static constexpr int kMaxFingers = 10;
    struct Finger {
        int id;
        double x, y;
    };
    Finger* find(int id);
    PointerAction at(PointerAction::Kind kind, int button) const;

    Finger mFingers[kMaxFingers]{};
    size_t mCount = 0;
    ClickCount mTaps;
};
