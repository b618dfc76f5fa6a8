// SPDX-License-Identifier: MIT
// The Wayland backend's side of the protocol, against a compositor of the
// tests' own that does what each case needs and records what the program did.
#include <linux/input-event-codes.h>
#include <cstring>
#include <wayland-server-protocol.h>

#include "TestCompositor.h"
#include "xdg-decoration-unstable-v1-server-protocol.h"
#include "xdg-shell-server-protocol.h"
// After the protocol headers: the harness brings in Xlib's macros.
#include "EndToEndFrames.h"
#include "EndToEndHarness.h"

namespace e2e {
namespace {

using namespace std::chrono_literals;
using Phase = TestCompositor::TouchPhase;

// No X server: the program's only display is the test's compositor.
class WaylandProtocol : public EndToEnd {
protected:
    void SetUp() override {
        if (!privateRootsWork()) GTEST_SKIP() << "needs a private mount namespace (see the other end-to-end tests)";
    }
};

// The program on `compositor`.
struct Program : Demo {
    // `env` after the compositor's: an empty value unsets.
    explicit Program(TestCompositor& compositor, std::vector<std::string> args = {}, std::vector<std::string> env = {})
        : Demo(markedPicture(), {.args = std::move(args), .env = joined(compositor.environment(), env)}) {}
    static std::vector<std::string> joined(std::vector<std::string> a, const std::vector<std::string>& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    }
    // It ends with status 0 (after `sig`, unless 0), having lost nothing.
    void endsCleanly(int sig = SIGTERM) {
        EXPECT_TRUE(e2e::endsCleanly(pid, sig, 3s));
        std::string out = said();
        EXPECT_EQ(out.find("lost"), std::string::npos) << out;
    }
};

template <class Holds>
bool until(TestCompositor& compositor, Holds holds) {
    return waitUntil([&] { return compositor.read(holds); });
}

int framesOf(TestCompositor& compositor) {
    return compositor.read([](const Facts& f) { return f.frames; });
}

bool answers(TestCompositor& compositor) {
    uint32_t serial = compositor.ping();
    return until(compositor,
                 [serial](const Facts& f) { return std::count(f.pongs.begin(), f.pongs.end(), serial) == 1; });
}

// The frame as 5-6-5 pixels, whatever the buffer's format (black where it has none).
Screen screenOf(const Shot& shot) {
    Screen s{std::vector<uint16_t>(320 * 480)};
    bool rgb565 = shot.format == WL_SHM_FORMAT_RGB565;
    if (shot.stride < shot.width * (rgb565 ? 2 : 4) ||
        shot.pixels.size() < static_cast<size_t>(shot.stride) * shot.height)
        return s;
    for (int y = 0; y < std::min(shot.height, 480); ++y)
        for (int x = 0; x < std::min(shot.width, 320); ++x) {
            const uint8_t* p = &shot.pixels[static_cast<size_t>(y) * shot.stride + x * (rgb565 ? 2 : 4)];
            s.px[y * 320 + x] =
                static_cast<uint16_t>(rgb565 ? p[0] | p[1] << 8 : (p[2] >> 3) << 11 | (p[1] >> 2) << 5 | p[0] >> 3);
        }
    return s;
}

// Answers the frame callback held, and returns the frame the program then commits.
Screen nextFrame(TestCompositor& compositor) {
    int before = framesOf(compositor);
    compositor.releaseFrames();
    EXPECT_TRUE(until(compositor, [before](const Facts& f) { return f.frames > before; })) << "no frame " << before + 1;
    return screenOf(compositor.read([](const Facts& f) { return f.last; }));
}

// Frame n's pose, turned `degrees` about the vertical.
Pose turned(int n, float degrees) {
    Pose pose = poseOfFrame(n);
    pose.theta += degrees;
    return pose;
}

// The highest version of each global that the program handles (0: it binds
// none); the compositor offers some at higher versions than that.
const std::pair<const char*, uint32_t> kHandled[] = {
    {"wl_compositor", 4}, {"wl_subcompositor", 1}, {"wl_shm", 1},        {"wl_seat", 5},
    {"wl_output", 0},     {"xdg_wm_base", 2},      {"wp_viewporter", 1}, {"zxdg_decoration_manager_v1", 1},
};

// A desktop pings to learn whether the window is alive; each global is taken
// up at no newer a version than the program knows; where the compositor
// draws the decorations, the program asks it to and draws none of its own
// (libdecor would bind the globals again and add subsurfaces for its borders).
// Frame memory, once shared, is not held open by the program.
TEST_F(WaylandProtocol, AnswersPingsBindsKnownVersionsAndLeavesDecorationsToTheCompositor) {
    TestCompositor compositor;
    Program program(compositor);
    ASSERT_TRUE(until(compositor, [](const Facts& f) { return f.frames > 0; })) << "no frame";
    EXPECT_TRUE(answers(compositor)) << "no pong";
    Facts facts = compositor.read([](const Facts& f) { return f; });
    for (auto [interface, handled] : kHandled) {
        SCOPED_TRACE(interface);
        uint32_t offered = facts.advertised.at(interface);
        EXPECT_EQ(facts.bound.contains(interface) ? facts.bound[interface] : 0, std::min(offered, handled));
        EXPECT_EQ(facts.binds[interface], handled ? 1 : 0);
    }
    EXPECT_EQ(facts.decorationMode, ZXDG_TOPLEVEL_DECORATION_V1_MODE_SERVER_SIDE);
    EXPECT_EQ(facts.subsurfaces, 1) << "only the frame's";
    EXPECT_EQ(facts.minSize, (Rect{0, 0, 80, 120})) << "a quarter of the frame, upright";
    // Shared with the compositor, they are its to keep open; one may be open
    // for a moment while a buffer is made.
    int frameFiles = 0;
    EXPECT_TRUE(waitUntil([&] {
        frameFiles = 0;
        std::error_code gone;  // a file closed while we look; a folder we cannot read throws
        for (const auto& fd : std::filesystem::directory_iterator("/proc/" + std::to_string(program.pid) + "/fd"))
            frameFiles += std::filesystem::read_symlink(fd, gone).string().starts_with("/memfd:orvanel-frame");
        return frameFiles == 0;
    }, 2s)) << frameFiles << " frame files held open";
    program.endsCleanly();
}

// Each configure is acknowledged before the window commits again, and the
// window takes the size it was given, the frame fitted and centred in it on
// opaque black, the whole frame damaged however it is scaled; no frame comes
// before the compositor asks for it; asked for full screen at start, it asks
// the compositor.
TEST_F(WaylandProtocol, AcksEachConfigureBeforeCommittingAndTakesTheSizeGiven) {
    TestCompositor compositor({.holdFrames = true});
    Program program(compositor);
    ASSERT_TRUE(until(compositor, [](const Facts& f) { return f.frames > 0; })) << "no frame";
    struct Case {
        int width, height;
        std::vector<uint32_t> states;
        Rect window, frame;
    };
    const Case cases[] = {
        {640, 960, {XDG_TOPLEVEL_STATE_MAXIMIZED}, {0, 0, 640, 960}, {0, 0, 640, 960}},
        {800, 600, {XDG_TOPLEVEL_STATE_FULLSCREEN}, {0, 0, 800, 600}, {200, 0, 400, 600}},
        {0, 0, {}, {0, 0, 320, 480}, {0, 0, 320, 480}},  // its own choice: the size it had
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height));
        // While it waits for a frame callback: nothing of its own is on the way.
        compositor.configure(c.width, c.height, c.states);
        EXPECT_TRUE(until(compositor, [&](const Facts& f) { return f.acks == f.configures && f.window == c.window; }));
        EXPECT_EQ(compositor.read([](const Facts& f) { return f.frame; }), c.frame);
        nextFrame(compositor);
        EXPECT_EQ(compositor.read([](const Facts& f) { return f.damage; }), (Rect{0, 0, 320, 480}));
        Shot border = compositor.read([](const Facts& f) { return f.border; });
        EXPECT_EQ(border.format, WL_SHM_FORMAT_XRGB8888) << "not opaque";
        EXPECT_EQ(std::count(border.pixels.begin(), border.pixels.end(), 0), std::ssize(border.pixels)) << "not black";
    }
    EXPECT_EQ(framesOf(compositor), 4) << "frames the compositor did not ask for";
    EXPECT_EQ(compositor.read([](const Facts& f) { return f.commitsBeforeAck; }), 0);
    program.endsCleanly();

    TestCompositor desktop;
    Program fullscreen(desktop, {"--fullscreen"});
    EXPECT_TRUE(until(desktop, [](const Facts& f) { return f.fullscreenAsked > 0 && f.frames > 0; }));
    fullscreen.endsCleanly();
}

// Buffers come in 5-6-5 where the compositor reads it, in 8-8-8-8 otherwise,
// with each colour in its channel: the clear colour (0.3, 0.3, 0.4) as 5-6-5
// has it (widened to 8 bits), and each face of the cube where frame 2's pose
// puts it.
TEST_F(WaylandProtocol, FramesComeInTheFormatOfferedWithEachColourInItsChannel) {
    struct Case {
        bool rgb565;
        uint32_t format, clear;
    };
    for (Case c : {Case{true, WL_SHM_FORMAT_RGB565, kClear}, Case{false, WL_SHM_FORMAT_XRGB8888, 0x4a4d63}}) {
        SCOPED_TRACE(c.rgb565 ? "5-6-5 offered" : "no 5-6-5");
        TestCompositor compositor({.rgb565 = c.rgb565, .holdFrames = true});
        Program program(compositor);
        ASSERT_TRUE(until(compositor, [](const Facts& f) { return f.frames > 0; })) << "no frame";
        Screen frame = nextFrame(compositor);
        Shot shot = compositor.read([](const Facts& f) { return f.last; });
        EXPECT_EQ(shot.format, c.format);
        ASSERT_EQ(shot.width, 320);
        ASSERT_EQ(shot.height, 480);
        uint32_t corner = 0;
        std::memcpy(&corner, shot.pixels.data(), c.rgb565 ? 2 : 4);
        EXPECT_EQ(corner & 0xffffff, c.clear);
        EXPECT_GT(poseScore(frame, poseOfFrame(2)), 0.98) << "the faces' colours are not where they belong";
        program.endsCleanly();
    }
}

// Held back by the compositor, a buffer is not written into (its pixels stay
// as committed) until released; then the program draws on.
TEST_F(WaylandProtocol, NeverWritesABufferTheCompositorHoldsAndDrawsOnOnceReleased) {
    for (bool rgb565 : {true, false}) {
        SCOPED_TRACE(rgb565 ? "5-6-5 offered" : "no 5-6-5");
        TestCompositor compositor({.rgb565 = rgb565, .holdReleases = true});
        Program program(compositor);
        ASSERT_TRUE(until(compositor, [](const Facts& f) { return f.frames >= 4; })) << "too few frames";
        EXPECT_TRUE(answers(compositor));
        int frames = framesOf(compositor);
        compositor.releaseBuffers();
        // More frames than it has buffers: it takes back those released.
        EXPECT_TRUE(until(compositor, [frames](const Facts& f) { return f.frames >= frames + 12; }));
        EXPECT_EQ(compositor.read([](const Facts& f) { return f.heldWrites; }), 0);
        program.endsCleanly();
    }
}

constexpr uint32_t kAlt = 1u << 3, kSuper = 1u << 6;  // Mod1 and Mod4, in the keymaps desktops send

// Button 1 dragged 100 px turns the cube 45 degrees, and moved back with the
// button up leaves it so; a finger does the same, and once lifted is gone:
// the next finger's drag starts where it touches. The middle button dragged
// up and right moves the camera back (the cube shrinks). Esc ends the demo;
// no other key does.
TEST_F(WaylandProtocol, DragsTurnAndZoomTheCubeAndEscEndsIt) {
    TestCompositor compositor({.holdFrames = true});
    Program program(compositor);
    ASSERT_TRUE(until(compositor, [](const Facts& f) { return f.frames > 0; })) << "no frame";
    compositor.pointer(100, 240);
    compositor.button(BTN_LEFT, true);
    for (int x : {150, 200}) compositor.pointer(x, 240);
    EXPECT_GT(poseScore(nextFrame(compositor), turned(2, 45)), 0.98) << "not turned by the drag";
    compositor.button(BTN_LEFT, false);
    for (int x : {150, 100}) compositor.pointer(x, 240);
    EXPECT_GT(poseScore(nextFrame(compositor), turned(3, 45)), 0.98) << "turned with the button up";

    compositor.touch(Phase::Down, 0, 100, 240);
    compositor.touch(Phase::Motion, 0, 200, 240);
    EXPECT_GT(poseScore(nextFrame(compositor), turned(4, 90)), 0.98) << "not turned by the finger";
    compositor.touch(Phase::Up, 0, 200, 240);
    compositor.touch(Phase::Down, 1, 60, 300);
    compositor.touch(Phase::Motion, 1, 160, 300);
    EXPECT_GT(poseScore(nextFrame(compositor), turned(5, 135)), 0.98) << "the second finger's drag";
    compositor.touch(Phase::Up, 1, 160, 300);

    // The mouse unplugged and plugged in again: the new one drags.
    compositor.devices(WL_SEAT_CAPABILITY_KEYBOARD | WL_SEAT_CAPABILITY_TOUCH);
    compositor.devices(WL_SEAT_CAPABILITY_POINTER | WL_SEAT_CAPABILITY_KEYBOARD | WL_SEAT_CAPABILITY_TOUCH);
    EXPECT_TRUE(answers(compositor));  // it has taken the new pointer by now
    double before = blobOf(nextFrame(compositor).px, 320).radius;
    compositor.pointer(60, 400);
    compositor.button(BTN_MIDDLE, true);
    for (int k : {1, 2}) compositor.pointer(60 + 100 * k, 400 - 100 * k);
    compositor.button(BTN_MIDDLE, false);
    EXPECT_LT(blobOf(nextFrame(compositor).px, 320).radius, 0.8 * before) << "not zoomed out";

    // Alt-q and Super-q are the desktop's, and q in the Russian layout is
    // another letter.
    compositor.key(KEY_Q, kAlt);
    compositor.key(KEY_Q, kSuper);
    compositor.key(KEY_Q, 0, 1);
    for (int k = 0; k < 2; ++k) nextFrame(compositor);  // the first may be on its way
    compositor.key(KEY_ESC);
    program.endsCleanly(0);
}

// Named by neither WAYLAND_DISPLAY nor DISPLAY, the compositor at the default
// socket of XDG_RUNTIME_DIR is the one; --duration alone ends the run, and
// its summary counts each tick due that gave no frame (the compositor asked
// for two after the first).
TEST_F(WaylandProtocol, FindsTheDefaultSocketAndEndsAfterTheDurationGiven) {
    TestCompositor compositor({.holdFrames = true, .socket = "wayland-0"});
    Program program(compositor, {"--duration", "1", "--stats=json"},
                    {"WAYLAND_DISPLAY=", "DISPLAY=", "ORVANEL_BACKEND="});
    EXPECT_TRUE(until(compositor, [](const Facts& f) { return f.frames > 0; })) << "not found";
    for (int k = 0; k < 2; ++k) nextFrame(compositor);
    EXPECT_TRUE(e2e::endsCleanly(program.pid, 0, 3s));
    std::string said = program.said();
    auto number = [&](const char* key) { return std::atol(said.c_str() + said.find(key) + std::strlen(key)); };
    EXPECT_EQ(number("\"frames\":"), 3) << said;
    // At most 30 ticks in 1 s (fewer while the program starts), nearly all missed.
    EXPECT_GE(number("\"missed_ticks\":"), 20) << said;
    EXPECT_LE(number("\"frames\":") - 1 + number("\"missed_ticks\":"), 30) << said;
}

// A compositor that stops reading for a while (the program's socket full, its
// writes refused for now) has not gone: once it reads again, the program
// answers and draws on.
TEST_F(WaylandProtocol, AMomentarilyFullSocketIsNoLostConnection) {
    TestCompositor compositor;
    Program program(compositor);
    ASSERT_TRUE(until(compositor, [](const Facts& f) { return f.frames > 0; })) << "no frame";
    EXPECT_TRUE(compositor.fillClientSocket()) << "its writes never stalled, or it went away";
    EXPECT_TRUE(answers(compositor)) << "no pong once read again";
    int frames = framesOf(compositor);
    EXPECT_TRUE(until(compositor, [frames](const Facts& f) { return f.frames >= frames + 3; }));
    program.endsCleanly();
}

}  // namespace
}  // namespace e2e
