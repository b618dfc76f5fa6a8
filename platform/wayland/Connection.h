// SPDX-License-Identifier: MIT
#pragma once

// The Wayland backend's one connection: the compositor's globals, and
// serving its events on the main run loop.

#include <wayland-client.h>

#include <string>

#include "DisplayBackend.h"

#include "viewporter-client-protocol.h"
#include "xdg-decoration-unstable-v1-client-protocol.h"
#include "xdg-shell-client-protocol.h"

namespace wl {

struct Globals {
    wl_display* display = nullptr;
    wl_registry* registry = nullptr;
    wl_compositor* compositor = nullptr;
    wl_subcompositor* subcompositor = nullptr;
    wl_shm* shm = nullptr;
    bool rgb565 = false;  // the compositor reads 5-6-5 buffers as they are
    wl_seat* seat = nullptr;
    xdg_wm_base* wmBase = nullptr;
    wp_viewporter* viewporter = nullptr;                  // null: frames are shown unscaled
    zxdg_decoration_manager_v1* decorations = nullptr;  // null: the client draws them
    // Where surface buffers' releases come, so that a frame waiting for one
    // serves nothing else.
    wl_event_queue* releases = nullptr;
};

// Connects to the compositor WAYLAND_DISPLAY names (or the default one) and
// learns its globals; false when there is none, it does not answer within a
// few seconds or it lacks what a window needs (said in `why`, when known).
bool open(display::EventLoop& loop, std::string& why);
void close();
// Null when not open or lost.
const Globals* globals();
// Reads what the compositor has sent, without waiting, and dispatches it.
void dispatchPending();
void flush();
void roundtrip();

}  // namespace wl
