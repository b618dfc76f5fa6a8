// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Turns an image file into the demo's picture: 128 x 128 texels of raw RGB,
// first row t = 0. With Z up, t grows upward on the cube's side faces, so the
// image's bottom row becomes the first; the image is scaled to fit with an
// area filter (bilinear when enlarged), and transparent parts show white.
namespace picture {

constexpr int kSize = 128;
constexpr size_t kBytes = kSize * kSize * 3;
// The largest image read: 256 MiB of RGBA.
constexpr unsigned kMaxSide = 1u << 15;
constexpr uint64_t kMaxPixels = uint64_t{1} << 26;

struct Pixels {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgba;  // top row first
};

// Reads a PNG of any kind (palette, grey, 16-bit, with or without alpha).
bool readImage(const std::string& path, Pixels& out, std::string& error);
// Whether the open file starts as a PNG does.
bool isPng(int fd);
// Rows of `width` x `height` pixels in libpng's PNG_FORMAT_`format` (RGB,
// RGBA), encoded in memory; empty, with libpng's reason, when it cannot be.
std::vector<uint8_t> encodePng(int width, int height, uint32_t format, const void* rows, std::string& error);
// Writes an RGBA image as a PNG by files::writeFile's rules (for the sample
// picture and the tests).
bool writePng(const std::string& path, const Pixels& image, std::string& error);
// The picture bytes for an image.
std::vector<uint8_t> toPicture(const Pixels& image);
// Writes the picture. A regular file (or none) is replaced through a temporary
// file and a rename: it gets all 49,152 bytes or is left as it was. A link
// keeps pointing where it did and what it names gets the picture; a device or
// FIFO is written into; a directory is an error.
bool writePicture(const std::string& path, const std::vector<uint8_t>& bytes, std::string& error);
// Where the picture tool puts a user's own picture by default, and where the
// demo looks first: $XDG_DATA_HOME/orvanel/tesmor.raw (XDG_DATA_HOME being
// ~/.local/share unless set to an absolute path); empty with no home.
std::string userPath();
// The device's own place for the picture, which the demo reads when the user
// has none of their own.
constexpr const char* kSystemPath = "/private/var/tesmor.raw";

// Whether the demo can show the file: a regular file holding a PNG it can
// read or exactly kBytes of picture. False, with what is wrong (naming the
// file), when not.
bool usable(const std::string& path, std::string& error);
// Both name the same existing file (through links or not).
bool sameFile(const std::string& a, const std::string& b);

}  // namespace picture
