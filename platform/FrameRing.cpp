// SPDX-License-Identifier: MIT
#include "FrameRing.h"

#include <cstring>

namespace display {

std::optional<size_t> FrameRing::firstFree() {
    for (size_t i = 0; i < mBlocks.count(); ++i)
        if (!mBlocks.held(i)) return i;
    return std::nullopt;
}

std::optional<size_t> FrameRing::forWriting(bool keep, const uint8_t* keepFrom) {
    if (mCurrent && !mBlocks.held(*mCurrent)) return mCurrent;
    std::optional<size_t> next = firstFree();
    if (!next && mBlocks.count() < mMost && mBlocks.grow()) next = mBlocks.count() - 1;
    if (!next) {
        Clock::time_point until = Clock::now() + mBound;
        while (!next && Clock::now() < until) {
            mBlocks.waitForRelease(until);
            next = firstFree();
        }
    }
    if (next && keep && keepFrom && keepFrom != mBlocks.memory(*next))
        std::memcpy(mBlocks.memory(*next), keepFrom, mBytes);
    mCurrent = next;
    return next;
}

uint8_t* RingFrameMemory::pixels() {
    if (std::optional<size_t> b = mRing.current()) return memory(*b);
    mOwn.resize(mBytes);
    return mOwn.data();
}

uint8_t* RingFrameMemory::forWriting(bool keep) {
    uint8_t* from = pixels();
    if (std::optional<size_t> b = mRing.forWriting(keep, from)) return memory(*b);
    uint8_t* own = pixels();
    if (keep && own != from) std::memcpy(own, from, mBytes);
    return own;
}

}  // namespace display
