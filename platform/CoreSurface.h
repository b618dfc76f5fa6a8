// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>

#include "CoreFoundation.h"

// A lockable 16-bit pixel buffer whose handle EGL takes as a native pixmap.
struct __CoreSurfaceBuffer;
using CoreSurfaceBufferRef = __CoreSurfaceBuffer*;

extern "C" {
extern const CFStringRef kCoreSurfaceBufferGlobal;
extern const CFStringRef kCoreSurfaceBufferMemoryRegion;
extern const CFStringRef kCoreSurfaceBufferPitch;
extern const CFStringRef kCoreSurfaceBufferWidth;
extern const CFStringRef kCoreSurfaceBufferHeight;
extern const CFStringRef kCoreSurfaceBufferPixelFormat;
extern const CFStringRef kCoreSurfaceBufferAllocSize;

// The four bytes "565L" read as a little-endian number.
constexpr int32_t kCoreSurfacePixelFormat565L = 0x4C353635;

// Null when the properties do not describe a 5-6-5 buffer of positive size.
CoreSurfaceBufferRef CoreSurfaceBufferCreate(CFDictionaryRef properties);
// A null buffer makes lock and unlock do nothing (and return nonzero).
int CoreSurfaceBufferLock(CoreSurfaceBufferRef buffer, unsigned int flags);
int CoreSurfaceBufferUnlock(CoreSurfaceBufferRef buffer);

void* CoreSurfaceBufferGetBaseAddress(CoreSurfaceBufferRef buffer);
int CoreSurfaceBufferGetWidth(CoreSurfaceBufferRef buffer);
int CoreSurfaceBufferGetHeight(CoreSurfaceBufferRef buffer);
int CoreSurfaceBufferGetBytesPerRow(CoreSurfaceBufferRef buffer);
int CoreSurfaceBufferGetLockCount(CoreSurfaceBufferRef buffer);
}

// Buffers are counted like every other property object.
CoreSurfaceBufferRef CFRetain(CoreSurfaceBufferRef buffer);
void CFRelease(CoreSurfaceBufferRef buffer);
