// SPDX-License-Identifier: MIT
#pragma once

#include <EGL/egl.h>

struct wl_display;
struct wl_registry;
struct wl_compositor;
struct wl_surface;
struct wl_egl_window;
struct xdg_wm_base;
struct xdg_surface;
struct xdg_toplevel;

// An xdg-shell toplevel with a wl_egl_window, made as a plain EGL program on
// Wayland makes one (as weston's simple-egl does): no decorations, the
// compositor's pings answered, nothing else.
class PlainWaylandWindow {
public:
    // Connects to WAYLAND_DISPLAY and waits for the first configure; ok()
    // says whether it got that far.
    PlainWaylandWindow(int width, int height);
    ~PlainWaylandWindow();
    PlainWaylandWindow(const PlainWaylandWindow&) = delete;
    PlainWaylandWindow& operator=(const PlainWaylandWindow&) = delete;

    bool ok() const { return mEglWindow != nullptr; }
    // EGL on this connection, and the window for eglCreatePlatformWindowSurface.
    EGLDisplay eglDisplay() const;
    void* eglWindow() const { return mEglWindow; }
    // Handles what eglSwapBuffers has read from the compositor (its pings
    // among it); false once the connection is lost.
    bool serve();

private:
    static void global(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t version);
    static void globalRemove(void*, wl_registry*, uint32_t) {}
    static void ping(void*, xdg_wm_base* base, uint32_t serial);
    static void configure(void* data, xdg_surface* surface, uint32_t serial);
    static void toplevelConfigure(void*, xdg_toplevel*, int32_t, int32_t, struct wl_array*) {}
    static void close(void*, xdg_toplevel*) {}

    wl_display* mDisplay = nullptr;
    wl_registry* mRegistry = nullptr;
    wl_compositor* mCompositor = nullptr;
    xdg_wm_base* mWmBase = nullptr;
    wl_surface* mSurface = nullptr;
    xdg_surface* mXdgSurface = nullptr;
    xdg_toplevel* mToplevel = nullptr;
    wl_egl_window* mEglWindow = nullptr;
    bool mConfigured = false;
};
