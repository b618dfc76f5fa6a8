// SPDX-License-Identifier: MIT
#pragma once

// Frames in shared memory the compositor reads (wl_shm): surface buffers
// whose pixels are that memory, and a window's own buffers for pixels that
// are not.

#include <wayland-client.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "Connection.h"
#include "DisplayBackend.h"

namespace wl {

struct ShmBuffer {
    // Takes the mapped memory.
    ShmBuffer(std::shared_ptr<Link> link, uint8_t* memory, size_t size, int width, int height, int stride,
              uint32_t format);
    ~ShmBuffer();
    ShmBuffer(const ShmBuffer&) = delete;
    ShmBuffer& operator=(const ShmBuffer&) = delete;
    // The connection is closing: the protocol object goes.
    void forget();

    std::shared_ptr<Link> link;
    wl_buffer* buffer = nullptr;  // null once the connection is gone
    uint8_t* memory = nullptr;
    size_t size = 0;
    int width = 0, height = 0, stride = 0;
    uint32_t format = 0;
    bool busy = false;  // the compositor holds it: not to be written
};

// Zeroed shared memory of `size` bytes (at least stride x height) as one
// buffer; null when it cannot be had.
std::unique_ptr<ShmBuffer> createBuffer(const std::shared_ptr<Link>& link, int width, int height, int stride,
                                        uint32_t format, size_t size);
// Surface-buffer memory in 5-6-5 buffers the compositor reads as they are;
// null where it does not take 5-6-5.
std::unique_ptr<display::FrameMemory> createFrameMemory(const std::shared_ptr<Link>& link, int width, int height,
                                                        int pitch, size_t size);

// Where a window's frame comes from: the surface buffer's own memory where
// the compositor can read it, otherwise the window's buffers, filled with the
// pixels (converted where 5-6-5 is not taken).
class FrameBuffers {
public:
    FrameBuffers(std::shared_ptr<Link> link, int width, int height)
        : mLink(std::move(link)), mWidth(width), mHeight(height) {}
    void put(const display::Frame& frame, int x, int y);
    // The buffer to show next (held from now on), or null when nothing was put.
    wl_buffer* take();

private:
    ShmBuffer* ownFree();
    std::shared_ptr<Link> mLink;
    int mWidth, mHeight;
    std::vector<std::unique_ptr<ShmBuffer>> mOwn;
    ShmBuffer* mNext = nullptr;
    ShmBuffer* mLastOwn = nullptr;
};

}  // namespace wl
