// SPDX-License-Identifier: MIT
#pragma once

#include <poll.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "DisplayBackend.h"

// Reference-counted base of every platform object. Allocation zeroes the
// object (value-initialisation); the count starts at one.
class NSObject {
public:
    NSObject* retain();
    void release();
    NSObject* autorelease();
    int retainCount() const { return mRetainCount; }

protected:
    virtual ~NSObject() = default;

private:
    int mRetainCount = 1;
};

using id = NSObject*;

// Two-phase creation: alloc<T>() gives a zeroed object, its init method runs
// the class chain.
template <class T>
T* alloc() {
    return new T();
}

class NSAutoreleasePool : public NSObject {
public:
    NSAutoreleasePool* init();
    void add(NSObject* object);
    static NSAutoreleasePool* current();

protected:
    ~NSAutoreleasePool() override;

private:
    std::vector<NSObject*> mObjects;
    static inline std::vector<NSAutoreleasePool*> sPools;  // the innermost last
};

// The program's bundle: its resources live in share/orvanel beside the folder
// of the executable (bin/ when installed, the build tree's own folder when
// built), so that any install prefix works.
class NSBundle : public NSObject {
public:
    static NSBundle* mainBundle();
    // The resource's full path when a file of that name is there; empty otherwise.
    std::string pathForResource(const std::string& name, const std::string& type) const;
    // Tests point the bundle at a folder of their own.
    void _setResourcePath(std::string path) { mResourcePath = std::move(path); }

private:
    std::string mResourcePath;
};

// The program's settings. The command line's options are its argument
// domain (--picture FILE is the string for "picture"); nothing is stored.
class NSUserDefaults : public NSObject {
public:
    static NSUserDefaults* standardUserDefaults();
    // Empty when not set.
    std::string stringForKey(const std::string& key) const;
    void _setStringForKey(const std::string& value, const std::string& key) { mValues[key] = value; }

private:
    std::map<std::string, std::string> mValues;
};

class NSTimer : public NSObject {
public:
    template <class T>
    static NSTimer* scheduledTimerWithTimeInterval(double interval, T* target, void (T::*selector)(),
                                                   id userInfo, bool repeats) {
        return schedule(interval, target, [target, selector] { (target->*selector)(); }, userInfo,
                        repeats);
    }

    void fire();
    void invalidate();

private:
    friend class NSRunLoop;
    static NSTimer* schedule(double interval, id target, std::function<void()> action, id userInfo,
                             bool repeats);
    ~NSTimer() override;

    double mInterval = 0;
    bool mRepeats = false;
    bool mValid = false;
    id mTarget = nullptr;
    id mUserInfo = nullptr;
    std::function<void()> mAction;
    double mStart = 0;       // when it was scheduled
    long long mFired = 0;    // index of the last tick delivered
};

// Index of the next tick of a timer started at `start` with period `interval`,
// seen at `now`: tick k is due at start + k * interval. A late tick is not
// made up twice and does not move the ticks after it.
long long NSTimerNextTick(double start, double interval, double now);

// The main thread's run loop: timers, input sources and, after each pass, the
// observers (the window system redraws there). The backends see it as their
// display::EventLoop.
class NSRunLoop final : public display::EventLoop {
public:
    static NSRunLoop* mainRunLoop();

    void addTimer(NSTimer* timer);
    // A source that does not wake the loop for itself while a timer is due
    // within kLazyWait seconds (a hang-up still does): its owner reads it on
    // each pass, and a window system's news then waits for the next frame,
    // which is when it matters, instead of costing a wake-up of its own.
    int addInputSource(int fd, std::function<void()> onReadable, bool wakes = true) override;
    static constexpr double kLazyWait = 0.1;
    // For the next pass, every source wakes the loop (something waits for
    // the window system's news).
    void wakeOnSources() { mWakeOnSources = true; }
    void removeSource(int token) override;
    void addObserver(std::function<void()> afterPass);

    // Runs the observers, then passes until stop(); returns the status given
    // to stop().
    int run();
    void stop(int status) override;

    // One pass: waits at most until the next timer (and at most maxWait
    // seconds), fires what is due, serves ready sources, then the observers.
    void runOnce(double maxWait);

    // Timer ticks that came too late to be delivered (each late firing
    // stands for all the ticks it covers), since the program started.
    long long lateTicks() const { return mLateTicks; }
    // Ticks of repeating timers that came due, late ones included.
    long long dueTicks() const { return mDueTicks; }

    // Seconds on a monotonic clock; tests may drive their own.
    double now() const;
    void setClock(std::function<double()> clock) { mClock = std::move(clock); }

    // Drops every timer, source and observer (a fresh loop for the next run).
    void reset();

private:
    struct Source {
        int token;
        int fd;
        std::function<void()> onReadable;
        bool wakes;
    };
    void fireDueTimers();
    double nextTimerDue() const;

    std::vector<NSTimer*> mTimers;
    std::vector<NSTimer*> mFiring;  // reused each pass: no allocation per frame
    std::vector<Source> mSources;
    std::vector<Source> mReady;
    std::vector<pollfd> mPollFds;
    std::vector<std::function<void()>> mObservers;
    std::function<double()> mClock;
    int mNextToken = 1;
    long long mLateTicks = 0;
    long long mDueTicks = 0;
    bool mWakeOnSources = false;
    bool mStopRequested = false;
    int mStatus = 0;
};
