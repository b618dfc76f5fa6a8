// SPDX-License-Identifier: MIT
#include "Present.h"

#include <algorithm>
#include <bit>
#include <cmath>

#include "Connection.h"
#include "StreamCopy.h"
#include "Window.h"

namespace x11 {
namespace {
// Scales an n-bit channel to the mask's width (a visual's masks are
// contiguous).
unsigned long place(unsigned value, int fromBits, unsigned long mask) {
    if (!mask) return 0;
    int toBits = std::popcount(mask);
    unsigned long v = value;
    if (toBits > fromBits)
        v = (v << (toBits - fromBits)) | (v >> (2 * fromBits - toBits > 0 ? 2 * fromBits - toBits : 0));
    else
        v >>= (fromBits - toBits);
    return (v << std::countr_zero(mask)) & mask;
}

// At scale 1 straight into the window; otherwise into the frame's pixmap,
// which present() scales.
bool scaled(const WindowState& w) { return w.fit.scale != 1 && w.framePicture; }
}  // namespace

void preparePresentation(WindowState& w) {
    Display* dpy = displayOf(w);
    if (w.link->connection->features().render)
        if (XRenderPictFormat* format = XRenderFindVisualFormat(dpy, w.visual)) {
            w.frame = XCreatePixmap(dpy, w.id, static_cast<unsigned>(w.width), static_cast<unsigned>(w.height),
                                    static_cast<unsigned>(w.depth));
            w.framePicture = XRenderCreatePicture(dpy, w.frame, format, 0, nullptr);
            w.windowPicture = XRenderCreatePicture(dpy, w.id, format, 0, nullptr);
        }
    applyFit(w);
    for (Image& image : w.staging) {
        createImage(w.link, image, w.depth, w.bytesPerPixel, w.width, w.height, w.width * w.bytesPerPixel);
        image.ring = w.staging;
    }
    if (!w.native565) {
        w.row.resize(static_cast<size_t>(w.width));
        for (unsigned v = 0; v < 64; ++v) {
            if (v < 32) w.red[v] = static_cast<uint32_t>(place(v, 5, w.visual->red_mask));
            if (v < 32) w.blue[v] = static_cast<uint32_t>(place(v, 5, w.visual->blue_mask));
            w.green[v] = static_cast<uint32_t>(place(v, 6, w.visual->green_mask));
        }
    }
}

void applyFit(WindowState& w) {
    Display* dpy = displayOf(w);
    if (!dpy || !w.framePicture || w.fit.scale == 1) return;
    // Destination to source; a whole scale makes each pixel an exact block.
    double inverse = 1 / w.fit.scale;
    XTransform t{{{XDoubleToFixed(inverse), 0, 0}, {0, XDoubleToFixed(inverse), 0}, {0, 0, XDoubleToFixed(1)}}};
    XRenderSetPictureTransform(dpy, w.framePicture, &t);
    bool whole = w.fit.scale == std::floor(w.fit.scale);
    XRenderSetPictureFilter(dpy, w.framePicture, whole ? FilterNearest : FilterBilinear, nullptr, 0);
}

void putImage565(WindowState& w, const display::Frame& frame, Image* shared, int x, int y) {
    const auto& [pixels, width, height, pitch, lent] = frame;
    if (!displayOf(w) || !w.id || !pixels) return;
    int cw = std::min(width, w.width), ch = std::min(height, w.height);
    if (cw <= 0 || ch <= 0) return;
    Drawable to = w.id;
    if (scaled(w)) {
        to = w.frame;
    } else if (w.framePicture) {  // centred; without RENDER it stays at the top left
        x += w.fit.x;
        y += w.fit.y;
    }
    // Memory the server reads as it is: shown from where it was drawn.
    if (shared && w.native565 && shared->pitch == pitch) {
        putImage(*shared, to, w.gc, cw, ch, x, y, wantsNotice(*shared));
        return;
    }
    Image& out = w.staging[w.next];
    if (!out.ximage) return;
    w.next ^= 1;
    waitIdle(out);
    if (w.native565) {
        for (int row = 0; row < ch; ++row)
            streamCopy(out.memory + static_cast<size_t>(row) * out.pitch,
                         pixels + static_cast<size_t>(row) * pitch, static_cast<size_t>(cw) * 2);
    } else {
        for (int row = 0; row < ch; ++row) {
            auto* src = reinterpret_cast<const uint16_t*>(pixels + static_cast<size_t>(row) * pitch);
            for (int col = 0; col < cw; ++col) {
                unsigned p = src[col];
                w.row[static_cast<size_t>(col)] = w.red[p >> 11] | w.green[(p >> 5) & 63] | w.blue[p & 31];
            }
            char* to = out.memory + static_cast<size_t>(row) * out.pitch;
            if (w.bytesPerPixel == 4) {
                streamCopy(to, w.row.data(), static_cast<size_t>(cw) * 4);
            } else {
                auto* narrow = reinterpret_cast<uint16_t*>(to);
                for (int col = 0; col < cw; ++col)
                    narrow[col] = static_cast<uint16_t>(w.row[static_cast<size_t>(col)]);
            }
        }
    }
    streamCopyDone();
    putImage(out, to, w.gc, cw, ch, x, y, wantsNotice(out));
}

void present(WindowState& w) {
    Display* dpy = displayOf(w);
    if (!dpy || !scaled(w)) return;
    XRenderComposite(dpy, PictOpSrc, w.framePicture, 0, w.windowPicture, 0, 0, 0, 0, w.fit.x, w.fit.y,
                     static_cast<unsigned>(w.fit.width), static_cast<unsigned>(w.fit.height));
}

}  // namespace x11
