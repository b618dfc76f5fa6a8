// SPDX-License-Identifier: MIT
#pragma once

// The run: what the command line asked for, the window system it runs on,
// its windows, the frames they showed, what they cost, and the surface
// buffers EGL draws. UIApplicationMain makes one; tests and the benchmark
// make their own. The device's interfaces that take no such thing (a
// window's and a buffer's making, the EGL wrap) reach the one there is.

#include <memory>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "DisplayBackend.h"
#include "RunStats.h"
#include "SurfaceBufferInternal.h"

class UIWindow;

namespace UIKitPlatform {

class Session {
public:
    explicit Session(Options options = {});
    // Tears down in one order: the windows' side in the window system, the
    // memory they lent to surface buffers, then the connection.
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
    // The session there is; null outside one.
    static Session* current();

    // Opens the window system (none with --offscreen) and attaches it to the
    // main run loop; false, with the one line that says why in `error`, when
    // it cannot be opened.
    bool start(std::string& error);
    const Options& options() const { return mOptions; }
    // Null before start.
    display::Backend* backend() const { return mBackend.get(); }
    // Waits until the window system has done everything asked of it.
    void sync();

    // Windows, in the order made; the key one; the one last ordered front.
    void addWindow(UIWindow* window) { mWindows.push_back(window); }
    void removeWindow(UIWindow* window);
    const std::vector<UIWindow*>& windows() const { return mWindows; }
    UIWindow* keyWindow() const { return mKeyWindow; }
    void setKeyWindow(UIWindow* window) { mKeyWindow = window; }
    UIWindow* frontWindow() const { return mFrontWindow; }
    void setFrontWindow(UIWindow* window) { mFrontWindow = window; }

    // A window showed a frame, which GL drew or not; --frames ends the run.
    void frameShown(bool drawn);
    long framesShown() const { return mFramesShown; }
    long framesDrawn() const { return mFramesDrawn; }
    // With --stats.
    RunStats* stats() const { return mStats.get(); }

    SurfaceRegistry& surfaces() { return mSurfaces; }
    float statusBarHeight() const { return mStatusBarHeight; }
    void setStatusBarHeight(float height) { mStatusBarHeight = height; }

private:
    // After each pass of the run loop: what the window system said, then the
    // windows' frames.
    void displayWindows();

    static Session* sCurrent;
    Options mOptions;
    Session* mOuter;
    std::unique_ptr<display::Backend> mBackend;
    SurfaceRegistry mSurfaces;
    std::vector<UIWindow*> mWindows;
    UIWindow* mKeyWindow = nullptr;
    UIWindow* mFrontWindow = nullptr;
    long mFramesShown = 0, mFramesDrawn = 0;
    std::unique_ptr<RunStats> mStats;
    float mStatusBarHeight = 20;
    int mStopToken = 0;
};

}  // namespace UIKitPlatform
