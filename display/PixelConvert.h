// SPDX-License-Identifier: MIT
#pragma once

// 5-6-5 frames in the formats screens, compositors and PNG files take: one
// conversion for all of them, each channel widened by repeating its top bits
// or narrowed by dropping its lowest, as a screen of that depth shows it
// (pixman has no fast path to 10-bit channels: a table is as fast for all);
// and frames made larger by a whole scale, in exact blocks.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace display {

// Bytes a pixel (2, 3 or 4), stored little-endian, and each channel's bits.
struct PixelFormat {
    int bytesPerPixel = 2;
    uint32_t red = 0xf800, green = 0x07e0, blue = 0x001f;
    bool operator==(const PixelFormat&) const = default;
};
inline constexpr PixelFormat kRgb565{};
inline constexpr PixelFormat kXrgb8888{4, 0xff0000, 0xff00, 0xff};
// R, G and B bytes in that order (a PNG's rows).
inline constexpr PixelFormat kRgbBytes{3, 0xff, 0xff00, 0xff0000};

class Convert565 {
public:
    explicit Convert565(const PixelFormat& to);
    // `height` rows of `width` pixels, `fromPitch` and `toPitch` bytes apart,
    // written as memory another process reads next is (streaming stores).
    void operator()(const uint8_t* from, size_t fromPitch, int width, int height, uint8_t* to, size_t toPitch);

private:
    PixelFormat mTo;
    uint32_t mRed[32] = {}, mGreen[64] = {}, mBlue[32] = {};
    std::vector<uint32_t> mRow;
};

// Rows of `width` x `height` pixels of 2 or 4 bytes made `scale` times as
// large, each pixel a block: pixman's copies by the nearest pixel, whatever
// the pixels' format.
void scaleWhole(const uint8_t* from, size_t fromPitch, int width, int height, int bytesPerPixel, int scale,
                uint8_t* to, size_t toPitch);

}  // namespace display
