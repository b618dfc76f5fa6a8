// SPDX-License-Identifier: MIT
// The window itself: its making, the properties window managers read, its
// visibility, size and full screen.
#include "Window.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/XInput2.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

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

bool Window::create(int x, int y, int width, int height, const std::string& title) {
    Display* dpy = display();
    if (!dpy || width <= 0 || height <= 0) return false;
    const Features& features = mConnection.features();
    int screen = DefaultScreen(dpy);
    // On a screen of many dots per inch, a whole multiple of the frame's size
    // that still fits the screen.
    int scale = display::scaleForDpi(features.dpi, width, height, DisplayWidth(dpy, screen),
                                     DisplayHeight(dpy, screen));
    mFirstScale = std::max(1, std::min({scale, 32767 / width, 32767 / height}));
    mLayout.frameWidth = width;
    mLayout.frameHeight = height;
    mLayout.width = width * mFirstScale;
    mLayout.height = height * mFirstScale;
    mLayout.refit();
    mDepth = DefaultDepth(dpy, screen);
    mVisual = DefaultVisual(dpy, screen);
    int bytes = mVisual->c_class == TrueColor ? bytesPerPixelOf(dpy, mDepth) : 0;
    if (!bytes)
        std::fprintf(stderr,
                     "orvanel: the screen is %d-bit %s: frames are shown only on TrueColor screens of 15, 16, 24 or "
                     "30 bits\n",
                     mDepth, mVisual->c_class == TrueColor ? "TrueColor" : "with a colour map");
    mShape = {mDepth, bytes, width, height, width * bytes};
    mNative565 = bytes == 2 && is565(mVisual);
    XSetWindowAttributes attrs{};
    attrs.background_pixel = BlackPixel(dpy, screen);
    attrs.event_mask = ExposureMask | ButtonPressMask | ButtonReleaseMask | ButtonMotionMask |
                       StructureNotifyMask | VisibilityChangeMask | KeyPressMask;
    mId = XCreateWindow(dpy, RootWindow(dpy, screen), x, y, static_cast<unsigned>(mLayout.width),
                        static_cast<unsigned>(mLayout.height), 0, mDepth, InputOutput, mVisual,
                        CWBackPixel | CWEventMask, &attrs);
    mConnection.addTarget(mId, this);
    describe(title);
    if (features.xiOpcode >= 0) {
        unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {0};
        XIEventMask mask{XIAllMasterDevices, sizeof bits, bits};
        for (int event : {XI_TouchBegin, XI_TouchUpdate, XI_TouchEnd}) XISetMask(bits, event);
        XISelectEvents(dpy, mId, &mask, 1);
    }
    mGc = XCreateGC(dpy, mId, 0, nullptr);
    if (bytes) preparePresentation();
    return true;
}

// What window managers and tools read: name, class, host, process, sizes, and
// that closing is asked, not forced.
void Window::describe(const std::string& title) {
    Display* dpy = display();
    XStoreName(dpy, mId, title.c_str());
    char res[] = "orvanel", cls[] = "Orvanel";
    XClassHint hint{res, cls};
    XSetClassHint(dpy, mId, &hint);
    char host[256] = {0};
    if (gethostname(host, sizeof host - 1) == 0)
        XChangeProperty(dpy, mId, XA_WM_CLIENT_MACHINE, XA_STRING, 8, PropModeReplace,
                        reinterpret_cast<unsigned char*>(host), static_cast<int>(std::strlen(host)));
    long pid = getpid();
    XChangeProperty(dpy, mId, XInternAtom(dpy, "_NET_WM_PID", False), XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(&pid), 1);
    // No position: the window manager places it.
    XSizeHints size{};
    size.flags = PMinSize;
    size.min_width = std::max(mLayout.frameWidth / 4, 1);
    size.min_height = std::max(mLayout.frameHeight / 4, 1);
    XSetWMNormalHints(dpy, mId, &size);
    Atom deleteWindow = XInternAtom(dpy, "WM_DELETE_WINDOW", False);
    XSetWMProtocols(dpy, mId, &deleteWindow, 1);
}

Window::~Window() {
    // The images go first: freeing them waits for the server to let go.
    mStaged.reset();
    mLent.reset();
    if (mId) mConnection.removeTarget(mId);
    if (Display* dpy = display()) {
        if (mFramePicture) XRenderFreePicture(dpy, mFramePicture);
        if (mWindowPicture) XRenderFreePicture(dpy, mWindowPicture);
        if (mFrame) XFreePixmap(dpy, mFrame);
        if (mGc) XFreeGC(dpy, mGc);
        if (mId) XDestroyWindow(dpy, mId);
    }
}

void Window::setShown(bool shown) {
    if (Display* dpy = display()) (shown ? XMapWindow : XUnmapWindow)(dpy, mId);
}

void Window::raise() {
    if (Display* dpy = display()) XRaiseWindow(dpy, mId);
}

void Window::setIcon(const std::vector<uint32_t>& argb, int width, int height) {
    Display* dpy = display();
    if (!dpy || argb.size() != static_cast<size_t>(width) * height) return;
    // Format 32 travels as longs.
    std::vector<long> data{width, height};
    data.insert(data.end(), argb.begin(), argb.end());
    XChangeProperty(dpy, mId, XInternAtom(dpy, "_NET_WM_ICON", False), XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(data.data()), static_cast<int>(data.size()));
}

void Window::setFullscreen(bool fullscreen) {
    Display* dpy = display();
    if (!dpy || fullscreen == mLayout.fullscreen) return;
    mLayout.fullscreen = fullscreen;
    mLayout.refit();
    applyFit();
    Atom state = XInternAtom(dpy, "_NET_WM_STATE", False), full = XInternAtom(dpy, "_NET_WM_STATE_FULLSCREEN", False);
    if (windowManagerSpeaksEwmh(dpy)) {
        if (!mLayout.mapped) {  // read when the window manager maps it
            if (fullscreen)
                XChangeProperty(dpy, mId, state, XA_ATOM, 32, PropModeReplace,
                                reinterpret_cast<unsigned char*>(&full), 1);
            else
                XDeleteProperty(dpy, mId, state);
            return;
        }
        // Add or remove full screen, asked by a normal application (source 1).
        XEvent e{.xclient = {ClientMessage, 0, False, nullptr, mId, state, 32,
                             {.l = {fullscreen ? 1 : 0, static_cast<long>(full), 0, 1, 0}}}};
        XSendEvent(dpy, DefaultRootWindow(dpy), False, SubstructureRedirectMask | SubstructureNotifyMask, &e);
        return;
    }
    ::Window child = 0;
    if (fullscreen) XTranslateCoordinates(dpy, mId, DefaultRootWindow(dpy), 0, 0, &mRestoreX, &mRestoreY, &child);
    int screen = DefaultScreen(dpy);
    XMoveResizeWindow(dpy, mId, fullscreen ? 0 : mRestoreX, fullscreen ? 0 : mRestoreY,
                      static_cast<unsigned>(fullscreen ? DisplayWidth(dpy, screen) : mLayout.frameWidth * mFirstScale),
                      static_cast<unsigned>(fullscreen ? DisplayHeight(dpy, screen)
                                                       : mLayout.frameHeight * mFirstScale));
}

void Window::handle(const XEvent& e) {
    if (mLayout.track(e)) {
        applyFit();
        // A frame shown at the old size before this news came may lie where
        // the border now is.
        if (Display* dpy = display()) XClearWindow(dpy, mId);
    }
    mInput.handle(e);
}

}  // namespace x11
