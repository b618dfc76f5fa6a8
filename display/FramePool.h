// SPDX-License-Identifier: MIT
#pragma once

// Frame memory taken in turns with a reader in another process (an X
// server, a compositor): a few blocks, and never one the reader may still be
// reading handed out for writing. Every block a backend shows frames from is
// in one: the memory a window lends to a surface buffer, and the memory it
// converts frames into.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "DisplayBackend.h"

namespace display {

// `Block` has the `memory` its frame is in.
template <class Block>
class FramePool {
public:
    using Clock = std::chrono::steady_clock;

    using Blocks = std::vector<std::unique_ptr<Block>>;

    // The backend's side: its blocks, and what the reader says of them.
    class Reader {
    public:
        virtual ~Reader() = default;
        // Takes in what the reader has said since the last frame (news
        // already read, none waited for).
        virtual void catchUp() {}
        // The reader may still read it, as far as its news tells.
        virtual bool held(Block& block) = 0;
        // One more block; null when none can be had.
        virtual std::unique_ptr<Block> make() = 0;
        // Serves the reader's news until it lets go of one of `blocks` or
        // `until` passes.
        virtual void waitForRelease(const Blocks& blocks, Clock::time_point until) = 0;
    };

    // At most `most` blocks; `bound` is how long a frame waits for the
    // reader when it holds them all.
    FramePool(Reader& reader, size_t most, std::chrono::milliseconds bound)
        : mReader(reader), mMost(most), mBound(bound) {}

    // The block the last frame went to: null before any, or while the reader
    // held them all for longer than the bound.
    Block* current() const { return mCurrent; }
    const Blocks& blocks() const { return mBlocks; }

    // The block for the next frame: the current one when free, else another
    // free one, else a new one while there may be more, else the first the
    // reader lets go of within the bound. Null when none came back.
    Block* next() {
        mReader.catchUp();
        if (mCurrent && !mReader.held(*mCurrent)) return mCurrent;
        Block* next = firstFree();
        if (!next && mBlocks.size() < mMost)
            if (std::unique_ptr<Block> made = mReader.make()) next = mBlocks.emplace_back(std::move(made)).get();
        for (Clock::time_point until = Clock::now() + mBound; !next && Clock::now() < until; next = firstFree())
            mReader.waitForRelease(mBlocks, until);
        return mCurrent = next;
    }

private:
    Block* firstFree() {
        for (const std::unique_ptr<Block>& block : mBlocks)
            if (!mReader.held(*block)) return block.get();
        return nullptr;
    }

    Reader& mReader;
    size_t mMost;
    std::chrono::milliseconds mBound;
    Blocks mBlocks;
    Block* mCurrent = nullptr;
};

// A surface buffer's memory in a pool's blocks of `bytes` each, or memory of
// its own while the reader holds them all (shown by copying).
template <class Block>
class PooledFrameMemory final : public FrameMemory {
public:
    using Reader = typename FramePool<Block>::Reader;
    PooledFrameMemory(std::unique_ptr<Reader> reader, size_t most, size_t bytes, std::chrono::milliseconds bound)
        : mReader(std::move(reader)), mPool(*mReader, most, bound), mBytes(bytes) {}

    // The block the frame is in now; null while it is in memory of its own.
    Block* block() const { return mPool.current(); }
    const FramePool<Block>& pool() const { return mPool; }

    uint8_t* pixels() override {
        if (Block* b = mPool.current()) return b->memory;
        mOwn.resize(mBytes);
        return mOwn.data();
    }
    uint8_t* forWriting(bool keep) override {
        uint8_t* from = pixels();
        mPool.next();
        uint8_t* to = pixels();
        if (keep && to != from) std::memcpy(to, from, mBytes);
        return to;
    }

private:
    std::unique_ptr<Reader> mReader;
    FramePool<Block> mPool;
    size_t mBytes;
    std::vector<uint8_t> mOwn;
};

}  // namespace display
