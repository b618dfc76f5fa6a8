// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>
// After gtest: Xlib's None and Bool macros clash with its names.
#include <unistd.h>

#include <algorithm>
#include <cmath>

#include "CoreSurface.h"
#include "Foundation.h"
#include "LayerKit.h"
#include "LayerTree.h"
#include "PointerInput.h"
#include "RunStats.h"
#include "UIKit.h"
#include "DisplayBackend.h"
#include "FramePool.h"
#include "KeyCommands.h"
#include "WindowGeometry.h"
// After gtest: Xlib's None and Bool macros clash with its names.
#include "Input.h"

namespace {

constexpr unsigned kLeft = display::kHeld[0], kMiddle = display::kHeld[1], kRight = display::kHeld[2];

// Timers on a clock the test drives.
class RunLoopTest : public ::testing::Test {
protected:
    void SetUp() override {
        loop->reset();
        loop->setClock([this] { return now; });
        pool = alloc<NSAutoreleasePool>()->init();
    }
    void TearDown() override {
        loop->reset();
        pool->release();
    }
    void at(double t) {
        now = t;
        loop->runOnce(0);
    }
    NSRunLoop* loop = NSRunLoop::mainRunLoop();
    NSAutoreleasePool* pool = nullptr;
    double now = 0;
};

struct Counter : NSObject {
    void tick() { ++ticks; }
    int ticks = 0;
};

// Stops the main loop with each status in turn.
struct Stopper : NSObject {
    explicit Stopper(std::vector<int> statuses) : statuses(std::move(statuses)) {}
    void tick() {
        for (int status : statuses) NSRunLoop::mainRunLoop()->stop(status);
    }
    std::vector<int> statuses;
};

TEST(TimerTicks, TickKIsDueAtStartPlusKPeriods) {
    EXPECT_EQ(NSTimerNextTick(10, 0.5, 10.0), 1);
    EXPECT_EQ(NSTimerNextTick(10, 0.5, 10.49), 1);
    EXPECT_EQ(NSTimerNextTick(10, 0.5, 10.5), 2);
    EXPECT_EQ(NSTimerNextTick(10, 0.5, 13.2), 7);
    EXPECT_EQ(NSTimerNextTick(10, 0.5, 9.0), 1);  // a clock before the start
}

TEST_F(RunLoopTest, RepeatingTimerFiresOncePerPeriodAndALateTickIsNotMadeUp) {
    auto* counter = alloc<Counter>();
    NSTimer::scheduledTimerWithTimeInterval(0.033, counter, &Counter::tick, nullptr, true);
    // At 0.2, ticks 2 to 6 are all late: one firing for them; tick 7 is due
    // at 0.231, not 0.233.
    for (auto [t, ticks] : {std::pair{0.010, 0}, {0.034, 1}, {0.050, 1}, {0.200, 2}, {0.2305, 2}, {0.2315, 3}}) {
        at(t);
        EXPECT_EQ(counter->ticks, ticks) << t;
    }
    counter->release();
}

TEST_F(RunLoopTest, OneShotTimerFiresOnceAndLetsGoOfItsTarget) {
    auto* counter = alloc<Counter>();
    NSTimer::scheduledTimerWithTimeInterval(0.1, counter, &Counter::tick, nullptr, false);
    EXPECT_EQ(counter->retainCount(), 2);
    at(0.2);
    at(0.4);
    EXPECT_EQ(counter->ticks, 1);
    EXPECT_EQ(counter->retainCount(), 1);
    counter->release();
}

TEST_F(RunLoopTest, StopEndsRunWithItsStatusAndTheFirstReasonWins) {
    auto* stopper = new Stopper({3, 0});
    NSTimer::scheduledTimerWithTimeInterval(0.01, stopper, &Stopper::tick, nullptr, false);
    now = 1;
    EXPECT_EQ(loop->run(), 3);
    stopper->release();
}

// On the real clock: the first frame must not wait for the first tick.
TEST_F(RunLoopTest, ObserversRunBeforeTheLoopFirstWaits) {
    loop->reset();  // the real clock
    auto* stopper = new Stopper({9});
    NSTimer::scheduledTimerWithTimeInterval(0.5, stopper, &Stopper::tick, nullptr, false);
    loop->addObserver([this] { loop->stop(4); });
    EXPECT_EQ(loop->run(), 4);
    loop->reset();
    stopper->release();
}

// On the real clock: a window system's connection does not wake the loop
// while a frame is due soon (its owner reads it on that frame's pass); it
// does when something waits for its news, or when no timer is near. An eager
// source always wakes it.
TEST_F(RunLoopTest, AConnectionWaitsForTheNextFrameUnlessSomethingWaitsForIt) {
    for (bool wakes : {false, true}) {
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        ASSERT_EQ(write(fds[1], "x", 1), 1);
        int served = 0;
        loop->reset();  // the real clock
        loop->addInputSource(fds[0], [&] { ++served; }, wakes);
        auto* counter = alloc<Counter>();
        NSTimer* timer = NSTimer::scheduledTimerWithTimeInterval(0.05, counter, &Counter::tick, nullptr, true);
        loop->runOnce(1);
        EXPECT_EQ(served, wakes ? 1 : 0) << wakes;
        EXPECT_EQ(counter->ticks, wakes ? 0 : 1) << wakes;
        double start = loop->now();
        loop->wakeOnSources();
        loop->runOnce(1);
        EXPECT_LT(loop->now() - start, 0.03) << wakes;
        EXPECT_EQ(served, wakes ? 2 : 1) << wakes;
        timer->invalidate();
        start = loop->now();
        loop->runOnce(1);  // no timer: the news wakes it
        EXPECT_LT(loop->now() - start, 0.03) << wakes;
        EXPECT_EQ(served, wakes ? 3 : 2) << wakes;
        loop->reset();
        counter->release();
        close(fds[0]);
        close(fds[1]);
    }
}

struct Tracked : NSObject {
    explicit Tracked(int* alive) : alive(alive) { ++*alive; }
    ~Tracked() override { --*alive; }
    int* alive;
};

TEST(ObjectLifetime, PoolReleasesAtDrainAndLayersOwnTheirSublayers) {
    int alive = 0;
    NSAutoreleasePool* pool = alloc<NSAutoreleasePool>()->init();
    (new Tracked(&alive))->autorelease();
    auto* kept = new Tracked(&alive);
    kept->autorelease();
    kept->retain();
    EXPECT_EQ(alive, 2);
    pool->release();
    EXPECT_EQ(alive, 1);
    kept->release();
    EXPECT_EQ(alive, 0);

    LKLayer* parent = alloc<LKLayer>();
    LKLayer* child = alloc<LKLayer>();
    parent->addSublayer(child);
    EXPECT_EQ(child->retainCount(), 2);
    EXPECT_EQ(child->superlayer(), parent);
    parent->release();
    EXPECT_EQ(child->retainCount(), 1);
    EXPECT_EQ(child->superlayer(), nullptr);
    child->release();
}

TEST(SurfaceBuffer, MakesOnlyPositive565BuffersAndCountsLocks) {
    struct Case {
        int32_t w, h, pitch, format;
        bool ok;
    } cases[] = {{4, 3, 8, kCoreSurfacePixelFormat565L, true},   {4, 3, 16, kCoreSurfacePixelFormat565L, true},
                 {0, 3, 8, kCoreSurfacePixelFormat565L, false},  {4, -3, 8, kCoreSurfacePixelFormat565L, false},
                 {4, 3, 6, kCoreSurfacePixelFormat565L, false},  {4, 3, 8, 0x41524742, false},
                 {40000, 3, 80000, kCoreSurfacePixelFormat565L, false}};
    for (const Case& c : cases) {
        CFMutableDictionaryRef d = CFDictionaryCreateMutable(kCFAllocatorDefault, 0, &kCFTypeDictionaryKeyCallBacks,
                                                             &kCFTypeDictionaryValueCallBacks);
        for (auto [key, v] : {std::pair{kCoreSurfaceBufferWidth, c.w}, {kCoreSurfaceBufferHeight, c.h},
                              {kCoreSurfaceBufferPitch, c.pitch}, {kCoreSurfaceBufferPixelFormat, c.format}}) {
            CFNumberRef n = CFNumberCreate(kCFAllocatorDefault, kCFNumberSInt32Type, &v);
            CFDictionarySetValue(d, key, n);
            CFRelease(n);
        }
        CoreSurfaceBufferRef b = CoreSurfaceBufferCreate(d);
        CFRelease(d);
        EXPECT_EQ(b != nullptr, c.ok) << c.w << "x" << c.h << " pitch " << c.pitch;
        if (!b) continue;
        EXPECT_EQ(CoreSurfaceBufferGetBytesPerRow(b), c.pitch);
        auto* bytes = static_cast<uint8_t*>(CoreSurfaceBufferGetBaseAddress(b));
        EXPECT_EQ(bytes[c.pitch * c.h - 1], 0);  // zeroed, and all of it there
        EXPECT_EQ(CoreSurfaceBufferLock(b, 3), 0);
        EXPECT_EQ(CoreSurfaceBufferGetLockCount(b), 1);
        EXPECT_EQ(CoreSurfaceBufferUnlock(b), 0);
        EXPECT_NE(CoreSurfaceBufferUnlock(b), 0);  // not locked
        EXPECT_EQ(CoreSurfaceBufferGetLockCount(b), 0);
        // A layer given the buffer it already holds keeps it alive.
        LKLayer* layer = alloc<LKLayer>();
        layer->setContents(b);
        CFRelease(b);
        layer->setContents(layer->contents());
        EXPECT_EQ(CoreSurfaceBufferGetWidth(layer->contents()), c.w);
        // Placed by the offsets of every layer above it but the view's own.
        LKLayer* root = alloc<LKLayer>();
        LKLayer* parent = alloc<LKLayer>();
        root->setFrame(CGRectMake(100, 100, 0, 0));
        parent->setFrame(CGRectMake(3, 5, 0, 0));
        layer->setFrame(CGRectMake(10, 20, 0, 0));
        root->addSublayer(parent);
        parent->addSublayer(layer);
        std::vector<float> at;
        layertree::forEachBuffer(root, [&](CoreSurfaceBufferRef, float x, float y) { at = {x, y}; });
        EXPECT_EQ(at, (std::vector<float>{13, 25}));
        root->release();
        parent->release();
        layer->release();
    }
    EXPECT_NE(CoreSurfaceBufferLock(nullptr, 3), 0);
    EXPECT_NE(CoreSurfaceBufferUnlock(nullptr), 0);
}

// The frame in a window of any size.

TEST(WindowFit, TheFrameFillsWhatItCanCentredAndPositionsMapBackUnclamped) {
    struct Case {
        int w, h;
        double scale;
        int x, y, width, height;
    };
    const Case cases[] = {
        {320, 480, 1, 0, 0, 320, 480},     {640, 960, 2, 0, 0, 640, 960},    {800, 960, 2, 80, 0, 640, 960},
        {960, 1500, 3, 0, 30, 960, 1440}, {400, 480, 1, 40, 0, 320, 480},   {160, 480, 0.5, 0, 120, 160, 240},
        {500, 600, 1.25, 50, 0, 400, 600}, {321, 481, 481.0 / 480, 0, 0, 321, 481},
    };
    for (const Case& c : cases) {
        display::Fit fit = display::fitFrame(320, 480, c.w, c.h);
        EXPECT_DOUBLE_EQ(fit.scale, c.scale) << c.w << "x" << c.h;
        EXPECT_EQ(std::vector<int>({fit.x, fit.y, fit.width, fit.height}),
                  std::vector<int>({c.x, c.y, c.width, c.height}))
            << c.w << "x" << c.h;
        // The frame's corners, and a point outside it, back in frame coordinates.
        for (auto [fx, fy] : {std::pair{0.0, 0.0}, {320.0, 480.0}, {-25.0, 500.0}}) {
            double x = c.x + fx * c.scale, y = c.y + fy * c.scale;
            display::toFrame(fit, x, y);
            EXPECT_NEAR(x, fx, 1e-9) << c.w << "x" << c.h;
            EXPECT_NEAR(y, fy, 1e-9) << c.w << "x" << c.h;
        }
    }
    // The first window's whole scale from the screen's dots per inch, as
    // large as fits the screen (0 x 0: a screen of unknown size).
    struct Dpi {
        double dpi;
        int screenWidth, screenHeight, scale;
    };
    const Dpi dpis[] = {{0, 0, 0, 1},          {72, 0, 0, 1},          {96, 0, 0, 1},
                        {191.9, 0, 0, 1},      {192, 0, 0, 2},         {287, 0, 0, 2},
                        {288, 0, 0, 3},        {-96, 0, 0, 1},         {std::nan(""), 0, 0, 1},
                        {192, 1366, 768, 1},   {288, 1280, 1024, 2},   {192, 640, 960, 2},
                        {192, 639, 960, 1},    {288, 1920, 959, 1},    {6144, 3840, 2160, 4},
                        {6145, 3840, 2160, 4}, {1e300, 3840, 2160, 4}, {1e300, 0, 0, 32767},
                        {INFINITY, 0, 0, 1},   {96, 100, 100, 1}};
    for (const Dpi& d : dpis)
        EXPECT_EQ(display::scaleForDpi(d.dpi, 320, 480, d.screenWidth, d.screenHeight), d.scale)
            << d.dpi << " on " << d.screenWidth << "x" << d.screenHeight;
}

// Mouse input.

// Frame memory shared with a reader that lets go of its blocks late, never,
// or not in the order it got them: a frame is never drawn where the reader
// may be reading, and what the last frame held goes along when asked.
struct Block {
    uint8_t memory[4] = {};
};

struct FakeReader final : display::FramePool<Block>::Reader {
    // `releaseAfter`: how many waits before the reader lets go of the oldest
    // block it holds (negative: never); `newestFirst`: of the newest instead.
    FakeReader(int releaseAfter, bool newestFirst) : releaseAfter(releaseAfter), newestFirst(newestFirst) {}
    bool held(Block& b) override { return std::find(shown.begin(), shown.end(), &b) != shown.end(); }
    std::unique_ptr<Block> make() override { return std::make_unique<Block>(); }
    void waitForRelease(const display::FramePool<Block>::Blocks&, display::FramePool<Block>::Clock::time_point) override {
        ++waits;
        if (releaseAfter < 0 || waits < releaseAfter || shown.empty()) return;
        shown.erase(newestFirst ? shown.end() - 1 : shown.begin());
    }
    int waits = 0, releaseAfter;
    bool newestFirst;
    std::vector<Block*> shown;  // held by the reader
};

TEST(FramePool, NeverHandsOutABlockTheReaderHoldsAndKeepsTheFrameWhenAsked) {
    struct Case {
        int releaseAfter;
        bool newestFirst;
        int waitsAfterSixFrames;  // -1: not counted (the bound is a time)
    } cases[] = {{2, false, 4}, {1, true, 3}, {-1, false, -1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.releaseAfter);
        auto owned = std::make_unique<FakeReader>(c.releaseAfter, c.newestFirst);
        FakeReader& reader = *owned;
        display::PooledFrameMemory<Block> memory(std::move(owned), 3, 4, std::chrono::milliseconds(30));
        memory.forWriting(false);
        for (uint8_t frame = 1; frame <= 6; ++frame) {
            uint8_t* out = memory.forWriting(true);
            Block* b = memory.block();
            EXPECT_TRUE(!b || !reader.held(*b)) << "frame " << int(frame) << " drawn into a held block";
            EXPECT_EQ(out[0], frame - 1) << "the last frame's pixels did not come along";
            out[0] = frame;
            EXPECT_EQ(memory.pixels(), out);
            if (b) reader.shown.push_back(b);  // the reader takes the block the frame is in
        }
        EXPECT_LE(memory.pool().blocks().size(), 3u);
        if (c.waitsAfterSixFrames >= 0) {
            EXPECT_EQ(reader.waits, c.waitsAfterSixFrames);
        } else {
            EXPECT_FALSE(memory.block()) << "a reader that never lets go: memory of its own";
        }
    }
    // Once the reader lets go, the frame stays in its block: no copy a frame.
    auto owned = std::make_unique<FakeReader>(-1, false);
    FakeReader& reader = *owned;
    display::PooledFrameMemory<Block> idle(std::move(owned), 3, 4, std::chrono::milliseconds(30));
    idle.forWriting(true);
    reader.shown.push_back(idle.block());  // held: the next frame goes to a new block
    Block* second = (idle.forWriting(true), idle.block());
    reader.shown.clear();
    idle.forWriting(true);
    EXPECT_EQ(idle.block(), second);
}

// --stats: percentiles by the nearest rank over the intervals between
// frames, long intervals exact; the CPU a frame; the line and the JSON.
TEST(RunStats, PercentilesCpuAndTheLineAndJson) {
    struct Case {
        std::vector<double> intervalsMs;
        double p50, p95, p99, max;
    } cases[] = {
        {{}, 0, 0, 0, 0},
        {{33.3}, 33.3, 33.3, 33.3, 33.3},
        {std::vector<double>(98, 10.0), 10.0, 10.0, 10.0, 10.0},
        {{30, 10, 20}, 20, 30, 30, 30},
        {[] {
             std::vector<double> v(97, 10.0);
             v.insert(v.end(), {50.0, 60.0, 2500.0});
             return v;
         }(),
         10, 10, 60, 2500},
    };
    for (const Case& c : cases) {
        UIKitPlatform::RunStats stats;
        double t = 100;
        stats.frameShown(t);
        for (double ms : c.intervalsMs) stats.frameShown(t += ms / 1000);
        UIKitPlatform::RunStats::Summary s = stats.summary();
        SCOPED_TRACE(c.intervalsMs.size());
        EXPECT_EQ(s.frames, static_cast<long>(c.intervalsMs.size()) + 1);
        EXPECT_NEAR(s.p50, c.p50, 0.011);  // to within 10 microseconds
        EXPECT_NEAR(s.p95, c.p95, 0.011);
        EXPECT_NEAR(s.p99, c.p99, 0.011);
        EXPECT_NEAR(s.max, c.max, 0.002);
    }
    // Each figure in its place, the same in the line and in the JSON.
    UIKitPlatform::RunStats::Summary s{7, 1.25, 3, 4, 10.5, 20.5, 30.5, 40.5, 111, 222, 6, "x11", "a \"quoted\" name"};
    EXPECT_EQ(UIKitPlatform::RunStats::line(s),
              "orvanel: 7 frames in 1.25 s; between frames 10.5 ms median, 20.5 95th, 30.5 99th, 40.5 max; CPU 111 us "
              "user and 222 us system a frame; 3 late, 4 missed; 6 presented (x11, a \"quoted\" name)");
    EXPECT_EQ(UIKitPlatform::RunStats::json(s),
              "{\"frames\":7,\"seconds\":1.250,\"late_ticks\":3,\"missed_ticks\":4,\"frame_ms\":{\"p50\":10.500,"
              "\"p95\":20.500,\"p99\":30.500,\"max\":40.500},\"cpu_us_per_frame\":{\"user\":111.0,\"system\":222.0},"
              "\"presented\":6,\"backend\":\"x11\",\"renderer\":\"a \\\"quoted\\\" name\"}");
    // The CPU a frame is counted from the first frame shown: the start is not
    // the frames'.
    auto burn = [](double seconds) {
        for (clock_t end = clock() + static_cast<clock_t>(seconds * CLOCKS_PER_SEC); clock() < end;) {
        }
    };
    UIKitPlatform::RunStats stats;
    burn(0.2);
    for (int k = 0; k < 5; ++k, burn(0.002)) stats.frameShown(k * 0.033);
    s = stats.summary();
    EXPECT_GT(s.userUs + s.systemUs, 1500);
    EXPECT_LT(s.userUs + s.systemUs, 20000);
}

std::string describe(GSEventRef e) {
    char text[64];
    std::snprintf(text, sizeof text, "%g,%g b%g c%g", e->location.origin.x, e->location.origin.y, e->deltaY,
                  e->deltaX);
    return text;
}

std::string describe(std::optional<PointerAction> a) {
    if (!a) return "none";
    return (a->kind == PointerAction::Down ? "down " : a->kind == PointerAction::Up ? "up " : "drag ") +
           describe(&a->event);
}

TEST(Mouse, ButtonsAreButtonNumbersAndClickCountsAreDeltaX) {
    MousePointer m;
    const struct {
        int button;
        double x, y;
        unsigned long time;
        const char* said;
    } presses[] = {
        {1, 10, 20, 1000, "down 10,20 b1 c1"}, {1, 12, 22, 1300, "down 12,22 b1 c2"},  // a double click
        {1, 12, 22, 1500, "down 12,22 b1 c3"}, {1, 12, 22, 2500, "down 12,22 b1 c1"},  // too slow
        {1, 40, 22, 2600, "down 40,22 b1 c1"},                                          // too far
        {3, 40, 22, 2700, "down 40,22 b3 c1"},                                          // another button
        {1, 0, 0, 5000, "down 0,0 b1 c1"},
        {1, 5, 5, 5400, "down 5,5 b1 c2"},  // the limits themselves still count: 400 ms and 5 pixels
        {1, 5, 5, 5801, "down 5,5 b1 c1"},
    };
    for (const auto& p : presses) {
        EXPECT_EQ(describe(m.press(p.button, p.x, p.y, p.time)), p.said);
        EXPECT_EQ(describe(m.release(p.button, p.x, p.y, p.button == 1 ? kLeft : kRight)).substr(0, 3), "up ");
    }
    EXPECT_FALSE(m.press(4, 0, 0, 3000));  // the wheel is not a drag
    EXPECT_FALSE(m.press(5, 0, 0, 3000));
}

TEST(Mouse, MotionWithAButtonHeldDragsAndAChordReanchors) {
    MousePointer m;
    EXPECT_FALSE(m.motion(5, 5, 0));  // hovering
    m.press(1, 0, 0, 0);
    EXPECT_EQ(describe(m.motion(30, 40, kLeft)), "drag 30,40 b1 c1");
    // The right button joins: a new touch-down with button 3, then its drag.
    EXPECT_EQ(describe(m.press(3, 30, 40, 100)), "down 30,40 b3 c1");
    EXPECT_EQ(describe(m.motion(31, 40, kLeft | kRight)), "drag 31,40 b3 c1");
    // It leaves: the drag ends, and the left button takes it up again.
    EXPECT_EQ(describe(m.release(3, 31, 40, kLeft | kRight)), "up 31,40 b3 c1");
    EXPECT_EQ(describe(m.motion(32, 40, kLeft)), "drag 32,40 b1 c1");
    EXPECT_EQ(describe(m.release(1, 32, 40, kLeft)), "up 32,40 b1 c1");
    EXPECT_FALSE(m.motion(33, 40, 0));
    // The other way round: right, then left; the left lifted, the right drags on.
    m.press(3, 0, 0, 1000);
    EXPECT_EQ(describe(m.press(1, 0, 0, 1100)), "down 0,0 b1 c1");
    EXPECT_EQ(describe(m.release(1, 1, 0, kLeft | kRight)), "up 1,0 b1 c1");
    EXPECT_EQ(describe(m.motion(2, 0, kRight)), "drag 2,0 b3 c1");
}

TEST(Touch, FingersAreButtonNumbersAtTheirCentreAndTapsAreDeltaX) {
    TouchPointer t;
    EXPECT_EQ(describe(t.begin(1, 10, 20, 0)), "down 10,20 b1 c1");
    EXPECT_EQ(describe(t.update(1, 30, 20)), "drag 30,20 b1 c1");
    EXPECT_EQ(describe(t.begin(2, 50, 20, 100)), "drag 40,20 b2 c1");  // a second finger re-anchors
    EXPECT_EQ(describe(t.update(2, 70, 40)), "drag 50,30 b2 c1");
    EXPECT_EQ(describe(t.begin(2, 0, 0, 100)), "none");  // the same finger twice
    EXPECT_EQ(describe(t.end(2, 70, 40)), "drag 30,20 b1 c1");  // back to one finger
    EXPECT_EQ(describe(t.update(9, 0, 0)), "none");  // a finger never seen
    EXPECT_EQ(describe(t.end(1, 32, 22)), "up 32,22 b1 c1");
    EXPECT_EQ(describe(t.begin(3, 12, 21, 300)), "down 12,21 b1 c2");  // a double tap
    t.end(3, 12, 21);
    EXPECT_EQ(describe(t.begin(4, 12, 21, 1000)), "down 12,21 b1 c1");  // too slow
    t.end(4, 12, 21);
    EXPECT_EQ(describe(t.begin(5, 60, 21, 1100)), "down 60,21 b1 c1");  // too far
    for (int id = 10; id < 20; ++id) t.begin(id, 0, 0, 2000);
    EXPECT_EQ(describe(t.update(18, 10, 0)), "drag 7,2.1 b10 c1");  // ten fingers down (5 and 10 to 18)
    EXPECT_EQ(describe(t.begin(30, 0, 0, 2000)), "none");  // no room for an eleventh
}

struct RecordingView : UIView {
    void mouseDown(GSEventRef e) override { log.push_back("down " + describe(e)); }
    void mouseDragged(GSEventRef e) override { log.push_back("drag " + describe(e)); }
    void mouseUp(GSEventRef e) override { log.push_back("up " + describe(e)); }
    std::vector<std::string> log;
};

TEST(Mouse, WindowDeliversWindowSystemInputToItsContentView) {
    NSAutoreleasePool* pool = alloc<NSAutoreleasePool>()->init();
    UIWindow* window = alloc<UIWindow>()->initWithContentRect(CGRectMake(0, 0, 320, 480));
    auto* view = static_cast<RecordingView*>(alloc<RecordingView>()->initWithFrame(CGRectMake(0, 0, 320, 480)));
    window->setContentView(view);
    display::WindowListener& input = window->_windowSystemInput();
    input.windowButton(2, true, 10, 20, 5000, 0);
    input.windowMotion(15, 25, kMiddle);
    input.windowButton(2, false, 15, 25, 5100, kMiddle);
    input.windowTouch(display::Touch::Begin, 7, 30, 40, 6000);
    input.windowTouch(display::Touch::Update, 7, 31, 41, 6010);
    input.windowTouch(display::Touch::End, 7, 32, 42, 6020);
    EXPECT_EQ(view->log, (std::vector<std::string>{"down 10,20 b2 c1", "drag 15,25 b2 c1", "up 15,25 b2 c1",
                                                   "down 30,40 b1 c1", "drag 31,41 b1 c1", "up 32,42 b1 c1"}));
    // The close button and the closing keys end the run loop with status 0.
    NSRunLoop::mainRunLoop()->stop(5);
    input.windowCloseRequested();
    EXPECT_EQ(NSRunLoop::mainRunLoop()->run(), 5);  // the first reason to stop wins
    input.windowCloseRequested();
    EXPECT_EQ(NSRunLoop::mainRunLoop()->run(), 0);
    view->release();
    window->release();
    pool->release();
}

// Esc, q (Shift and the lock keys aside) and Ctrl-Q close; no other
// combination does (Alt, Super and AltGr combinations are the desktop's).
TEST(Keys, OnlyTheClosingKeysQuit) {
    using display::KeyCommand;
    struct Case {
        uint32_t keysym;
        bool control, other;
        KeyCommand command;
    };
    const Case cases[] = {
        {0xff1b, false, false, KeyCommand::Quit}, {'q', false, false, KeyCommand::Quit},
        {'Q', false, false, KeyCommand::Quit},    {'q', true, false, KeyCommand::Quit},
        {'Q', true, false, KeyCommand::Quit},     {0xff1b, true, false, KeyCommand::Nothing},
        {'q', false, true, KeyCommand::Nothing},     {'q', true, true, KeyCommand::Nothing},
        {0xff1b, false, true, KeyCommand::Nothing},  {0x6ca, false, false, KeyCommand::Nothing},  // Cyrillic short i
        {'w', false, false, KeyCommand::Nothing},    {'w', true, false, KeyCommand::Nothing},
        {0xffc8, false, false, KeyCommand::ToggleFullscreen}, {0xffc8, true, false, KeyCommand::Nothing},
        {0xffc8, false, true, KeyCommand::Nothing},
    };
    for (const Case& c : cases)
        EXPECT_EQ(display::commandForKey(c.keysym, {c.control, c.other}), c.command)
            << std::hex << c.keysym << " control " << c.control << " other " << c.other;
}

// What an X window tells its owner, positions in frame coordinates: mapped
// through the fit the server shows (scaled and centred with RENDER, unscaled
// at the top left without), the same for the pointer and for touch; only a
// window wholly covered or unmapped is not drawn for.
TEST(X11Window, InputMapsThroughTheFitShownAndOnlyAFullCoverStopsFrames) {
    struct Listener : display::WindowListener {
        void windowExposed() override {}
        void windowCloseRequested() override {}
        void windowFullscreenToggled() override {}
        void windowButton(int, bool, double x, double y, unsigned long, unsigned) override { at.push_back({x, y}); }
        void windowMotion(double x, double y, unsigned) override { at.push_back({x, y}); }
        void windowTouch(display::Touch phase, int, double x, double y, unsigned long) override {
            at.push_back({x, y});
            phases.push_back(phase);
        }
        std::vector<std::pair<double, double>> at;
        std::vector<display::Touch> phases;
    };
    struct Case {
        int width, height;
        bool render;
        double x, y;  // where frame position (100, 240) is in the window
    } cases[] = {
        {640, 960, true, 200, 480}, {400, 480, true, 140, 240}, {160, 240, true, 50, 120},
        {320, 480, true, 100, 240}, {800, 960, true, 280, 480}, {640, 960, false, 100, 240},
    };
    auto layout = [](int width, int height, bool render) {
        x11::Layout l;
        std::tie(l.frameWidth, l.frameHeight, l.width, l.height, l.serverScales) = std::tuple(320, 480, width, height, render);
        l.refit();
        return l;
    };
    for (const Case& c : cases) {
        x11::Layout w = layout(c.width, c.height, c.render);
        Listener l;
        x11::Input input(w, l);
        XEvent e{};
        e.type = ButtonPress;
        e.xbutton.button = 1;
        e.xbutton.x = static_cast<int>(c.x);
        e.xbutton.y = static_cast<int>(c.y);
        input.handle(e);
        for (int evtype : {XI_TouchBegin, XI_TouchUpdate, XI_TouchEnd}) {
            XIDeviceEvent touch{};
            touch.evtype = evtype;
            touch.event_x = c.x;
            touch.event_y = c.y;
            input.handleTouch(touch);
        }
        using display::Touch;
        EXPECT_EQ(l.phases, (std::vector<Touch>{Touch::Begin, Touch::Update, Touch::End}));
        ASSERT_EQ(l.at.size(), 4u);
        for (auto at : l.at)
            EXPECT_EQ(at, (std::pair<double, double>{100, 240}))
                << c.width << "x" << c.height << (c.render ? "" : " without RENDER");
    }
    // A change of width alone fits the frame anew; full screen, at a whole scale.
    x11::Layout w = layout(640, 960, true);
    auto configure = [&](int width, int height) {
        XEvent e{};
        e.type = ConfigureNotify;
        e.xconfigure.width = width;
        e.xconfigure.height = height;
        return w.track(e);
    };
    EXPECT_TRUE(configure(800, 960));
    EXPECT_EQ(w.fit.x, 80);
    EXPECT_FALSE(configure(800, 960));
    configure(800, 480);
    EXPECT_EQ(std::vector<int>({w.fit.x, w.fit.y, w.fit.width}), std::vector<int>({240, 0, 320}));
    w.fullscreen = true;
    configure(1920, 1080);
    EXPECT_EQ(std::vector<int>({w.fit.x, w.fit.y, w.fit.width, w.fit.height}), std::vector<int>({640, 60, 640, 960}));

    auto visibility = [&](int state) {
        XEvent e{};
        e.type = VisibilityNotify;
        e.xvisibility.state = state;
        w.track(e);
        return w.visible();
    };
    XEvent map{};
    map.type = MapNotify;
    w.track(map);
    EXPECT_TRUE(visibility(VisibilityPartiallyObscured));
    EXPECT_FALSE(visibility(VisibilityFullyObscured));
    EXPECT_TRUE(visibility(VisibilityUnobscured));
    map.type = UnmapNotify;
    w.track(map);
    EXPECT_FALSE(w.visible());
}

}  // namespace
