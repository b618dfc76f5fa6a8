// SPDX-License-Identifier: MIT
#pragma once

#include <EGL/egl.h>

#include "CoreSurface.h"
#include "UIKit.h"

// A view with a ready OpenGL ES 1 context that draws into a 16-bit pixmap
// surface; the pixmap's memory is a surface buffer that the view's layer shows.
class UIGLView : public UIView {
public:
    UIView* initWithFrame(CGRect frame) override;
    virtual void beginScene();
    virtual void endScene();

    EGLDisplay eglDisplay() const { return mEGLDisplay; }
    EGLContext eglContext() const { return mEGLContext; }
    EGLSurface eglSurface() const { return mEGLSurface; }
    CoreSurfaceBufferRef screenSurface() const { return mScreenSurface; }

    static const EGLint configAttribs[];

protected:
    ~UIGLView() override;

    EGLDisplay mEGLDisplay = nullptr;
    EGLContext mEGLContext = nullptr;
    EGLSurface mEGLSurface = nullptr;
    CoreSurfaceBufferRef mScreenSurface = nullptr;
};
