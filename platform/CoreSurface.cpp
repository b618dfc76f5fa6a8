// SPDX-License-Identifier: MIT
#include "CoreSurface.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "Session.h"
#include "SurfaceBufferInternal.h"

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

// Zeroed, and aligned for the read-back's widest stores.
uint8_t* ownMemory(size_t size) {
    constexpr size_t kAlign = 64;
    size_t rounded = (size + kAlign - 1) / kAlign * kAlign;
    auto* memory = static_cast<uint8_t*>(std::aligned_alloc(kAlign, rounded));
    if (memory) std::memset(memory, 0, rounded);
    return memory;
}
}  // namespace

__CoreSurfaceBuffer::~__CoreSurfaceBuffer() {
    if (registry) registry->remove(this);
    CoreSurfaceBufferDetachEGL(this);
}

void CoreSurfaceBufferLend(__CoreSurfaceBuffer* buffer, std::shared_ptr<display::FrameMemory> memory) {
    if (!memory) return;
    uint8_t* to = memory->forWriting(false);
    std::memcpy(to, buffer->memory, buffer->size);
    buffer->lent = std::move(memory);
    buffer->memory = to;
}

void CoreSurfaceBufferTakeBack(__CoreSurfaceBuffer* buffer) {
    if (!buffer->lent) return;
    std::memcpy(buffer->own.get(), buffer->memory, buffer->size);
    buffer->memory = buffer->own.get();
    buffer->lent.reset();
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
    // What the properties ask for, but never less than the rows take.
    readInt(properties, kCoreSurfaceBufferAllocSize, allocSize);
    size_t size = std::max(static_cast<size_t>(pitch) * static_cast<size_t>(height),
                           static_cast<size_t>(std::max(allocSize, 0)));

    auto* buffer = new __CoreSurfaceBuffer;
    buffer->own.reset(ownMemory(size));
    if (!buffer->own) {
        delete buffer;
        return nullptr;
    }
    buffer->memory = buffer->own.get();
    buffer->width = width;
    buffer->height = height;
    buffer->pitch = pitch;
    buffer->size = size;
    // Drawn through the session's window system, once there is one.
    if (UIKitPlatform::Session* session = UIKitPlatform::Session::current(); session && session->backend())
        session->surfaces().add(buffer);
    return buffer;
}

int CoreSurfaceBufferLock(CoreSurfaceBufferRef buffer, unsigned int) {
    if (!buffer) return -1;
    // Memory the window system may still be reading is not drawn into: the
    // buffer moves to memory it has let go of, which a read-back fills.
    if (buffer->lent && buffer->lockCount == 0)
        buffer->memory = buffer->lent->forWriting(buffer->eglSurface == EGL_NO_SURFACE);
    ++buffer->lockCount;
    buffer->stale = true;
    return 0;
}

int CoreSurfaceBufferUnlock(CoreSurfaceBufferRef buffer) {
    if (!buffer || buffer->lockCount == 0) return -1;
    if (--buffer->lockCount == 0) CoreSurfaceBufferResolve(buffer);
    return 0;
}

void* CoreSurfaceBufferGetBaseAddress(CoreSurfaceBufferRef buffer) { return buffer ? buffer->memory : nullptr; }

int CoreSurfaceBufferGetWidth(CoreSurfaceBufferRef buffer) { return buffer ? buffer->width : 0; }

int CoreSurfaceBufferGetHeight(CoreSurfaceBufferRef buffer) { return buffer ? buffer->height : 0; }

int CoreSurfaceBufferGetBytesPerRow(CoreSurfaceBufferRef buffer) { return buffer ? buffer->pitch : 0; }

int CoreSurfaceBufferGetLockCount(CoreSurfaceBufferRef buffer) { return buffer ? buffer->lockCount : 0; }
}

CoreSurfaceBufferRef CFRetain(CoreSurfaceBufferRef buffer) {
    CFRetain(static_cast<CFTypeRef>(buffer));
    return buffer;
}

void CFRelease(CoreSurfaceBufferRef buffer) { CFRelease(static_cast<CFTypeRef>(buffer)); }
