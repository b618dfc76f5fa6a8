// SPDX-License-Identifier: MIT
#include "Foundation.h"

#include <limits.h>
#include <poll.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <ranges>
#include <utility>

NSObject* NSObject::retain() {
    ++mRetainCount;
    return this;
}

void NSObject::release() {
    if (--mRetainCount == 0) delete this;
}

NSObject* NSObject::autorelease() {
    if (NSAutoreleasePool* pool = NSAutoreleasePool::current()) pool->add(this);
    return this;
}

NSAutoreleasePool* NSAutoreleasePool::init() {
    sPools.push_back(this);
    return this;
}

void NSAutoreleasePool::add(NSObject* object) { mObjects.push_back(object); }

NSAutoreleasePool* NSAutoreleasePool::current() {
    return sPools.empty() ? nullptr : sPools.back();
}

NSAutoreleasePool::~NSAutoreleasePool() {
    std::erase(sPools, this);
    // Newest first. What an object autoreleases as it goes is the enclosing
    // pool's: this one is no longer current.
    std::ranges::for_each(mObjects | std::views::reverse, &NSObject::release);
}

NSBundle* NSBundle::mainBundle() {
    static NSBundle* bundle = [] {
        auto* b = alloc<NSBundle>();
        char exe[PATH_MAX];
        ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
        if (n > 0) {
            // The executable's folder, then the one above it.
            std::string prefix(exe, static_cast<size_t>(n));
            for (int up = 0; up < 2; ++up) prefix.erase(std::min(prefix.rfind('/'), prefix.size()));
            b->mResourcePath = prefix + "/share/orvanel";
        }
        return b;
    }();
    return bundle;
}

std::string NSBundle::pathForResource(const std::string& name, const std::string& type) const {
    if (mResourcePath.empty()) return {};
    std::string path = mResourcePath + "/" + name + (type.empty() ? "" : "." + type);
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) ? path : std::string();
}

NSUserDefaults* NSUserDefaults::standardUserDefaults() {
    static NSUserDefaults* defaults = alloc<NSUserDefaults>();
    return defaults;
}

std::string NSUserDefaults::stringForKey(const std::string& key) const {
    auto found = mValues.find(key);
    return found == mValues.end() ? std::string() : found->second;
}

NSTimer* NSTimer::schedule(double interval, id target, std::function<void()> action, id userInfo,
                           bool repeats) {
    NSTimer* timer = alloc<NSTimer>();
    timer->mInterval = interval > 0 ? interval : 0.0001;
    timer->mRepeats = repeats;
    timer->mValid = true;
    timer->mTarget = target ? target->retain() : nullptr;
    timer->mUserInfo = userInfo ? userInfo->retain() : nullptr;
    timer->mAction = std::move(action);
    NSRunLoop::mainRunLoop()->addTimer(timer);
    timer->autorelease();
    return timer;
}

void NSTimer::fire() {
    if (!mValid) return;
    retain();  // the action may invalidate us
    mAction();
    if (!mRepeats) invalidate();
    release();
}

void NSTimer::invalidate() {
    if (!mValid) return;
    mValid = false;
    mAction = nullptr;
    if (id target = std::exchange(mTarget, nullptr)) target->release();
    if (id info = std::exchange(mUserInfo, nullptr)) info->release();
}

NSTimer::~NSTimer() { invalidate(); }

long long NSTimerNextTick(double start, double interval, double now) {
    if (!(now >= start)) return 1;
    double elapsed = std::min(std::floor((now - start) / interval), 9e15);
    return static_cast<long long>(elapsed) + 1;
}

NSRunLoop* NSRunLoop::mainRunLoop() {
    static NSRunLoop loop;
    return &loop;
}

double NSRunLoop::now() const {
    if (mClock) return mClock();
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void NSRunLoop::addTimer(NSTimer* timer) {
    timer->retain();
    timer->mStart = now();
    timer->mFired = 0;
    mTimers.push_back(timer);
}

int NSRunLoop::addInputSource(int fd, std::function<void()> onReadable, bool wakes) {
    mSources.push_back({mNextToken, fd, std::move(onReadable), wakes});
    return mNextToken++;
}

void NSRunLoop::removeSource(int token) {
    std::erase_if(mSources, [token](const Source& s) { return s.token == token; });
}

void NSRunLoop::addObserver(std::function<void()> afterPass) {
    mObservers.push_back(std::move(afterPass));
}

double NSRunLoop::nextTimerDue() const {
    double due = INFINITY;
    for (NSTimer* t : mTimers)
        if (t->mValid) due = std::min(due, t->mStart + static_cast<double>(t->mFired + 1) * t->mInterval);
    return due;
}

void NSRunLoop::fireDueTimers() {
    double t = now();
    // Fire from a snapshot: an action may schedule or invalidate timers.
    mFiring.assign(mTimers.begin(), mTimers.end());
    for (NSTimer* timer : mFiring) timer->retain();
    for (NSTimer* timer : mFiring) {
        if (!timer->mValid) continue;
        double due = timer->mStart + static_cast<double>(timer->mFired + 1) * timer->mInterval;
        if (due > t) continue;
        long long next = NSTimerNextTick(timer->mStart, timer->mInterval, t) - 1;
        if (timer->mRepeats) {
            mLateTicks += next - (timer->mFired + 1);
            mDueTicks += next - timer->mFired;
        }
        timer->mFired = next;
        timer->fire();
    }
    for (NSTimer* timer : mFiring) timer->release();
    mFiring.clear();
    auto dead = std::stable_partition(mTimers.begin(), mTimers.end(),
                                      [](NSTimer* timer) { return timer->mValid; });
    for (auto it = dead; it != mTimers.end(); ++it) (*it)->release();
    mTimers.erase(dead, mTimers.end());
}

void NSRunLoop::runOnce(double maxWait) {
    // A test clock never waits for real time.
    double wait = mClock ? 0 : std::clamp(std::min(maxWait, nextTimerDue() - now()), 0.0, 3600.0);
    bool lazy = wait < kLazyWait && !mWakeOnSources;
    mWakeOnSources = false;
    std::vector<pollfd>& fds = mPollFds;
    fds.clear();
    // A lazy source is polled for no events: its news wakes nobody (its owner
    // reads it on the pass), and a hang-up still does.
    for (const Source& s : mSources) fds.push_back({s.fd, static_cast<short>(s.wakes || !lazy ? POLLIN : 0), 0});
    auto seconds = static_cast<time_t>(wait);
    timespec timeout{seconds, static_cast<long>((wait - static_cast<double>(seconds)) * 1e9)};
    int ready = ppoll(fds.data(), fds.size(), &timeout, nullptr);
    fireDueTimers();
    if (ready > 0) {
        // Collect first: a callback may add or remove sources.
        mReady.clear();
        for (size_t i = 0; i < fds.size() && i < mSources.size(); ++i)
            if (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) mReady.push_back(mSources[i]);
        for (const Source& source : mReady) source.onReadable();
    }
    // By index: an observer may add another.
    for (size_t i = 0; i < mObservers.size(); ++i) mObservers[i]();
}

int NSRunLoop::run() {
    // What became due before the loop started (the first frame) is not left
    // waiting for the first timer.
    for (size_t i = 0; i < mObservers.size() && !mStopRequested; ++i) mObservers[i]();
    while (!mStopRequested) runOnce(3600.0);
    mStopRequested = false;
    return std::exchange(mStatus, 0);
}

void NSRunLoop::stop(int status) {
    if (mStopRequested) return;  // the first reason to stop wins
    mStopRequested = true;
    mStatus = status;
}

void NSRunLoop::reset() {
    for (NSTimer* timer : mTimers) timer->release();
    mTimers.clear();
    mSources.clear();
    mObservers.clear();
    mClock = nullptr;
    mStopRequested = false;
    mStatus = 0;
}
