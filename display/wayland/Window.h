// SPDX-License-Identifier: MIT
#pragma once

// A Wayland window: a black surface the size of the window, and the frame on
// a subsurface above it, both scaled by the compositor (wp_viewporter), so
// that the frame is fitted and centred by the same rules as everywhere. The
// frame's surface is committed alone, each frame, and only when the
// compositor has asked for one; the black one only when the window changes,
// so that the compositor repaints no more than the frame.

#include <wayland-client.h>

#include <memory>
#include <string>
#include <utility>

#include "Buffers.h"
#include "Connection.h"
#include "DisplayBackend.h"
#include "Input.h"
#include "Shell.h"

namespace wl {

class Window final : public display::Window, Toplevel::Events, InputTarget {
public:
    Window(Connection& connection, int width, int height, std::string title, display::WindowListener& listener);
    ~Window() override;
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;
    bool ok() const { return mSurface && mFrameSurface; }

    // display::Window
    void setShown(bool shown) override;
    // raise(): the contract's nothing, as a compositor decides what is on top.
    void setFullscreen(bool fullscreen) override;
    bool wantsFrame() const override;
    long framesPresented() const override { return mPresented; }
    std::shared_ptr<display::FrameMemory> lendFrameMemory(int width, int height, int pitch) override {
        return mFrames.lend(width, height, pitch);
    }
    void put(const display::Frame& frame, int x, int y) override;
    void present() override;

private:
    // Toplevel::Events
    void configured(int& width, int& height, bool floating) override;
    void decorated() override;
    void closeRequested() override { mListener.windowCloseRequested(); }
    // InputTarget
    display::WindowListener& listener() override { return mListener; }
    void toFrame(double& x, double& y) const override;
    Seat* seat() const;
    void makeFrameSurface();
    void dropFrameSurface();

    static void frameDone(void* data, wl_callback* callback, uint32_t time);

    Connection& mConnection;
    int mWidth, mHeight;  // the frame's
    std::pair<int, int> mWindow;
    std::pair<int, int> mFloating;  // its size when last neither full screen nor maximised
    std::string mTitle;
    display::WindowListener& mListener;
    display::Fit mFit;
    wl_surface* mSurface = nullptr;  // the window, black
    wl_surface* mFrameSurface = nullptr;
    wl_subsurface* mSubsurface = nullptr;
    wp_viewport* mViewport = nullptr;
    wp_viewport* mFrameViewport = nullptr;
    std::unique_ptr<ShmBuffer> mBlack;
    FrameBuffers mFrames;
    std::unique_ptr<Toplevel> mToplevel;
    wl_callback* mFrameCallback = nullptr;  // the compositor has not yet asked for the next frame
    long mPresented = 0;  // frames after which the compositor asked for the next
    bool mShown = false;
    bool mConfigured = false;
    bool mFullscreen = false;
    bool mWasFloating = false;     // at the last configure
    bool mNewDecorations = false;  // the decorations may have made surfaces since the frame's
};

}  // namespace wl
