// SPDX-License-Identifier: MIT
#include "WindowGeometry.h"

#include <algorithm>
#include <cmath>

namespace display {

Fit fitFrame(int frameWidth, int frameHeight, int windowWidth, int windowHeight) {
    Fit fit;
    if (frameWidth <= 0 || frameHeight <= 0 || windowWidth <= 0 || windowHeight <= 0) return fit;
    fit.scale = std::min(static_cast<double>(windowWidth) / frameWidth,
                         static_cast<double>(windowHeight) / frameHeight);
    fit.width = static_cast<int>(std::lround(frameWidth * fit.scale));
    fit.height = static_cast<int>(std::lround(frameHeight * fit.scale));
    fit.x = (windowWidth - fit.width) / 2;
    fit.y = (windowHeight - fit.height) / 2;
    return fit;
}

Fit fitWhole(int frameWidth, int frameHeight, int windowWidth, int windowHeight) {
    Fit fit = fitFrame(frameWidth, frameHeight, windowWidth, windowHeight);
    if (fit.scale < 1) return fit;
    fit.scale = std::floor(fit.scale);
    fit.width = static_cast<int>(frameWidth * fit.scale);
    fit.height = static_cast<int>(frameHeight * fit.scale);
    fit.x = (windowWidth - fit.width) / 2;
    fit.y = (windowHeight - fit.height) / 2;
    return fit;
}

Fit unscaled(int frameWidth, int frameHeight) { return Fit{1, 0, 0, frameWidth, frameHeight}; }

void toFrame(const Fit& fit, double& x, double& y) {
    x = (x - fit.x) / fit.scale;
    y = (y - fit.y) / fit.scale;
}

int scaleForDpi(double dpi, int frameWidth, int frameHeight, int screenWidth, int screenHeight) {
    if (!(dpi > 0) || !std::isfinite(dpi)) return 1;
    // Past this no window system can address the window anyway.
    double scale = std::min(dpi / 96, 32767.0);
    if (frameWidth > 0 && screenWidth > 0) scale = std::min(scale, static_cast<double>(screenWidth / frameWidth));
    if (frameHeight > 0 && screenHeight > 0)
        scale = std::min(scale, static_cast<double>(screenHeight / frameHeight));
    return std::max(1, static_cast<int>(scale));
}

}  // namespace display
