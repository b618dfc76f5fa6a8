// SPDX-License-Identifier: MIT
#pragma once

// The X backend's connection: opening it, its errors, its extensions, and
// serving its events on the run loop.

#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>

#include <memory>
#include <unordered_map>

#include "DisplayBackend.h"

namespace x11 {

// What the server offers, learnt when the connection opens.
struct Features {
    int xiOpcode = -1;        // -1: no XInput 2.2 touch events
    int shmCompletion = -1;   // -1: no shared memory images
    bool render = false;      // the server scales frames (RENDER)
    double dpi = 0;           // Xft.dpi; 0: not set
};

// A window, as the connection's events see it.
class EventTarget {
public:
    virtual void handle(const XEvent& event) = 0;
    virtual void handleTouch(const XIDeviceEvent& event) = 0;

protected:
    ~EventTarget() = default;
};

// Whether the server has done the request, as far as what it has sent so far
// tells (whatever it sends carries the number of the last request it did).
inline bool processed(Display* dpy, unsigned long request) {
    return static_cast<long>(LastKnownRequestProcessed(dpy) - request) >= 0;
}

class Connection {
public:
    // Opens the display named by $DISPLAY, installs error handlers that
    // report and carry on, and serves its events on `loop`, each to the
    // window it is for; null when it cannot be opened, or (with `timedOut`
    // set) when its server did not answer within 3 s.
    static std::unique_ptr<Connection> open(display::EventLoop& loop, bool& timedOut);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    Display* display() const { return mLost ? nullptr : mDisplay; }  // null once lost
    const Features& features() const { return mFeatures; }
    // The window's events go to it from now on (until removed).
    void addTarget(::Window id, EventTarget* target) { mTargets[id] = target; }
    void removeTarget(::Window id) { mTargets.erase(id); }
    // The number of protocol errors reported so far (they do not end the process).
    int errorCount() const { return mErrors; }
    // Errors with this code from the request that follows are expected and
    // not reported (they are still counted); 0 reports them all again.
    void expectError(int code) { mExpected = code; }
    // Whether the server reaches our shared memory. Known after the first
    // attach: where it fails (a server in another IPC namespace) the next
    // would too, and later images go over the connection without asking;
    // where it works, later segments need no probe.
    enum class SharedMemory { Untried, Works, Refused } sharedMemory = SharedMemory::Untried;

    void flush();
    // Reads what the server has sent, without waiting, and hands every event
    // to the handler.
    void dispatchQueued();

private:
    explicit Connection(display::EventLoop& loop) : mLoop(loop) {}
    void serve();
    // Hands each queued event to its window, asking the queue in mode
    // `first`, then `then` (XEventsQueued's modes).
    void drain(int first, int then);
    void route(XEvent& event);
    static int onError(Display* dpy, XErrorEvent* e);
    static void onConnectionLost(Display* dpy, void* data);

    display::EventLoop& mLoop;
    std::unordered_map<::Window, EventTarget*> mTargets;
    Display* mDisplay = nullptr;
    bool mLost = false;
    int mErrors = 0;
    int mExpected = 0;
    int mSourceToken = 0;
    Features mFeatures;
};

}  // namespace x11
