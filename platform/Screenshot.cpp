// SPDX-License-Identifier: MIT
#include "Screenshot.h"

#include <png.h>

#include <algorithm>
#include <cstring>

#include "LayerTree.h"
#include "Picture.h"
#include "PixelConvert.h"
#include "SurfaceBufferInternal.h"
#include "UIKit.h"
#include "WriteFile.h"

namespace UIKitPlatform {

std::vector<uint16_t> snapshot(const UIView* view, int width, int height) {
    std::vector<uint16_t> canvas(static_cast<size_t>(width) * height);
    if (!view) return canvas;
    layertree::forEachBuffer(view->layer(), [&](CoreSurfaceBufferRef b, float x, float y) {
        if (!b->memory) return;
        int x0 = static_cast<int>(x), y0 = static_cast<int>(y);
        for (int row = std::max(0, -y0); row < b->height && y0 + row < height; ++row)
            for (int col = std::max(0, -x0); col < b->width && x0 + col < width; ++col)
                std::memcpy(&canvas[static_cast<size_t>(y0 + row) * width + x0 + col],
                            b->memory + static_cast<size_t>(row) * b->pitch + static_cast<size_t>(col) * 2, 2);
    });
    return canvas;
}

bool writePng565(const std::string& path, const std::vector<uint16_t>& pixels, int width, int height,
                 std::string& error, const std::function<void(const std::string&)>& temporary) {
    std::vector<uint8_t> rgb(pixels.size() * 3);
    display::Convert565 toRgb(display::kRgbBytes);
    toRgb(reinterpret_cast<const uint8_t*>(pixels.data()), static_cast<size_t>(width) * 2, width, height, rgb.data(),
          static_cast<size_t>(width) * 3);
    std::vector<uint8_t> png = picture::encodePng(width, height, PNG_FORMAT_RGB, rgb.data(), error);
    if (png.empty()) {
        error = "cannot write " + path + ": " + error;
        return false;
    }
    return files::writeFile(path, png, error, temporary);
}

}  // namespace UIKitPlatform
