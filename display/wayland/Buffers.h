// SPDX-License-Identifier: MIT
#pragma once

// Frames in shared memory the compositor reads (wl_shm): the memory a window
// lends to a surface buffer where the compositor takes 5-6-5, and the
// window's own buffers for pixels that are not in it.

#include <wayland-client.h>

#include <cstdint>
#include <memory>
#include <optional>

#include "Connection.h"
#include "DisplayBackend.h"
#include "FramePool.h"
#include "PixelConvert.h"

namespace wl {

struct ShmBuffer {
    // Zeroed shared memory of `size` bytes (at least stride x height) as one
    // buffer, its releases on `queue` (null: the display's own); null when
    // it cannot be had.
    static std::unique_ptr<ShmBuffer> create(Connection& connection, int width, int height, int stride,
                                             uint32_t format, size_t size, wl_event_queue* queue = nullptr);
    ~ShmBuffer();

    wl_buffer* buffer = nullptr;
    uint8_t* memory = nullptr;
    size_t size = 0;
    int width = 0, height = 0, stride = 0;
    uint32_t format = 0;
    bool busy = false;  // the compositor holds it: not to be written
};

using BufferPool = display::FramePool<ShmBuffer>;

// Buffers of one shape the compositor takes in turns: a pool's reader. Their
// releases come on a queue of their own, so that waiting for one serves
// nothing else in the middle of a frame.
class ShmBuffers final : public BufferPool::Reader {
public:
    ShmBuffers(Connection& connection, int width, int height, int stride, uint32_t format, size_t size)
        : mConnection(connection), mWidth(width), mHeight(height), mStride(stride), mFormat(format), mSize(size) {}
    void catchUp() override;
    bool held(ShmBuffer& buffer) override { return buffer.busy; }
    std::unique_ptr<ShmBuffer> make() override;
    void waitForRelease(const BufferPool::Blocks& buffers, BufferPool::Clock::time_point until) override;

private:
    Connection& mConnection;
    int mWidth, mHeight, mStride;
    uint32_t mFormat;
    size_t mSize;
};

// Where a window's frame comes from: the memory it lent to the surface
// buffer where the compositor reads it as it is, otherwise its own buffers,
// filled with the pixels (converted where 5-6-5 is not taken).
class FrameBuffers {
public:
    FrameBuffers(Connection& connection, int width, int height) : mConnection(connection), mWidth(width), mHeight(height) {}
    // 5-6-5 buffers the compositor reads as they are; null where it does not
    // take 5-6-5.
    std::shared_ptr<display::FrameMemory> lend(int width, int height, int pitch);
    void put(const display::Frame& frame, int x, int y);
    // The buffer to show next (held from now on), or null when nothing was put.
    wl_buffer* take();

private:
    using Lent = display::PooledFrameMemory<ShmBuffer>;
    Connection& mConnection;
    int mWidth, mHeight;
    std::shared_ptr<Lent> mLent;
    std::unique_ptr<ShmBuffers> mOwnBuffers;
    std::unique_ptr<BufferPool> mOwn;
    std::optional<display::Convert565> mConvert;
    ShmBuffer* mNext = nullptr;
    ShmBuffer* mLastOwn = nullptr;
};

}  // namespace wl
