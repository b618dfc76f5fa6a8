// SPDX-License-Identifier: MIT
#pragma once

#include <EGL/egl.h>

#include <cstdint>
#include <vector>

class UIGLCameraView;

// The demo's frame with nothing of the platform around it: its GL calls (the
// camera's matrices, the depth test, the clear, the cube) into a pbuffer of
// the demo's configuration, ended with glFinish; or, given a window, into a
// window surface ended with eglSwapBuffers, as a plain EGL program would draw.
class BareGL {
public:
    // A 320 x 480 pbuffer on EGL's default display.
    explicit BareGL(const uint8_t* picture);
    // An X window's surface, on EGL's default display.
    BareGL(const uint8_t* picture, unsigned long xWindow);
    // A wl_egl_window on a Wayland connection's EGL display.
    BareGL(const uint8_t* picture, EGLDisplay display, void* waylandWindow);
    ~BareGL();
    BareGL(const BareGL&) = delete;
    BareGL& operator=(const BareGL&) = delete;

    bool ok() const { return mSurface != EGL_NO_SURFACE && mContext != EGL_NO_CONTEXT; }
    bool makeCurrent();
    void release();
    void frame();
    // Adds `frames` frame times (ms) to `ms`; returns the CPU seconds used.
    double run(int frames, std::vector<double>& ms);

private:
    EGLConfig chooseConfig();
    void attach(const uint8_t* picture);

    EGLDisplay mDisplay = EGL_NO_DISPLAY;
    EGLSurface mSurface = EGL_NO_SURFACE;
    EGLContext mContext = EGL_NO_CONTEXT;
    bool mSwap = false;
    UIGLCameraView* mCamera = nullptr;
    const uint8_t* mPicture = nullptr;
};
