// SPDX-License-Identifier: MIT
#include "Connection.h"

#include <poll.h>

#include <cerrno>
#include <cstdlib>
#include <chrono>
#include <cstdio>
#include <string_view>
#include <type_traits>
#include <utility>

#include "Input.h"
#include "Shell.h"

namespace wl {
namespace {

void onShmFormat(void* data, wl_shm*, uint32_t format) {
    if (format == WL_SHM_FORMAT_RGB565) static_cast<Globals*>(data)->rgb565 = true;
}
const wl_shm_listener kShmListener = {onShmFormat};

void onPing(void*, xdg_wm_base* base, uint32_t serial) { xdg_wm_base_pong(base, serial); }
const xdg_wm_base_listener kWmBaseListener = {onPing};

void syncDone(void* data, wl_callback* callback, uint32_t) {
    *static_cast<bool*>(data) = true;
    wl_callback_destroy(callback);
}
const wl_callback_listener kSyncListener = {syncDone};

// A round trip that gives up at `deadline`: a peer on the socket that says
// nothing (or is no compositor) must not hold the start for ever.
bool roundtripBy(wl_display* d, std::chrono::steady_clock::time_point deadline, bool& timedOut) {
    bool done = false;
    wl_callback* callback = wl_display_sync(d);
    wl_callback_add_listener(callback, &kSyncListener, &done);
    while (!done)
        if (int read = serveBy(d, nullptr, deadline); read <= 0) {
            timedOut = read == 0;
            if (!done) wl_callback_destroy(callback);
            return false;
        }
    return true;
}

}  // namespace

int serveBy(wl_display* d, wl_event_queue* queue, std::chrono::steady_clock::time_point deadline) {
    auto prepare = [&] { return queue ? wl_display_prepare_read_queue(d, queue) : wl_display_prepare_read(d); };
    auto dispatch = [&] {
        return queue ? wl_display_dispatch_queue_pending(d, queue) : wl_display_dispatch_pending(d);
    };
    bool served = false;
    while (prepare() != 0) {
        if (dispatch() < 0) return -1;
        served = true;
    }
    if (served) {
        wl_display_cancel_read(d);
        return 1;
    }
    int ready = -1;
    if (wl_display_flush(d) >= 0 || errno == EAGAIN) {
        do {
            auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            pollfd p{wl_display_get_fd(d), POLLIN, 0};
            ready = left.count() > 0 ? poll(&p, 1, static_cast<int>(left.count())) : 0;
        } while (ready < 0 && errno == EINTR);
    }
    if (ready <= 0) {
        wl_display_cancel_read(d);
        return ready == 0 ? 0 : -1;
    }
    return wl_display_read_events(d) >= 0 && dispatch() >= 0 ? 1 : -1;
}

void Connection::onGlobal(void* data, wl_registry* registry, uint32_t name, const char* interface,
                          uint32_t version) {
    auto* self = static_cast<Connection*>(data);
    Globals& g = self->mGlobals;
    // The first of each kind, at the highest version both sides know.
    auto bind = [&](auto*& global, const wl_interface& wanted, uint32_t most) {
        if (global || std::string_view(interface) != wanted.name) return false;
        global = static_cast<std::remove_reference_t<decltype(global)>>(
            wl_registry_bind(registry, name, &wanted, version < most ? version : most));
        return true;
    };
    bind(g.compositor, wl_compositor_interface, 4);
    bind(g.subcompositor, wl_subcompositor_interface, 1);
    bind(g.viewporter, wp_viewporter_interface, 1);
    bind(g.decorations, zxdg_decoration_manager_v1_interface, 1);
    if (bind(g.shm, wl_shm_interface, 1)) wl_shm_add_listener(g.shm, &kShmListener, &g);
    if (bind(g.seat, wl_seat_interface, 5)) self->mSeat = std::make_unique<Seat>(g.seat);
    if (bind(g.wmBase, xdg_wm_base_interface, 2)) xdg_wm_base_add_listener(g.wmBase, &kWmBaseListener, nullptr);
}

const char* socketName() {
    const char* name = std::getenv("WAYLAND_DISPLAY");
    return name && *name ? name : "wayland-0";
}

Connection::Connection(display::EventLoop& loop) : mLoop(loop) {}

std::unique_ptr<Connection> Connection::open(display::EventLoop& loop, std::string& why) {
    std::unique_ptr<Connection> c(new Connection(loop));
    Globals& g = c->mGlobals;
    g.display = wl_display_connect(socketName());
    if (!g.display) return nullptr;
    g.registry = wl_display_get_registry(g.display);
    static const wl_registry_listener kRegistryListener = {onGlobal, ignore};
    wl_registry_add_listener(g.registry, &kRegistryListener, c.get());
    // The globals, then what they announce (formats, the seat's abilities).
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    bool timedOut = false;
    bool ok = roundtripBy(g.display, deadline, timedOut) && roundtripBy(g.display, deadline, timedOut);
    if (timedOut) why = "no answer within 3 s";
    if (ok && (!g.compositor || !g.subcompositor || !g.shm || !g.wmBase)) {
        why = "it offers no desktop windows (xdg-shell, wl_shm, subsurfaces)";
        ok = false;
    }
    if (!ok) return nullptr;
    g.releases = wl_display_create_queue(g.display);
    Connection* self = c.get();
    c->mSourceToken = loop.addInputSource(wl_display_get_fd(g.display), [self] { self->dispatchPending(); }, false);
    return c;
}

Connection::~Connection() {
    if (mSourceToken) mLoop.removeSource(mSourceToken);
    // Made on the connection, newest first: libdecor, the seat, the globals.
    mDecorations.reset();
    mSeat.reset();
    Globals& g = mGlobals;
    if (g.decorations) zxdg_decoration_manager_v1_destroy(g.decorations);
    if (g.viewporter) wp_viewporter_destroy(g.viewporter);
    if (g.wmBase) xdg_wm_base_destroy(g.wmBase);
    if (g.seat) wl_seat_destroy(g.seat);
    if (g.shm) wl_shm_destroy(g.shm);
    if (g.subcompositor) wl_subcompositor_destroy(g.subcompositor);
    if (g.compositor) wl_compositor_destroy(g.compositor);
    if (g.registry) wl_registry_destroy(g.registry);
    if (g.releases) wl_event_queue_destroy(g.releases);
    if (g.display) wl_display_disconnect(g.display);
}

Decorations* Connection::decorations() {
    if (!mDecorationsTried && globals()) {
        mDecorationsTried = true;
        mDecorations = Decorations::create(mGlobals.display);
    }
    return mDecorations.get();
}

void Connection::lose() {
    if (mLost) return;
    mLost = true;
    std::fprintf(stderr, "display connection lost\n");
    mLoop.stop(1);
    if (mSourceToken) mLoop.removeSource(std::exchange(mSourceToken, 0));
}

void Connection::dispatchPending() {
    wl_display* d = mGlobals.display;
    if (!d || mLost) return;
    while (wl_display_prepare_read(d) != 0)
        if (wl_display_dispatch_pending(d) < 0) return lose();
    if (wl_display_read_events(d) < 0 || wl_display_dispatch_pending(d) < 0) return lose();
    flush();
}

void Connection::flush() {
    // A full socket (EAGAIN) is sent on the next pass.
    if (globals() && wl_display_flush(mGlobals.display) < 0 && errno != EAGAIN) lose();
}

void Connection::roundtrip() {
    // A compositor that has stopped answering does not hold the end of a run.
    bool timedOut = false;
    if (globals() && !roundtripBy(mGlobals.display, std::chrono::steady_clock::now() + std::chrono::milliseconds(500),
                                  timedOut) &&
        !timedOut)
        lose();
}

}  // namespace wl
