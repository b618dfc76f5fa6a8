// SPDX-License-Identifier: MIT
#pragma once

#include "CoreGraphics.h"

// A pointer event. The delta-Y value carries the button number (or the
// number of fingers down), the delta-X value the click or tap count.
struct __GSEvent {
    CGRect location;
    float deltaX;
    float deltaY;
};
using GSEventRef = __GSEvent*;

CGRect GSEventGetLocationInWindow(GSEventRef event);
float GSEventGetDeltaX(GSEventRef event);
float GSEventGetDeltaY(GSEventRef event);
