// SPDX-License-Identifier: MIT
#include "SharedImage.h"

#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace x11 {
namespace {
// The XImage alone: its memory is ours.
void freeXImage(XImage* x) {
    if (!x) return;
    x->data = nullptr;
    XDestroyImage(x);
}

// A server in another IPC namespace attaches whatever segment has our id
// there, which may be another program's: the server must show back a pixel
// put from the segment as we wrote it.
bool serverSeesOurSegment(Display* dpy, XImage* x, int depth) {
    unsigned long mask = depth >= 32 ? ~0ul : (1ul << depth) - 1;
    unsigned long cookie =
        (0x9e3779b9ul * static_cast<unsigned long>(reinterpret_cast<uintptr_t>(x->data) >> 12)) & mask;
    XPutPixel(x, 0, 0, cookie);
    Pixmap probe = XCreatePixmap(dpy, DefaultRootWindow(dpy), 1, 1, static_cast<unsigned>(depth));
    GC gc = XCreateGC(dpy, probe, 0, nullptr);
    XShmPutImage(dpy, probe, gc, x, 0, 0, 0, 0, 1, 1, False);
    XImage* back = XGetImage(dpy, probe, 0, 0, 1, 1, AllPlanes, ZPixmap);
    bool same = back && (XGetPixel(back, 0, 0) & mask) == cookie;
    if (back) XDestroyImage(back);
    XFreeGC(dpy, gc);
    XFreePixmap(dpy, probe);
    XPutPixel(x, 0, 0, 0);
    return same;
}
}  // namespace

bool SharedImage::attach(Visual* visual) {
    Display* dpy = mConnection.display();
    size_t size = static_cast<size_t>(shape.pitch) * static_cast<size_t>(shape.height);
    XImage* x = XShmCreateImage(dpy, visual, static_cast<unsigned>(shape.depth), ZPixmap, nullptr, &mSegment,
                                static_cast<unsigned>(shape.pitch / shape.bytesPerPixel),
                                static_cast<unsigned>(shape.height));
    int id = x && x->bytes_per_line == shape.pitch ? shmget(IPC_PRIVATE, size, IPC_CREAT | 0600) : -1;
    void* at = id >= 0 ? shmat(id, nullptr, 0) : reinterpret_cast<void*>(-1);
    // Marked for removal at once, while attached: Linux lets the server
    // attach it all the same, and it goes with the last of us to let go,
    // however the process ends (a server that stops answering during the
    // attach below ends it by the deadline).
    if (id >= 0) shmctl(id, IPC_RMID, nullptr);
    if (at != reinterpret_cast<void*>(-1)) {
        mSegment.shmid = id;
        mSegment.shmaddr = x->data = static_cast<char*>(at);
        mSegment.readOnly = True;
        int errorsBefore = mConnection.errorCount();
        // The server says BadAccess when it cannot reach the segment; the
        // connection still works, so that is no news to the user.
        mConnection.expectError(BadAccess);
        XShmAttach(dpy, &mSegment);
        XSync(dpy, False);
        mConnection.expectError(0);
        bool attached = mConnection.errorCount() == errorsBefore;
        if (attached && mConnection.sharedMemory == Connection::SharedMemory::Untried &&
            !serverSeesOurSegment(dpy, x, shape.depth)) {
            XShmDetach(dpy, &mSegment);
            XSync(dpy, False);
            attached = false;
        }
        if (attached) {
            mConnection.sharedMemory = Connection::SharedMemory::Works;
            memory = reinterpret_cast<uint8_t*>(mSegment.shmaddr);
            mImage = x;
            return mShared = true;
        }
        mConnection.sharedMemory = Connection::SharedMemory::Refused;
        shmdt(at);
    }
    freeXImage(x);
    mSegment = XShmSegmentInfo{};
    return false;
}

std::unique_ptr<SharedImage> SharedImage::create(Connection& connection, const ImageShape& shape) {
    std::unique_ptr<SharedImage> image(new SharedImage(connection, shape));
    Display* dpy = connection.display();
    if (!dpy) return nullptr;
    Visual* visual = DefaultVisual(dpy, DefaultScreen(dpy));
    if (connection.features().shmCompletion >= 0 && connection.sharedMemory != Connection::SharedMemory::Refused &&
        image->attach(visual))
        return image;
    size_t size = static_cast<size_t>(shape.pitch) * static_cast<size_t>(shape.height);
    image->memory = static_cast<uint8_t*>(std::calloc(size, 1));
    if (!image->memory) return nullptr;
    image->mImage = XCreateImage(dpy, visual, static_cast<unsigned>(shape.depth), ZPixmap, 0,
                                 reinterpret_cast<char*>(image->memory), static_cast<unsigned>(shape.width),
                                 static_cast<unsigned>(shape.height), shape.bytesPerPixel * 8, shape.pitch);
    if (!image->mImage) return nullptr;
    image->mImage->byte_order = LSBFirst;
    return image;
}

SharedImage::~SharedImage() {
    freeXImage(mImage);
    if (!mShared) {
        std::free(memory);
        return;
    }
    if (Display* dpy = mConnection.display()) {
        XShmDetach(dpy, &mSegment);
        XSync(dpy, False);
    }
    shmdt(mSegment.shmaddr);
}

void SharedImage::put(Drawable to, GC gc, int width, int height, int x, int y, bool notify) {
    Display* dpy = mConnection.display();
    if (!dpy) return;
    if (mShared) {
        mRequest = NextRequest(dpy);
        XShmPutImage(dpy, to, gc, mImage, 0, 0, x, y, static_cast<unsigned>(width), static_cast<unsigned>(height),
                     notify);
    } else {
        XPutImage(dpy, to, gc, mImage, 0, 0, x, y, static_cast<unsigned>(width), static_cast<unsigned>(height));
    }
}

bool SharedImage::idle() const {
    Display* dpy = mConnection.display();
    return !mRequest || !dpy || processed(dpy, mRequest);
}

void SharedImages::waitForRelease(const ImagePool::Blocks& images, ImagePool::Clock::time_point) {
    Display* dpy = mConnection.display();
    if (!dpy) return;
    auto someIdle = [&] { return std::ranges::any_of(images, [](auto& image) { return image->idle(); }); };
    XEventsQueued(dpy, QueuedAfterReading);
    if (!someIdle()) XSync(dpy, False);
}

void putFromPool(const ImagePool& pool, SharedImage& image, Drawable to, GC gc, int width, int height, int x,
                 int y) {
    bool othersRead = std::ranges::all_of(pool.blocks(), [&](auto& other) {
        return other.get() == &image || other->idle();
    });
    image.put(to, gc, width, height, x, y, !othersRead);
}

// The read-back lands here and the server reads it from here: a frame is
// copied once. One the server may still be reading is not drawn into; the
// buffer moves to another, and nothing waits while one is free (nor is the
// connection read for it while another is known to be).
std::shared_ptr<LentImages> lendImages(Connection& connection, const ImageShape& shape) {
    if (connection.features().shmCompletion < 0 || connection.sharedMemory == Connection::SharedMemory::Refused)
        return nullptr;
    size_t bytes = static_cast<size_t>(shape.pitch) * static_cast<size_t>(shape.height);
    auto lent = std::make_shared<LentImages>(std::make_unique<SharedImages>(connection, shape), 3, bytes,
                                             std::chrono::seconds(1));
    // Only memory the server shares is worth lending.
    lent->forWriting(false);
    return lent->block() && lent->block()->shared() ? lent : nullptr;
}

}  // namespace x11
