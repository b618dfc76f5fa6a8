// SPDX-License-Identifier: MIT
// A window's frames: put in its format from memory the server reads, scaled
// and centred by the server (RENDER) where the window is not the frame's
// size, and counted once the server has done them.
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
    // Two: a frame never waits for the server to read the one before.
    mImages = std::make_unique<SharedImages>(mConnection, mShape);
    mConverted = std::make_unique<ImagePool>(*mImages, 2, std::chrono::seconds(1));
}

void Window::applyFit() {
    Display* dpy = display();
    if (!dpy || !scaled()) return;
    // Destination to source; a whole scale makes each pixel an exact block.
    double inverse = 1 / mLayout.fit.scale;
    XTransform t{{{XDoubleToFixed(inverse), 0, 0}, {0, XDoubleToFixed(inverse), 0}, {0, 0, XDoubleToFixed(1)}}};
    XRenderSetPictureTransform(dpy, mFramePicture, &t);
    bool whole = mLayout.fit.scale == std::floor(mLayout.fit.scale);
    XRenderSetPictureFilter(dpy, mFramePicture, whole ? FilterNearest : FilterBilinear, nullptr, 0);
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
    if (!display() || !pixels || !mConverted) return;
    int cw = std::min(width, mLayout.frameWidth), ch = std::min(height, mLayout.frameHeight);
    if (cw <= 0 || ch <= 0) return;
    Drawable to = mId;
    if (scaled()) {
        to = mFrame;
    } else if (mFramePicture) {  // centred; without RENDER it stays at the top left
        x += mLayout.fit.x;
        y += mLayout.fit.y;
    }
    if (mLent && memory == mLent.get() && mLent->block()) {
        putFromPool(mLent->pool(), *mLent->block(), to, mGc, cw, ch, x, y);
        return;
    }
    SharedImage* out = mConverted->next();
    if (!out) return;
    (*mConvert)(pixels, static_cast<size_t>(pitch), cw, ch, out->memory, static_cast<size_t>(mShape.pitch));
    putFromPool(*mConverted, *out, to, mGc, cw, ch, x, y);
}

void Window::present() {
    Display* dpy = display();
    if (!dpy) return;
    if (scaled())
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
