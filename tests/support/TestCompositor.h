// SPDX-License-Identifier: MIT
#pragma once

// A Wayland compositor of the tests' own (libwayland-server), on a thread of
// its own, with its socket in a private runtime folder: it offers what a
// test asks for, sends what a desktop would (configures, pings, input) when
// the test says so, and records what its client did.

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace e2e {

// It draws the windows' decorations (zxdg_decoration_manager_v1) and shows
// them at any size (wp_viewporter).
struct CompositorOptions {
    bool rgb565 = true;         // wl_shm offers 5-6-5 besides ARGB8888 and XRGB8888
    bool holdFrames = false;    // frame callbacks wait for releaseFrames()
    bool holdReleases = false;  // replaced buffers wait for releaseBuffers()
    const char* socket = "wayland-test";  // its name in the private runtime folder
};

// A buffer as committed: its pixels copied then.
struct Shot {
    uint32_t format = 0;  // WL_SHM_FORMAT_*
    int width = 0, height = 0, stride = 0;
    std::vector<uint8_t> pixels;
};

struct Rect {
    int x = 0, y = 0, width = 0, height = 0;
    bool operator==(const Rect&) const = default;
};

// What was offered, and what the client did.
struct Facts {
    std::map<std::string, uint32_t> advertised;  // each global's interface: its version offered
    std::map<std::string, uint32_t> bound;  // each global's interface: the version bound last
    std::map<std::string, int> binds;       // how many times
    std::vector<uint32_t> pongs;
    int subsurfaces = 0;
    uint32_t decorationMode = 0;  // the mode asked for; 0: none
    int fullscreenAsked = 0;
    int configures = 0, acks = 0;
    int commitsBeforeAck = 0;  // the window committed while a configure was unanswered
    int frames = 0;            // buffers committed on the frame's subsurface
    Shot last;                 // the latest of them
    Rect damage;               // what its commit said changed, in buffer coordinates
    Shot border;               // the latest buffer committed on the window itself
    int heldWrites = 0;        // buffers the compositor held whose pixels changed
    Rect window;  // the window's surface: its size (viewport destination)
    Rect frame;   // the frame's subsurface: where, and how big
    Rect minSize;  // the smallest the window asked to be
};

class TestCompositor {
public:
    explicit TestCompositor(CompositorOptions options = {});
    ~TestCompositor();

    // A client's WAYLAND_DISPLAY, XDG_RUNTIME_DIR and ORVANEL_BACKEND.
    std::vector<std::string> environment() const;
    // Reads the facts while nothing changes them.
    template <class F>
    auto read(F f) {
        std::lock_guard<std::mutex> lock(mMutex);
        return f(mFacts);
    }

    // Each sends, and returns once sent. The serial of the ping.
    uint32_t ping();
    void configure(int width, int height, std::vector<uint32_t> states);
    // The pointer moved to (x, y) on the window; a button (BTN_*) pressed or let go where it is.
    void pointer(double x, double y);
    void button(uint32_t code, bool pressed);
    enum class TouchPhase { Down, Motion, Up };
    void touch(TouchPhase phase, int id, double x, double y);
    // A key (evdev code) pressed and let go, with the window focused, the
    // modifiers (a mask of the keymap's) held and the layout group (of US
    // and Russian) `group`.
    void key(uint32_t code, uint32_t modifiers = 0, uint32_t group = 0);
    // The seat's devices are now those of `capabilities` (WL_SEAT_CAPABILITY_*).
    void devices(uint32_t capabilities);
    // The frame callbacks held so far are answered.
    void releaseFrames();
    // Buffers held back so far are released, and from now on when replaced.
    void releaseBuffers();
    // Stops reading the client's socket, pinging it until its writes stall
    // (its socket full), then goes on. False when they never did or it went.
    bool fillClientSocket();

private:
    struct Impl;
    template <class F>
    auto send(F f);
    std::mutex mMutex;
    Facts mFacts;
    std::unique_ptr<Impl> mImpl;
};

}  // namespace e2e
