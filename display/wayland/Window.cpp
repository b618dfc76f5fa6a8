// SPDX-License-Identifier: MIT
#include "Window.h"

#include <algorithm>
#include <tuple>
#include <utility>

#include "Connection.h"

namespace wl {

Window::Window(Connection& connection, int width, int height, std::string title, display::WindowListener& listener)
    : mConnection(connection), mWidth(width), mHeight(height), mWindow(width, height), mFloating(width, height),
      mTitle(std::move(title)), mListener(listener), mFit(display::unscaled(width, height)),
      mFrames(connection, width, height) {
    const Globals* g = connection.globals();
    if (!g || width <= 0 || height <= 0) return;
    mSurface = wl_compositor_create_surface(g->compositor);
    if (g->viewporter) mViewport = wp_viewporter_get_viewport(g->viewporter, mSurface);
    makeFrameSurface();
    // Black under the frame: 1 x 1, scaled by the compositor to the window;
    // where nothing scales, the window is the frame's size, black where no
    // frame is yet.
    int blackWidth = mViewport ? 1 : width, blackHeight = mViewport ? 1 : height;
    mBlack = ShmBuffer::create(connection, blackWidth, blackHeight, blackWidth * 4, WL_SHM_FORMAT_XRGB8888,
                               static_cast<size_t>(blackWidth) * blackHeight * 4);
    if (Seat* s = seat()) s->addInputSurface(mSurface, this);
}

Window::~Window() {
    if (Seat* s = seat()) s->removeInputTarget(this);
    mToplevel.reset();
    dropFrameSurface();
    if (mViewport) wp_viewport_destroy(mViewport);
    if (mSurface) wl_surface_destroy(mSurface);
}

Seat* Window::seat() const { return mConnection.seat(); }

// The frame's surface, made anew, lies above every surface the window has
// now, the decorations' included: the compositor then repaints the frame
// alone, not their shadow over it. Its commits take effect at once.
void Window::makeFrameSurface() {
    const Globals* g = mConnection.globals();
    if (!g) return;
    dropFrameSurface();
    mFrameSurface = wl_compositor_create_surface(g->compositor);
    if (g->viewporter) {
        mFrameViewport = wp_viewporter_get_viewport(g->viewporter, mFrameSurface);
        if (mConfigured) wp_viewport_set_destination(mFrameViewport, mFit.width, mFit.height);
    }
    // The frame is opaque: the compositor need not draw what lies under it.
    // Input passes through it to the window's surface, which keeps the
    // keyboard when the frame's is made anew (a compositor does not move
    // the focus off a surface that is gone).
    if (wl_region* region = wl_compositor_create_region(g->compositor)) {
        wl_surface_set_input_region(mFrameSurface, region);
        wl_region_add(region, 0, 0, mWidth, mHeight);
        wl_surface_set_opaque_region(mFrameSurface, region);
        wl_region_destroy(region);
    }
    mSubsurface = wl_subcompositor_get_subsurface(g->subcompositor, mFrameSurface, mSurface);
    wl_subsurface_set_position(mSubsurface, mFit.x, mFit.y);
    wl_subsurface_set_desync(mSubsurface);
}

void Window::dropFrameSurface() {
    if (wl_callback* pending = std::exchange(mFrameCallback, nullptr)) wl_callback_destroy(pending);
    if (mFrameViewport) wp_viewport_destroy(std::exchange(mFrameViewport, nullptr));
    if (mSubsurface) wl_subsurface_destroy(std::exchange(mSubsurface, nullptr));
    if (mFrameSurface) wl_surface_destroy(std::exchange(mFrameSurface, nullptr));
}

// libdecor makes its surfaces when it first shows the decorations: at the
// first configure, and on leaving full screen (it only hides them otherwise).
void Window::decorated() {
    if (mNewDecorations) makeFrameSurface();
    mNewDecorations = false;
}

void Window::setShown(bool shown) {
    if (!ok() || shown == mShown) return;
    mShown = shown;
    if (shown) {
        mNewDecorations = true;
        mToplevel = Toplevel::create(mConnection, mSurface, mTitle, std::max(mWidth / 4, 1),
                                     std::max(mHeight / 4, 1), *this);
        if (mToplevel && mFullscreen) mToplevel->setFullscreen(true);
        return;
    }
    // Unmapped: the role goes, and the window is made afresh when shown again.
    mToplevel.reset();
    wl_surface_attach(mSurface, nullptr, 0, 0);
    wl_surface_commit(mSurface);
    if (wl_callback* pending = std::exchange(mFrameCallback, nullptr)) wl_callback_destroy(pending);
    mConfigured = false;
}

void Window::setFullscreen(bool fullscreen) {
    mFullscreen = fullscreen;
    if (mToplevel) mToplevel->setFullscreen(fullscreen);
}

bool Window::wantsFrame() const { return ok() && mShown && mConfigured && !mFrameCallback; }

void Window::configured(int& width, int& height, bool floating) {
    if (!mViewport) std::tie(width, height) = std::pair(mWidth, mHeight);
    // "You choose": back from full screen or maximised, the size it had
    // before; otherwise the size it has.
    if (width <= 0 || height <= 0) std::tie(width, height) = floating ? mFloating : mWindow;
    mNewDecorations |= floating && !mWasFloating;
    mWasFloating = floating;
    if (floating) mFloating = {width, height};
    mWindow = {width, height};
    mFit = mViewport ? display::fitFrame(mWidth, mHeight, width, height) : display::unscaled(mWidth, mHeight);
    if (mViewport) {
        wp_viewport_set_destination(mViewport, width, height);
        wp_viewport_set_destination(mFrameViewport, mFit.width, mFit.height);
    }
    wl_subsurface_set_position(mSubsurface, mFit.x, mFit.y);
    if (mBlack) {
        wl_surface_attach(mSurface, mBlack->buffer, 0, 0);
        wl_surface_damage_buffer(mSurface, 0, 0, mBlack->width, mBlack->height);
    }
    // The frame's new size, shown with the window's commit that follows.
    wl_surface_commit(mFrameSurface);
    mConfigured = true;
}

void Window::put(const display::Frame& frame, int x, int y) {
    if (ok()) mFrames.put(frame, x, y);
}

void Window::present() {
    if (!ok() || !mConfigured) return;
    wl_buffer* buffer = mFrames.take();
    if (!buffer) return;
    wl_surface_attach(mFrameSurface, buffer, 0, 0);
    wl_surface_damage_buffer(mFrameSurface, 0, 0, mWidth, mHeight);
    mFrameCallback = wl_surface_frame(mFrameSurface);
    static const wl_callback_listener listener = {frameDone};
    wl_callback_add_listener(mFrameCallback, &listener, this);
    wl_surface_commit(mFrameSurface);
}

void Window::frameDone(void* data, wl_callback* callback, uint32_t) {
    auto* self = static_cast<Window*>(data);
    wl_callback_destroy(callback);
    if (self->mFrameCallback == callback) self->mFrameCallback = nullptr;
    ++self->mPresented;
}

void Window::toFrame(double& x, double& y) const { display::toFrame(mFit, x, y); }

}  // namespace wl
