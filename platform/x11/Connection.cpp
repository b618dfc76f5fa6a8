// SPDX-License-Identifier: MIT
#include "Connection.h"

#include <X11/Xresource.h>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xrender.h>

#include <poll.h>

#include <cstdio>
#include <cstdlib>

// Xlib's interface for extensions: sending without reading. Last, for the
// macros it defines.
#include <X11/Xlibint.h>
#undef min
#undef max

namespace x11 {
namespace {

Display* gDisplay = nullptr;
bool gLost = false;
int gErrors = 0;
int gExpected = 0;
// Where the connection is served, and its token there.
struct Source {
    display::EventLoop* loop = nullptr;
    int token = 0;
} gSource;
EventHandler gHandler = nullptr;
Features gFeatures;

int onError(Display* dpy, XErrorEvent* e) {
    ++gErrors;
    if (gExpected && e->error_code == gExpected) return 0;
    char text[256] = {0};
    XGetErrorText(dpy, e->error_code, text, sizeof text);
    std::fprintf(stderr, "X error: %s (request %d.%d, resource 0x%lx)\n", text, e->request_code,
                 e->minor_code, e->resourceid);
    return 0;
}

// Xlib calls this instead of exit() when the connection breaks.
void onConnectionLost(Display*, void* loop) {
    if (gLost) return;
    gLost = true;
    std::fprintf(stderr, "display connection lost\n");
    static_cast<display::EventLoop*>(loop)->stop(1);
}

int onIOError(Display*) { return 0; }

void deliver(XEvent& event) {
    if (gHandler) gHandler(event);
}

void serve() {
    if (!gDisplay || gLost) return;
    while (!gLost && XPending(gDisplay) > 0) {
        XEvent event;
        XNextEvent(gDisplay, &event);
        deliver(event);
    }
    if (gLost && gSource.token) {
        gSource.loop->removeSource(gSource.token);
        gSource.token = 0;
    }
}

double resourceDpi(Display* dpy) {
    double dpi = 0;
    if (char* resources = XResourceManagerString(dpy)) {
        XrmInitialize();
        if (XrmDatabase db = XrmGetStringDatabase(resources)) {
            char* type = nullptr;
            XrmValue value{};
            if (XrmGetResource(db, "Xft.dpi", "Xft.Dpi", &type, &value) && value.addr)
                dpi = std::atof(value.addr);
            XrmDestroyDatabase(db);
        }
    }
    return dpi;
}

}  // namespace

bool open(display::EventLoop& loop, const char* name) {
    if (gDisplay) return true;
    XSetErrorHandler(onError);
    XSetIOErrorHandler(onIOError);
    gDisplay = XOpenDisplay(name);
    if (!gDisplay) return false;
    gLost = false;
    XSetIOErrorExitHandler(gDisplay, onConnectionLost, &loop);
    gFeatures = Features{};
    int opcode = 0, event = 0, error = 0, major = 2, minor = 2;
    bool touch = XQueryExtension(gDisplay, "XInputExtension", &opcode, &event, &error) &&
                 XIQueryVersion(gDisplay, &major, &minor) == Success &&
                 (major > 2 || (major == 2 && minor >= 2));
    gFeatures.xiOpcode = touch ? opcode : -1;
    gFeatures.shmCompletion = XShmQueryExtension(gDisplay) ? XShmGetEventBase(gDisplay) + ShmCompletion : -1;
    int renderEvent = 0, renderError = 0;
    gFeatures.render = XRenderQueryExtension(gDisplay, &renderEvent, &renderError);
    if (!gFeatures.render)
        std::fprintf(stderr, "the X server has no RENDER extension: frames are shown unscaled at the top left\n");
    gFeatures.dpi = resourceDpi(gDisplay);
    gSource = {&loop, loop.addSource(ConnectionNumber(gDisplay), serve, false)};
    return true;
}

void close() {
    if (!gDisplay) return;
    if (gSource.token) gSource.loop->removeSource(gSource.token);
    gSource = {};
    if (!gLost) XCloseDisplay(gDisplay);
    gDisplay = nullptr;
}

Display* display() { return gLost ? nullptr : gDisplay; }

const Features& features() { return gFeatures; }

void setEventHandler(EventHandler handler) { gHandler = handler; }

int errorCount() { return gErrors; }

void expectError(int code) { gExpected = code; }

void flush() {
    if (!display()) return;
    // XFlush would also read whatever the server has sent; sending is all a
    // frame needs, and the next pass reads if there is anything.
    LockDisplay(gDisplay);
    _XSend(gDisplay, nullptr, 0);
    UnlockDisplay(gDisplay);
}

void dispatchQueued() {
    if (!display()) return;
    // The connection is read only when the server has sent something (most
    // frames it has not); events an earlier read brought are in the queue.
    pollfd connection{ConnectionNumber(gDisplay), POLLIN, 0};
    int mode = poll(&connection, 1, 0) > 0 ? QueuedAfterReading : QueuedAlready;
    while (!gLost && XEventsQueued(gDisplay, mode) > 0) {
        mode = QueuedAlready;
        XEvent event;
        XNextEvent(gDisplay, &event);
        deliver(event);
    }
}

}  // namespace x11
