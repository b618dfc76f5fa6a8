// SPDX-License-Identifier: MIT
#pragma once

// A surface buffer as the platform sees it, and the session's book of them
// (internal to the platform layer).

#include <EGL/egl.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "CoreSurface.h"
#include "DisplayBackend.h"

namespace UIKitPlatform {
class SurfaceRegistry;
}

struct __CoreSurfaceBuffer : __CFType {
    ~__CoreSurfaceBuffer() override;

    int width = 0;
    int height = 0;
    int pitch = 0;
    size_t size = 0;
    // Where its pixels are now: memory of its own, or memory lent by the
    // window that shows it (zeroed either way).
    uint8_t* memory = nullptr;
    std::unique_ptr<uint8_t, void (*)(void*)> own{nullptr, std::free};
    std::shared_ptr<display::FrameMemory> lent;
    int lockCount = 0;
    bool stale = false;  // locked for drawing since its memory was last brought up to date

    // The session's book it is in (null: none). EGL draws it through a
    // pbuffer of its size, read back into `memory`; with no session, the
    // view's EGL calls go through as they are.
    UIKitPlatform::SurfaceRegistry* registry = nullptr;
    EGLDisplay eglDisplay = EGL_NO_DISPLAY;
    EGLConfig eglConfig = nullptr;
    EGLSurface eglSurface = EGL_NO_SURFACE;
    EGLContext readContext = EGL_NO_CONTEXT;
    std::vector<uint8_t> readBack;  // GL's rows, bottom-up
};

// The memory the window showing the buffer lends it, from now on (null: its
// own will do); and its own memory again, holding what the lent memory held.
void CoreSurfaceBufferLend(__CoreSurfaceBuffer* buffer, std::shared_ptr<display::FrameMemory> memory);
void CoreSurfaceBufferTakeBack(__CoreSurfaceBuffer* buffer);
// Copies what GL drew on the buffer's EGL surface into its memory, unless
// that was done since the buffer was locked.
void CoreSurfaceBufferResolve(__CoreSurfaceBuffer* buffer);
// Forgets the EGL objects of the buffer (and drops its read-back context).
void CoreSurfaceBufferDetachEGL(__CoreSurfaceBuffer* buffer);

namespace UIKitPlatform {

// A session's live surface buffers, and which EGL surface draws which: what
// the EGL wrap (PixmapResolve.cpp) looks up.
class SurfaceRegistry {
public:
    SurfaceRegistry() = default;
    SurfaceRegistry(const SurfaceRegistry&) = delete;
    SurfaceRegistry& operator=(const SurfaceRegistry&) = delete;
    // Every buffer still in the book leaves it.
    ~SurfaceRegistry();
    // Every buffer takes back the memory lent to it.
    void takeBackLentMemory();

    void add(__CoreSurfaceBuffer* buffer);
    void remove(__CoreSurfaceBuffer* buffer);
    // The live buffer a native-pixmap value names, or null.
    __CoreSurfaceBuffer* fromNative(uintptr_t value) const;
    // The surface draws the buffer from now on (null: no buffer of ours).
    void draws(EGLSurface surface, __CoreSurfaceBuffer* buffer);
    // The buffer an EGL surface draws, if it is one of ours.
    __CoreSurfaceBuffer* drawnBy(EGLSurface surface) const;

    // A frame GL drew reached a buffer's memory, drawn by `renderer`.
    void frameReadBack(const char* renderer);
    unsigned long long framesReadBack() const { return mReadBacks; }
    // GL_RENDERER of the context that drew the first frame read back; empty
    // before.
    const std::string& renderer() const { return mRenderer; }

private:
    std::unordered_set<__CoreSurfaceBuffer*> mBuffers;
    std::unordered_map<EGLSurface, __CoreSurfaceBuffer*> mDrawnBy;
    unsigned long long mReadBacks = 0;
    std::string mRenderer;
};

}  // namespace UIKitPlatform
