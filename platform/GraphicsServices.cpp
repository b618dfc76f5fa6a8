// SPDX-License-Identifier: MIT
#include "GraphicsServices.h"

CGRect GSEventGetLocationInWindow(GSEventRef event) { return event ? event->location : CGRect{}; }

float GSEventGetDeltaX(GSEventRef event) { return event ? event->deltaX : 0.0f; }

float GSEventGetDeltaY(GSEventRef event) { return event ? event->deltaY : 0.0f; }
