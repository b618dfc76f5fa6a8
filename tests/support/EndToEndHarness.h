// SPDX-License-Identifier: MIT
#pragma once

// The end-to-end tests' harness: the built program run under a private X
// server or compositor, with a known picture at its fixed path inside a
// private mount namespace; what it shows, read back; input through XTest.
#include <gtest/gtest.h>
#include <grp.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/shm.h>
#include <sys/stat.h>

#include <array>
#include <cmath>
#include <fstream>
#include <functional>
#include <optional>

#include "Weston.h"  // and the X server, the fork-and-exec and the PNG reader
// After gtest: Xlib's None and Bool macros clash with its names.
#include <EGL/egl.h>
#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace e2e {

using namespace std::chrono_literals;

inline constexpr uint16_t kClear = 0x4A6C;

struct Screen {
    std::vector<uint16_t> px;  // 320 x 480, 5-6-5
    uint16_t at(int x, int y) const { return px[static_cast<size_t>(y) * 320 + x]; }
};

// What a window shows, as 5-6-5 pixels (the screens here are 16-bit).
inline std::vector<uint16_t> windowPixels(Display* dpy, ::Window window, int width, int height) {
    XImage* image = XGetImage(dpy, window, 0, 0, static_cast<unsigned>(width), static_cast<unsigned>(height),
                              AllPlanes, ZPixmap);
    std::vector<uint16_t> px(static_cast<size_t>(width) * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            px[static_cast<size_t>(y) * width + x] = static_cast<uint16_t>(XGetPixel(image, x, y));
    XDestroyImage(image);
    return px;
}

inline Screen grab() {
    Display* dpy = XOpenDisplay(nullptr);
    Screen s{windowPixels(dpy, DefaultRootWindow(dpy), 320, 480)};
    XCloseDisplay(dpy);
    return s;
}

// Waits until `holds` does, looking every `step`; false when it has not
// within `limit` (a bound only a failure reaches).
inline bool waitUntil(const std::function<bool()>& holds, std::chrono::milliseconds limit = 10s,
                      std::chrono::microseconds step = 10ms) {
    for (auto deadline = std::chrono::steady_clock::now() + limit; !holds(); std::this_thread::sleep_for(step))
        if (std::chrono::steady_clock::now() > deadline) return false;
    return true;
}

// A folder of the suite's own (empty when it cannot be made).
inline std::string newFolder(const std::string& name) {
    std::string dir = testing::TempDir() + name + "_XXXXXX";
    return mkdtemp(dir.data()) ? dir : "";
}

// In a mount namespace of its own (for an ordinary user, inside a user
// namespace that maps only that user, so that the program runs as that user):
// a root of the host's top-level folders bound as they are, with a /private
// of its own for the fixed picture path, so that nothing reaches the host.
// The root is a tmpfs over an empty scratch folder, made when first needed
// (listing the tests makes none) and removed with the suite.
inline std::string gScratch;

inline const std::string& scratch() {
    if (gScratch.empty()) gScratch = newFolder("orvanel_root");
    return gScratch;
}

inline bool writeFile(const char* path, const std::string& text) {
    std::ofstream file(path);
    file << text << std::flush;
    return file.good();
}

// `namespaces` of its own, as the same user.
inline bool unshareAsMe(int namespaces) {
    std::string uid = std::to_string(geteuid()), gid = std::to_string(getegid());
    return geteuid() == 0 ? unshare(namespaces) == 0
                          : unshare(CLONE_NEWUSER | namespaces) == 0 && writeFile("/proc/self/setgroups", "deny") &&
                                writeFile("/proc/self/uid_map", uid + " " + uid + " 1") &&
                                writeFile("/proc/self/gid_map", gid + " " + gid + " 1");
}

inline bool enterPrivateRoot(int namespaces = 0) {
    std::string root = gScratch;
    if (!unshareAsMe(CLONE_NEWNS | namespaces) || root.empty() ||
        mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("tmpfs", root.c_str(), "tmpfs", 0, "size=8m,mode=0755") != 0)
        return false;
    for (const auto& entry : std::filesystem::directory_iterator("/")) {
        std::string name = entry.path().filename(), to = root + "/" + name;
        if (name == "private") continue;
        if (entry.is_symlink()) {
            if (symlink(std::filesystem::read_symlink(entry.path()).c_str(), to.c_str()) != 0) return false;
        } else if (entry.is_directory()) {
            if (mkdir(to.c_str(), 0755) != 0 ||
                mount(entry.path().c_str(), to.c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0)
                return false;
        }
    }
    return mkdir((root + "/private").c_str(), 0755) == 0 && mkdir((root + "/private/var").c_str(), 0755) == 0 &&
           chroot(root.c_str()) == 0 && chdir("/") == 0;
}

// An X server in an IPC namespace of its own, where the segments a new
// namespace hands out first are there already, all zeros: a program in
// another namespace that trusted its segment ids would show them.
inline std::unique_ptr<Xvfb> serverWithDecoySegments() {
    return std::make_unique<Xvfb>(16, 320, 480, [] {
        bool made = unshareAsMe(CLONE_NEWIPC);
        for (int i = 0; i < 4 && made; ++i) made = shmget(IPC_PRIVATE, 1 << 21, IPC_CREAT | 0666) >= 0;
        return made;
    });
}

// A copy of the program and its sample that another user can reach (the
// clone may be in a home folder no one else may enter).
inline std::string gReachable;

inline std::string reachableProgram() {
    if (gReachable.empty()) {
        gReachable = newFolder("orvanel_copy");
        std::filesystem::create_directories(gReachable + "/bin");
        std::filesystem::create_directories(gReachable + "/share/orvanel");
        std::filesystem::copy_file(ORVANEL_BINARY, gReachable + "/bin/orvanel");
        std::filesystem::copy_file(SAMPLE_PICTURE, gReachable + "/share/orvanel/tesmor.raw");
        for (std::string d : {"", "/bin", "/share", "/share/orvanel"}) chmod((gReachable + d).c_str(), 0755);
    }
    return gReachable + "/bin/orvanel";
}

inline std::string readAll(int fd) {
    std::string s;
    char buf[256];
    for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;) s.append(buf, static_cast<size_t>(n));
    close(fd);
    return s;
}

struct How {
    bool pictureAtPath = true;  // otherwise nothing is there
    bool unprivileged = false;  // run as nobody (as root), from a copy nobody can reach
    int closedAtStart = -1;  // a standard descriptor closed when it starts
    bool readerGone = false;            // its output is a pipe nobody reads
    bool ownIpc = false;                // in an IPC namespace of its own: no shared memory with the server
    std::vector<std::string> args = {};  // its command line
    std::vector<std::string> env = {};   // NAME=VALUE added to its environment
};

// Runs the program with `picture` at its fixed path; returns its pid and the
// read end of its standard output and error.
inline pid_t launch(const std::vector<uint8_t>& picture, int& out, How how = {}) {
    std::string program = how.unprivileged && geteuid() == 0 ? reachableProgram() : ORVANEL_BINARY;
    int fds[2];
    if (scratch().empty() || pipe2(fds, O_CLOEXEC) != 0) return -1;
    pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], 1);
        dup2(fds[1], 2);
        if (how.closedAtStart >= 0) close(how.closedAtStart);
        setenv("XDG_DATA_HOME", "/private/data", 1);  // no picture of the user's own
        unsetenv("WAYLAND_DISPLAY");
        for (std::string& e : how.env) putenv(e.data());
        if (!enterPrivateRoot(how.ownIpc ? CLONE_NEWIPC : 0)) _exit(90);
        if (how.pictureAtPath)
            std::ofstream("/private/var/tesmor.raw", std::ios::binary)
                .write(reinterpret_cast<const char*>(picture.data()), static_cast<std::streamsize>(picture.size()));
        if (how.unprivileged && geteuid() == 0 &&
            (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0))
            _exit(92);
        std::vector<char*> argv{program.data()};
        for (std::string& a : how.args) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(91);
    }
    close(fds[1]);
    out = fds[0];
    if (how.readerGone) close(std::exchange(out, -1));
    return pid;
}

// The program launched; killed, should a check end the test first.
struct Demo {
    explicit Demo(const std::vector<uint8_t>& picture, How how = {}) : pid(launch(picture, out, std::move(how))) {
        EXPECT_GT(pid, 0) << "not launched";
    }
    Demo(const Demo&) = delete;
    ~Demo() {
        if (pid > 0 && waitpid(pid, nullptr, WNOHANG) == 0 && kill(pid, SIGKILL) == 0) waitpid(pid, nullptr, 0);
        if (out >= 0) close(out);
    }
    // All it has printed (once it has ended).
    std::string said() { return readAll(std::exchange(out, -1)); }
    int out = -1;
    const pid_t pid;
};

// The program's wait status once it has ended, or nothing (and it is killed)
// when it is still running after `limit`.
inline std::optional<int> endsWithin(pid_t pid, std::chrono::milliseconds limit) {
    int status = 0;
    if (waitUntil([&] { return waitpid(pid, &status, WNOHANG) != 0; }, limit, 5ms)) return status;
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return std::nullopt;
}

// Whether this machine lets the tests make such a root (a kernel may refuse
// user namespaces to ordinary users).
inline bool privateRootsWork() {
    static const bool work = [] {
        pid_t pid = scratch().empty() ? -1 : fork();
        if (pid == 0) _exit(enterPrivateRoot() ? 0 : 1);
        return pid > 0 && endsWithin(pid, 10s) == 0;
    }();
    return work;
}

// Sends `sig` (none for 0) and checks that the program then ends within
// `limit` with wait status `status`.
inline ::testing::AssertionResult ends(pid_t pid, int status, int sig, std::chrono::milliseconds limit) {
    if (sig) kill(pid, sig);
    std::optional<int> ended = endsWithin(pid, limit);
    if (!ended) return ::testing::AssertionFailure() << "still running after " << limit.count() << " ms";
    if (*ended != status) return ::testing::AssertionFailure() << "ended with wait status " << *ended;
    return ::testing::AssertionSuccess();
}

inline ::testing::AssertionResult endsCleanly(pid_t pid, int sig = SIGTERM, std::chrono::milliseconds limit = 2s) {
    return ends(pid, 0, sig, limit);
}

// Whether the process catches `sig` (its own start has run), waiting up to
// five seconds for it to.
inline bool catches(pid_t pid, int sig) {
    auto caught = [&] {
        std::ifstream status("/proc/" + std::to_string(pid) + "/status");
        std::string line;
        while (std::getline(status, line) && line.rfind("SigCgt:", 0) != 0) {
        }
        return status && (std::stoull(line.substr(7), nullptr, 16) >> (sig - 1) & 1);
    };
    return waitUntil(caught, 5s, 500us);
}

// The first line the program prints: the version its EGL reports (asked
// once, while a display is there).
inline std::string glVersionLine() {
    static const std::string line = [] {
        EGLDisplay dpy = eglGetDisplay(EGL_DEFAULT_DISPLAY);
        EGLint major = 0, minor = 0;
        if (!eglInitialize(dpy, &major, &minor)) return std::string("(EGL does not initialise)");
        eglTerminate(dpy);
        return "GL version " + std::to_string(major) + "." + std::to_string(minor) + "\n";
    }();
    return line;
}

// A white picture, black over texels s, t < 16: black stays black under any
// face colour and light, so it marks where texel (0, 0) lands.
inline std::vector<uint8_t> markedPicture() {
    std::vector<uint8_t> picture(128 * 128 * 3, 255);
    for (int t = 0; t < 16; ++t) std::fill_n(picture.begin() + t * 128 * 3, 16 * 3, 0);
    return picture;
}

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        // A protocol error in the test's own X requests fails the test, as
        // Xlib's default would end the whole test process.
        XSetErrorHandler([](Display*, XErrorEvent* e) {
            ADD_FAILURE() << "X error " << int(e->error_code) << " on request " << int(e->request_code);
            return 0;
        });
        if (!privateRootsWork())
            GTEST_SKIP() << "needs a private mount namespace: run as root, or let ordinary users make user "
                            "namespaces (sysctl kernel.unprivileged_userns_clone=1)";
        server = std::make_unique<Xvfb>(16);
    }
    static void TearDownTestSuite() {
        rmdir(std::exchange(gScratch, "").c_str());  // never remove_all: a root may be bound there
        std::error_code ignored;
        std::filesystem::remove_all(std::exchange(gReachable, ""), ignored);
    }
    std::unique_ptr<Xvfb> server;
};

inline bool showsAFrame(const Screen& s) {
    for (auto [x, y] : {std::pair{0, 0}, {1, 0}, {319, 0}, {0, 479}, {319, 479}})
        if (s.at(x, y) != kClear) return false;
    return s.at(160, 240) != kClear;
}

// Waits until the X screen shows a frame (the clear colour at the corners,
// the cube in the middle).
inline bool waitForFrame() {
    return waitUntil([] { return showsAFrame(grab()); });
}

// Waits until the screen shows something other than `before`: the next
// frame drawn.
inline Screen nextFrame(const Screen& before) {
    Screen now;
    waitUntil([&] { return (now = grab()).px != before.px; }, 5s, 5ms);
    return now;
}

// A connection of the test's own to the X server, and input through it.
class Client {
public:
    Client() = default;
    Client(const Client&) = delete;
    ~Client() { XCloseDisplay(dpy); }
    void move(int x, int y) {
        XTestFakeMotionEvent(dpy, 0, x, y, CurrentTime);
        sync();
    }
    void button(unsigned button, bool down) {
        XTestFakeButtonEvent(dpy, button, down, CurrentTime);
        sync();
    }
    void click(int x, int y) {
        move(x, y);
        for (bool down : {true, false}) button(1, down);
    }
    void drag(unsigned b, int x0, int y0, int x1, int y1) {
        move(x0, y0);
        button(b, true);
        for (int k = 1; k <= 10; ++k) move(x0 + (x1 - x0) * k / 10, y0 + (y1 - y0) * k / 10);
        button(b, false);
    }
    // Pressed in turn, let go in reverse.
    void keys(std::vector<KeySym> keys) {
        for (KeySym k : keys) XTestFakeKeyEvent(dpy, XKeysymToKeycode(dpy, k), True, CurrentTime);
        for (auto k = keys.rbegin(); k != keys.rend(); ++k)
            XTestFakeKeyEvent(dpy, XKeysymToKeycode(dpy, *k), False, CurrentTime);
        sync();
    }
    // The program's top-level window, found by its title.
    ::Window window() const {
        ::Window root, parent, *children = nullptr, found = 0;
        unsigned count = 0;
        XQueryTree(dpy, DefaultRootWindow(dpy), &root, &parent, &children, &count);
        for (unsigned i = 0; i < count; ++i) {
            char* name = nullptr;
            if (XFetchName(dpy, children[i], &name) && std::string(name) == "Orvanel") found = children[i];
            XFree(name);
        }
        XFree(children);
        return found;
    }

    Display* const dpy = XOpenDisplay(nullptr);

private:
    void sync() {
        XSync(dpy, False);
        std::this_thread::sleep_for(20ms);  // for the program to take it in
    }
};

// A compositor (`headless`: weston's headless backend, no seat), or none
// when weston does not start.
inline std::unique_ptr<Weston> startWeston(int width, int height, const std::string& shell, bool headless = false) {
    try {
        return std::make_unique<Weston>(width, height, shell, 1, headless);
    } catch (const std::exception& e) {
        std::printf("%s\n", e.what());
        return nullptr;
    }
}

// The frame on the compositor's 400 x 480 output, as the 5-6-5 pixels it was
// given: 40 black columns each side of it (black all over when it is not so).
inline Screen compositorScreen(const Weston& weston) {
    Rgb shot = weston.screenshot();
    Screen s{std::vector<uint16_t>(320 * 480)};
    for (int y = 0; y < 480 && shot.width == 400 && shot.height == 480; ++y)
        for (int x = 0; x < 400; ++x) {
            const unsigned char* p = shot.at(x, y);
            if ((x < 40 || x >= 360) && (p[0] || p[1] || p[2])) return Screen{std::vector<uint16_t>(320 * 480)};
            if (x >= 40 && x < 360)
                s.px[y * 320 + x - 40] = static_cast<uint16_t>((p[0] >> 3) << 11 | (p[1] >> 2) << 5 | p[2] >> 3);
        }
    return s;
}

// Where the clear colour is on the compositor's output (right < left when
// nowhere).
struct Bounds {
    int left = 0, top = 0, right = -1;
    int width() const { return right - left + 1; }
};

inline Bounds clearBounds(const Weston& weston) {
    Rgb shot = weston.screenshot();
    Bounds b{shot.width, shot.height, -1};
    for (int y = 0; y < shot.height; ++y)
        for (int x = 0; x < shot.width; ++x)
            if (const unsigned char* p = shot.at(x, y); p[0] == 74 && p[1] == 77 && p[2] == 99)
                b = {std::min(b.left, x), std::min(b.top, y), std::max(b.right, x)};
    return b;
}

// CPU time of every thread of the process so far, in nanoseconds.
inline long long cpuNs(pid_t pid) {
    long long sum = 0;
    for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task")) {
        long long ns = 0;
        std::ifstream(task.path() / "schedstat") >> ns;
        sum += ns;
    }
    return sum;
}

}  // namespace e2e
