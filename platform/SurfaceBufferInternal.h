// SPDX-License-Identifier: MIT
#pragma once

#include <EGL/egl.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "CoreSurface.h"
#include "DisplayBackend.h"

struct __CoreSurfaceBuffer : __CFType {
    ~__CoreSurfaceBuffer() override;

    int width = 0;
    int height = 0;
    int pitch = 0;
    // Zeroed; the window shows it (or a copy of it).
    uint8_t* memory = nullptr;
    // Where the window system lends the memory; null: plain memory.
    std::unique_ptr<display::FrameMemory> shared;
    // EGL draws it through a pbuffer of its size, read back into `memory`;
    // with no window system started, the view's EGL calls go through as
    // they are.
    bool pbuffer = false;
    int lockCount = 0;
    bool stale = false;  // locked for drawing since its memory was last brought up to date
    unsigned long long framesRead = 0;  // frames GL drew that reached its memory

    // Where EGL draws this buffer's pixmap (see PixmapResolve.cpp).
    EGLDisplay eglDisplay = EGL_NO_DISPLAY;
    EGLConfig eglConfig = nullptr;
    EGLSurface eglSurface = EGL_NO_SURFACE;
    EGLContext readContext = EGL_NO_CONTEXT;
};

// GL_RENDERER of the context that drew the first frame read back; empty
// before.
const std::string& CoreSurfaceRendererName();
// Copies what GL drew on the buffer's EGL surface into its memory, unless
// that was done since the buffer was locked.
void CoreSurfaceBufferResolve(__CoreSurfaceBuffer* buffer);
// Forgets the EGL objects of the buffer (and drops its read-back context).
void CoreSurfaceBufferDetachEGL(__CoreSurfaceBuffer* buffer);
// Live buffers, so that a native-pixmap value can be told to name one.
void CoreSurfaceBufferRegister(__CoreSurfaceBuffer* buffer);
void CoreSurfaceBufferUnregister(__CoreSurfaceBuffer* buffer);
// The live buffer a native-pixmap value names, or null.
__CoreSurfaceBuffer* CoreSurfaceBufferFromNative(uintptr_t value);
