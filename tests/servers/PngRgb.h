// SPDX-License-Identifier: MIT
#pragma once

#include <png.h>

#include <string>
#include <vector>

// A picture as 8-bit RGB, top row first: the tests' one reader of what the
// program, weston and the screenshot tool write (empty when unreadable).
struct Rgb {
    int width = 0, height = 0;
    std::vector<unsigned char> px;
    const unsigned char* at(int x, int y) const { return &px[(static_cast<size_t>(y) * width + x) * 3]; }
};

inline Rgb readPng(const std::string& path) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return {};
    image.format = PNG_FORMAT_RGB;
    Rgb rgb{static_cast<int>(image.width), static_cast<int>(image.height), {}};
    rgb.px.resize(PNG_IMAGE_SIZE(image));
    return png_image_finish_read(&image, nullptr, rgb.px.data(), 0, nullptr) ? rgb : Rgb{};
}
