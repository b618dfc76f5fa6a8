// SPDX-License-Identifier: MIT
#pragma once

// A surface's role as a desktop window: title, app id, size, full screen and
// the close button. The compositor draws the decorations where it offers to
// (xdg-decoration); otherwise libdecor draws them, as GNOME expects.

#include <wayland-client.h>

#include <memory>
#include <string>

struct libdecor;

namespace wl {

class Connection;

// libdecor, for a compositor that draws no decorations.
class Decorations {
public:
    // Null when libdecor cannot be had.
    static std::unique_ptr<Decorations> create(wl_display* display);
    // Lets go of libdecor, unless its set-up is still unanswered (its plugin
    // destroys what it has not yet got, and crashes): then the process's end
    // does.
    ~Decorations();
    Decorations(const Decorations&) = delete;
    Decorations& operator=(const Decorations&) = delete;

    libdecor* context() const { return mContext; }
    // Its set-up has been answered.
    bool ready() const { return !mSync; }

private:
    Decorations() = default;
    static void answered(void* data, wl_callback* callback, uint32_t time);
    libdecor* mContext = nullptr;
    wl_callback* mSync = nullptr;  // until its set-up is answered
};

class Toplevel {
public:
    class Events {
    public:
        // In: the size the compositor asks for (0: the window's choice), and
        // whether the window is free-standing (neither full screen nor
        // maximised). Out: the size the window takes. The surface is
        // committed after this returns.
        virtual void configured(int& width, int& height, bool floating) = 0;
        // The decorations around the window have been drawn: surfaces of
        // theirs, above the window's own, may be new.
        virtual void decorated() {}
        virtual void closeRequested() = 0;

    protected:
        ~Events() = default;
    };

    static std::unique_ptr<Toplevel> create(Connection& connection, wl_surface* surface, const std::string& title,
                                            int minWidth, int minHeight, Events& events);
    virtual ~Toplevel() = default;
    virtual void setFullscreen(bool fullscreen) = 0;
};

}  // namespace wl
