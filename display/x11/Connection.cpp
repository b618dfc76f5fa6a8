// SPDX-License-Identifier: MIT
#include "Connection.h"

#include <X11/Xresource.h>
#include <X11/Xutil.h>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xrender.h>

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <cstdio>
#include <cstdlib>
#include <utility>

// Xlib's interface for extensions: sending without reading. Last, for the
// macros it defines.
#include <X11/Xlibint.h>
#undef min
#undef max

namespace x11 {
namespace {

// Where a display's connection is found from Xlib's process-wide error
// handler (the display's own context store holds it).
XContext connectionContext() {
    static const XContext context = XUniqueContext();
    return context;
}

int onIOError(Display*) { return 0; }

// A server that takes the connection but does not answer (a stopped one)
// would hold XOpenDisplay for ever: the handshake runs on a thread of its own
// and is given `limit`. One that answers later is let go of without a word
// to it (Xlib is not shared between threads here).
Display* openWithin(std::chrono::milliseconds limit, bool& timedOut) {
    struct Attempt {
        std::mutex mutex;
        std::condition_variable done;
        Display* display = nullptr;
        bool finished = false, abandoned = false;
    };
    auto attempt = std::make_shared<Attempt>();
    std::thread([attempt] {
        sigset_t all;
        sigfillset(&all);
        pthread_sigmask(SIG_BLOCK, &all, nullptr);  // the main thread takes the signals
        Display* dpy = XOpenDisplay(nullptr);
        std::lock_guard lock(attempt->mutex);
        if (attempt->abandoned && dpy) ::close(ConnectionNumber(dpy));
        attempt->display = dpy;
        attempt->finished = true;
        attempt->done.notify_one();
    }).detach();
    std::unique_lock lock(attempt->mutex);
    timedOut = !attempt->done.wait_for(lock, limit, [&] { return attempt->finished; });
    attempt->abandoned = timedOut;
    return timedOut ? nullptr : attempt->display;
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

int Connection::onError(Display* dpy, XErrorEvent* e) {
    if (XPointer found = nullptr; XFindContext(dpy, DefaultRootWindow(dpy), connectionContext(), &found) == 0) {
        auto* self = reinterpret_cast<Connection*>(found);
        ++self->mErrors;
        if (self->mExpected && e->error_code == self->mExpected) return 0;
    }
    char text[256] = {0};
    XGetErrorText(dpy, e->error_code, text, sizeof text);
    std::fprintf(stderr, "X error: %s (request %d.%d, resource 0x%lx)\n", text, e->request_code,
                 e->minor_code, e->resourceid);
    return 0;
}

// Xlib calls this instead of exit() when the connection breaks.
void Connection::onConnectionLost(Display*, void* data) {
    auto* self = static_cast<Connection*>(data);
    if (self->mLost) return;
    self->mLost = true;
    std::fprintf(stderr, "display connection lost\n");
    self->mLoop.stop(1);
}

void Connection::drain(int first, int then) {
    for (int mode = first; !mLost && XEventsQueued(mDisplay, mode) > 0; mode = then) {
        XEvent event;
        XNextEvent(mDisplay, &event);
        route(event);
    }
}

void Connection::route(XEvent& event) {
    if (event.type == GenericEvent && event.xcookie.extension == mFeatures.xiOpcode) {
        if (XGetEventData(mDisplay, &event.xcookie)) {
            auto* d = static_cast<XIDeviceEvent*>(event.xcookie.data);
            if (auto found = mTargets.find(d->event); found != mTargets.end()) found->second->handleTouch(*d);
            XFreeEventData(mDisplay, &event.xcookie);
        }
        return;
    }
    // A completion has done its work by being read: it told which requests
    // the server has done.
    if (mFeatures.shmCompletion >= 0 && event.type == mFeatures.shmCompletion) return;
    if (auto found = mTargets.find(event.xany.window); found != mTargets.end()) found->second->handle(event);
}

void Connection::serve() {
    if (mLost) return;
    drain(QueuedAfterFlush, QueuedAfterFlush);
    if (mLost && mSourceToken) mLoop.removeSource(std::exchange(mSourceToken, 0));
}

std::unique_ptr<Connection> Connection::open(display::EventLoop& loop, bool& timedOut) {
    XSetErrorHandler(onError);
    XSetIOErrorHandler(onIOError);
    Display* dpy = openWithin(std::chrono::seconds(3), timedOut);
    if (!dpy) return nullptr;
    std::unique_ptr<Connection> c(new Connection(loop));
    c->mDisplay = dpy;
    XSaveContext(dpy, DefaultRootWindow(dpy), connectionContext(), reinterpret_cast<XPointer>(c.get()));
    XSetIOErrorExitHandler(dpy, onConnectionLost, c.get());
    Features& f = c->mFeatures;
    int opcode = 0, event = 0, error = 0, major = 2, minor = 2;
    bool touch = XQueryExtension(dpy, "XInputExtension", &opcode, &event, &error) &&
                 XIQueryVersion(dpy, &major, &minor) == Success && (major > 2 || (major == 2 && minor >= 2));
    f.xiOpcode = touch ? opcode : -1;
    f.shmCompletion = XShmQueryExtension(dpy) ? XShmGetEventBase(dpy) + ShmCompletion : -1;
    f.render = XRenderQueryExtension(dpy, &event, &error);
    if (!f.render)
        std::fprintf(stderr,
                     "orvanel: the X server has no RENDER extension: frames are shown unscaled at the top left\n");
    f.dpi = resourceDpi(dpy);
    Connection* self = c.get();
    c->mSourceToken = loop.addInputSource(ConnectionNumber(dpy), [self] { self->serve(); }, false);
    return c;
}

Connection::~Connection() {
    if (mSourceToken) mLoop.removeSource(mSourceToken);
    if (!mLost) XCloseDisplay(mDisplay);
}

void Connection::flush() {
    if (!display()) return;
    // XFlush would also read whatever the server has sent; sending is all a
    // frame needs, and the next pass reads if there is anything.
    LockDisplay(mDisplay);
    _XSend(mDisplay, nullptr, 0);
    UnlockDisplay(mDisplay);
}

void Connection::dispatchQueued() {
    if (!display()) return;
    // The connection is read only when the server has sent something (most
    // frames it has not); events an earlier read brought are in the queue.
    pollfd connection{ConnectionNumber(mDisplay), POLLIN, 0};
    drain(poll(&connection, 1, 0) > 0 ? QueuedAfterReading : QueuedAlready, QueuedAlready);
}

}  // namespace x11
