// SPDX-License-Identifier: MIT
#include "PixelConvert.h"

#include <algorithm>
#include <bit>

#include <pixman.h>

#include "StreamCopy.h"

namespace display {
namespace {
// An n-bit channel value scaled to the mask's width (masks are contiguous).
uint32_t place(uint32_t value, int fromBits, uint32_t mask) {
    if (!mask) return 0;
    int toBits = std::popcount(mask);
    uint32_t v = value;
    if (toBits > fromBits)
        v = v << (toBits - fromBits) | v >> std::max(2 * fromBits - toBits, 0);
    else
        v >>= fromBits - toBits;
    return (v << std::countr_zero(mask)) & mask;
}
}  // namespace

Convert565::Convert565(const PixelFormat& to) : mTo(to) {
    for (uint32_t v = 0; v < 64; ++v) {
        if (v < 32) mRed[v] = place(v, 5, to.red), mBlue[v] = place(v, 5, to.blue);
        mGreen[v] = place(v, 6, to.green);
    }
}

void Convert565::operator()(const uint8_t* from, size_t fromPitch, int width, int height, uint8_t* to,
                            size_t toPitch) {
    size_t w = static_cast<size_t>(width);
    if (mTo == kRgb565) {
        streamCopyRows(to, static_cast<ptrdiff_t>(toPitch), from, fromPitch, w * 2, height);
        streamCopyDone();
        return;
    }
    mRow.resize(w);
    for (int row = 0; row < height; ++row, from += fromPitch, to += toPitch) {
        auto* src = reinterpret_cast<const uint16_t*>(from);
        for (size_t x = 0; x < w; ++x) mRow[x] = mRed[src[x] >> 11] | mGreen[(src[x] >> 5) & 63] | mBlue[src[x] & 31];
        if (mTo.bytesPerPixel == 4) {
            streamCopy(to, mRow.data(), w * 4);
        } else {
            for (size_t x = 0; x < w; ++x)
                for (int b = 0; b < mTo.bytesPerPixel; ++b) to[x * mTo.bytesPerPixel + b] = mRow[x] >> (8 * b) & 0xff;
        }
    }
    streamCopyDone();
}

void scaleWhole(const uint8_t* from, size_t fromPitch, int width, int height, int bytesPerPixel, int scale,
                uint8_t* to, size_t toPitch) {
    // Formats of these sizes only name the words to copy.
    pixman_format_code_t words = bytesPerPixel == 2 ? PIXMAN_r5g6b5 : PIXMAN_x8r8g8b8;
    pixman_image_t* source = pixman_image_create_bits(words, width, height,
                                                      reinterpret_cast<uint32_t*>(const_cast<uint8_t*>(from)),
                                                      static_cast<int>(fromPitch));
    pixman_image_t* target = pixman_image_create_bits(words, width * scale, height * scale,
                                                      reinterpret_cast<uint32_t*>(to), static_cast<int>(toPitch));
    pixman_transform_t shrink;
    pixman_transform_init_scale(&shrink, pixman_int_to_fixed(1) / scale, pixman_int_to_fixed(1) / scale);
    pixman_image_set_transform(source, &shrink);
    pixman_image_set_filter(source, PIXMAN_FILTER_NEAREST, nullptr, 0);
    pixman_image_composite32(PIXMAN_OP_SRC, source, nullptr, target, 0, 0, 0, 0, 0, 0, width * scale,
                             height * scale);
    pixman_image_unref(target);
    pixman_image_unref(source);
}

}  // namespace display
