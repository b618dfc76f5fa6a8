// SPDX-License-Identifier: MIT
#include "Buffers.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <utility>

namespace wl {
namespace {

// A compositor lets go of a buffer once a newer one is shown, so two or three
// are in use at a time; one that holds on to more does not make this process
// grow without end.
constexpr size_t kMostBuffers = 4;
constexpr std::chrono::milliseconds kWaitForRelease{100};

void onRelease(void* data, wl_buffer*) { static_cast<ShmBuffer*>(data)->busy = false; }
const wl_buffer_listener kBufferListener = {onRelease};

}  // namespace

std::unique_ptr<ShmBuffer> ShmBuffer::create(Connection& connection, int width, int height, int stride,
                                             uint32_t format, size_t size, wl_event_queue* queue) {
    const Globals* g = connection.globals();
    if (!g || width <= 0 || height <= 0 || size < static_cast<size_t>(stride) * static_cast<size_t>(height) ||
        size > 0x7fffffff)
        return nullptr;
    int fd = memfd_create("orvanel-frame", MFD_CLOEXEC);
    void* memory = fd >= 0 && ftruncate(fd, static_cast<off_t>(size)) == 0
                       ? mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0)
                       : MAP_FAILED;
    if (memory == MAP_FAILED) {
        if (fd >= 0) ::close(fd);
        return nullptr;
    }
    auto out = std::make_unique<ShmBuffer>();
    out->memory = static_cast<uint8_t*>(memory);
    out->size = size;
    out->width = width;
    out->height = height;
    out->stride = stride;
    out->format = format;
    wl_shm_pool* pool = wl_shm_create_pool(g->shm, fd, static_cast<int32_t>(size));
    out->buffer = wl_shm_pool_create_buffer(pool, 0, width, height, stride, format);
    wl_shm_pool_destroy(pool);
    ::close(fd);
    if (queue) wl_proxy_set_queue(reinterpret_cast<wl_proxy*>(out->buffer), queue);
    wl_buffer_add_listener(out->buffer, &kBufferListener, out.get());
    return out;
}

ShmBuffer::~ShmBuffer() {
    if (buffer) wl_buffer_destroy(buffer);
    if (memory) munmap(memory, size);
}

void ShmBuffers::catchUp() {
    if (const Globals* g = mConnection.globals()) wl_display_dispatch_queue_pending(g->display, g->releases);
}

std::unique_ptr<ShmBuffer> ShmBuffers::make() {
    const Globals* g = mConnection.globals();
    return g ? ShmBuffer::create(mConnection, mWidth, mHeight, mStride, mFormat, mSize, g->releases) : nullptr;
}

void ShmBuffers::waitForRelease(const BufferPool::Blocks&, BufferPool::Clock::time_point until) {
    if (const Globals* g = mConnection.globals()) serveBy(g->display, g->releases, until);
}

// The read-back lands in memory the compositor reads as it is: the only copy
// of a frame.
std::shared_ptr<display::FrameMemory> FrameBuffers::lend(int width, int height, int pitch) {
    const Globals* g = mConnection.globals();
    if (mLent || !g || !g->rgb565) return nullptr;
    size_t size = static_cast<size_t>(pitch) * static_cast<size_t>(height);
    mLent = std::make_shared<Lent>(
        std::make_unique<ShmBuffers>(mConnection, width, height, pitch, WL_SHM_FORMAT_RGB565, size), kMostBuffers,
        size, kWaitForRelease);
    return mLent;
}

void FrameBuffers::put(const display::Frame& frame, int x, int y) {
    const auto& [pixels, width, height, pitch, memory] = frame;
    if (!pixels) return;
    // The whole frame, in memory the compositor reads as it is: nothing to copy.
    ShmBuffer* lent = mLent && memory == mLent.get() ? mLent->block() : nullptr;
    if (lent && x == 0 && y == 0 && width == mWidth && height == mHeight) {
        mNext = lent;
        return;
    }
    if (!mOwn) {
        const Globals* g = mConnection.globals();
        uint32_t format = g && g->rgb565 ? WL_SHM_FORMAT_RGB565 : WL_SHM_FORMAT_XRGB8888;
        int stride = mWidth * (format == WL_SHM_FORMAT_RGB565 ? 2 : 4);
        mOwnBuffers = std::make_unique<ShmBuffers>(mConnection, mWidth, mHeight, stride, format,
                                                   static_cast<size_t>(stride) * mHeight);
        mOwn = std::make_unique<BufferPool>(*mOwnBuffers, kMostBuffers, kWaitForRelease);
        mConvert.emplace(format == WL_SHM_FORMAT_RGB565 ? display::kRgb565 : display::kXrgb8888);
    }
    ShmBuffer* to = mOwn->next();
    if (!to) return;
    int x0 = std::max(x, 0), y0 = std::max(y, 0);
    int x1 = std::min(x + width, mWidth), y1 = std::min(y + height, mHeight);
    if (x1 <= x0 || y1 <= y0) return;
    // What lies outside this put stays as the last frame showed it.
    bool whole = x0 == 0 && y0 == 0 && x1 == mWidth && y1 == mHeight;
    if (!whole && mLastOwn && mLastOwn != to) std::memcpy(to->memory, mLastOwn->memory, to->size);
    int bytes = to->format == WL_SHM_FORMAT_RGB565 ? 2 : 4;
    (*mConvert)(pixels + static_cast<size_t>(y0 - y) * pitch + static_cast<size_t>(x0 - x) * 2,
                static_cast<size_t>(pitch), x1 - x0, y1 - y0,
                to->memory + static_cast<size_t>(y0) * to->stride + static_cast<size_t>(x0) * bytes,
                static_cast<size_t>(to->stride));
    mNext = mLastOwn = to;
}

wl_buffer* FrameBuffers::take() {
    ShmBuffer* next = std::exchange(mNext, nullptr);
    if (!next || !next->buffer) return nullptr;
    next->busy = true;
    return next->buffer;
}

}  // namespace wl
