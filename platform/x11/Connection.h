// SPDX-License-Identifier: MIT
#pragma once

// The X backend's connection: opening it, its errors, its extensions, and
// serving its events on the run loop.

#include <X11/Xlib.h>

#include <functional>
#include <memory>
#include <vector>

#include "DisplayBackend.h"

namespace x11 {

class Connection;
struct Image;

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
    virtual ::Window id() const = 0;

protected:
    ~EventTarget() = default;
};

// What windows and images keep of the connection they were made on, which
// they may outlive: the connection while it is open (null after).
struct Link {
    Connection* connection = nullptr;
    std::vector<EventTarget*> windows;
    std::vector<Image*> images;
    // Null once closed or lost.
    Display* display() const;
    EventTarget* windowWithId(::Window id) const;
};

// Whether the server has done the request, as far as what it has sent so far
// tells (whatever it sends carries the number of the last request it did).
inline bool processed(Display* dpy, unsigned long request) {
    return static_cast<long>(LastKnownRequestProcessed(dpy) - request) >= 0;
}

class Connection {
public:
    using EventHandler = std::function<void(XEvent& event)>;
    // Opens the display named by $DISPLAY, installs error
    // handlers that report and carry on, and serves its events on `loop`,
    // each handed to `handler`; null when it cannot be opened, or (with
    // `timedOut` set) when its server did not answer within 3 s.
    static std::unique_ptr<Connection> open(display::EventLoop& loop, EventHandler handler, bool& timedOut);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    Display* display() const { return mLost ? nullptr : mDisplay; }  // null once lost
    const Features& features() const { return mFeatures; }
    const std::shared_ptr<Link>& link() const { return mLink; }
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
    Connection(display::EventLoop& loop, EventHandler handler) : mLoop(loop), mHandler(std::move(handler)) {}
    void serve();
    // Hands each queued event to the handler, asking the queue in mode
    // `first`, then `then` (XEventsQueued's modes).
    void drain(int first, int then);
    static int onError(Display* dpy, XErrorEvent* e);
    static void onConnectionLost(Display* dpy, void* data);

    display::EventLoop& mLoop;
    EventHandler mHandler;
    Display* mDisplay = nullptr;
    bool mLost = false;
    int mErrors = 0;
    int mExpected = 0;
    int mSourceToken = 0;
    Features mFeatures;
    std::shared_ptr<Link> mLink = std::make_shared<Link>();
};

}  // namespace x11
