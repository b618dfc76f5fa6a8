// SPDX-License-Identifier: MIT
#include "OrvanelApp.h"

#include "TestGLView.h"

void OrvanelApp::applicationDidFinishLaunching(id) {
    NSAutoreleasePool* pool = alloc<NSAutoreleasePool>()->init();

    UIHardware::_setStatusBarHeight(0);
    setStatusBarMode(0, 0, 0, 0);
    CGRect rect = UIHardware::fullScreenApplicationContentRect();

    UIWindow* window = alloc<UIWindow>()->initWithContentRect(rect);
    window->orderFront(this);
    window->makeKey(this);
    window->_setHidden(false);

    auto* view = static_cast<UIGLView*>(alloc<TestGLView>()->initWithFrame(rect));
    window->setContentView(view);
    mGLView = view;

    NSTimer::scheduledTimerWithTimeInterval(kFramePeriod, this, &OrvanelApp::update, nullptr, true);

    pool->release();
}

void OrvanelApp::update() {
    if (mGLView) mGLView->setNeedsDisplay();
}

void OrvanelApp::applicationWillTerminate() {
    if (mGLView) mGLView->release();
}

int OrvanelMain(int argc, char** argv) {
    NSAutoreleasePool* pool = alloc<NSAutoreleasePool>()->init();
    int status = UIApplicationMain(argc, argv, ClassOf<OrvanelApp>());
    pool->release();
    return status;
}
