// SPDX-License-Identifier: MIT
#include "BareGL.h"

#include <GLES/gl.h>

#include "DrawCube.h"
#include "Measure.h"
#include "UIGLCameraView.h"

BareGL::BareGL(const uint8_t* picture) : mDisplay(eglGetDisplay(EGL_DEFAULT_DISPLAY)) {
    EGLConfig config = chooseConfig();
    const EGLint size[] = {EGL_WIDTH, 320, EGL_HEIGHT, 480, EGL_NONE};
    mSurface = eglCreatePbufferSurface(mDisplay, config, size);
    attach(picture);
}

BareGL::BareGL(const uint8_t* picture, unsigned long xWindow)
    : mDisplay(eglGetDisplay(EGL_DEFAULT_DISPLAY)), mSwap(true) {
    EGLConfig config = chooseConfig();
    mSurface = eglCreateWindowSurface(mDisplay, config, static_cast<EGLNativeWindowType>(xWindow), nullptr);
    attach(picture);
}

BareGL::BareGL(const uint8_t* picture, EGLDisplay display, void* waylandWindow) : mDisplay(display), mSwap(true) {
    EGLConfig config = chooseConfig();
    mSurface = eglCreatePlatformWindowSurface(mDisplay, config, waylandWindow, nullptr);
    attach(picture);
}

BareGL::~BareGL() {
    mCamera->release();
    release();
    if (mSurface != EGL_NO_SURFACE) eglDestroySurface(mDisplay, mSurface);
    if (mContext != EGL_NO_CONTEXT) eglDestroyContext(mDisplay, mContext);
}

// The demo's pixel format and depth buffer, so that GL's work is alike; a
// window surface needs a config that can draw into windows, which the demo's
// pbuffer-only choice need not be.
EGLConfig BareGL::chooseConfig() {
    eglInitialize(mDisplay, nullptr, nullptr);
    std::vector<EGLint> attribs;
    for (const EGLint* a = UIGLView::configAttribs; *a != EGL_NONE; a += 2)
        attribs.insert(attribs.end(), {a[0], a[0] == EGL_SURFACE_TYPE && mSwap ? EGL_WINDOW_BIT : a[1]});
    attribs.push_back(EGL_NONE);
    EGLConfig config = nullptr;
    EGLint count = 0;
    eglChooseConfig(mDisplay, attribs.data(), &config, 1, &count);
    mContext = eglCreateContext(mDisplay, config, EGL_NO_CONTEXT, nullptr);
    return config;
}

void BareGL::attach(const uint8_t* picture) {
    mPicture = picture;
    // The camera as the demo's view sets it up; only its numbers are used.
    mCamera = alloc<UIGLCameraView>();
    mCamera->mZUp = true;
    mCamera->resetView();
}

bool BareGL::makeCurrent() { return eglMakeCurrent(mDisplay, mSurface, mSurface, mContext); }

void BareGL::release() { eglMakeCurrent(mDisplay, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT); }

// The GL calls of the demo's frame, in its order: the spin and the camera's
// matrices as the view loads them, then the scene. The view asks EGL for the
// surface's size, which the platform answers without EGL: here it is known.
void BareGL::frame() {
    mCamera->mCameraTheta += 5.94f;
    mCamera->mCameraPhi += 5.94f;
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    float m[16];
    mCamera->projectionMatrix(320, 480, m);
    glMultMatrixf(m);
    glRotatef(-90, 1, 0, 0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glTranslatef(mCamera->mCameraOffsetX, mCamera->mCameraDistance, mCamera->mCameraOffsetY);
    glRotatef(mCamera->mCameraPhi, 1, 0, 0);
    glRotatef(mCamera->mCameraTheta, 0, 0, 1);
    glEnable(GL_DEPTH_TEST);
    glClearColor(0.3f, 0.3f, 0.4f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
    glDisable(GL_CULL_FACE);
    DrawCube(128, 128, mPicture);
    if (mSwap)
        eglSwapBuffers(mDisplay, mSurface);
    else
        glFinish();
}

double BareGL::run(int frames, std::vector<double>& ms) {
    makeCurrent();
    double c0 = bench::cpu();
    for (int i = 0; i < frames; ++i) {
        double t0 = bench::wall();
        frame();
        ms.push_back((bench::wall() - t0) * 1000.0);
    }
    double used = bench::cpu() - c0;
    release();
    return used;
}
