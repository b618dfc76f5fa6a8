// SPDX-License-Identifier: MIT
#include "Window.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/XInput2.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "Connection.h"
#include "Present.h"

namespace x11 {
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

// What window managers and tools read: name, class, host, process, sizes, and
// that closing is asked, not forced.
void describe(Display* dpy, WindowState& w, const std::string& title) {
    XStoreName(dpy, w.id, title.c_str());
    char res[] = "orvanel", cls[] = "Orvanel";
    XClassHint hint{res, cls};
    XSetClassHint(dpy, w.id, &hint);
    char host[256] = {0};
    if (gethostname(host, sizeof host - 1) == 0)
        XChangeProperty(dpy, w.id, XA_WM_CLIENT_MACHINE, XA_STRING, 8, PropModeReplace,
                        reinterpret_cast<unsigned char*>(host), static_cast<int>(std::strlen(host)));
    long pid = getpid();
    XChangeProperty(dpy, w.id, XInternAtom(dpy, "_NET_WM_PID", False), XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(&pid), 1);
    // No position: the window manager places it.
    XSizeHints size{};
    size.flags = PMinSize;
    size.min_width = std::max(w.width / 4, 1);
    size.min_height = std::max(w.height / 4, 1);
    XSetWMNormalHints(dpy, w.id, &size);
    Atom deleteWindow = XInternAtom(dpy, "WM_DELETE_WINDOW", False);
    XSetWMProtocols(dpy, w.id, &deleteWindow, 1);
}
}  // namespace

void setIcon(WindowState& w, const std::vector<uint32_t>& argb, int width, int height) {
    Display* dpy = displayOf(w);
    if (!dpy || !w.id || argb.size() != static_cast<size_t>(width) * height) return;
    // Format 32 travels as longs.
    std::vector<long> data{width, height};
    data.insert(data.end(), argb.begin(), argb.end());
    XChangeProperty(dpy, w.id, XInternAtom(dpy, "_NET_WM_ICON", False), XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(data.data()), static_cast<int>(data.size()));
}

Display* displayOf(const WindowState& w) { return w.link ? w.link->display() : nullptr; }

bool createWindow(const std::shared_ptr<Link>& link, WindowState& w, int x, int y, int width, int height,
                  const std::string& title) {
    w.link = link;
    Display* dpy = displayOf(w);
    if (!dpy || width <= 0 || height <= 0) return false;
    const Features& features = link->connection->features();
    int screen = DefaultScreen(dpy);
    w.width = width;
    w.height = height;
    // On a screen of many dots per inch, a whole multiple of the frame's size
    // that still fits the screen.
    int scale = display::scaleForDpi(features.dpi, width, height, DisplayWidth(dpy, screen),
                                     DisplayHeight(dpy, screen));
    scale = std::max(1, std::min({scale, 32767 / width, 32767 / height}));
    w.firstScale = scale;
    w.windowWidth = width * scale;
    w.windowHeight = height * scale;
    w.fit = display::fitFrame(width, height, w.windowWidth, w.windowHeight);
    w.depth = DefaultDepth(dpy, screen);
    w.visual = DefaultVisual(dpy, screen);
    if (w.visual->c_class == TrueColor) w.bytesPerPixel = bytesPerPixelOf(dpy, w.depth);
    if (!w.bytesPerPixel)
        std::fprintf(stderr,
                     "orvanel: the screen is %d-bit %s: frames are shown only on TrueColor screens of 15, 16, 24 or "
                     "30 bits\n",
                     w.depth, w.visual->c_class == TrueColor ? "TrueColor" : "with a colour map");
    w.native565 = w.bytesPerPixel == 2 && is565(w.visual);
    XSetWindowAttributes attrs{};
    attrs.background_pixel = BlackPixel(dpy, screen);
    attrs.event_mask = ExposureMask | ButtonPressMask | ButtonReleaseMask | ButtonMotionMask |
                       StructureNotifyMask | VisibilityChangeMask | KeyPressMask;
    w.id = XCreateWindow(dpy, RootWindow(dpy, screen), x, y, static_cast<unsigned>(w.windowWidth),
                         static_cast<unsigned>(w.windowHeight), 0, w.depth, InputOutput, w.visual,
                         CWBackPixel | CWEventMask, &attrs);
    describe(dpy, w, title);
    if (features.xiOpcode >= 0) {
        unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {0};
        XIEventMask mask{XIAllMasterDevices, sizeof bits, bits};
        for (int event : {XI_TouchBegin, XI_TouchUpdate, XI_TouchEnd}) XISetMask(bits, event);
        XISelectEvents(dpy, w.id, &mask, 1);
    }
    w.gc = XCreateGC(dpy, w.id, 0, nullptr);
    if (w.bytesPerPixel) preparePresentation(w);
    return true;
}

void destroyWindow(WindowState& w) {
    for (Image& image : w.staging) destroyImage(image);
    if (Display* dpy = displayOf(w)) {
        if (w.framePicture) XRenderFreePicture(dpy, w.framePicture);
        if (w.windowPicture) XRenderFreePicture(dpy, w.windowPicture);
        if (w.frame) XFreePixmap(dpy, w.frame);
        if (w.gc) XFreeGC(dpy, w.gc);
        if (w.id) XDestroyWindow(dpy, w.id);
    }
    w = WindowState{};
}

namespace {
bool windowManagerSpeaksEwmh(Display* dpy) {
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    XGetWindowProperty(dpy, DefaultRootWindow(dpy), XInternAtom(dpy, "_NET_SUPPORTING_WM_CHECK", False), 0, 1,
                       False, XA_WINDOW, &type, &format, &count, &after, &data);
    if (data) XFree(data);
    return count == 1;
}
}  // namespace

void setFullscreen(WindowState& w, bool fullscreen) {
    Display* dpy = displayOf(w);
    if (!dpy || !w.id || fullscreen == w.fullscreen) return;
    w.fullscreen = fullscreen;
    Atom state = XInternAtom(dpy, "_NET_WM_STATE", False), full = XInternAtom(dpy, "_NET_WM_STATE_FULLSCREEN", False);
    if (windowManagerSpeaksEwmh(dpy)) {
        if (!w.mapped) {  // read when the window manager maps it
            if (fullscreen)
                XChangeProperty(dpy, w.id, state, XA_ATOM, 32, PropModeReplace,
                                reinterpret_cast<unsigned char*>(&full), 1);
            else
                XDeleteProperty(dpy, w.id, state);
            return;
        }
        // Add or remove full screen, asked by a normal application (source 1).
        XEvent e{.xclient = {ClientMessage, 0, False, nullptr, w.id, state, 32,
                             {.l = {fullscreen ? 1 : 0, static_cast<long>(full), 0, 1, 0}}}};
        XSendEvent(dpy, DefaultRootWindow(dpy), False, SubstructureRedirectMask | SubstructureNotifyMask, &e);
        return;
    }
    ::Window child = 0;
    if (fullscreen) XTranslateCoordinates(dpy, w.id, DefaultRootWindow(dpy), 0, 0, &w.restoreX, &w.restoreY, &child);
    int screen = DefaultScreen(dpy);
    XMoveResizeWindow(dpy, w.id, fullscreen ? 0 : w.restoreX, fullscreen ? 0 : w.restoreY,
                      static_cast<unsigned>(fullscreen ? DisplayWidth(dpy, screen) : w.width * w.firstScale),
                      static_cast<unsigned>(fullscreen ? DisplayHeight(dpy, screen) : w.height * w.firstScale));
}

void resized(WindowState& w, int width, int height) {
    if (width == w.windowWidth && height == w.windowHeight) return;
    w.windowWidth = width;
    w.windowHeight = height;
    w.fit = display::fitFrame(w.width, w.height, width, height);
    applyFit(w);
    // A frame shown at the old size before this news came may lie where the
    // border now is.
    if (Display* dpy = displayOf(w)) XClearWindow(dpy, w.id);
}

display::Fit shownFit(const WindowState& w) { return w.framePicture ? w.fit : display::unscaled(w.width, w.height); }

void trackVisibility(WindowState& w, const XEvent& e) {
    if (e.type == MapNotify) w.mapped = true;
    if (e.type == UnmapNotify) w.mapped = false;
    if (e.type == VisibilityNotify) w.obscured = e.xvisibility.state == VisibilityFullyObscured;
}

bool isVisible(const WindowState& w) { return w.mapped && !w.obscured; }

}  // namespace x11
