// SPDX-License-Identifier: MIT
#pragma once

// A surface's role as a desktop window: title, app id, size, full screen and
// the close button. The compositor draws the decorations where it offers to
// (xdg-decoration); otherwise libdecor draws them, as GNOME expects.

#include <wayland-client.h>

#include <memory>
#include <string>

namespace wl {

class Toplevel {
public:
    class Events {
    public:
        // In: the size the compositor asks for (0: the window's choice), and
        // whether the window is free-standing (neither full screen nor
        // maximised). Out: the size the window takes. The surface is
        // committed after this returns.
        virtual void configured(int& width, int& height, bool floating) = 0;
        virtual void closeRequested() = 0;

    protected:
        ~Events() = default;
    };

    static std::unique_ptr<Toplevel> create(wl_surface* surface, const std::string& title, int minWidth,
                                            int minHeight, Events& events);
    virtual ~Toplevel() = default;
    virtual void setFullscreen(bool fullscreen) = 0;
};

// The connection is closing: the decoration library lets go of it.
void closeShell();

}  // namespace wl
