// SPDX-License-Identifier: MIT
#include "X11Display.h"

#include <X11/Xresource.h>
#include <X11/extensions/XInput2.h>

#include <X11/Xatom.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <unistd.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Foundation.h"

namespace x11 {
namespace {

Display* gDisplay = nullptr;
bool gLost = false;
int gErrors = 0;
int gSourceToken = 0;
EventHandler gHandler = nullptr;
TouchHandler gTouchHandler = nullptr;
int gXIOpcode = -1;  // -1: no XInput 2.2 touch events
int gShmCompletion = -1;  // -1: no shared memory images
bool gRender = false;     // the server scales frames (RENDER)
int gScale = 1;           // of the first window, from the screen's dots per inch
std::vector<Image*> gImages;

void deliver(XEvent& event) {
    if (event.type == GenericEvent && event.xcookie.extension == gXIOpcode) {
        if (gTouchHandler && XGetEventData(gDisplay, &event.xcookie)) {
            auto* d = static_cast<XIDeviceEvent*>(event.xcookie.data);
            Touch phase = event.xcookie.evtype == XI_TouchBegin    ? Touch::Begin
                          : event.xcookie.evtype == XI_TouchUpdate ? Touch::Update
                                                                   : Touch::End;
            gTouchHandler(d->event, phase, d->detail, d->event_x, d->event_y, d->time);
            XFreeEventData(gDisplay, &event.xcookie);
        }
        return;
    }
    if (gShmCompletion >= 0 && event.type == gShmCompletion) {
        auto& done = reinterpret_cast<XShmCompletionEvent&>(event);
        for (Image* image : gImages)
            if (image->shared && image->shm.shmseg == done.shmseg) image->busy = false;
        return;
    }
    if (gHandler) gHandler(event);
}

int onError(Display* dpy, XErrorEvent* e) {
    char text[256] = {0};
    XGetErrorText(dpy, e->error_code, text, sizeof text);
    std::fprintf(stderr, "X error: %s (request %d.%d, resource 0x%lx)\n", text, e->request_code,
                 e->minor_code, e->resourceid);
    ++gErrors;
    return 0;
}

// Xlib calls this instead of exit() when the connection breaks.
void onConnectionLost(Display*, void*) {
    if (gLost) return;
    gLost = true;
    std::fprintf(stderr, "display connection lost\n");
    NSRunLoop::mainRunLoop()->stop(1);
}

int onIOError(Display*) { return 0; }

void serve() {
    if (!gDisplay || gLost) return;
    while (!gLost && XPending(gDisplay) > 0) {
        XEvent event;
        XNextEvent(gDisplay, &event);
        deliver(event);
    }
    if (gLost && gSourceToken) {
        NSRunLoop::mainRunLoop()->removeInputSource(gSourceToken);
        gSourceToken = 0;
    }
}

int shiftOf(unsigned long mask) {
    int shift = 0;
    while (mask && !(mask & 1)) {
        mask >>= 1;
        ++shift;
    }
    return shift;
}

int bitsOf(unsigned long mask) {
    mask >>= shiftOf(mask);
    int bits = 0;
    while (mask & 1) {
        mask >>= 1;
        ++bits;
    }
    return bits;
}

// Scales an n-bit channel to the mask's width.
unsigned long place(unsigned value, int fromBits, unsigned long mask) {
    int toBits = bitsOf(mask);
    unsigned long v = value;
    if (toBits > fromBits)
        v = (v << (toBits - fromBits)) | (v >> (2 * fromBits - toBits > 0 ? 2 * fromBits - toBits : 0));
    else
        v >>= (fromBits - toBits);
    return (v << shiftOf(mask)) & mask;
}

}  // namespace

bool open(const char* name) {
    if (gDisplay) return true;
    XSetErrorHandler(onError);
    XSetIOErrorHandler(onIOError);
    gDisplay = XOpenDisplay(name);
    if (!gDisplay) return false;
    gLost = false;
    XSetIOErrorExitHandler(gDisplay, onConnectionLost, nullptr);
    int opcode = 0, event = 0, error = 0, major = 2, minor = 2;
    bool touch = XQueryExtension(gDisplay, "XInputExtension", &opcode, &event, &error) &&
                 XIQueryVersion(gDisplay, &major, &minor) == Success &&
                 (major > 2 || (major == 2 && minor >= 2));
    gXIOpcode = touch ? opcode : -1;
    gShmCompletion = XShmQueryExtension(gDisplay) ? XShmGetEventBase(gDisplay) + ShmCompletion : -1;
    int renderEvent = 0, renderError = 0;
    gRender = XRenderQueryExtension(gDisplay, &renderEvent, &renderError);
    if (!gRender)
        std::fprintf(stderr, "the X server has no RENDER extension: frames are shown unscaled at the top left\n");
    gScale = 1;
    if (char* resources = XResourceManagerString(gDisplay)) {
        XrmInitialize();
        if (XrmDatabase db = XrmGetStringDatabase(resources)) {
            char* type = nullptr;
            XrmValue value{};
            if (XrmGetResource(db, "Xft.dpi", "Xft.Dpi", &type, &value) && value.addr)
                gScale = scaleForDpi(std::atof(value.addr));
            XrmDestroyDatabase(db);
        }
    }
    gSourceToken = NSRunLoop::mainRunLoop()->addInputSource(ConnectionNumber(gDisplay), serve);
    return true;
}

void close() {
    if (!gDisplay) return;
    if (gSourceToken) NSRunLoop::mainRunLoop()->removeInputSource(gSourceToken);
    gSourceToken = 0;
    if (!gLost) XCloseDisplay(gDisplay);
    gDisplay = nullptr;
}

Display* display() { return gLost ? nullptr : gDisplay; }

bool lost() { return gLost; }

void setEventHandler(EventHandler handler) { gHandler = handler; }

void setTouchHandler(TouchHandler handler) { gTouchHandler = handler; }

int errorCount() { return gErrors; }

void flush() {
    if (display()) XFlush(gDisplay);
}

void dispatchQueued() {
    if (!display()) return;
    while (!gLost && XEventsQueued(gDisplay, QueuedAlready) > 0) {
        XEvent event;
        XNextEvent(gDisplay, &event);
        deliver(event);
    }
}

namespace {
// Zeroed memory for a ZPixmap of the given depth, `pitch` bytes a row.
bool createImage(Image& image, int depth, int bytesPerPixel, int width, int height, int pitch) {
    image = Image{};
    image.pitch = pitch;
    size_t size = static_cast<size_t>(pitch) * static_cast<size_t>(height);
    Display* dpy = display();
    Visual* visual = dpy ? DefaultVisual(dpy, DefaultScreen(dpy)) : nullptr;
    int bpp = bytesPerPixel * 8;
    if (dpy && gShmCompletion >= 0) {
        XImage* x = XShmCreateImage(dpy, visual, static_cast<unsigned>(depth), ZPixmap, nullptr, &image.shm,
                                    static_cast<unsigned>(pitch / (bpp / 8)), static_cast<unsigned>(height));
        int id = x && x->bytes_per_line == pitch ? shmget(IPC_PRIVATE, size, IPC_CREAT | 0600) : -1;
        void* at = id >= 0 ? shmat(id, nullptr, 0) : reinterpret_cast<void*>(-1);
        if (at != reinterpret_cast<void*>(-1)) {
            image.shm.shmid = id;
            image.shm.shmaddr = x->data = static_cast<char*>(at);
            image.shm.readOnly = True;
            int errorsBefore = gErrors;
            XShmAttach(dpy, &image.shm);
            XSync(dpy, False);
            shmctl(id, IPC_RMID, nullptr);  // gone once both sides let go
            if (gErrors == errorsBefore) {
                image.memory = image.shm.shmaddr;
                image.ximage = x;
                image.shared = true;
                gImages.push_back(&image);
                return true;
            }
            shmdt(at);
        } else if (id >= 0) {
            shmctl(id, IPC_RMID, nullptr);
        }
        if (x) {
            x->data = nullptr;
            XDestroyImage(x);
        }
        image.shm = XShmSegmentInfo{};
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

// Takes the server's completion notices out of the queue, leaving every other
// event where it is.
void collectCompletions(Display* dpy) {
    XEvent event;
    while (XCheckTypedEvent(dpy, gShmCompletion, &event)) deliver(event);
}

// Returns once the server has read everything put from the image (usually
// without a round trip: the server has said so by then).
void waitIdle(Image& image) {
    if (!image.busy) return;
    Display* dpy = display();
    if (dpy && gShmCompletion >= 0) {
        XEventsQueued(dpy, QueuedAfterReading);
        collectCompletions(dpy);
        if (image.busy) {
            XSync(dpy, False);
            collectCompletions(dpy);
        }
    }
    image.busy = false;
}

// At scale 1 straight into the window; otherwise into the frame's pixmap,
// which present() scales.
bool scaled(const Window& w) { return w.fit.scale != 1 && w.framePicture; }

void put(Window& w, Image& image, int width, int height, int x, int y) {
    Display* dpy = display();
    Drawable to = w.id;
    if (scaled(w)) {
        to = w.frame;
    } else if (w.framePicture) {  // centred; without RENDER it stays at the top left
        x += w.fit.x;
        y += w.fit.y;
    }
    if (image.shared) {
        XShmPutImage(dpy, to, w.gc, image.ximage, 0, 0, x, y, static_cast<unsigned>(width),
                     static_cast<unsigned>(height), True);
        image.busy = true;
    } else {
        XPutImage(dpy, to, w.gc, image.ximage, 0, 0, x, y, static_cast<unsigned>(width),
                  static_cast<unsigned>(height));
    }
}

// Copies into memory the server reads. Streaming stores leave the cache
// alone: the server's core read these lines last, and taking each back for an
// ordinary store made this copy three times as slow.
void copyToShared(char* to, const void* from, size_t bytes) {
#if defined(__SSE2__)
    if (reinterpret_cast<uintptr_t>(to) % 16 == 0 && bytes % 16 == 0) {
        auto* out = reinterpret_cast<__m128i*>(to);
        auto* in = static_cast<const __m128i*>(from);
        for (size_t i = 0; i < bytes / 16; ++i) _mm_stream_si128(out + i, _mm_loadu_si128(in + i));
        return;
    }
#endif
    std::memcpy(to, from, bytes);
}

}  // namespace

Fit fitFrame(int frameWidth, int frameHeight, int windowWidth, int windowHeight) {
    Fit fit;
    if (frameWidth <= 0 || frameHeight <= 0 || windowWidth <= 0 || windowHeight <= 0) return fit;
    fit.scale = std::min(static_cast<double>(windowWidth) / frameWidth, static_cast<double>(windowHeight) / frameHeight);
    fit.width = static_cast<int>(std::lround(frameWidth * fit.scale));
    fit.height = static_cast<int>(std::lround(frameHeight * fit.scale));
    fit.x = (windowWidth - fit.width) / 2;
    fit.y = (windowHeight - fit.height) / 2;
    return fit;
}

void toFrame(const Fit& fit, double& x, double& y) {
    x = (x - fit.x) / fit.scale;
    y = (y - fit.y) / fit.scale;
}

int scaleForDpi(double dpi) {
    if (!(dpi > 0) || dpi > 96.0 * 64) return 1;
    return std::max(1, static_cast<int>(dpi / 96));
}

namespace {
// How many bytes a pixel of this depth takes in an image: 0 where the server
// has no such format or it is not 16 or 32 bits.
int bytesPerPixelOf(Display* dpy, int depth) {
    int count = 0, bytes = 0;
    XPixmapFormatValues* formats = XListPixmapFormats(dpy, &count);
    for (int i = 0; i < count; ++i)
        if (formats[i].depth == depth && (formats[i].bits_per_pixel == 16 || formats[i].bits_per_pixel == 32))
            bytes = formats[i].bits_per_pixel / 8;
    if (formats) XFree(formats);
    return bytes;
}

void applyFit(Window& w) {
    w.fit = fitFrame(w.width, w.height, w.windowWidth, w.windowHeight);
    Display* dpy = display();
    if (!dpy || !w.framePicture || w.fit.scale == 1) return;
    // Destination to source; a whole scale makes each pixel an exact block.
    double inverse = 1 / w.fit.scale;
    XTransform t{{{XDoubleToFixed(inverse), 0, 0}, {0, XDoubleToFixed(inverse), 0}, {0, 0, XDoubleToFixed(1)}}};
    XRenderSetPictureTransform(dpy, w.framePicture, &t);
    bool whole = w.fit.scale == std::floor(w.fit.scale);
    XRenderSetPictureFilter(dpy, w.framePicture, whole ? FilterNearest : FilterBilinear, nullptr, 0);
}
}  // namespace

bool createWindow(Window& w, int x, int y, int width, int height, const std::string& title) {
    Display* dpy = display();
    if (!dpy || width <= 0 || height <= 0) return false;
    int screen = DefaultScreen(dpy);
    w.width = width;
    w.height = height;
    // On a screen of many dots per inch, a whole multiple of the frame's size.
    int scale = std::min({gScale, 32767 / width, 32767 / height});
    w.windowWidth = width * std::max(scale, 1);
    w.windowHeight = height * std::max(scale, 1);
    w.fit = fitFrame(width, height, w.windowWidth, w.windowHeight);
    w.depth = DefaultDepth(dpy, screen);
    w.visual = DefaultVisual(dpy, screen);
    if (w.visual->c_class == TrueColor) w.bytesPerPixel = bytesPerPixelOf(dpy, w.depth);
    if (!w.bytesPerPixel)
        std::fprintf(stderr,
                     "the screen is %d-bit %s: frames are shown only on TrueColor screens of 15, 16, 24 or "
                     "30 bits\n",
                     w.depth, w.visual->c_class == TrueColor ? "TrueColor" : "with a colour map");
    w.native565 = w.bytesPerPixel == 2 && w.visual->red_mask == 0xf800 && w.visual->green_mask == 0x7e0 &&
                  w.visual->blue_mask == 0x1f;
    XSetWindowAttributes attrs{};
    attrs.background_pixel = BlackPixel(dpy, screen);
    attrs.event_mask = ExposureMask | ButtonPressMask | ButtonReleaseMask | ButtonMotionMask |
                       StructureNotifyMask | VisibilityChangeMask | KeyPressMask;
    w.id = XCreateWindow(dpy, RootWindow(dpy, screen), x, y, static_cast<unsigned>(w.windowWidth),
                         static_cast<unsigned>(w.windowHeight), 0, w.depth, InputOutput, w.visual,
                         CWBackPixel | CWEventMask, &attrs);
    XStoreName(dpy, w.id, title.c_str());
    XClassHint hint{};
    std::string res = "orvanel", cls = "Orvanel";
    hint.res_name = res.data();
    hint.res_class = cls.data();
    XSetClassHint(dpy, w.id, &hint);
    // So that tools and window managers find the window by its process.
    char host[256] = {0};
    if (gethostname(host, sizeof host - 1) == 0) {
        XTextProperty machine{};
        char* name = host;
        if (XStringListToTextProperty(&name, 1, &machine)) {
            XSetWMClientMachine(dpy, w.id, &machine);
            XFree(machine.value);
        }
    }
    long pid = getpid();
    XChangeProperty(dpy, w.id, XInternAtom(dpy, "_NET_WM_PID", False), XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(&pid), 1);
    XSizeHints* size = XAllocSizeHints();
    size->flags = PMinSize | PPosition;
    size->x = x;
    size->y = y;
    size->min_width = std::max(width / 4, 1);
    size->min_height = std::max(height / 4, 1);
    XSetWMNormalHints(dpy, w.id, size);
    XFree(size);
    Atom deleteWindow = XInternAtom(dpy, "WM_DELETE_WINDOW", False);
    XSetWMProtocols(dpy, w.id, &deleteWindow, 1);
    if (gXIOpcode >= 0) {
        unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {0};
        XIEventMask mask{XIAllMasterDevices, sizeof bits, bits};
        XISetMask(bits, XI_TouchBegin);
        XISetMask(bits, XI_TouchUpdate);
        XISetMask(bits, XI_TouchEnd);
        XISelectEvents(dpy, w.id, &mask, 1);
    }
    w.gc = XCreateGC(dpy, w.id, 0, nullptr);
    if (!w.bytesPerPixel) return true;
    if (gRender)
        if (XRenderPictFormat* format = XRenderFindVisualFormat(dpy, w.visual)) {
            w.frame = XCreatePixmap(dpy, w.id, static_cast<unsigned>(width), static_cast<unsigned>(height),
                                    static_cast<unsigned>(w.depth));
            w.framePicture = XRenderCreatePicture(dpy, w.frame, format, 0, nullptr);
            w.windowPicture = XRenderCreatePicture(dpy, w.id, format, 0, nullptr);
        }
    applyFit(w);
    for (Image& image : w.staging)
        createImage(image, w.depth, w.bytesPerPixel, width, height, width * w.bytesPerPixel);
    if (!w.native565) {
        w.row.resize(static_cast<size_t>(width));
        for (unsigned v = 0; v < 64; ++v) {
            if (v < 32) w.red[v] = static_cast<uint32_t>(place(v, 5, w.visual->red_mask));
            if (v < 32) w.blue[v] = static_cast<uint32_t>(place(v, 5, w.visual->blue_mask));
            w.green[v] = static_cast<uint32_t>(place(v, 6, w.visual->green_mask));
        }
    }
    return true;
}

void destroyWindow(Window& w) {
    for (Image& image : w.staging) destroyImage(image);
    if (Display* dpy = display()) {
        if (w.framePicture) XRenderFreePicture(dpy, w.framePicture);
        if (w.windowPicture) XRenderFreePicture(dpy, w.windowPicture);
        if (w.frame) XFreePixmap(dpy, w.frame);
        if (w.gc) XFreeGC(dpy, w.gc);
        if (w.id) XDestroyWindow(dpy, w.id);
    }
    w = Window{};
}

void mapWindow(Window& w, bool shown) {
    Display* dpy = display();
    if (!dpy || !w.id) return;
    if (shown)
        XMapWindow(dpy, w.id);
    else
        XUnmapWindow(dpy, w.id);
}

void resized(Window& w, int width, int height) {
    if (width == w.windowWidth && height == w.windowHeight) return;
    w.windowWidth = width;
    w.windowHeight = height;
    applyFit(w);
    // A frame shown at the old size before this news came may lie where the
    // border now is.
    if (Display* dpy = display()) XClearWindow(dpy, w.id);
}

void present(Window& w) {
    Display* dpy = display();
    if (!dpy || !scaled(w)) return;
    XRenderComposite(dpy, PictOpSrc, w.framePicture, 0, w.windowPicture, 0, 0, 0, 0, w.fit.x, w.fit.y,
                     static_cast<unsigned>(w.fit.width), static_cast<unsigned>(w.fit.height));
}

void trackVisibility(Window& w, const XEvent& e) {
    if (e.type == MapNotify) w.mapped = true;
    if (e.type == UnmapNotify) w.mapped = false;
    if (e.type == VisibilityNotify) w.obscured = e.xvisibility.state == VisibilityFullyObscured;
}

bool isVisible(const Window& w) { return w.mapped && !w.obscured; }

void raiseWindow(Window& w) {
    if (Display* dpy = display(); dpy && w.id) XRaiseWindow(dpy, w.id);
}

void putImage565(Window& w, const uint8_t* pixels, int width, int height, int pitch, int x, int y) {
    if (!display() || !w.id || !pixels) return;
    int cw = std::min(width, w.width);
    int ch = std::min(height, w.height);
    if (cw <= 0 || ch <= 0) return;
    Image& out = w.staging[w.next];
    if (!out.ximage) return;
    w.next ^= 1;
    waitIdle(out);
    if (w.native565) {
        for (int row = 0; row < ch; ++row)
            copyToShared(out.memory + static_cast<size_t>(row) * out.pitch,
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
                copyToShared(to, w.row.data(), static_cast<size_t>(cw) * 4);
            } else {
                auto* narrow = reinterpret_cast<uint16_t*>(to);
                for (int col = 0; col < cw; ++col)
                    narrow[col] = static_cast<uint16_t>(w.row[static_cast<size_t>(col)]);
            }
        }
    }
#if defined(__SSE2__)
    _mm_sfence();  // the streamed pixels are in memory before the server is told to read them
#endif
    put(w, out, cw, ch, x, y);
}

}  // namespace x11
