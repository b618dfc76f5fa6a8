// SPDX-License-Identifier: MIT
#pragma once

// An X window that shows 5-6-5 frames: the frame's size times the largest
// whole scale Xft.dpi asks for and the screen holds. The frame is put in the
// window's format from memory the server reads; at a whole scale (full
// screen, or a window of a whole multiple of its size) made larger here, in
// exact blocks, so that the server only copies (it has no fast way to scale
// to 15- or 30-bit screens); at any other size the server scales it (RENDER).

#include <X11/Xlib.h>
#include <X11/extensions/Xrender.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Connection.h"
#include "DisplayBackend.h"
#include "Input.h"
#include "PixelConvert.h"
#include "SharedImage.h"

namespace x11 {

class Window final : public display::Window, EventTarget {
public:
    Window(Connection& connection, display::WindowListener& listener) : mConnection(connection), mInput(mLayout, listener) {}
    ~Window() override;
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;
    bool create(int x, int y, int width, int height, const std::string& title);

    // display::Window
    void setShown(bool shown) override;
    void raise() override;
    // Through the window manager where there is one; otherwise the window
    // covers the screen itself, and goes back to its size on leaving.
    void setFullscreen(bool fullscreen) override;
    bool wantsFrame() const override { return mLayout.visible(); }
    std::shared_ptr<display::FrameMemory> lendFrameMemory(int width, int height, int pitch) override;
    void put(const display::Frame& frame, int x, int y) override;
    void present() override;
    long framesPresented() const override;
    // _NET_WM_ICON: what window managers show in task bars and switchers.
    void setIcon(const std::vector<uint32_t>& argb, int width, int height) override;

    // EventTarget
    void handle(const XEvent& event) override;
    void handleTouch(const XIDeviceEvent& event) override { mInput.handleTouch(event); }

private:
    Display* display() const { return mConnection.display(); }
    void describe(const std::string& title);
    // Showing frames: what it needs once the window exists, and the frame's
    // scale told to the server.
    void preparePresentation();
    void applyFit();
    // The whole scale the frame is shown at; 0 where the server scales it.
    int shownScale() const;
    // An image of the window's format for the frame at `scale`, to write now.
    SharedImage* staged(int scale);

    Connection& mConnection;
    Layout mLayout;
    Input mInput;
    ::Window mId = 0;
    int mFirstScale = 1;  // of the window's first size
    Visual* mVisual = nullptr;
    int mDepth = 0;
    ImageShape mShape;     // of a frame in the window's format; no bytes a pixel: frames cannot be shown
    bool mNative565 = false;  // the window takes 5-6-5 rows as they are
    int mRestoreX = 0, mRestoreY = 0;  // where it was before full screen, with no window manager
    GC mGc = nullptr;
    // Scaled frames: put here, then drawn into the window by the server.
    Pixmap mFrame = 0;
    Picture mFramePicture = 0, mWindowPicture = 0;
    // What the server shows from: the memory lent to the surface buffer as
    // it is, or frames converted into images of the window's format.
    std::shared_ptr<LentImages> mLent;
    std::optional<display::Convert565> mConvert;
    std::vector<uint8_t> mScratch;  // the frame in the window's format, before it is made larger
    int mStagedScale = 0;           // of the images below
    std::unique_ptr<SharedImages> mImages;
    std::unique_ptr<ImagePool> mStaged;
    std::deque<unsigned long> mShown;  // the last request of each frame the server has not yet done
    long mPresented = 0;
};

}  // namespace x11
