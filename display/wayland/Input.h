// SPDX-License-Identifier: MIT
#pragma once

// The seat's pointer, keyboard and touch, turned into what the platform
// knows and handed to the window whose surface they are on.

#include <wayland-client.h>

#include <memory>

#include "DisplayBackend.h"

namespace wl {

// A window, as input sees it.
class InputTarget {
public:
    virtual display::WindowListener& listener() = 0;
    // A position on the window's surface, in frame coordinates.
    virtual void toFrame(double& x, double& y) const = 0;

protected:
    ~InputTarget() = default;
};

class Seat {
public:
    // Follows the seat's abilities from now on.
    explicit Seat(wl_seat* seat);
    // Lets go of the devices (the seat itself is the connection's).
    ~Seat();

    // The window's surface takes input for it from now on (until removed).
    void addInputSurface(wl_surface* surface, InputTarget* target);
    void removeInputTarget(InputTarget* target);

    struct State;

private:
    std::unique_ptr<State> mState;
};

}  // namespace wl
