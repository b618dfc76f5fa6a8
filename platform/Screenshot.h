// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class UIView;

namespace UIKitPlatform {

// The view's layers as the window shows them, in 5-6-5 pixels, top row
// first, `width` x `height`.
std::vector<uint16_t> snapshot(const UIView* view, int width, int height);
// Writes 5-6-5 pixels as an 8-bit RGB PNG, by the rules of files::writeFile
// (what was at `path` stays unless the whole image replaces it); false, with
// the reason, when it cannot. `temporary` as for files::writeFile.
bool writePng565(const std::string& path, const std::vector<uint16_t>& pixels, int width, int height,
                 std::string& error, const std::function<void(const std::string&)>& temporary = {});

}  // namespace UIKitPlatform
