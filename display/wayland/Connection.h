// SPDX-License-Identifier: MIT
#pragma once

// The Wayland backend's connection: the compositor's globals, what is made
// on them, and serving its events on the run loop.

#include <wayland-client.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "DisplayBackend.h"
#include "viewporter-client-protocol.h"
#include "xdg-decoration-unstable-v1-client-protocol.h"
#include "xdg-shell-client-protocol.h"

namespace wl {

class Decorations;
class Seat;

// A listener's member for an event nothing here needs.
template <class... Args>
void ignore(void*, Args...) {}

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

// Serves what is queued for `queue` (null: the display's own queue), or
// else waits until `deadline` for the compositor to send more and serves
// that: 1 when something was served, 0 when nothing came in time, -1 when
// the connection failed.
int serveBy(wl_display* display, wl_event_queue* queue, std::chrono::steady_clock::time_point deadline);

// The compositor's socket as WAYLAND_DISPLAY names it, else libwayland's
// default (also when it is set but empty, where libwayland would look for a
// socket named nothing).
const char* socketName();

class Connection {
public:
    // Connects to the compositor socketName() names
    // and learns its globals; null when there is none, it does not answer
    // within a few seconds or it lacks what a window needs (said in `why`,
    // when known).
    static std::unique_ptr<Connection> open(display::EventLoop& loop, std::string& why);
    // What was made on it (windows, buffers) has gone first.
    ~Connection();

    // Null once lost.
    const Globals* globals() const { return mLost ? nullptr : &mGlobals; }
    // Null where the compositor offers no seat.
    Seat* seat() const { return mSeat.get(); }
    // libdecor, made when first asked for; null where it cannot be had.
    Decorations* decorations();
    // Reads what the compositor has sent, without waiting, and dispatches it.
    void dispatchPending();
    void flush();
    // Waits for the compositor to have done all asked of it, half a second
    // at most.
    void roundtrip();

private:
    explicit Connection(display::EventLoop& loop);
    void lose();
    static void onGlobal(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t version);

    display::EventLoop& mLoop;
    Globals mGlobals;
    std::unique_ptr<Seat> mSeat;
    std::unique_ptr<Decorations> mDecorations;
    bool mDecorationsTried = false;
    int mSourceToken = 0;
    bool mLost = false;
};

}  // namespace wl
