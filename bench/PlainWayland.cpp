// SPDX-License-Identifier: MIT
#include "PlainWayland.h"

#include <EGL/eglext.h>
#include <wayland-client.h>
#include <wayland-egl.h>

#include <cstring>

#include "xdg-shell-client-protocol.h"

void PlainWaylandWindow::global(void* data, wl_registry* registry, uint32_t name, const char* interface,
                                uint32_t version) {
    auto* self = static_cast<PlainWaylandWindow*>(data);
    if (std::strcmp(interface, wl_compositor_interface.name) == 0 && !self->mCompositor) {
        self->mCompositor =
            static_cast<wl_compositor*>(wl_registry_bind(registry, name, &wl_compositor_interface, 1));
    } else if (std::strcmp(interface, xdg_wm_base_interface.name) == 0 && !self->mWmBase) {
        self->mWmBase = static_cast<xdg_wm_base*>(wl_registry_bind(registry, name, &xdg_wm_base_interface, 1));
        static const xdg_wm_base_listener listener = {ping};
        xdg_wm_base_add_listener(self->mWmBase, &listener, self);
    }
    (void)version;
}

void PlainWaylandWindow::ping(void*, xdg_wm_base* base, uint32_t serial) { xdg_wm_base_pong(base, serial); }

void PlainWaylandWindow::configure(void* data, xdg_surface* surface, uint32_t serial) {
    xdg_surface_ack_configure(surface, serial);
    static_cast<PlainWaylandWindow*>(data)->mConfigured = true;
}

PlainWaylandWindow::PlainWaylandWindow(int width, int height) {
    mDisplay = wl_display_connect(nullptr);
    if (!mDisplay) return;
    mRegistry = wl_display_get_registry(mDisplay);
    static const wl_registry_listener registryListener = {global, globalRemove};
    wl_registry_add_listener(mRegistry, &registryListener, this);
    if (wl_display_roundtrip(mDisplay) < 0 || !mCompositor || !mWmBase) return;
    mSurface = wl_compositor_create_surface(mCompositor);
    mXdgSurface = xdg_wm_base_get_xdg_surface(mWmBase, mSurface);
    static const xdg_surface_listener surfaceListener = {configure};
    xdg_surface_add_listener(mXdgSurface, &surfaceListener, this);
    mToplevel = xdg_surface_get_toplevel(mXdgSurface);
    // Members of later versions stay null (never sent at version 1).
    static const xdg_toplevel_listener toplevelListener = [] {
        xdg_toplevel_listener l{};
        l.configure = toplevelConfigure;
        l.close = close;
        return l;
    }();
    xdg_toplevel_add_listener(mToplevel, &toplevelListener, this);
    xdg_toplevel_set_title(mToplevel, "plain EGL");
    // The first buffer may only follow the first configure, acknowledged.
    wl_surface_commit(mSurface);
    while (!mConfigured)
        if (wl_display_dispatch(mDisplay) < 0) return;
    mEglWindow = wl_egl_window_create(mSurface, width, height);
}

PlainWaylandWindow::~PlainWaylandWindow() {
    // Whatever the constructor got to, newest first.
    auto end = [](auto* object, void (*destroy)(decltype(object))) {
        if (object) destroy(object);
    };
    end(mEglWindow, wl_egl_window_destroy);
    end(mToplevel, xdg_toplevel_destroy);
    end(mXdgSurface, xdg_surface_destroy);
    end(mSurface, wl_surface_destroy);
    end(mWmBase, xdg_wm_base_destroy);
    end(mCompositor, wl_compositor_destroy);
    end(mRegistry, wl_registry_destroy);
    end(mDisplay, wl_display_disconnect);
}

EGLDisplay PlainWaylandWindow::eglDisplay() const {
    return eglGetPlatformDisplay(EGL_PLATFORM_WAYLAND_KHR, mDisplay, nullptr);
}

bool PlainWaylandWindow::serve() { return wl_display_dispatch_pending(mDisplay) >= 0; }
