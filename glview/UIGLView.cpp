// SPDX-License-Identifier: MIT
#include "UIGLView.h"

#include <cstdint>
#include <cstdio>

#include "CoreFoundation.h"
#include "LayerKit.h"

// Asks for a pbuffer config although a pixmap surface is made: the config
// the device's EGL gave for this list takes pixmaps too.
const EGLint UIGLView::configAttribs[] = {
    EGL_BUFFER_SIZE, 16,
    EGL_DEPTH_SIZE, 16,
    EGL_SURFACE_TYPE, EGL_PBUFFER_BIT,
    EGL_NONE,
};

namespace {
void setNumber(CFMutableDictionaryRef dict, CFStringRef key, int32_t value) {
    CFNumberRef number = CFNumberCreate(kCFAllocatorDefault, kCFNumberSInt32Type, &value);
    CFDictionarySetValue(dict, key, number);
    CFRelease(number);  // the dictionary keeps its own reference
}
}  // namespace

UIView* UIGLView::initWithFrame(CGRect frame) {
    if (!UIView::initWithFrame(frame)) return nullptr;

    EGLDisplay display = eglGetDisplay(EGL_DEFAULT_DISPLAY);
    EGLint major = 0, minor = 0;
    if (!eglInitialize(display, &major, &minor)) return this;
    printf("GL version %d.%d\n", major, minor);

    EGLConfig config = nullptr;
    EGLint count = 0;
    if (!eglChooseConfig(display, configAttribs, &config, 1, &count) || count != 1) {
        puts("failed to find usable config =(");
        config = nullptr;
    }

    EGLContext context = eglCreateContext(display, config, EGL_NO_CONTEXT, nullptr);
    if (context == EGL_NO_CONTEXT) puts("failed to allocate context =(");

    // The view's validated frame keeps these conversions in range.
    const int32_t width = static_cast<int32_t>(frame.size.width);
    const int32_t height = static_cast<int32_t>(frame.size.height);
    const int32_t pitch = width * 2;
    const int32_t allocSize = pitch * height;

    CFMutableDictionaryRef properties = CFDictionaryCreateMutable(
        kCFAllocatorDefault, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
    CFDictionarySetValue(properties, kCoreSurfaceBufferGlobal, kCFBooleanTrue);
    CFDictionarySetValue(properties, kCoreSurfaceBufferMemoryRegion, CFSTR("PurpleGFXMem"));
    setNumber(properties, kCoreSurfaceBufferPitch, pitch);
    setNumber(properties, kCoreSurfaceBufferWidth, width);
    setNumber(properties, kCoreSurfaceBufferHeight, height);
    setNumber(properties, kCoreSurfaceBufferPixelFormat, kCoreSurfacePixelFormat565L);
    setNumber(properties, kCoreSurfaceBufferAllocSize, allocSize);

    CoreSurfaceBufferRef buffer = CoreSurfaceBufferCreate(properties);
    CFRelease(properties);
    CoreSurfaceBufferLock(buffer, 3);

    LKLayer* layer = LKLayer::layer();
    layer->retain();
    layer->setFrame(CGRectMake(0, 0, frame.size.width, frame.size.height));
    layer->setContents(buffer);
    layer->setOpaque(true);
    this->layer()->addSublayer(layer);

    CoreSurfaceBufferUnlock(buffer);

    EGLSurface surface = eglCreatePixmapSurface(
        display, config, reinterpret_cast<EGLNativePixmapType>(buffer), nullptr);
    if (surface == EGL_NO_SURFACE) printf("failed to create surface =(, %04x\n", eglGetError());

    mEGLDisplay = display;
    mEGLContext = context;
    mEGLSurface = surface;
    mScreenSurface = buffer;

    if (!eglMakeCurrent(display, surface, surface, context))
        printf("make current error: %04x\n", eglGetError());
    return this;
}

void UIGLView::beginScene() {
    eglWaitNative(EGL_CORE_NATIVE_ENGINE);
    CoreSurfaceBufferLock(mScreenSurface, 3);
    if (!eglMakeCurrent(mEGLDisplay, mEGLSurface, mEGLSurface, mEGLContext))
        printf("make current error: %04x\n", eglGetError());
}

void UIGLView::endScene() {
    eglWaitGL();
    eglMakeCurrent(mEGLDisplay, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    CoreSurfaceBufferUnlock(mScreenSurface);
}

// Nothing in the program destroys the view; tests do, and get their EGL
// objects and buffer back.
UIGLView::~UIGLView() {
    if (mEGLDisplay) {
        if (eglGetCurrentContext() == mEGLContext && mEGLContext)
            eglMakeCurrent(mEGLDisplay, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
        if (mEGLSurface) eglDestroySurface(mEGLDisplay, mEGLSurface);
        if (mEGLContext) eglDestroyContext(mEGLDisplay, mEGLContext);
    }
    // The layer made at initialisation was retained once beyond its place in
    // the tree.
    if (LKLayer* own = layer())
        for (LKLayer* sub : own->sublayers())
            if (sub->contents() == mScreenSurface) {
                sub->release();
                break;
            }
    if (mScreenSurface) CFRelease(mScreenSurface);
}
