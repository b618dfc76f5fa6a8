// Why this file exists: Mesa's software rasterizer draws an EGL pixmap surface
// into a private copy and never writes it back to the X pixmap (its contexts
// are double-buffered, pixmaps single-buffered, and the front-buffer flush is
// skipped for that mix). The view's code gives one moment when the frame is
// complete: the buffer's unlock, after the context is released. So the
// platform learns which EGL surface draws which buffer (by wrapping
// eglCreatePixmapSurface at link time), and on unlock reads that surface back
// into the buffer's memory with a context of its own.

#include <EGL/egl.h>
#include <GLES/gl.h>

#include <cstring>
#include <set>
#include <vector>

#include "SurfaceBufferInternal.h"

namespace {
std::set<uintptr_t>& liveBuffers() {
    static std::set<uintptr_t> live;
    return live;
}
}  // namespace

__CoreSurfaceBuffer* CoreSurfaceBufferFromNative(uintptr_t value) {
    return liveBuffers().count(value) ? reinterpret_cast<__CoreSurfaceBuffer*>(value) : nullptr;
}

extern "C" EGLSurface __real_eglCreatePixmapSurface(EGLDisplay, EGLConfig, EGLNativePixmapType,
                                                    const EGLint*);

// The view hands EGL the buffer handle; EGL gets the buffer's X pixmap.
extern "C" EGLSurface __wrap_eglCreatePixmapSurface(EGLDisplay dpy, EGLConfig config,
                                                    EGLNativePixmapType pixmap,
                                                    const EGLint* attribs) {
    __CoreSurfaceBuffer* buffer = CoreSurfaceBufferFromNative(static_cast<uintptr_t>(pixmap));
    if (!buffer) return __real_eglCreatePixmapSurface(dpy, config, pixmap, attribs);
    EGLSurface surface = __real_eglCreatePixmapSurface(
        dpy, config, static_cast<EGLNativePixmapType>(buffer->pixmap), attribs);
    if (surface != EGL_NO_SURFACE && buffer->pixmap) {
        CoreSurfaceBufferDetachEGL(buffer);
        buffer->eglDisplay = dpy;
        buffer->eglConfig = config;
        buffer->eglSurface = surface;
    }
    return surface;
}

void CoreSurfaceBufferRegister(__CoreSurfaceBuffer* buffer) {
    liveBuffers().insert(reinterpret_cast<uintptr_t>(buffer));
}

void CoreSurfaceBufferUnregister(__CoreSurfaceBuffer* buffer) {
    liveBuffers().erase(reinterpret_cast<uintptr_t>(buffer));
}

void CoreSurfaceBufferDetachEGL(__CoreSurfaceBuffer* buffer) {
    if (buffer->readContext != EGL_NO_CONTEXT) {
        if (eglGetCurrentContext() == buffer->readContext)
            eglMakeCurrent(buffer->eglDisplay, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
        eglDestroyContext(buffer->eglDisplay, buffer->readContext);
    }
    buffer->readContext = EGL_NO_CONTEXT;
    buffer->eglDisplay = EGL_NO_DISPLAY;
    buffer->eglConfig = nullptr;
    buffer->eglSurface = EGL_NO_SURFACE;
}

void CoreSurfaceBufferResolve(__CoreSurfaceBuffer* buffer) {
    if (buffer->eglSurface == EGL_NO_SURFACE) return;
    EGLDisplay dpy = buffer->eglDisplay;
    if (buffer->readContext == EGL_NO_CONTEXT) {
        buffer->readContext = eglCreateContext(dpy, buffer->eglConfig, EGL_NO_CONTEXT, nullptr);
        if (buffer->readContext == EGL_NO_CONTEXT) return;
    }
    EGLDisplay oldDisplay = eglGetCurrentDisplay();
    EGLContext oldContext = eglGetCurrentContext();
    EGLSurface oldDraw = eglGetCurrentSurface(EGL_DRAW);
    EGLSurface oldRead = eglGetCurrentSurface(EGL_READ);
    if (!eglMakeCurrent(dpy, buffer->eglSurface, buffer->eglSurface, buffer->readContext)) return;

    int w = buffer->width, h = buffer->height;
    size_t row = static_cast<size_t>(w) * 2;
    glPixelStorei(GL_PACK_ALIGNMENT, (row % 4 == 0) ? 4 : 2);
    if (row == static_cast<size_t>(buffer->pitch)) {
        glReadPixels(0, 0, w, h, GL_RGB, GL_UNSIGNED_SHORT_5_6_5, buffer->memory);
    } else {
        static std::vector<uint8_t> scratch;
        scratch.resize(row * static_cast<size_t>(h));
        glReadPixels(0, 0, w, h, GL_RGB, GL_UNSIGNED_SHORT_5_6_5, scratch.data());
        for (int y = 0; y < h; ++y)
            std::memcpy(buffer->memory + static_cast<size_t>(y) * buffer->pitch,
                        scratch.data() + static_cast<size_t>(y) * row, row);
    }
    // GL's rows come bottom-up; the buffer's top row first.
    static std::vector<uint8_t> swap;
    swap.resize(row);
    for (int top = 0, bottom = h - 1; top < bottom; ++top, --bottom) {
        uint8_t* a = buffer->memory + static_cast<size_t>(top) * buffer->pitch;
        uint8_t* b = buffer->memory + static_cast<size_t>(bottom) * buffer->pitch;
        std::memcpy(swap.data(), a, row);
        std::memcpy(a, b, row);
        std::memcpy(b, swap.data(), row);
    }

    if (oldContext != EGL_NO_CONTEXT)
        eglMakeCurrent(oldDisplay, oldDraw, oldRead, oldContext);
    else
        eglMakeCurrent(dpy, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
}
