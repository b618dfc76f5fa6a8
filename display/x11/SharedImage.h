// SPDX-License-Identifier: MIT
#pragma once

// Pixel memory the X server reads: shared memory (MIT-SHM) where it can be
// attached, sent over the connection otherwise. Frames are shown from a
// pool of them: the memory a window lends to a surface buffer on a 5-6-5
// screen, and the memory it converts frames into on others.

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>

#include <cstdint>
#include <memory>

#include "Connection.h"
#include "FramePool.h"

namespace x11 {

// A visual whose pixels are 5-6-5 as frames are: such a window shows a frame's
// rows as they are.
inline bool is565(const Visual* v) {
    return v->c_class == TrueColor && v->red_mask == 0xf800 && v->green_mask == 0x7e0 && v->blue_mask == 0x1f;
}

// What an image is: a ZPixmap of the screen's visual.
struct ImageShape {
    int depth = 0, bytesPerPixel = 0, width = 0, height = 0, pitch = 0;
};

class SharedImage {
public:
    // Zeroed memory; null when none can be had.
    static std::unique_ptr<SharedImage> create(Connection& connection, const ImageShape& shape);
    ~SharedImage();
    SharedImage(const SharedImage&) = delete;
    SharedImage& operator=(const SharedImage&) = delete;

    bool shared() const { return mShared; }
    // Draws the image's top-left width x height onto `to` at (x, y). With
    // `notify`, the server sends word once it has read it (MIT-SHM's
    // completion event), which also tells that every put before it has been
    // read.
    void put(Drawable to, GC gc, int width, int height, int x, int y, bool notify);
    // Whether the server has read everything put from it, as far as what it
    // has sent so far tells.
    bool idle() const;

    uint8_t* memory = nullptr;
    const ImageShape shape;

private:
    SharedImage(Connection& connection, const ImageShape& shape) : shape(shape), mConnection(connection) {}
    bool attach(Visual* visual);

    Connection& mConnection;
    XImage* mImage = nullptr;
    XShmSegmentInfo mSegment{};
    bool mShared = false;
    unsigned long mRequest = 0;  // the last put from it; 0: none the server may still be reading
};

using ImagePool = display::FramePool<SharedImage>;
using LentImages = display::PooledFrameMemory<SharedImage>;

// Images of one shape the server takes in turns: a pool's reader.
class SharedImages final : public ImagePool::Reader {
public:
    SharedImages(Connection& connection, const ImageShape& shape) : mConnection(connection), mShape(shape) {}
    bool held(SharedImage& image) override { return !image.idle(); }
    std::unique_ptr<SharedImage> make() override { return SharedImage::create(mConnection, mShape); }
    // What the server has said so far; then, if every image is still read, a
    // round trip, after which it has read them all.
    void waitForRelease(const ImagePool::Blocks& images, ImagePool::Clock::time_point until) override;

private:
    Connection& mConnection;
    const ImageShape mShape;
};

// Puts `image` of `pool`, asking the server for word of it unless every
// other image is known to be read: so word is on its way before the pool
// runs out, and most frames read nothing from the connection.
void putFromPool(const ImagePool& pool, SharedImage& image, Drawable to, GC gc, int width, int height, int x, int y);

// Surface-buffer memory in 5-6-5 images the server reads as they are: null
// where the server does not share memory with us.
std::shared_ptr<LentImages> lendImages(Connection& connection, const ImageShape& shape);

}  // namespace x11
