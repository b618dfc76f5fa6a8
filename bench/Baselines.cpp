// SPDX-License-Identifier: MIT
// Bare GL, the demo's frame with nothing of the platform around it, and the
// baseline programs that draw it at the demo's pace: into a pbuffer, or as a
// plain EGL program in a window on X or on Wayland.
#include <time.h>

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GLES/gl.h>
#include <X11/Xlib.h>
#include <wayland-client.h>
#include <wayland-egl.h>

#include <cstdio>
#include <cstring>
#include <optional>

#include "Bench.h"
#include "DrawCube.h"
#include "UIGLCameraView.h"
#include "xdg-shell-client-protocol.h"

namespace bench {

// The demo's pixel format and depth buffer, so that GL's work is alike; a
// window surface needs a config that can draw into windows, which the demo's
// pbuffer-only choice need not be.
BareGL::BareGL(const uint8_t* picture, EGLDisplay display, void* window)
    : mDisplay(display), mSwap(window != nullptr), mPicture(picture) {
    eglInitialize(mDisplay, nullptr, nullptr);
    std::vector<EGLint> attribs;
    for (const EGLint* a = UIGLView::configAttribs; *a != EGL_NONE; a += 2)
        attribs.insert(attribs.end(), {a[0], a[0] == EGL_SURFACE_TYPE && mSwap ? EGL_WINDOW_BIT : a[1]});
    attribs.push_back(EGL_NONE);
    EGLConfig config = nullptr;
    EGLint count = 0;
    eglChooseConfig(mDisplay, attribs.data(), &config, 1, &count);
    mContext = eglCreateContext(mDisplay, config, EGL_NO_CONTEXT, nullptr);
    const EGLint size[] = {EGL_WIDTH, 320, EGL_HEIGHT, 480, EGL_NONE};
    mSurface = mSwap ? eglCreatePlatformWindowSurface(mDisplay, config, window, nullptr)
                     : eglCreatePbufferSurface(mDisplay, config, size);
    // The camera as the demo's view sets it up; only its numbers are used.
    mCamera = alloc<UIGLCameraView>();
    mCamera->mZUp = true;
    mCamera->resetView();
}

BareGL::~BareGL() {
    mCamera->release();
    release();
    if (mSurface != EGL_NO_SURFACE) eglDestroySurface(mDisplay, mSurface);
    if (mContext != EGL_NO_CONTEXT) eglDestroyContext(mDisplay, mContext);
}

// The GL calls of the demo's frame, in its order: the spin and the camera's
// matrices as the view loads them, then the scene. The view asks EGL for the
// surface's size, which the platform answers without EGL: here it is known.
void BareGL::frame() {
    mCamera->mCameraTheta += 5.94f;
    mCamera->mCameraPhi += 5.94f;
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    float m[16];
    mCamera->projectionMatrix(320, 480, m);
    glMultMatrixf(m);
    glRotatef(-90, 1, 0, 0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glTranslatef(mCamera->mCameraOffsetX, mCamera->mCameraDistance, mCamera->mCameraOffsetY);
    glRotatef(mCamera->mCameraPhi, 1, 0, 0);
    glRotatef(mCamera->mCameraTheta, 0, 0, 1);
    glEnable(GL_DEPTH_TEST);
    glClearColor(0.3f, 0.3f, 0.4f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
    glDisable(GL_CULL_FACE);
    DrawCube(128, 128, mPicture);
    if (mSwap)
        eglSwapBuffers(mDisplay, mSurface);
    else
        glFinish();
}

namespace {
// An xdg-shell toplevel of the frame's size with a wl_egl_window, made as a
// plain EGL program on Wayland makes one (as weston's simple-egl does): no
// decorations, the compositor's pings answered, nothing else (the toplevel
// has no listener: libwayland drops the events of an object without one).
struct PlainWayland {
    wl_display* display = wl_display_connect(nullptr);
    wl_registry* registry = nullptr;
    wl_compositor* compositor = nullptr;
    xdg_wm_base* wmBase = nullptr;
    wl_surface* surface = nullptr;
    xdg_surface* xdgSurface = nullptr;
    xdg_toplevel* toplevel = nullptr;
    wl_egl_window* window = nullptr;  // null unless it got to the first configure
    bool configured = false;

    PlainWayland() {
        if (!display) return;
        registry = wl_display_get_registry(display);
        static const wl_registry_listener globals = {
            [](void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t) {
                auto* self = static_cast<PlainWayland*>(data);
                if (std::strcmp(interface, wl_compositor_interface.name) == 0 && !self->compositor)
                    self->compositor =
                        static_cast<wl_compositor*>(wl_registry_bind(registry, name, &wl_compositor_interface, 1));
                if (std::strcmp(interface, xdg_wm_base_interface.name) == 0 && !self->wmBase) {
                    self->wmBase =
                        static_cast<xdg_wm_base*>(wl_registry_bind(registry, name, &xdg_wm_base_interface, 1));
                    static const xdg_wm_base_listener pong = {
                        [](void*, xdg_wm_base* base, uint32_t serial) { xdg_wm_base_pong(base, serial); }};
                    xdg_wm_base_add_listener(self->wmBase, &pong, self);
                }
            },
            [](void*, wl_registry*, uint32_t) {}};
        wl_registry_add_listener(registry, &globals, this);
        if (wl_display_roundtrip(display) < 0 || !compositor || !wmBase) return;
        surface = wl_compositor_create_surface(compositor);
        xdgSurface = xdg_wm_base_get_xdg_surface(wmBase, surface);
        static const xdg_surface_listener configure = {[](void* data, xdg_surface* xdgSurface, uint32_t serial) {
            xdg_surface_ack_configure(xdgSurface, serial);
            static_cast<PlainWayland*>(data)->configured = true;
        }};
        xdg_surface_add_listener(xdgSurface, &configure, this);
        toplevel = xdg_surface_get_toplevel(xdgSurface);
        xdg_toplevel_set_title(toplevel, "plain EGL");
        // The first buffer may only follow the first configure, acknowledged.
        wl_surface_commit(surface);
        while (!configured)
            if (wl_display_dispatch(display) < 0) return;
        window = wl_egl_window_create(surface, 320, 480);
    }

    ~PlainWayland() {
        // Whatever the constructor got to, newest first.
        auto end = [](auto* object, void (*destroy)(decltype(object))) {
            if (object) destroy(object);
        };
        end(window, wl_egl_window_destroy);
        end(toplevel, xdg_toplevel_destroy);
        end(xdgSurface, xdg_surface_destroy);
        end(surface, wl_surface_destroy);
        end(wmBase, xdg_wm_base_destroy);
        end(compositor, wl_compositor_destroy);
        end(registry, wl_registry_destroy);
        end(display, wl_display_disconnect);
    }
};
}  // namespace

int plainProgram(Plain kind, long frames) {
    const std::vector<uint8_t> picture = testPicture();
    std::optional<PlainWayland> wayland;
    std::optional<BareGL> gl;
    if (kind == Plain::Wayland) {
        wayland.emplace();
        if (!wayland->window) {
            std::fprintf(stderr, "orvanel_bench: no Wayland window (WAYLAND_DISPLAY names no compositor with "
                                 "xdg-shell?)\n");
            return 1;
        }
        gl.emplace(picture.data(), eglGetPlatformDisplay(EGL_PLATFORM_WAYLAND_KHR, wayland->display, nullptr),
                   wayland->window);
    } else if (kind == Plain::XWindow) {
        // A plain X window of the frame's size, mapped.
        Display* x = XOpenDisplay(nullptr);
        if (!x) return 1;
        Window window = XCreateSimpleWindow(x, DefaultRootWindow(x), 0, 0, 320, 480, 0, 0, 0);
        XMapWindow(x, window);
        XSync(x, False);
        gl.emplace(picture.data(), eglGetDisplay(EGL_DEFAULT_DISPLAY), &window);
    } else {
        gl.emplace(picture.data());
    }
    if (!gl->makeCurrent()) {
        std::fprintf(stderr, "orvanel_bench: EGL could not draw there (0x%x)\n", eglGetError());
        return 1;
    }
    // Absolute deadlines, so that a late frame does not put off the ones after.
    timespec next{};
    clock_gettime(CLOCK_MONOTONIC, &next);
    for (long n = 0; frames == 0 || n < frames; ++n) {
        gl->frame();
        // What eglSwapBuffers read from the compositor, its pings among it.
        if (wayland && wl_display_dispatch_pending(wayland->display) < 0) return 1;
        next.tv_nsec += 33000000;
        if (next.tv_nsec >= 1000000000) {
            next.tv_nsec -= 1000000000;
            ++next.tv_sec;
        }
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
    }
    return 0;
}

}  // namespace bench
