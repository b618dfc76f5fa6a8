// SPDX-License-Identifier: MIT
#include "CoreSurface.h"

#include <cstdlib>
#include <cstring>
#include <limits>

#include "SurfaceBufferInternal.h"
#include "X11Display.h"

extern "C" {
const CFStringRef kCoreSurfaceBufferGlobal = CFSTR("Global");
const CFStringRef kCoreSurfaceBufferMemoryRegion = CFSTR("MemoryRegion");
const CFStringRef kCoreSurfaceBufferPitch = CFSTR("Pitch");
const CFStringRef kCoreSurfaceBufferWidth = CFSTR("Width");
const CFStringRef kCoreSurfaceBufferHeight = CFSTR("Height");
const CFStringRef kCoreSurfaceBufferPixelFormat = CFSTR("PixelFormat");
const CFStringRef kCoreSurfaceBufferAllocSize = CFSTR("AllocSize");
}

namespace {
bool readInt(CFDictionaryRef properties, CFStringRef key, int32_t& out) {
    auto* number = static_cast<CFNumberRef>(CFDictionaryGetValue(properties, key));
    return number && CFNumberGetValue(number, kCFNumberSInt32Type, &out);
}
}  // namespace

__CoreSurfaceBuffer::~__CoreSurfaceBuffer() {
    CoreSurfaceBufferUnregister(this);
    CoreSurfaceBufferDetachEGL(this);
    if (pixmap)
        if (Display* dpy = x11::display()) XFreePixmap(dpy, pixmap);
    std::free(memory);
}

extern "C" {

CoreSurfaceBufferRef CoreSurfaceBufferCreate(CFDictionaryRef properties) {
    int32_t width = 0, height = 0, pitch = 0, format = 0, allocSize = 0;
    if (!readInt(properties, kCoreSurfaceBufferWidth, width) ||
        !readInt(properties, kCoreSurfaceBufferHeight, height) ||
        !readInt(properties, kCoreSurfaceBufferPitch, pitch) ||
        !readInt(properties, kCoreSurfaceBufferPixelFormat, format))
        return nullptr;
    if (width <= 0 || height <= 0 || format != kCoreSurfacePixelFormat565L) return nullptr;
    if (pitch < width * 2 || pitch % 2 != 0) return nullptr;
    // X can neither address nor allocate beyond this.
    if (width > 32767 || height > 32767) return nullptr;
    size_t need = static_cast<size_t>(pitch) * static_cast<size_t>(height);
    size_t size = need;
    if (readInt(properties, kCoreSurfaceBufferAllocSize, allocSize) && allocSize > 0 &&
        static_cast<size_t>(allocSize) > need)
        size = static_cast<size_t>(allocSize);

    auto* buffer = new __CoreSurfaceBuffer;
    buffer->memory = static_cast<uint8_t*>(std::calloc(size, 1));
    if (!buffer->memory) {
        delete buffer;
        return nullptr;
    }
    buffer->width = width;
    buffer->height = height;
    buffer->pitch = pitch;
    buffer->allocSize = size;
    if (Display* dpy = x11::display()) {
        buffer->pixmap = XCreatePixmap(dpy, DefaultRootWindow(dpy), static_cast<unsigned>(width),
                                       static_cast<unsigned>(height), 16);
        // EGL reaches the server on a connection of its own.
        XSync(dpy, False);
    }
    CoreSurfaceBufferRegister(buffer);
    return buffer;
}

int CoreSurfaceBufferLock(CoreSurfaceBufferRef buffer, unsigned int) {
    if (!buffer) return -1;
    ++buffer->lockCount;
    buffer->stale = true;
    return 0;
}

int CoreSurfaceBufferUnlock(CoreSurfaceBufferRef buffer) {
    if (!buffer || buffer->lockCount == 0) return -1;
    if (--buffer->lockCount == 0) CoreSurfaceBufferResolve(buffer);
    return 0;
}

void* CoreSurfaceBufferGetBaseAddress(CoreSurfaceBufferRef buffer) {
    return buffer ? buffer->memory : nullptr;
}

int CoreSurfaceBufferGetWidth(CoreSurfaceBufferRef buffer) { return buffer ? buffer->width : 0; }

int CoreSurfaceBufferGetHeight(CoreSurfaceBufferRef buffer) { return buffer ? buffer->height : 0; }

int CoreSurfaceBufferGetBytesPerRow(CoreSurfaceBufferRef buffer) {
    return buffer ? buffer->pitch : 0;
}

int CoreSurfaceBufferGetLockCount(CoreSurfaceBufferRef buffer) {
    return buffer ? buffer->lockCount : 0;
}
}

CoreSurfaceBufferRef CFRetain(CoreSurfaceBufferRef buffer) {
    CFRetain(static_cast<CFTypeRef>(buffer));
    return buffer;
}

void CFRelease(CoreSurfaceBufferRef buffer) { CFRelease(static_cast<CFTypeRef>(buffer)); }
