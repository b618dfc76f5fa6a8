// SPDX-License-Identifier: MIT
#pragma once

// The X backend's one connection: opening it, its errors, its extensions, and
// serving its events on the main run loop.

#include <X11/Xlib.h>

#include "DisplayBackend.h"

namespace x11 {

// Opens the display named by $DISPLAY (or `name`), installs error handlers
// that report and carry on, and serves its events on `loop`.
bool open(display::EventLoop& loop, const char* name = nullptr);
void close();
Display* display();  // null when not open or lost

// What the server offers, learnt when the connection opens.
struct Features {
    int xiOpcode = -1;        // -1: no XInput 2.2 touch events
    int shmCompletion = -1;   // -1: no shared memory images
    bool render = false;      // the server scales frames (RENDER)
    double dpi = 0;           // Xft.dpi; 0: not set
};
const Features& features();

// Where the connection's events go (the window layer's routing).
using EventHandler = void (*)(XEvent& event);
void setEventHandler(EventHandler handler);

// The number of protocol errors reported so far (they do not end the process).
int errorCount();
// Errors with this code from the request that follows are expected and not
// reported (they are still counted); 0 reports them all again.
void expectError(int code);

void flush();
// Reads what the server has sent, without waiting, and hands every event to
// the handler.
void dispatchQueued();

}  // namespace x11
