// SPDX-License-Identifier: MIT
#include "Buffers.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <utility>

#include "Connection.h"
#include "FrameRing.h"

namespace wl {
namespace {

// A compositor lets go of a buffer once a newer one is shown, so two or three
// are in use at a time; one that holds on to more does not make this process
// grow without end.
constexpr size_t kMostBuffers = 4;

void onRelease(void* data, wl_buffer*) { static_cast<ShmBuffer*>(data)->busy = false; }
const wl_buffer_listener kBufferListener = {onRelease};

// Surface-buffer memory: the compositor reads what the read-back wrote. One
// it still holds is not written; the buffer moves to another. Their releases
// come on a queue of their own, so that waiting for one serves nothing else
// in the middle of a frame.
class SharedFrameMemory final : public display::BlockRing<ShmBuffer> {
public:
    SharedFrameMemory(std::shared_ptr<Link> link, int width, int height, int pitch, size_t size)
        : BlockRing(kMostBuffers, size, std::chrono::milliseconds(100)), mLink(std::move(link)),
          mWidth(width), mHeight(height), mPitch(pitch), mSize(size) {}
    bool held(size_t block) override {
        if (const Globals* g = mLink->globals()) wl_display_dispatch_queue_pending(g->display, g->releases);
        return mBlocks[block]->busy;
    }
    bool grow() override {
        const Globals* g = mLink->globals();
        if (!g) return false;
        auto buffer = createBuffer(mLink, mWidth, mHeight, mPitch, WL_SHM_FORMAT_RGB565, mSize);
        if (!buffer) return false;
        wl_proxy_set_queue(reinterpret_cast<wl_proxy*>(buffer->buffer), g->releases);
        mBlocks.push_back(std::move(buffer));
        return true;
    }
    void waitForRelease(display::FrameRing::Clock::time_point until) override {
        if (const Globals* g = mLink->globals()) serveBy(g->display, g->releases, until);
    }

private:
    std::shared_ptr<Link> mLink;
    int mWidth, mHeight, mPitch;
    size_t mSize;
};

uint32_t toXrgb(uint16_t p) {
    uint32_t r = p >> 11, g = (p >> 5) & 63, b = p & 31;
    return 0xff000000u | ((r << 3 | r >> 2) << 16) | ((g << 2 | g >> 4) << 8) | (b << 3 | b >> 2);
}

}  // namespace

ShmBuffer::ShmBuffer(std::shared_ptr<Link> l, uint8_t* m, size_t s, int w, int h, int st, uint32_t f)
    : link(std::move(l)), memory(m), size(s), width(w), height(h), stride(st), format(f) {
    link->buffers.push_back(this);
}

ShmBuffer::~ShmBuffer() {
    std::erase(link->buffers, this);
    forget();
    if (memory) munmap(memory, size);
}

void ShmBuffer::forget() {
    if (wl_buffer* proxy = std::exchange(buffer, nullptr)) wl_buffer_destroy(proxy);
}

std::unique_ptr<ShmBuffer> createBuffer(const std::shared_ptr<Link>& link, int width, int height, int stride,
                                        uint32_t format, size_t size) {
    const Globals* g = link->globals();
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
    auto out = std::make_unique<ShmBuffer>(link, static_cast<uint8_t*>(memory), size, width, height, stride, format);
    wl_shm_pool* pool = wl_shm_create_pool(g->shm, fd, static_cast<int32_t>(size));
    out->buffer = wl_shm_pool_create_buffer(pool, 0, width, height, stride, format);
    wl_shm_pool_destroy(pool);
    ::close(fd);
    wl_buffer_add_listener(out->buffer, &kBufferListener, out.get());
    return out;
}

std::unique_ptr<display::FrameMemory> createFrameMemory(const std::shared_ptr<Link>& link, int width, int height,
                                                        int pitch, size_t size) {
    const Globals* g = link->globals();
    if (!g || !g->rgb565) return nullptr;
    auto memory = std::make_unique<SharedFrameMemory>(link, width, height, pitch, size);
    return memory->grow() ? std::move(memory) : nullptr;
}

ShmBuffer* FrameBuffers::ownFree() {
    for (auto& b : mOwn)
        if (!b->busy) return b.get();
    if (mOwn.size() >= kMostBuffers) return nullptr;  // the frame waits for one to come back
    const Globals* g = mLink->globals();
    uint32_t format = g && g->rgb565 ? WL_SHM_FORMAT_RGB565 : WL_SHM_FORMAT_XRGB8888;
    int stride = mWidth * (format == WL_SHM_FORMAT_RGB565 ? 2 : 4);
    auto b = createBuffer(mLink, mWidth, mHeight, stride, format, static_cast<size_t>(stride) * mHeight);
    if (!b) return nullptr;
    mOwn.push_back(std::move(b));
    return mOwn.back().get();
}

void FrameBuffers::put(const display::Frame& frame, int x, int y) {
    const auto& [pixels, width, height, pitch, lent] = frame;
    if (!pixels) return;
    // The whole frame, in memory the compositor reads as it is: nothing to copy.
    ShmBuffer* shared = display::BlockRing<ShmBuffer>::currentOf(lent);
    if (shared && shared->buffer && x == 0 && y == 0 && width == mWidth && height == mHeight &&
        shared->width == mWidth && shared->height == mHeight && shared->stride == pitch) {
        mNext = shared;
        return;
    }
    ShmBuffer* to = mNext && mNext == mLastOwn && !mNext->busy ? mNext : ownFree();
    if (!to) return;
    int x0 = std::max(x, 0), y0 = std::max(y, 0);
    int x1 = std::min(x + width, mWidth), y1 = std::min(y + height, mHeight);
    // What lies outside this put stays as the last frame showed it.
    bool whole = x0 == 0 && y0 == 0 && x1 == mWidth && y1 == mHeight;
    if (!whole && mLastOwn && mLastOwn != to) std::memcpy(to->memory, mLastOwn->memory, to->size);
    for (int row = y0; row < y1; ++row) {
        auto* src = reinterpret_cast<const uint16_t*>(pixels + static_cast<size_t>(row - y) * pitch) + (x0 - x);
        uint8_t* dst = to->memory + static_cast<size_t>(row) * to->stride;
        if (to->format == WL_SHM_FORMAT_RGB565) {
            std::memcpy(dst + x0 * 2, src, static_cast<size_t>(x1 - x0) * 2);
        } else {
            auto* out = reinterpret_cast<uint32_t*>(dst) + x0;
            for (int col = 0; col < x1 - x0; ++col) out[col] = toXrgb(src[col]);
        }
    }
    mNext = mLastOwn = to;
}

wl_buffer* FrameBuffers::take() {
    ShmBuffer* next = std::exchange(mNext, nullptr);
    if (!next || !next->buffer) return nullptr;
    next->busy = true;
    return next->buffer;
}

}  // namespace wl
