// SPDX-License-Identifier: MIT
#pragma once

// Frame memory taken in turns with a reader in another process (an X
// server, a compositor): a few blocks, and never one the reader may still be
// reading handed out for writing. Both backends keep their shared frames in
// one.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "DisplayBackend.h"

namespace display {

class FrameRing {
public:
    using Clock = std::chrono::steady_clock;

    // The backend's side: its blocks, and what the reader has said of them.
    class Blocks {
    public:
        virtual size_t count() const = 0;
        virtual uint8_t* memory(size_t block) = 0;
        // The reader may still read it.
        virtual bool held(size_t block) = 0;
        // One more block; false when none can be had.
        virtual bool grow() = 0;
        // Serves the reader's news until it lets go of a block or `until`
        // passes.
        virtual void waitForRelease(Clock::time_point until) = 0;

    protected:
        ~Blocks() = default;
    };

    // At most `most` blocks of `bytes` each; `bound` is how long a frame
    // waits for the reader when it holds them all.
    FrameRing(Blocks& blocks, size_t most, size_t bytes, std::chrono::milliseconds bound)
        : mBlocks(blocks), mMost(most), mBytes(bytes), mBound(bound) {}

    // The block the frame is in: nothing while it is in memory of its own
    // (the reader held every block for longer than the bound).
    std::optional<size_t> current() const { return mCurrent; }
    // The block to draw the next frame into, holding what the current one
    // holds when `keep` is set: the current one when free, else another free
    // one, else a new one while there may be more, else the first the reader
    // lets go of within the bound. Nothing when none came back.
    std::optional<size_t> forWriting(bool keep, const uint8_t* keepFrom);

private:
    std::optional<size_t> firstFree();

    Blocks& mBlocks;
    size_t mMost, mBytes;
    std::chrono::milliseconds mBound;
    std::optional<size_t> mCurrent = 0;
};

// A surface buffer's memory in a ring: the ring's current block, or memory
// of its own while the reader holds them all (shown by copying).
class RingFrameMemory : public FrameMemory, protected FrameRing::Blocks {
public:
    uint8_t* pixels() override;
    uint8_t* forWriting(bool keep) override;
    // The block the frame is in now; nothing while it is in memory of its own.
    std::optional<size_t> block() const { return mRing.current(); }

protected:
    RingFrameMemory(size_t most, size_t bytes, std::chrono::milliseconds bound)
        : mRing(*this, most, bytes, bound), mBytes(bytes) {}

private:
    FrameRing mRing;
    size_t mBytes;
    std::vector<uint8_t> mOwn;
};

// A ring whose blocks are a backend's own objects (shared images, buffers),
// each with its `memory`.
template <class Block>
class BlockRing : public RingFrameMemory {
public:
    // The block a surface buffer's memory is in now, when it is memory lent
    // by such a ring; null otherwise.
    static Block* currentOf(FrameMemory* lent) {
        auto* ring = dynamic_cast<BlockRing*>(lent);
        std::optional<size_t> b = ring ? ring->block() : std::nullopt;
        return b ? ring->mBlocks[*b].get() : nullptr;
    }
    size_t count() const override { return mBlocks.size(); }
    uint8_t* memory(size_t block) override { return reinterpret_cast<uint8_t*>(mBlocks[block]->memory); }

protected:
    using RingFrameMemory::RingFrameMemory;
    std::vector<std::unique_ptr<Block>> mBlocks;
};

}  // namespace display
