// SPDX-License-Identifier: MIT
#pragma once

#include <string>
#include <vector>

#include "CoreGraphics.h"
#include "Foundation.h"
#include "GraphicsServices.h"
#include "LayerKit.h"

namespace display {
class WindowListener;
}
namespace UIKitPlatform {
class Session;
}

class UIApplication : public NSObject {
public:
    virtual UIApplication* init() { return this; }
    virtual void applicationDidFinishLaunching(id sender) { (void)sender; }
    virtual void applicationWillTerminate() {}

    void setStatusBarMode(int mode, int orientation, float duration, int fenceID);
    int statusBarMode() const { return mStatusBarMode; }

private:
    int mStatusBarMode = 0;
};

// What UIApplicationMain is told to instantiate.
struct Class {
    UIApplication* (*create)();
};

template <class T>
Class ClassOf() {
    return Class{[]() -> UIApplication* { return alloc<T>(); }};
}

// Reads the command line, opens the display, creates the application, calls
// its launch handler, runs the main run loop until the window is closed, a
// stop signal comes or the display is lost, calls its termination handler
// and returns the exit status.
int UIApplicationMain(int argc, char** argv, Class applicationClass);

// The status bar's height is the session's (20 without one).
class UIHardware {
public:
    static void _setStatusBarHeight(float height);
    static float statusBarHeight();
    // The screen less the status bar.
    static CGRect fullScreenApplicationContentRect();

    static constexpr float kScreenWidth = 320;
    static constexpr float kScreenHeight = 480;
};

class UIView : public NSObject {
public:
    // Returns this, or null (and frees the object) for a frame whose size is
    // negative, not finite, or beyond what the window system can show.
    virtual UIView* initWithFrame(CGRect frame);

    CGRect frame() const { return mFrame; }
    CGRect bounds() const { return CGRectMake(0, 0, mFrame.size.width, mFrame.size.height); }
    LKLayer* layer() const { return mLayer; }

    void setNeedsDisplay() { mNeedsDisplay = true; }
    bool needsDisplay() const { return mNeedsDisplay; }
    // Draws now if marked.
    void displayIfNeeded();

    virtual void drawRect(CGRect rect) { (void)rect; }
    virtual void mouseDown(GSEventRef event) { (void)event; }
    virtual void mouseDragged(GSEventRef event) { (void)event; }
    virtual void mouseUp(GSEventRef event) { (void)event; }

protected:
    ~UIView() override;

private:
    CGRect mFrame{};
    LKLayer* mLayer = nullptr;
    bool mNeedsDisplay = false;
};

class UIWindow : public NSObject {
public:
    UIWindow* initWithContentRect(CGRect rect);
    void orderFront(id sender);
    void makeKey(id sender);
    void _setHidden(bool hidden);
    void setContentView(UIView* view);

    UIView* contentView() const { return mContentView; }
    CGRect contentRect() const { return mRect; }
    bool isHidden() const { return mHidden; }
    bool isKey() const { return mKey; }
    // The window last ordered to the front.
    bool isFront() const;

    // Redraws the content view if it is marked, then shows its layers.
    void displayIfNeeded();
    // Shows the content view's layers as they are.
    void composite();

    // What the window system tells this window (its input, close requests).
    display::WindowListener& _windowSystemInput();
    // Frames the window system has said it showed.
    long _framesPresented() const;
    // Its session ends: its side in the window system goes first.
    void _leaveSession();

protected:
    ~UIWindow() override;

private:
    struct Native;
    UIKitPlatform::Session* mSession = nullptr;
    CGRect mRect{};
    bool mHidden = true;
    bool mKey = false;
    UIView* mContentView = nullptr;
    Native* mNative = nullptr;
};
