// SPDX-License-Identifier: MIT
#include "Shell.h"

#include <libdecor.h>

#include <algorithm>
#include <cstdio>
#include <span>

#include "Connection.h"

namespace wl {
namespace {

// Matches the desktop entry's file name, so that the desktop shows its icon.
constexpr const char* kAppId = "orvanel";

// xdg-shell itself, with server-side decorations where offered.
class XdgToplevel final : public Toplevel {
public:
    XdgToplevel(Connection& connection, wl_surface* surface, const std::string& title, int minWidth, int minHeight,
                Events& events)
        : mConnection(connection), mSurface(surface), mEvents(events) {
        const Globals* g = connection.globals();
        mXdgSurface = xdg_wm_base_get_xdg_surface(g->wmBase, surface);
        xdg_surface_add_listener(mXdgSurface, &kSurfaceListener, this);
        mToplevel = xdg_surface_get_toplevel(mXdgSurface);
        xdg_toplevel_add_listener(mToplevel, &kToplevelListener, this);
        xdg_toplevel_set_title(mToplevel, title.c_str());
        xdg_toplevel_set_app_id(mToplevel, kAppId);
        xdg_toplevel_set_min_size(mToplevel, minWidth, minHeight);
        if (g->decorations) {
            mDecoration = zxdg_decoration_manager_v1_get_toplevel_decoration(g->decorations, mToplevel);
            zxdg_toplevel_decoration_v1_set_mode(mDecoration, ZXDG_TOPLEVEL_DECORATION_V1_MODE_SERVER_SIDE);
        }
        // The first configure follows a commit with no buffer.
        wl_surface_commit(surface);
    }
    ~XdgToplevel() override {
        if (!mConnection.globals()) return;  // the connection is lost, and its objects with it
        if (mDecoration) zxdg_toplevel_decoration_v1_destroy(mDecoration);
        xdg_toplevel_destroy(mToplevel);
        xdg_surface_destroy(mXdgSurface);
    }
    void setFullscreen(bool fullscreen) override {
        fullscreen ? xdg_toplevel_set_fullscreen(mToplevel, nullptr) : xdg_toplevel_unset_fullscreen(mToplevel);
    }

private:
    static void configureSurface(void* data, xdg_surface* surface, uint32_t serial) {
        auto* self = static_cast<XdgToplevel*>(data);
        xdg_surface_ack_configure(surface, serial);
        int width = self->mWidth, height = self->mHeight;
        self->mEvents.configured(width, height, self->mFloating);
        wl_surface_commit(self->mSurface);
    }
    static void configureToplevel(void* data, xdg_toplevel*, int32_t width, int32_t height, wl_array* states) {
        auto* self = static_cast<XdgToplevel*>(data);
        self->mWidth = width;
        self->mHeight = height;
        std::span state(static_cast<const uint32_t*>(states->data), states->size / sizeof(uint32_t));
        self->mFloating = std::ranges::none_of(state, [](uint32_t s) {
            return s == XDG_TOPLEVEL_STATE_FULLSCREEN || s == XDG_TOPLEVEL_STATE_MAXIMIZED;
        });
    }
    static void close(void* data, xdg_toplevel*) { static_cast<XdgToplevel*>(data)->mEvents.closeRequested(); }
    static constexpr xdg_surface_listener kSurfaceListener = {configureSurface};
    // Members of later versions stay null (never sent at the version bound).
    static inline const xdg_toplevel_listener kToplevelListener = [] {
        xdg_toplevel_listener l{};
        l.configure = configureToplevel;
        l.close = close;
        return l;
    }();

    Connection& mConnection;
    wl_surface* mSurface;
    Events& mEvents;
    xdg_surface* mXdgSurface = nullptr;
    xdg_toplevel* mToplevel = nullptr;
    zxdg_toplevel_decoration_v1* mDecoration = nullptr;
    int mWidth = 0, mHeight = 0;
    bool mFloating = true;
};

void decorError(libdecor*, libdecor_error, const char* message) {
    std::fprintf(stderr, "window decorations: %s\n", message);
}
// libdecor takes its interfaces by a pointer to non-const, and only reads them.
const libdecor_interface kDecorInterface = [] {
    libdecor_interface i{};
    i.error = decorError;
    return i;
}();

// Decorations drawn by libdecor (a compositor with no server-side ones).
class DecoratedToplevel final : public Toplevel {
public:
    DecoratedToplevel(Connection& connection, Decorations& decorations, wl_surface* surface, const std::string& title,
                      int minWidth, int minHeight, Events& events)
        : mConnection(connection), mDecorations(decorations), mSurface(surface), mEvents(events) {
        mFrame = libdecor_decorate(decorations.context(), surface, const_cast<libdecor_frame_interface*>(&kFrameInterface),
                                   this);
        libdecor_frame_set_title(mFrame, title.c_str());
        libdecor_frame_set_app_id(mFrame, kAppId);
        libdecor_frame_set_min_content_size(mFrame, minWidth, minHeight);
        libdecor_frame_map(mFrame);
    }
    ~DecoratedToplevel() override {
        if (mFrame && mConnection.globals() && mDecorations.ready()) libdecor_frame_unref(mFrame);
    }
    bool ok() const { return mFrame != nullptr; }
    void setFullscreen(bool fullscreen) override {
        mFullscreen = fullscreen;
        // libdecor makes its xdg_toplevel once its own set-up is answered,
        // and asks it for full screen without looking: until then the wish
        // waits for the first configure.
        if (libdecor_frame_get_xdg_toplevel(mFrame)) apply();
    }

private:
    void apply() {
        if (mFullscreen == mAsked) return;
        mAsked = mFullscreen;
        mFullscreen ? libdecor_frame_set_fullscreen(mFrame, nullptr) : libdecor_frame_unset_fullscreen(mFrame);
    }
    static void configure(libdecor_frame* frame, libdecor_configuration* configuration, void* data) {
        auto* self = static_cast<DecoratedToplevel*>(data);
        self->apply();
        int width = 0, height = 0;
        if (!libdecor_configuration_get_content_size(configuration, frame, &width, &height)) width = height = 0;
        libdecor_window_state windowState = LIBDECOR_WINDOW_STATE_NONE;
        libdecor_configuration_get_window_state(configuration, &windowState);
        self->mEvents.configured(
            width, height, !(windowState & (LIBDECOR_WINDOW_STATE_FULLSCREEN | LIBDECOR_WINDOW_STATE_MAXIMIZED)));
        // The decorations are drawn around the size the window took.
        libdecor_state* state = libdecor_state_new(width, height);
        libdecor_frame_commit(frame, state, configuration);
        libdecor_state_free(state);
        self->mEvents.decorated();
        wl_surface_commit(self->mSurface);
    }
    static void close(libdecor_frame*, void* data) { static_cast<DecoratedToplevel*>(data)->mEvents.closeRequested(); }
    static void commit(libdecor_frame*, void* data) {
        wl_surface_commit(static_cast<DecoratedToplevel*>(data)->mSurface);
    }
    static void dismissPopup(libdecor_frame*, const char*, void*) {}
    static inline const libdecor_frame_interface kFrameInterface = [] {
        libdecor_frame_interface i{};
        i.configure = configure;
        i.close = close;
        i.commit = commit;
        i.dismiss_popup = dismissPopup;
        return i;
    }();

    Connection& mConnection;
    Decorations& mDecorations;
    wl_surface* mSurface;
    Events& mEvents;
    libdecor_frame* mFrame = nullptr;
    bool mFullscreen = false;  // wished
    bool mAsked = false;       // asked of the compositor
};

}  // namespace

std::unique_ptr<Decorations> Decorations::create(wl_display* display) {
    libdecor* context = libdecor_new(display, const_cast<libdecor_interface*>(&kDecorInterface));
    if (!context) return nullptr;
    std::unique_ptr<Decorations> d(new Decorations);
    d->mContext = context;
    // Answered after the answers libdecor's plugin waits for.
    d->mSync = wl_display_sync(display);
    static const wl_callback_listener kListener = {answered};
    wl_callback_add_listener(d->mSync, &kListener, d.get());
    return d;
}

void Decorations::answered(void* data, wl_callback* callback, uint32_t) {
    auto* self = static_cast<Decorations*>(data);
    wl_callback_destroy(callback);
    self->mSync = nullptr;
}

Decorations::~Decorations() { mSync ? wl_callback_destroy(mSync) : libdecor_unref(mContext); }

std::unique_ptr<Toplevel> Toplevel::create(Connection& connection, wl_surface* surface, const std::string& title,
                                           int minWidth, int minHeight, Events& events) {
    const Globals* g = connection.globals();
    if (!g) return nullptr;
    if (!g->decorations)
        if (Decorations* decorations = connection.decorations()) {
            auto decorated = std::make_unique<DecoratedToplevel>(connection, *decorations, surface, title, minWidth,
                                                                 minHeight, events);
            if (decorated->ok()) return decorated;
        }
    return std::make_unique<XdgToplevel>(connection, surface, title, minWidth, minHeight, events);
}

}  // namespace wl
