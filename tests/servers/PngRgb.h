// SPDX-License-Identifier: MIT
#pragma once

#include <png.h>

#include <string>
#include <vector>

// A PNG file's pixels as 8-bit RGB, top row first: the tests' one reader of
// what the program, weston and the screenshot tool write.
inline bool readPngRgb(const std::string& path, std::vector<unsigned char>& rgb, int& width, int& height) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
    image.format = PNG_FORMAT_RGB;
    rgb.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) return false;
    width = static_cast<int>(image.width);
    height = static_cast<int>(image.height);
    return true;
}
