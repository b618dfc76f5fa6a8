// SPDX-License-Identifier: MIT
#include "Image.h"

#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <ranges>
#include <vector>

#include "Connection.h"
#include "FrameRing.h"

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

bool attachShared(Connection& connection, Image& image, Visual* visual, int depth, int bpp, int height,
                  size_t size) {
    Display* dpy = connection.display();
    XImage* x = XShmCreateImage(dpy, visual, static_cast<unsigned>(depth), ZPixmap, nullptr, &image.shm,
                                static_cast<unsigned>(image.pitch / (bpp / 8)), static_cast<unsigned>(height));
    int id = x && x->bytes_per_line == image.pitch ? shmget(IPC_PRIVATE, size, IPC_CREAT | 0600) : -1;
    void* at = id >= 0 ? shmat(id, nullptr, 0) : reinterpret_cast<void*>(-1);
    // Marked for removal at once, while attached: Linux lets the server
    // attach it all the same, and it goes with the last of us to let go,
    // however the process ends (a server that stops answering during the
    // attach below ends it by the signal's deadline).
    if (id >= 0) shmctl(id, IPC_RMID, nullptr);
    if (at != reinterpret_cast<void*>(-1)) {
        image.shm.shmid = id;
        image.shm.shmaddr = x->data = static_cast<char*>(at);
        image.shm.readOnly = True;
        int errorsBefore = connection.errorCount();
        // The server says BadAccess when it cannot reach the segment; the
        // connection still works, so that is no news to the user.
        connection.expectError(BadAccess);
        XShmAttach(dpy, &image.shm);
        XSync(dpy, False);
        connection.expectError(0);
        bool attached = connection.errorCount() == errorsBefore;
        if (attached && connection.sharedMemory == Connection::SharedMemory::Untried &&
            !serverSeesOurSegment(dpy, x, depth)) {
            XShmDetach(dpy, &image.shm);
            XSync(dpy, False);
            attached = false;
        }
        if (attached) {
            connection.sharedMemory = Connection::SharedMemory::Works;
            image.memory = image.shm.shmaddr;
            image.ximage = x;
            image.shared = true;
            return true;
        }
        connection.sharedMemory = Connection::SharedMemory::Refused;
        shmdt(at);
    }
    freeXImage(x);
    image.shm = XShmSegmentInfo{};
    return false;
}
}  // namespace

bool createImage(const std::shared_ptr<Link>& link, Image& image, int depth, int bytesPerPixel, int width,
                 int height, int pitch) {
    image = Image{.link = link, .pitch = pitch};
    size_t size = static_cast<size_t>(pitch) * static_cast<size_t>(height);
    Display* dpy = link->display();
    Visual* visual = dpy ? DefaultVisual(dpy, DefaultScreen(dpy)) : nullptr;
    int bpp = bytesPerPixel * 8;
    Connection* c = link->connection;
    if (!dpy || c->features().shmCompletion < 0 || c->sharedMemory == Connection::SharedMemory::Refused ||
        !attachShared(*c, image, visual, depth, bpp, height, size)) {
        image.memory = static_cast<char*>(std::calloc(size, 1));
        if (!image.memory) return false;
        if (dpy) {
            image.ximage = XCreateImage(dpy, visual, static_cast<unsigned>(depth), ZPixmap, 0, image.memory,
                                        static_cast<unsigned>(width), static_cast<unsigned>(height), bpp, pitch);
            if (image.ximage) image.ximage->byte_order = LSBFirst;
        }
    }
    link->images.push_back(&image);
    return true;
}

void destroyImage(Image& image) {
    if (!image.link) return;
    std::erase(image.link->images, &image);
    freeXImage(image.ximage);
    if (image.shared) {
        if (Display* dpy = image.link->display()) {
            XShmDetach(dpy, &image.shm);
            XSync(dpy, False);
        }
        shmdt(image.shm.shmaddr);
    } else {
        std::free(image.memory);
    }
    image = Image{};
}

void putImage(Image& image, Drawable to, GC gc, int width, int height, int x, int y, bool notify) {
    Display* dpy = image.link ? image.link->display() : nullptr;
    if (!dpy) return;
    if (image.shared) {
        image.request = NextRequest(dpy);
        XShmPutImage(dpy, to, gc, image.ximage, 0, 0, x, y, static_cast<unsigned>(width),
                     static_cast<unsigned>(height), notify);
    } else {
        XPutImage(dpy, to, gc, image.ximage, 0, 0, x, y, static_cast<unsigned>(width),
                  static_cast<unsigned>(height));
    }
}

bool idle(const Image& image) {
    Display* dpy = image.link ? image.link->display() : nullptr;
    return !image.request || !dpy || processed(dpy, image.request);
}

bool wantsNotice(const Image& image) {
    if (!image.link || !image.ring) return true;
    auto sibling = [&](const Image* other) { return other != &image && other->ring == image.ring; };
    auto others = image.link->images | std::views::filter(sibling);
    return std::ranges::empty(others) || !std::ranges::all_of(others, [](const Image* o) { return idle(*o); });
}

// What the server has said so far; then, if that is not yet `enough`, a round
// trip, after which it has done every request.
void hearServer(Display* dpy, auto enough) {
    XEventsQueued(dpy, QueuedAfterReading);
    if (!enough()) XSync(dpy, False);
}

void waitIdle(Image& image) {
    if (!idle(image)) hearServer(image.link->display(), [&] { return idle(image); });
}

namespace {
// The read-back lands here and the server reads it from here: a frame is
// copied once. One the server may still be reading is not drawn into; the
// buffer moves to another, and nothing waits while one is free (nor is the
// connection read for it while another is known to be).
class SharedFrameMemory final : public display::BlockRing<Image> {
public:
    SharedFrameMemory(std::shared_ptr<Link> link, int width, int height, int pitch)
        : BlockRing(3, static_cast<size_t>(pitch) * height, std::chrono::seconds(1)), mLink(std::move(link)),
          mWidth(width), mHeight(height), mPitch(pitch) {}
    ~SharedFrameMemory() override {
        for (auto& image : mBlocks) destroyImage(*image);
    }
    bool held(size_t block) override { return !idle(*mBlocks[block]); }
    bool grow() override {
        auto image = std::make_unique<Image>();
        if (!createImage(mLink, *image, 16, 2, mWidth, mHeight, mPitch) || !image->shared) {
            destroyImage(*image);
            return false;
        }
        image->ring = this;
        mBlocks.push_back(std::move(image));
        return true;
    }
    void waitForRelease(display::FrameRing::Clock::time_point) override {
        if (Display* dpy = mLink->display())
            hearServer(dpy, [this] { return std::ranges::any_of(mBlocks, [](auto& image) { return idle(*image); }); });
    }

private:
    std::shared_ptr<Link> mLink;
    int mWidth, mHeight, mPitch;
};
}  // namespace

std::unique_ptr<display::FrameMemory> createFrameMemory(const std::shared_ptr<Link>& link, int width, int height,
                                                        int pitch) {
    Display* dpy = link->display();
    if (!dpy || link->connection->features().shmCompletion < 0 || DefaultDepth(dpy, DefaultScreen(dpy)) != 16 ||
        !is565(DefaultVisual(dpy, DefaultScreen(dpy))))
        return nullptr;
    auto memory = std::make_unique<SharedFrameMemory>(link, width, height, pitch);
    return memory->grow() ? std::move(memory) : nullptr;
}

}  // namespace x11
