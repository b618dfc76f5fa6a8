// SPDX-License-Identifier: MIT
#include "Session.h"

#include <cstdlib>

#include "Foundation.h"
#include "Process.h"
#include "UIKit.h"

namespace UIKitPlatform {

Session* Session::sCurrent = nullptr;

Session::Session(Options options) : mOptions(std::move(options)), mOuter(sCurrent) {
    if (mOptions.stats != Options::Stats::None) mStats = std::make_unique<RunStats>();
    sCurrent = this;
}

Session* Session::current() { return sCurrent; }

bool Session::start(std::string& error) {
    if (mBackend) return true;
    // A 320 x 480 frame is too small for Mesa's software rasterizer to gain
    // from its worker threads: their hand-offs cost a third more CPU than
    // drawing on one thread. The user's own setting wins.
    setenv("LP_NUM_THREADS", "0", 0);
    NSRunLoop* loop = NSRunLoop::mainRunLoop();
    mBackend = display::openBackend(*loop, mOptions.offscreen, error);
    if (!mBackend) return false;
    // EGL draws off screen on every backend (Mesa's surfaceless platform),
    // whatever the environment says: the same 5-6-5 configuration, so the
    // same frame, on every screen, and no connection of EGL's own to the
    // display server that could hang.
    setenv("EGL_PLATFORM", "surfaceless", 1);
    loop->addObserver([this] { displayWindows(); });
    // A stop signal ends the run loop, whenever it comes: one that came
    // before the loop runs waits in the pipe.
    if (int stops = process::stopSignals(); stops >= 0)
        mStopToken = loop->addInputSource(stops, [] {
            process::drainStopSignals();
            NSRunLoop::mainRunLoop()->stop(0);
        });
    return true;
}

Session::~Session() {
    for (UIWindow* window : std::vector(mWindows)) window->_leaveSession();
    mSurfaces.takeBackLentMemory();
    if (mBackend) {
        mBackend.reset();
        NSRunLoop::mainRunLoop()->reset();
        process::releaseStopSignals();
    }
    sCurrent = mOuter;
}

void Session::sync() {
    if (mBackend) mBackend->sync();
}

void Session::removeWindow(UIWindow* window) {
    std::erase(mWindows, window);
    if (mKeyWindow == window) mKeyWindow = nullptr;
    if (mFrontWindow == window) mFrontWindow = nullptr;
}

void Session::frameShown(bool drawn) {
    if (drawn) {
        if (++mFramesDrawn == 1) process::delivered(process::kAnyFrame);
        if (mStats) mStats->frameShown(NSRunLoop::mainRunLoop()->now());
    }
    if (++mFramesShown == mOptions.frames) NSRunLoop::mainRunLoop()->stop(0);
}

void Session::displayWindows() {
    // What the window system has said (a window just mapped, a frame asked
    // for, input) counts before drawing.
    mBackend->dispatchPending();
    // By index: drawing may open or close a window.
    bool waiting = false;
    for (size_t i = 0; i < mWindows.size(); ++i) {
        UIWindow* w = mWindows[i];
        w->displayIfNeeded();
        waiting |= !w->isHidden() && w->contentView() && w->contentView()->needsDisplay();
    }
    mBackend->flush();
    // A view waits for its window to be shown or asked for a frame: that
    // news wakes the loop, so that the frame does not wait for the next tick.
    if (waiting) NSRunLoop::mainRunLoop()->wakeOnSources();
}

}  // namespace UIKitPlatform
