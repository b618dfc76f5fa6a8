// SPDX-License-Identifier: MIT
// Why this file exists: the view makes an EGL pixmap surface whose memory is
// a surface buffer, and no EGL here draws into memory of ours. Mesa's
// surfaceless platform, which EGL runs on whatever the display (its 5-6-5
// configuration is the same on every screen, so the frame is too), has no
// pixmaps at all; and on X, Mesa's software rasterizer never writes a pixmap
// surface back. So the platform learns which EGL surface draws which buffer
// (by wrapping eglCreatePixmapSurface at link time: the surface is a pbuffer
// of the buffer's size) and copies the drawing into the buffer's memory
// itself: at eglWaitGL, whose promise is exactly that native code may now
// see what GL drew, with the drawing context still current; and, for a
// frame that never waited, at the buffer's unlock with a context of its own.
//
// The wrap is complete: eglGetProcAddress hands out the wrapped entry points
// too, so that no caller reaches EGL's own behind the platform's back.

#include <EGL/egl.h>
#include <GLES/gl.h>

#include <string_view>

#include "Session.h"
#include "StreamCopy.h"
#include "SurfaceBufferInternal.h"

namespace UIKitPlatform {

SurfaceRegistry::~SurfaceRegistry() {
    for (__CoreSurfaceBuffer* buffer : mBuffers) buffer->registry = nullptr;
}

void SurfaceRegistry::takeBackLentMemory() {
    for (__CoreSurfaceBuffer* buffer : mBuffers) CoreSurfaceBufferTakeBack(buffer);
}

void SurfaceRegistry::add(__CoreSurfaceBuffer* buffer) {
    mBuffers.insert(buffer);
    buffer->registry = this;
}

void SurfaceRegistry::remove(__CoreSurfaceBuffer* buffer) {
    mBuffers.erase(buffer);
    if (buffer->eglSurface != EGL_NO_SURFACE) mDrawnBy.erase(buffer->eglSurface);
    buffer->registry = nullptr;
}

__CoreSurfaceBuffer* SurfaceRegistry::fromNative(uintptr_t value) const {
    auto* candidate = reinterpret_cast<__CoreSurfaceBuffer*>(value);
    return mBuffers.count(candidate) ? candidate : nullptr;
}

void SurfaceRegistry::draws(EGLSurface surface, __CoreSurfaceBuffer* buffer) {
    if (buffer)
        mDrawnBy[surface] = buffer;
    else
        mDrawnBy.erase(surface);
}

__CoreSurfaceBuffer* SurfaceRegistry::drawnBy(EGLSurface surface) const {
    auto found = mDrawnBy.find(surface);
    return found == mDrawnBy.end() ? nullptr : found->second;
}

void SurfaceRegistry::frameReadBack(const char* renderer) {
    ++mReadBacks;
    if (mRenderer.empty() && renderer) mRenderer = renderer;
}

}  // namespace UIKitPlatform

namespace {
UIKitPlatform::SurfaceRegistry* registry() {
    UIKitPlatform::Session* session = UIKitPlatform::Session::current();
    return session ? &session->surfaces() : nullptr;
}

// The buffer an EGL surface draws, if it is one of ours.
__CoreSurfaceBuffer* bufferDrawnBy(EGLSurface surface) {
    UIKitPlatform::SurfaceRegistry* book = registry();
    return book && surface != EGL_NO_SURFACE ? book->drawnBy(surface) : nullptr;
}
}  // namespace

extern "C" EGLSurface __real_eglCreatePixmapSurface(EGLDisplay, EGLConfig, EGLNativePixmapType,
                                                    const EGLint*);

// The view hands EGL the buffer handle; EGL draws a pbuffer of its size.
extern "C" EGLSurface __wrap_eglCreatePixmapSurface(EGLDisplay dpy, EGLConfig config,
                                                    EGLNativePixmapType pixmap,
                                                    const EGLint* attribs) {
    UIKitPlatform::SurfaceRegistry* book = registry();
    __CoreSurfaceBuffer* buffer = book ? book->fromNative(reinterpret_cast<uintptr_t>(pixmap)) : nullptr;
    if (!buffer) return __real_eglCreatePixmapSurface(dpy, config, pixmap, attribs);
    const EGLint size[] = {EGL_WIDTH, buffer->width, EGL_HEIGHT, buffer->height, EGL_NONE};
    EGLSurface surface = eglCreatePbufferSurface(dpy, config, size);
    if (surface != EGL_NO_SURFACE) {
        CoreSurfaceBufferDetachEGL(buffer);
        buffer->eglDisplay = dpy;
        buffer->eglConfig = config;
        buffer->eglSurface = surface;
        book->draws(surface, buffer);
    }
    return surface;
}

void CoreSurfaceBufferDetachEGL(__CoreSurfaceBuffer* buffer) {
    if (buffer->registry && buffer->eglSurface != EGL_NO_SURFACE) buffer->registry->draws(buffer->eglSurface, nullptr);
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

namespace {
// Reads the current context's drawing into the buffer's memory, top row
// first. GL's rows come bottom-up: the frame is read in one call into a
// scratch (each call costs Mesa a set-up worth many rows), and each row goes
// to its place with streaming stores, so that the buffer's memory (what a
// display server may read next) is crossed once.
void readInto(__CoreSurfaceBuffer* buffer) {
    int w = buffer->width, h = buffer->height;
    size_t row = static_cast<size_t>(w) * 2;
    std::vector<uint8_t>& scratch = buffer->readBack;
    scratch.resize(row * static_cast<size_t>(h));
    // Rows of a width that is not a multiple of two pixels are not 4-byte
    // aligned: only then is the packing changed (and put back).
    GLint alignment = 4;
    if (row % 4 != 0) {
        glGetIntegerv(GL_PACK_ALIGNMENT, &alignment);
        glPixelStorei(GL_PACK_ALIGNMENT, 2);
    }
    glReadPixels(0, 0, w, h, GL_RGB, GL_UNSIGNED_SHORT_5_6_5, scratch.data());
    streamCopyRows(buffer->memory + static_cast<size_t>(h - 1) * buffer->pitch, -static_cast<ptrdiff_t>(buffer->pitch),
                   scratch.data(), row, row, h);
    streamCopyDone();
    if (row % 4 != 0) glPixelStorei(GL_PACK_ALIGNMENT, alignment);
    buffer->stale = false;
    if (UIKitPlatform::SurfaceRegistry* book = buffer->registry)
        book->frameReadBack(book->renderer().empty() ? reinterpret_cast<const char*>(glGetString(GL_RENDERER))
                                                     : nullptr);
}
}  // namespace

extern "C" EGLBoolean __real_eglQuerySurface(EGLDisplay, EGLSurface, EGLint, EGLint*);

// The buffer's size, without a call into EGL.
extern "C" EGLBoolean __wrap_eglQuerySurface(EGLDisplay dpy, EGLSurface surface, EGLint attribute,
                                             EGLint* value) {
    __CoreSurfaceBuffer* buffer = bufferDrawnBy(surface);
    if (buffer && buffer->eglDisplay == dpy && value && (attribute == EGL_WIDTH || attribute == EGL_HEIGHT)) {
        *value = attribute == EGL_WIDTH ? buffer->width : buffer->height;
        return EGL_TRUE;
    }
    return __real_eglQuerySurface(dpy, surface, attribute, value);
}

extern "C" EGLBoolean __real_eglWaitGL();

extern "C" EGLBoolean __wrap_eglWaitGL() {
    // On one of the platform's buffers, reading the drawing back is the whole
    // of the wait (the read finishes GL's work first), and Mesa's own wait
    // would cost a frame's worth of time for nothing.
    if (__CoreSurfaceBuffer* buffer = bufferDrawnBy(eglGetCurrentSurface(EGL_DRAW))) {
        readInto(buffer);
        return EGL_TRUE;
    }
    return __real_eglWaitGL();
}

void CoreSurfaceBufferResolve(__CoreSurfaceBuffer* buffer) {
    if (buffer->eglSurface == EGL_NO_SURFACE || !buffer->stale) return;
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

    readInto(buffer);

    // With no context current there was no display either, and no surfaces.
    eglMakeCurrent(oldContext != EGL_NO_CONTEXT ? oldDisplay : dpy, oldDraw, oldRead, oldContext);
}

extern "C" __eglMustCastToProperFunctionPointerType __real_eglGetProcAddress(const char*);

extern "C" __eglMustCastToProperFunctionPointerType __wrap_eglGetProcAddress(const char* name) {
    using Entry = __eglMustCastToProperFunctionPointerType;
    const std::string_view n = name ? name : "";
    if (n == "eglCreatePixmapSurface") return reinterpret_cast<Entry>(__wrap_eglCreatePixmapSurface);
    if (n == "eglWaitGL") return reinterpret_cast<Entry>(__wrap_eglWaitGL);
    if (n == "eglQuerySurface") return reinterpret_cast<Entry>(__wrap_eglQuerySurface);
    if (n == "eglGetProcAddress") return reinterpret_cast<Entry>(__wrap_eglGetProcAddress);
    return __real_eglGetProcAddress(name);
}
