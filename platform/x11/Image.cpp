// SPDX-License-Identifier: MIT
#include "Image.h"

#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "Connection.h"

namespace x11 {
namespace {
std::vector<Image*> gImages;
// Once an attach has failed (a server in another IPC namespace), the next
// would too: later images go over the connection without asking.
Display* gShmRefusedBy = nullptr;

bool attachShared(Image& image, Display* dpy, Visual* visual, int depth, int bpp, int height, size_t size) {
    XImage* x = XShmCreateImage(dpy, visual, static_cast<unsigned>(depth), ZPixmap, nullptr, &image.shm,
                                static_cast<unsigned>(image.pitch / (bpp / 8)), static_cast<unsigned>(height));
    int id = x && x->bytes_per_line == image.pitch ? shmget(IPC_PRIVATE, size, IPC_CREAT | 0600) : -1;
    void* at = id >= 0 ? shmat(id, nullptr, 0) : reinterpret_cast<void*>(-1);
    if (at != reinterpret_cast<void*>(-1)) {
        image.shm.shmid = id;
        image.shm.shmaddr = x->data = static_cast<char*>(at);
        image.shm.readOnly = True;
        int errorsBefore = errorCount();
        // The server says BadAccess when it cannot reach the segment; the
        // connection still works, so that is no news to the user.
        expectError(BadAccess);
        XShmAttach(dpy, &image.shm);
        XSync(dpy, False);
        expectError(0);
        shmctl(id, IPC_RMID, nullptr);  // gone once both sides let go
        if (errorCount() == errorsBefore) {
            image.memory = image.shm.shmaddr;
            image.ximage = x;
            image.shared = true;
            return true;
        }
        gShmRefusedBy = dpy;
        shmdt(at);
    } else if (id >= 0) {
        shmctl(id, IPC_RMID, nullptr);
    }
    if (x) {
        x->data = nullptr;
        XDestroyImage(x);
    }
    image.shm = XShmSegmentInfo{};
    return false;
}

// Takes the server's completion notices out of the queue, leaving every other
// event where it is.
void collectCompletions(Display* dpy) {
    XEvent event;
    while (XCheckTypedEvent(dpy, features().shmCompletion, &event)) imageRead(event);
}
}  // namespace

bool createImage(Image& image, int depth, int bytesPerPixel, int width, int height, int pitch) {
    image = Image{};
    image.pitch = pitch;
    size_t size = static_cast<size_t>(pitch) * static_cast<size_t>(height);
    Display* dpy = display();
    Visual* visual = dpy ? DefaultVisual(dpy, DefaultScreen(dpy)) : nullptr;
    int bpp = bytesPerPixel * 8;
    if (dpy && features().shmCompletion >= 0 && gShmRefusedBy != dpy &&
        attachShared(image, dpy, visual, depth, bpp, height, size)) {
        gImages.push_back(&image);
        return true;
    }
    image.memory = static_cast<char*>(std::calloc(size, 1));
    if (!image.memory) return false;
    if (dpy) {
        image.ximage = XCreateImage(dpy, visual, static_cast<unsigned>(depth), ZPixmap, 0, image.memory,
                                    static_cast<unsigned>(width), static_cast<unsigned>(height), bpp, pitch);
        if (image.ximage) image.ximage->byte_order = LSBFirst;
    }
    gImages.push_back(&image);
    return true;
}

void destroyImage(Image& image) {
    gImages.erase(std::remove(gImages.begin(), gImages.end(), &image), gImages.end());
    if (image.ximage) {
        image.ximage->data = nullptr;
        XDestroyImage(image.ximage);
    }
    if (image.shared) {
        if (Display* dpy = display()) {
            XShmDetach(dpy, &image.shm);
            XSync(dpy, False);
        }
        shmdt(image.shm.shmaddr);
    } else {
        std::free(image.memory);
    }
    image = Image{};
}

void putImage(Image& image, Drawable to, GC gc, int width, int height, int x, int y) {
    Display* dpy = display();
    if (image.shared) {
        XShmPutImage(dpy, to, gc, image.ximage, 0, 0, x, y, static_cast<unsigned>(width),
                     static_cast<unsigned>(height), True);
        image.busy = true;
    } else {
        XPutImage(dpy, to, gc, image.ximage, 0, 0, x, y, static_cast<unsigned>(width),
                  static_cast<unsigned>(height));
    }
}

void imageRead(const XEvent& event) {
    const auto& done = reinterpret_cast<const XShmCompletionEvent&>(event);
    for (Image* image : gImages)
        if (image->shared && image->shm.shmseg == done.shmseg) image->busy = false;
}

void waitIdle(Image& image) {
    if (!image.busy) return;
    Display* dpy = display();
    if (dpy && features().shmCompletion >= 0) {
        XEventsQueued(dpy, QueuedAfterReading);
        collectCompletions(dpy);
        if (image.busy) {
            XSync(dpy, False);
            collectCompletions(dpy);
        }
    }
    image.busy = false;
}

}  // namespace x11
