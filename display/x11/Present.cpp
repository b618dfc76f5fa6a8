// SPDX-License-Identifier: MIT
// A window's frames: put in its format from memory the server reads, made
// larger here at whole scales and by the server (RENDER) at others, centred,
// and counted once the server has done them.
#include <algorithm>
#include <cmath>

#include "Window.h"

namespace x11 {

void Window::preparePresentation() {
    Display* dpy = display();
    if (mConnection.features().render)
        if (XRenderPictFormat* format = XRenderFindVisualFormat(dpy, mVisual)) {
            mFrame = XCreatePixmap(dpy, mId, static_cast<unsigned>(mLayout.frameWidth),
                                   static_cast<unsigned>(mLayout.frameHeight), static_cast<unsigned>(mDepth));
            mFramePicture = XRenderCreatePicture(dpy, mFrame, format, 0, nullptr);
            mWindowPicture = XRenderCreatePicture(dpy, mId, format, 0, nullptr);
        }
    mLayout.serverScales = mFramePicture != 0;
    mLayout.refit();
    applyFit();
    mConvert.emplace(display::PixelFormat{mShape.bytesPerPixel, static_cast<uint32_t>(mVisual->red_mask),
                                          static_cast<uint32_t>(mVisual->green_mask),
                                          static_cast<uint32_t>(mVisual->blue_mask)});
}

int Window::shownScale() const {
    double scale = mLayout.fit.scale;
    return scale >= 1 && scale == std::floor(scale) ? static_cast<int>(scale) : 0;
}

void Window::applyFit() {
    Display* dpy = display();
    if (!dpy || !mFramePicture || shownScale()) return;
    // Destination to source.
    double inverse = 1 / mLayout.fit.scale;
    XTransform t{{{XDoubleToFixed(inverse), 0, 0}, {0, XDoubleToFixed(inverse), 0}, {0, 0, XDoubleToFixed(1)}}};
    XRenderSetPictureTransform(dpy, mFramePicture, &t);
    XRenderSetPictureFilter(dpy, mFramePicture, FilterBilinear, nullptr, 0);
}

SharedImage* Window::staged(int scale) {
    if (scale != mStagedScale) {
        // Two: a frame never waits for the server to read the one before.
        mStaged.reset();
        ImageShape shape = mShape;
        shape.width *= scale;
        shape.height *= scale;
        shape.pitch *= scale;
        mImages = std::make_unique<SharedImages>(mConnection, shape);
        mStaged = std::make_unique<ImagePool>(*mImages, 2, std::chrono::seconds(1));
        mStagedScale = scale;
    }
    return mStaged->next();
}

std::shared_ptr<display::FrameMemory> Window::lendFrameMemory(int width, int height, int pitch) {
    // Where the window takes 5-6-5 rows as they are, the read-back lands in
    // memory the server reads, and is shown from there.
    if (!mNative565 || mLent || !display()) return nullptr;
    mLent = lendImages(mConnection, {16, 2, width, height, pitch});
    return mLent;
}

void Window::put(const display::Frame& frame, int x, int y) {
    const auto& [pixels, width, height, pitch, memory] = frame;
    if (!display() || !pixels || !mConvert) return;
    int cw = std::min(width, mLayout.frameWidth), ch = std::min(height, mLayout.frameHeight);
    if (cw <= 0 || ch <= 0) return;
    int scale = shownScale(), bytes = mShape.bytesPerPixel;
    // Into the window where it is shown, or the frame's pixmap the server scales.
    Drawable to = scale ? mId : mFrame;
    int toX = scale ? mLayout.fit.x + x * scale : x, toY = scale ? mLayout.fit.y + y * scale : y;
    if (scale <= 1 && mLent && memory == mLent.get() && mLent->block()) {
        putFromPool(mLent->pool(), *mLent->block(), to, mGc, cw, ch, toX, toY);
        return;
    }
    SharedImage* out = staged(std::max(scale, 1));
    if (!out) return;
    size_t outPitch = static_cast<size_t>(out->shape.pitch);
    if (scale <= 1) {
        (*mConvert)(pixels, static_cast<size_t>(pitch), cw, ch, out->memory, outPitch);
    } else {
        const uint8_t* rows = pixels;
        size_t rowsPitch = static_cast<size_t>(pitch);
        if (!mNative565) {
            rowsPitch = static_cast<size_t>(cw) * bytes;
            mScratch.resize(rowsPitch * ch);
            (*mConvert)(pixels, static_cast<size_t>(pitch), cw, ch, mScratch.data(), rowsPitch);
            rows = mScratch.data();
        }
        display::scaleWhole(rows, rowsPitch, cw, ch, bytes, scale, out->memory, outPitch);
    }
    int shown = std::max(scale, 1);
    putFromPool(*mStaged, *out, to, mGc, cw * shown, ch * shown, toX, toY);
}

void Window::present() {
    Display* dpy = display();
    if (!dpy || !mConvert) return;  // a screen it cannot show frames on shows none
    if (mFramePicture && !shownScale())
        XRenderComposite(dpy, PictOpSrc, mFramePicture, 0, mWindowPicture, 0, 0, 0, 0, mLayout.fit.x, mLayout.fit.y,
                         static_cast<unsigned>(mLayout.fit.width), static_cast<unsigned>(mLayout.fit.height));
    // The frame is shown once the server has done the requests so far.
    while (!mShown.empty() && processed(dpy, mShown.front())) {
        mShown.pop_front();
        ++mPresented;
    }
    mShown.push_back(NextRequest(dpy) - 1);
}

long Window::framesPresented() const {
    Display* dpy = display();
    return mPresented + (dpy ? std::ranges::count_if(mShown, [dpy](auto r) { return processed(dpy, r); }) : 0);
}

}  // namespace x11
