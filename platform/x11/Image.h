// SPDX-License-Identifier: MIT
#pragma once

// Pixel memory the X server reads: shared memory (MIT-SHM) where it can be
// attached, sent over the connection otherwise.

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>

#include <cstddef>
#include <cstdint>
#include <memory>

#include "Connection.h"
#include "DisplayBackend.h"

namespace x11 {

struct Image {
    std::shared_ptr<Link> link;  // while it exists
    char* memory = nullptr;
    int pitch = 0;
    XImage* ximage = nullptr;
    XShmSegmentInfo shm{};
    bool shared = false;
    unsigned long request = 0;  // the last put from it; 0: none the server may still be reading
    const void* ring = nullptr;  // the images that take turns with it
};

// A visual whose pixels are 5-6-5 as frames are: such a window shows a frame's
// rows as they are.
inline bool is565(const Visual* v) {
    return v->c_class == TrueColor && v->red_mask == 0xf800 && v->green_mask == 0x7e0 && v->blue_mask == 0x1f;
}

// Zeroed memory for a ZPixmap of the given depth, `pitch` bytes a row.
bool createImage(const std::shared_ptr<Link>& link, Image& image, int depth, int bytesPerPixel, int width,
                 int height, int pitch);
void destroyImage(Image& image);
// Draws the image's top-left width x height onto `to` at (x, y). With
// `notify`, the server sends word once it has read it (MIT-SHM's completion
// event), which also tells that every put before it has been read.
void putImage(Image& image, Drawable to, GC gc, int width, int height, int x, int y, bool notify);
// Whether the server has read everything put from the image, as far as what
// it has sent so far tells.
bool idle(const Image& image);
// Whether a put from the image should ask the server to say when it has read
// it: unless every other image of its ring is known to be idle. So the server
// has word on its way before the ring runs out, and most frames of a ring of
// two read nothing from the connection.
bool wantsNotice(const Image& image);
// Returns once the server has read everything put from the image (usually
// without a round trip: the server has said so by then).
void waitIdle(Image& image);

// Surface-buffer memory in shared images the server reads as they are, where
// the screen is 5-6-5 and shares memory; null otherwise.
std::unique_ptr<display::FrameMemory> createFrameMemory(const std::shared_ptr<Link>& link, int width, int height,
                                                        int pitch);

}  // namespace x11
