// SPDX-License-Identifier: MIT
#include "Connection.h"

#include <poll.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "Input.h"

namespace wl {
namespace {

Globals gGlobals;
bool gOpen = false;
bool gLost = false;
// Where the connection is served, and its token there.
struct Source {
    display::EventLoop* loop = nullptr;
    int token = 0;
} gSource;

void onShmFormat(void*, wl_shm*, uint32_t format) {
    if (format == WL_SHM_FORMAT_RGB565) gGlobals.rgb565 = true;
}
const wl_shm_listener kShmListener = {onShmFormat};

void onPing(void*, xdg_wm_base* base, uint32_t serial) { xdg_wm_base_pong(base, serial); }
const xdg_wm_base_listener kWmBaseListener = {onPing};

template <class T>
T* bind(wl_registry* registry, uint32_t name, const wl_interface* interface, uint32_t offered, uint32_t wanted) {
    return static_cast<T*>(wl_registry_bind(registry, name, interface, offered < wanted ? offered : wanted));
}

void onGlobal(void*, wl_registry* registry, uint32_t name, const char* interface, uint32_t version) {
    Globals& g = gGlobals;
    std::string_view i = interface;
    if (i == wl_compositor_interface.name && !g.compositor)
        g.compositor = bind<wl_compositor>(registry, name, &wl_compositor_interface, version, 4);
    else if (i == wl_subcompositor_interface.name && !g.subcompositor)
        g.subcompositor = bind<wl_subcompositor>(registry, name, &wl_subcompositor_interface, version, 1);
    else if (i == wl_shm_interface.name && !g.shm) {
        g.shm = bind<wl_shm>(registry, name, &wl_shm_interface, version, 1);
        wl_shm_add_listener(g.shm, &kShmListener, nullptr);
    } else if (i == wl_seat_interface.name && !g.seat) {
        g.seat = bind<wl_seat>(registry, name, &wl_seat_interface, version, 5);
        watchSeat(g.seat);
    } else if (i == xdg_wm_base_interface.name && !g.wmBase) {
        g.wmBase = bind<xdg_wm_base>(registry, name, &xdg_wm_base_interface, version, 2);
        xdg_wm_base_add_listener(g.wmBase, &kWmBaseListener, nullptr);
    } else if (i == wp_viewporter_interface.name && !g.viewporter)
        g.viewporter = bind<wp_viewporter>(registry, name, &wp_viewporter_interface, version, 1);
    else if (i == zxdg_decoration_manager_v1_interface.name && !g.decorations)
        g.decorations = bind<zxdg_decoration_manager_v1>(registry, name, &zxdg_decoration_manager_v1_interface,
                                                          version, 1);
}

void onGlobalRemove(void*, wl_registry*, uint32_t) {}
const wl_registry_listener kRegistryListener = {onGlobal, onGlobalRemove};

void connectionLost() {
    if (gLost) return;
    gLost = true;
    std::fprintf(stderr, "display connection lost\n");
    gSource.loop->stop(1);
    if (gSource.token) gSource.loop->removeSource(gSource.token);
    gSource.token = 0;
}

// The run loop saw the connection readable (or hung up).
void serve() {
    wl_display* d = gGlobals.display;
    if (!d || gLost) return;
    while (wl_display_prepare_read(d) != 0)
        if (wl_display_dispatch_pending(d) < 0) return connectionLost();
    if (wl_display_read_events(d) < 0 || wl_display_dispatch_pending(d) < 0) return connectionLost();
    flush();
}

void destroyGlobals() {
    Globals& g = gGlobals;
    forgetSeat();
    if (g.decorations) zxdg_decoration_manager_v1_destroy(g.decorations);
    if (g.viewporter) wp_viewporter_destroy(g.viewporter);
    if (g.wmBase) xdg_wm_base_destroy(g.wmBase);
    if (g.seat) wl_seat_destroy(g.seat);
    if (g.shm) wl_shm_destroy(g.shm);
    if (g.subcompositor) wl_subcompositor_destroy(g.subcompositor);
    if (g.compositor) wl_compositor_destroy(g.compositor);
    if (g.registry) wl_registry_destroy(g.registry);
    if (g.releases) wl_event_queue_destroy(g.releases);
    wl_display* d = g.display;
    g = Globals{};
    g.display = d;
}

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
    // Reads once what the compositor sent before the deadline; false when it
    // cannot (the connection failed, or nothing came in time).
    auto readOnce = [&] {
        while (wl_display_prepare_read(d) != 0)
            if (wl_display_dispatch_pending(d) < 0) return false;
        if (done) {
            wl_display_cancel_read(d);
            return true;
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
            timedOut = ready == 0;
            return false;
        }
        return wl_display_read_events(d) >= 0 && wl_display_dispatch_pending(d) >= 0;
    };
    while (!done)
        if (!readOnce()) {
            if (!done) wl_callback_destroy(callback);
            return false;
        }
    return true;
}

}  // namespace

bool open(display::EventLoop& loop, std::string& why) {
    if (gOpen) return true;
    gGlobals = Globals{};
    gLost = false;
    gGlobals.display = wl_display_connect(nullptr);
    if (!gGlobals.display) return false;
    gGlobals.registry = wl_display_get_registry(gGlobals.display);
    wl_registry_add_listener(gGlobals.registry, &kRegistryListener, nullptr);
    // The globals, then what they announce (formats, the seat's abilities).
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    bool timedOut = false;
    bool ok = roundtripBy(gGlobals.display, deadline, timedOut) && roundtripBy(gGlobals.display, deadline, timedOut);
    if (timedOut) why = "no answer within 3 s";
    const Globals& g = gGlobals;
    if (ok && (!g.compositor || !g.subcompositor || !g.shm || !g.wmBase))
        why = "it offers no desktop windows (xdg-shell, wl_shm, subsurfaces)";
    if (!ok || !g.compositor || !g.subcompositor || !g.shm || !g.wmBase) {
        destroyGlobals();
        wl_display_disconnect(gGlobals.display);
        gGlobals = Globals{};
        return false;
    }
    gGlobals.releases = wl_display_create_queue(gGlobals.display);
    gSource = {&loop, loop.addSource(wl_display_get_fd(gGlobals.display), serve, false)};
    gOpen = true;
    return true;
}

void close() {
    if (!gOpen) return;
    if (gSource.token) gSource.loop->removeSource(gSource.token);
    gSource = {};
    destroyGlobals();
    wl_display_disconnect(gGlobals.display);
    gGlobals = Globals{};
    gOpen = false;
}

const Globals* globals() { return gOpen && !gLost ? &gGlobals : nullptr; }

void dispatchPending() { serve(); }

void flush() {
    // A full socket (EAGAIN) is sent on the next pass.
    if (globals() && wl_display_flush(gGlobals.display) < 0 && errno != EAGAIN) connectionLost();
}

void roundtrip() {
    if (globals() && wl_display_roundtrip(gGlobals.display) < 0) connectionLost();
}

}  // namespace wl
