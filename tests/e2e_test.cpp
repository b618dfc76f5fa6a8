// SPDX-License-Identifier: MIT
// The built program under a private X server, with a known picture at its
// fixed path inside a private mount namespace.
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <functional>
#include <fstream>
#include <optional>
#include <thread>

#include <png.h>

#include "Weston.h"
#include "Xvfb.h"
// After gtest: Xlib's None and Bool macros clash with its names.
#include <EGL/egl.h>
#include <X11/Xlib.h>
#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/XKBlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace {

constexpr uint16_t kClear = 0x4A6C;

struct Screen {
    std::vector<uint16_t> px;  // 320 x 480, 5-6-5
    uint16_t at(int x, int y) const { return px[static_cast<size_t>(y) * 320 + x]; }
};

// What a window shows, as 5-6-5 pixels (the screens here are 16-bit).
std::vector<uint16_t> windowPixels(Display* dpy, ::Window window, int width, int height) {
    XImage* image = XGetImage(dpy, window, 0, 0, static_cast<unsigned>(width), static_cast<unsigned>(height),
                              AllPlanes, ZPixmap);
    std::vector<uint16_t> px(static_cast<size_t>(width) * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            px[static_cast<size_t>(y) * width + x] = static_cast<uint16_t>(XGetPixel(image, x, y));
    XDestroyImage(image);
    return px;
}

Screen grab() {
    Display* dpy = XOpenDisplay(nullptr);
    Screen s{windowPixels(dpy, DefaultRootWindow(dpy), 320, 480)};
    XCloseDisplay(dpy);
    return s;
}

// In a mount namespace of its own (for an ordinary user, inside a user
// namespace that maps only that user, so that the program runs as that user):
// a root of the host's top-level folders bound as they are, with a /private
// of its own for the fixed picture path, so that nothing reaches the host.
// The root is a tmpfs over an empty scratch folder.
// Made when first needed (listing the tests makes none), removed with the
// suite.
std::string gScratch;
const std::string& scratch() {
    if (gScratch.empty()) {
        std::string dir = std::string(testing::TempDir()) + "orvanel_root_XXXXXX";
        if (mkdtemp(dir.data())) gScratch = dir;
    }
    return gScratch;
}

bool writeFile(const char* path, const std::string& text) {
    int fd = open(path, O_WRONLY | O_CLOEXEC);
    bool ok = fd >= 0 && write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    if (fd >= 0) close(fd);
    return ok;
}

bool enterPrivateNamespaces(int more = 0) {
    uid_t uid = geteuid();
    gid_t gid = getegid();
    if (uid == 0) return unshare(CLONE_NEWNS | more) == 0;
    return unshare(CLONE_NEWUSER | CLONE_NEWNS | more) == 0 && writeFile("/proc/self/setgroups", "deny") &&
           writeFile("/proc/self/uid_map", std::to_string(uid) + " " + std::to_string(uid) + " 1") &&
           writeFile("/proc/self/gid_map", std::to_string(gid) + " " + std::to_string(gid) + " 1");
}

bool enterPrivateRoot() {
    const std::string& root = scratch();
    if (root.empty() || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
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

// Whether this machine lets the tests make such a root (a kernel may refuse
// user namespaces to ordinary users).
bool privateRootsWork() {
    static const bool work = [] {
        scratch();
        pid_t pid = fork();
        if (pid == 0) _exit(enterPrivateNamespaces() && enterPrivateRoot() ? 0 : 1);
        int status = 0;
        waitpid(pid, &status, 0);
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }();
    return work;
}

// A copy of the program and its sample that another user can reach (the
// clone may be in a home folder no one else may enter).
std::string gReachable;
std::string reachableProgram() {
    if (gReachable.empty()) {
        std::string dir = std::string(testing::TempDir()) + "orvanel_copy_XXXXXX";
        if (!mkdtemp(dir.data())) return ORVANEL_BINARY;
        gReachable = dir;
        namespace fs = std::filesystem;
        fs::create_directories(dir + "/bin");
        fs::create_directories(dir + "/share/orvanel");
        fs::copy_file(ORVANEL_BINARY, dir + "/bin/orvanel");
        fs::copy_file(SAMPLE_PICTURE, dir + "/share/orvanel/tesmor.raw");
        for (const std::string& d : {dir, dir + "/bin", dir + "/share", dir + "/share/orvanel"}) chmod(d.c_str(), 0755);
    }
    return gReachable + "/bin/orvanel";
}

struct How {
    bool pictureAtPath = true;  // otherwise nothing is there
    bool unprivileged = false;  // run as nobody (as root), from a copy nobody can reach
    int closedAtStart = -1;  // a standard descriptor closed when it starts
    const char* eglPlatform = nullptr;  // EGL_PLATFORM in its environment
    const Weston* wayland = nullptr;    // its display: this compositor and no X server
    bool readerGone = false;            // its output is a pipe nobody reads
    bool ownIpc = false;                // in an IPC namespace of its own: no shared memory with the server
    std::vector<std::string> args = {};  // its command line
    std::vector<std::string> env = {};   // NAME=VALUE added to its environment
};

// Runs the program with `picture` at its fixed path; returns its pid and the
// read end of its standard output and error, once it has been executed.
pid_t launch(const std::vector<uint8_t>& picture, int& out, How how = {}) {
    std::string program = how.unprivileged && geteuid() == 0 ? reachableProgram() : ORVANEL_BINARY;
    int fds[2], exec[2];
    if (pipe(fds) != 0 || pipe2(exec, O_CLOEXEC) != 0) return -1;
    pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], 1);
        dup2(fds[1], 2);
        close(fds[0]);
        close(fds[1]);
        close(exec[0]);
        if (how.closedAtStart >= 0) close(how.closedAtStart);
        if (how.eglPlatform) setenv("EGL_PLATFORM", how.eglPlatform, 1);
        setenv("XDG_DATA_HOME", "/private/data", 1);  // no picture of the user's own
        unsetenv("WAYLAND_DISPLAY");
        if (how.wayland) {
            unsetenv("DISPLAY");
            setenv("WAYLAND_DISPLAY", how.wayland->socket().c_str(), 1);
            setenv("XDG_RUNTIME_DIR", how.wayland->runtimeDir().c_str(), 1);
        }
        for (std::string& e : how.env) putenv(e.data());
        if (!enterPrivateNamespaces(how.ownIpc ? CLONE_NEWIPC : 0) || !enterPrivateRoot()) _exit(90);
        if (how.pictureAtPath) {
            mkdir("/private", 0755);
            mkdir("/private/var", 0755);
            std::ofstream("/private/var/tesmor.raw", std::ios::binary)
                .write(reinterpret_cast<const char*>(picture.data()), static_cast<std::streamsize>(picture.size()));
        }
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
    close(exec[1]);
    char byte;
    while (read(exec[0], &byte, 1) < 0 && errno == EINTR) {
    }
    close(exec[0]);  // closed on exec: the program is running
    out = fds[0];
    if (how.readerGone) {
        close(out);
        out = -1;
    }
    return pid;
}

// The program's wait status once it has ended, or nothing (and it is killed)
// when it is still running after `limit`.
std::optional<int> endsWithin(pid_t pid, std::chrono::milliseconds limit) {
    auto start = std::chrono::steady_clock::now();
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() - start > limit) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return status;
}

// Sends `sig` (none for 0) and checks that the program then ends with status
// 0 within `limit`.
::testing::AssertionResult endsCleanly(pid_t pid, int sig = SIGTERM,
                                       std::chrono::milliseconds limit = std::chrono::seconds(2)) {
    if (sig) kill(pid, sig);
    std::optional<int> ended = endsWithin(pid, limit);
    if (!ended) return ::testing::AssertionFailure() << "still running after " << limit.count() << " ms";
    if (!WIFEXITED(*ended) || WEXITSTATUS(*ended) != 0)
        return ::testing::AssertionFailure() << "ended with wait status " << *ended;
    return ::testing::AssertionSuccess();
}

// Whether the process catches `sig` (its own start has run), waiting up to
// five seconds for it to.
bool catches(pid_t pid, int sig) {
    for (int tries = 0; tries < 10000; ++tries) {
        std::ifstream status("/proc/" + std::to_string(pid) + "/status");
        std::string line;
        while (std::getline(status, line))
            if (line.rfind("SigCgt:", 0) == 0 && (std::stoull(line.substr(7), nullptr, 16) >> (sig - 1)) & 1)
                return true;
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    return false;
}

// The first line the program prints: the version its EGL reports (asked
// once, while a display is there).
std::string glVersionLine() {
    static const std::string line = [] {
        EGLDisplay dpy = eglGetDisplay(EGL_DEFAULT_DISPLAY);
        EGLint major = 0, minor = 0;
        if (!eglInitialize(dpy, &major, &minor)) return std::string("(EGL does not initialise)");
        eglTerminate(dpy);
        return "GL version " + std::to_string(major) + "." + std::to_string(minor) + "\n";
    }();
    return line;
}

std::string readAll(int fd) {
    std::string s;
    char buf[256];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0) s.append(buf, static_cast<size_t>(n));
    close(fd);
    return s;
}

// The cube as the screen should show it: each face's corners, the one with
// texture coordinate (0, 0) first, and the colour channels it lets through.
struct Face {
    float corner[4][3];
    bool on[3];
};
const Face kFaces[6] = {
    {{{-1, 1, -1}, {1, 1, -1}, {1, 1, 1}, {-1, 1, 1}}, {false, true, false}},      // green
    {{{-1, -1, -1}, {1, -1, -1}, {1, -1, 1}, {-1, -1, 1}}, {true, false, true}},   // magenta
    {{{-1, -1, 1}, {1, -1, 1}, {1, 1, 1}, {-1, 1, 1}}, {false, false, true}},      // blue
    {{{-1, -1, -1}, {1, -1, -1}, {1, 1, -1}, {-1, 1, -1}}, {true, true, false}},   // yellow
    {{{1, -1, -1}, {1, 1, -1}, {1, 1, 1}, {1, -1, 1}}, {true, false, false}},      // red
    {{{-1, -1, -1}, {-1, 1, -1}, {-1, 1, 1}, {-1, -1, 1}}, {false, true, true}},   // cyan
};

struct Pose {
    float theta = 45, phi = 30;
    // Eye coordinates of a cube point (x right, y up, z toward the viewer).
    void eye(const float v[3], double out[3], bool translate = true) const {
        double t = theta * M_PI / 180, p = phi * M_PI / 180;
        double x = v[0] * std::cos(t) - v[1] * std::sin(t);
        double y = v[0] * std::sin(t) + v[1] * std::cos(t);
        double y2 = y * std::cos(p) - v[2] * std::sin(p);
        double z2 = y * std::sin(p) + v[2] * std::cos(p);
        out[0] = x;
        out[1] = z2;
        out[2] = -(y2 + (translate ? 7 : 0));
    }
    std::pair<double, double> screen(const float v[3]) const {
        double e[3];
        eye(v, e);
        double f = 1 / std::tan(25 * M_PI / 180), w = -e[2];
        return {(f / (320.0 / 480.0) * e[0] / w + 1) / 2 * 320, (1 - f * e[1] / w) / 2 * 480};
    }
    bool facing(const Face& face) const {
        float centre[3] = {0, 0, 0};
        for (const auto& c : face.corner)
            for (int k = 0; k < 3; ++k) centre[k] += c[k] / 4;
        double e[3], n[3];
        eye(centre, e);
        eye(centre, n, false);  // the centre is along the face's normal
        return n[0] * e[0] + n[1] * e[1] + n[2] * e[2] < 0;
    }
};

Pose poseOfFrame(int n) {
    Pose pose;
    for (int k = 0; k < n; ++k) {
        pose.theta += 5.94f;
        pose.phi += 5.94f;
    }
    return pose;
}

bool insideQuad(const std::pair<double, double> q[4], double x, double y) {
    int sign = 0;
    for (int i = 0; i < 4; ++i) {
        auto a = q[i], b = q[(i + 1) % 4];
        double c = (b.first - a.first) * (y - a.second) - (b.second - a.second) * (x - a.first);
        int s = c > 0 ? 1 : (c < 0 ? -1 : 0);
        if (s && sign && s != sign) return false;
        if (s) sign = s;
    }
    return true;
}

// How well frame n's pose explains the screen: the share of sampled pixels
// whose colour channels are those of the face the pose puts there, or the
// clear colour where it puts none.
double poseScore(const Screen& s, const Pose& pose) {
    std::vector<std::array<std::pair<double, double>, 4>> quads;
    std::vector<const Face*> faces;
    for (const Face& f : kFaces)
        if (pose.facing(f)) {
            std::array<std::pair<double, double>, 4> q;
            for (int i = 0; i < 4; ++i) q[i] = pose.screen(f.corner[i]);
            quads.push_back(q);
            faces.push_back(&f);
        }
    int good = 0, total = 0;
    for (int y = 2; y < 480; y += 6)
        for (int x = 2; x < 320; x += 6) {
            uint16_t p = s.at(x, y);
            const Face* face = nullptr;
            for (size_t i = 0; i < quads.size() && !face; ++i)
                if (insideQuad(quads[i].data(), x, y)) face = faces[i];
            ++total;
            if (!face) {
                good += p == kClear;
                continue;
            }
            bool on[3] = {(p >> 11) > 3, ((p >> 5) & 63) > 7, (p & 31) > 3};
            if (!on[0] && !on[1] && !on[2]) {
                ++good;  // the black mark
                continue;
            }
            good += on[0] == face->on[0] && on[1] == face->on[1] && on[2] == face->on[2];
        }
    return static_cast<double>(good) / total;
}

// Texel (0, 0) of a picture black over texels s, t < 16 lands on the corner of
// each face with texture coordinate (0, 0): find the frame whose pose
// explains the screen, then look there.
void expectTexelZeroAtTheCorners(Screen second, const std::function<Screen()>& grab,
                                 std::chrono::steady_clock::time_point launched) {
    bool checked = false;
    for (int attempt = 0; attempt < 40 && !checked; ++attempt) {
        Screen s = attempt == 0 ? second : grab();
        std::vector<std::pair<int, int>> black;
        for (int y = 0; y < 480; ++y)
            for (int x = 0; x < 320; ++x)
                if (s.at(x, y) == 0) black.emplace_back(x, y);
        if (black.size() < 20) {
            std::this_thread::sleep_for(std::chrono::milliseconds(37));
            continue;
        }
        checked = true;
        int best = 0;
        double bestScore = 0;
        // No more frames than periods since launch: a later pose can alias.
        double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - launched).count();
        for (int n = 1; n <= static_cast<int>(elapsed / 0.033) + 2; ++n)
            if (double score = poseScore(s, poseOfFrame(n)); score > bestScore) {
                bestScore = score;
                best = n;
            }
        ASSERT_GT(bestScore, 0.95) << "no frame's pose explains the screen (best " << best << ")";
        Pose pose = poseOfFrame(best);
        double worst = 0;
        for (auto [x, y] : black) {
            double nearest = 1e9;
            for (const Face& f : kFaces)
                if (pose.facing(f)) {
                    auto [px, py] = pose.screen(f.corner[0]);
                    nearest = std::min(nearest, std::hypot(px - x, py - y));
                }
            worst = std::max(worst, nearest);
        }
        // The mark covers an eighth of a face edge (about 20 px here); any other
        // corner is a whole edge away.
        EXPECT_LT(worst, 45.0) << "black texels are not at a (0, 0) corner of frame " << best;
    }
    EXPECT_TRUE(checked) << "texel (0, 0) never came into view";
}

// A white picture, black over texels s, t < 16: black stays black under any
// face colour and light, so it marks where texel (0, 0) lands.
std::vector<uint8_t> markedPicture() {
    std::vector<uint8_t> picture(128 * 128 * 3, 255);
    for (int t = 0; t < 16; ++t)
        for (int s = 0; s < 16; ++s)
            for (int c = 0; c < 3; ++c) picture[(t * 128 + s) * 3 + c] = 0;
    return picture;
}

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        if (!privateRootsWork())
            GTEST_SKIP() << "needs a private mount namespace: run as root, or let ordinary users make user "
                            "namespaces (sysctl kernel.unprivileged_userns_clone=1)";
        server = std::make_unique<Xvfb>(16);
    }
    static void TearDownTestSuite() {
        if (!gScratch.empty()) rmdir(gScratch.c_str());
        gScratch.clear();
        if (!gReachable.empty()) std::filesystem::remove_all(gReachable);
        gReachable.clear();
    }
    std::unique_ptr<Xvfb> server;
};

TEST_F(EndToEnd, ShowsTheSpinningCubeOnTheClearColourAndEndsOnSigterm) {
    std::vector<uint8_t> picture = markedPicture();
    int out = -1;
    auto launched = std::chrono::steady_clock::now();
    pid_t pid = launch(picture, out);
    ASSERT_GT(pid, 0);

    Screen first;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    do {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        first = grab();
    } while (first.at(0, 0) != kClear && std::chrono::steady_clock::now() < deadline);
    ASSERT_EQ(first.at(0, 0), kClear) << "no frame reached the screen";
    for (auto [x, y] : {std::pair{319, 0}, {0, 479}, {319, 479}, {10, 240}})
        EXPECT_EQ(first.at(x, y), kClear) << x << "," << y;
    EXPECT_NE(first.at(160, 240), kClear) << "the cube is in the middle";

    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    Screen second = grab();
    EXPECT_NE(first.px, second.px) << "the cube spins";

    expectTexelZeroAtTheCorners(second, grab, launched);

    EXPECT_TRUE(endsCleanly(pid, SIGTERM));
    EXPECT_EQ(readAll(out), glVersionLine());
}

bool showsAFrame(const Screen& s) {
    for (auto [x, y] : {std::pair{0, 0}, {1, 0}, {319, 0}, {0, 479}, {319, 479}})
        if (s.at(x, y) != kClear) return false;
    return s.at(160, 240) != kClear;
}

// An unusable picture at the fixed path is reported and the cube is drawn
// without it (black: the texture is zeros); with nothing there at all, the
// sample installed beside the program is shown, also to an ordinary user.
// With no standard output, or an environment that asks EGL for another
// platform, the frames reach the X screen all the same.
TEST_F(EndToEnd, RunsOnWhateverItMeetsAndSaysWhatItShows) {
    auto sampleAt = [](const std::string& path) {
        return "\nCannot open picture file /private/var/tesmor.raw: No such file or directory"
               "\nShowing the sample picture " + path + " instead\n" + glVersionLine();
    };
    const std::string sample = sampleAt(SAMPLE_PICTURE);
    // Another user runs a copy it can reach, with the sample beside it.
    const std::string reachableSample =
        geteuid() == 0 ? sampleAt(reachableProgram().substr(0, gReachable.size()) + "/share/orvanel/tesmor.raw")
                       : sample;
    struct Case {
        How how;
        std::string said;
        bool textured;
    } cases[] = {
        {{.pictureAtPath = true}, "\nPicture file /private/var/tesmor.raw is short: read 0 of 49152 bytes" + glVersionLine(), false},
        {{.pictureAtPath = false, .unprivileged = true}, reachableSample, true},
        {{.pictureAtPath = false, .closedAtStart = 1}, "", true},
        {{.pictureAtPath = false, .closedAtStart = 0}, sample, true},
        {{.pictureAtPath = false, .closedAtStart = 2}, sample, true},
        {{.pictureAtPath = false, .eglPlatform = "surfaceless"}, sample, true},
        {{.pictureAtPath = false, .eglPlatform = "wayland"}, sample, true},
        {{.pictureAtPath = false, .readerGone = true}, "", true},
        {{.pictureAtPath = false, .ownIpc = true}, sample, true},
        // The compositor named is gone: X, as DISPLAY says.
        {{.pictureAtPath = false, .env = {"XDG_RUNTIME_DIR=/tmp", "WAYLAND_DISPLAY=orvanel-gone"}}, sample, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.how.eglPlatform ? c.how.eglPlatform : "") +
                     (c.how.closedAtStart >= 0 ? "descriptor closed: " + std::to_string(c.how.closedAtStart) : "") +
                     (c.how.readerGone ? "reader gone" : "") + (c.how.ownIpc ? "own IPC namespace" : "") +
                     (c.how.env.empty() ? "" : c.how.env.back()));
        int out = -1;
        pid_t pid = launch({}, out, c.how);  // an empty file, or none
        std::this_thread::sleep_for(std::chrono::milliseconds(800));
        Screen s = grab();
        EXPECT_TRUE(showsAFrame(s));
        size_t coloured = std::count_if(s.px.begin(), s.px.end(), [](uint16_t p) { return p != kClear && p != 0; });
        EXPECT_EQ(coloured > 5000, c.textured) << coloured;
        if (c.how.closedAtStart >= 0) {  // the null device is there, not its X connection
            struct stat fd {}, null {};
            stat(("/proc/" + std::to_string(pid) + "/fd/" + std::to_string(c.how.closedAtStart)).c_str(), &fd);
            stat("/dev/null", &null);
            EXPECT_TRUE(S_ISCHR(fd.st_mode) && fd.st_rdev == null.st_rdev);
        }
        EXPECT_TRUE(endsCleanly(pid, SIGINT));
        if (!c.how.readerGone) {
            EXPECT_EQ(readAll(out), c.said);
        }
    }
}

// Where the cube is and how big: the centre of what differs from the clear
// colour and the farthest such pixel from it, averaged over a few frames.
struct Blob {
    double x = 0, y = 0, radius = 0;
};

Blob blobOf(const std::vector<uint16_t>& px, int width) {
    Blob b;
    size_t count = 0;
    for (size_t i = 0; i < px.size(); ++i)
        if (px[i] != kClear) {
            b.x += static_cast<double>(i % width);
            b.y += static_cast<double>(i / width);
            ++count;
        }
    b.x /= std::max<size_t>(count, 1);
    b.y /= std::max<size_t>(count, 1);
    for (size_t i = 0; i < px.size(); ++i)
        if (px[i] != kClear) b.radius = std::max(b.radius, std::hypot(i % width - b.x, i / width - b.y));
    return b;
}

// Averaged over a few frames of what `pixels` reads, `width` pixels a row.
Blob measure(const std::function<std::vector<uint16_t>()>& pixels = [] { return grab().px; }, int width = 320) {
    Blob sum;
    const int frames = 6;
    for (int k = 0; k < frames; ++k) {
        Blob b = blobOf(pixels(), width);
        sum.x += b.x / frames;
        sum.y += b.y / frames;
        sum.radius += b.radius / frames;
        std::this_thread::sleep_for(std::chrono::milliseconds(45));
    }
    return sum;
}

class Pointer {
public:
    Pointer() : dpy(XOpenDisplay(nullptr)) {}
    ~Pointer() { XCloseDisplay(dpy); }
    void drag(int button, int x0, int y0, int x1, int y1) {
        move(x0, y0);
        XTestFakeButtonEvent(dpy, static_cast<unsigned>(button), True, CurrentTime);
        sync();
        for (int k = 1; k <= 10; ++k) move(x0 + (x1 - x0) * k / 10, y0 + (y1 - y0) * k / 10);
        XTestFakeButtonEvent(dpy, static_cast<unsigned>(button), False, CurrentTime);
        sync();
    }
    void doubleClick(int x, int y) {
        move(x, y);
        for (int k = 0; k < 2; ++k) {
            XTestFakeButtonEvent(dpy, 1, True, CurrentTime);
            XTestFakeButtonEvent(dpy, 1, False, CurrentTime);
        }
        sync();
    }
    void click(int button) {
        XTestFakeButtonEvent(dpy, static_cast<unsigned>(button), True, CurrentTime);
        XTestFakeButtonEvent(dpy, static_cast<unsigned>(button), False, CurrentTime);
        sync();
    }
    void key(KeySym key) {
        KeyCode code = XKeysymToKeycode(dpy, key);
        XTestFakeKeyEvent(dpy, code, True, CurrentTime);
        XTestFakeKeyEvent(dpy, code, False, CurrentTime);
        sync();
    }
    void move(int x, int y) {
        XTestFakeMotionEvent(dpy, 0, x, y, CurrentTime);
        sync();
    }

private:
    void sync() {
        XSync(dpy, False);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    Display* dpy;
};

TEST_F(EndToEnd, DragsPanZoomAndADoubleClickPutsTheCameraBack) {
    std::vector<uint8_t> picture(128 * 128 * 3, 200);
    int out = -1;
    pid_t pid = launch(picture, out);
    ASSERT_GT(pid, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    Pointer pointer;

    Blob start = measure();
    EXPECT_NEAR(start.x, 160, 12);

    // Right button: 100 pixels right pans one unit, which at distance 7 is
    // 3.2167604 / 7 x 160 = 73.5 pixels on screen.
    pointer.drag(3, 100, 240, 200, 240);
    Blob panned = measure();
    EXPECT_NEAR(panned.x - start.x, 73.5, 12);
    EXPECT_NEAR(panned.y, start.y, 12);

    // Middle button: +300 in x and -460 in y zoom out by (0.75 + 1.15) x 4,
    // from distance 7 to 14.6: the cube shrinks to about 0.48 of its size.
    pointer.drag(2, 10, 470, 310, 10);
    Blob zoomed = measure();
    double ratio = zoomed.radius / start.radius;
    EXPECT_GT(ratio, 0.3);
    EXPECT_LT(ratio, 0.7);

    // A double click: the starting pose again.
    pointer.doubleClick(160, 240);
    Blob back = measure();
    EXPECT_NEAR(back.x, 160, 12);
    EXPECT_GT(back.radius / start.radius, 0.8);
    EXPECT_LT(back.radius / start.radius, 1.25);

    EXPECT_TRUE(endsCleanly(pid, SIGTERM));
    close(out);
}

TEST_F(EndToEnd, LosingTheDisplayEndsTheDemoWithinASecondAndSaysSo) {
    int out = -1;
    pid_t pid = launch(std::vector<uint8_t>(128 * 128 * 3, 90), out);
    ASSERT_GT(pid, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    std::string expected = glVersionLine() + "display connection lost\n";
    server->kill();
    std::optional<int> ended = endsWithin(pid, std::chrono::seconds(1));
    ASSERT_TRUE(ended) << "still running a second after the display went away";
    int status = *ended;
    EXPECT_TRUE(WIFEXITED(status)) << "ended by a signal: " << status;
    EXPECT_NE(WEXITSTATUS(status), 0);
    std::string printed = readAll(out);
    // Each line is out as soon as it is finished.
    EXPECT_EQ(printed, expected);
}

// The program's top-level window, found by its title.
::Window findWindow(Display* dpy, const char* title) {
    ::Window root, parent, *children = nullptr;
    unsigned count = 0;
    ::Window found = 0;
    if (XQueryTree(dpy, DefaultRootWindow(dpy), &root, &parent, &children, &count)) {
        for (unsigned i = 0; i < count && !found; ++i) {
            char* name = nullptr;
            if (XFetchName(dpy, children[i], &name) && name) {
                if (std::string(name) == title) found = children[i];
                XFree(name);
            }
        }
        if (children) XFree(children);
    }
    return found;
}

TEST_F(EndToEnd, WindowIsNamedAfterTheProgramAndClosingItEndsTheDemo) {
    int out = -1;
    pid_t pid = launch(std::vector<uint8_t>(128 * 128 * 3, 90), out);
    ASSERT_GT(pid, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    Display* dpy = XOpenDisplay(nullptr);
    ::Window window = findWindow(dpy, "Orvanel");
    ASSERT_NE(window, 0u) << "no window titled Orvanel";
    XClassHint hint{};
    ASSERT_TRUE(XGetClassHint(dpy, window, &hint));
    EXPECT_STREQ(hint.res_name, "orvanel");
    EXPECT_STREQ(hint.res_class, "Orvanel");
    XFree(hint.res_name);
    XFree(hint.res_class);
    // It can be made a quarter of its size and no smaller, and it hears of
    // being covered.
    XSizeHints hints{};
    long supplied = 0;
    ASSERT_TRUE(XGetWMNormalHints(dpy, window, &hints, &supplied));
    EXPECT_TRUE(hints.flags & PMinSize);
    EXPECT_FALSE(hints.flags & (PPosition | USPosition)) << "the window manager places it";
    EXPECT_EQ(std::pair(hints.min_width, hints.min_height), std::pair(80, 120));
    XWindowAttributes seen;
    XGetWindowAttributes(dpy, window, &seen);
    EXPECT_TRUE(seen.all_event_masks & VisibilityChangeMask);
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    XGetWindowProperty(dpy, window, XInternAtom(dpy, "_NET_WM_PID", False), 0, 1, False, XA_CARDINAL, &type,
                       &format, &count, &after, &data);
    ASSERT_EQ(count, 1u) << "no _NET_WM_PID";
    EXPECT_EQ(*reinterpret_cast<long*>(data), pid);
    XFree(data);
    // Its icon, 64 px, opaque where the cube is.
    XGetWindowProperty(dpy, window, XInternAtom(dpy, "_NET_WM_ICON", False), 0, 2 + 64 * 64, False, XA_CARDINAL,
                       &type, &format, &count, &after, &data);
    ASSERT_EQ(count, 2u + 64 * 64) << "no _NET_WM_ICON";
    const long* icon = reinterpret_cast<long*>(data);
    EXPECT_EQ(std::pair(icon[0], icon[1]), std::pair(64l, 64l));
    EXPECT_EQ((static_cast<unsigned long>(icon[2 + 32 * 64 + 32]) & 0xffffffffu) >> 24, 255u) << "the icon's centre is not opaque";
    XFree(data);
    XTextProperty machine{};
    EXPECT_TRUE(XGetWMClientMachine(dpy, window, &machine));
    if (machine.value) XFree(machine.value);
    XWindowAttributes attrs;
    XGetWindowAttributes(dpy, window, &attrs);
    EXPECT_EQ(attrs.width, 320);
    EXPECT_EQ(attrs.height, 480);

    // What a window manager sends when the user closes the window.
    XEvent close{};
    close.xclient.type = ClientMessage;
    close.xclient.window = window;
    close.xclient.message_type = XInternAtom(dpy, "WM_PROTOCOLS", False);
    close.xclient.format = 32;
    close.xclient.data.l[0] = static_cast<long>(XInternAtom(dpy, "WM_DELETE_WINDOW", False));
    close.xclient.data.l[1] = CurrentTime;
    XSendEvent(dpy, window, False, NoEventMask, &close);
    XSync(dpy, False);
    XCloseDisplay(dpy);

    EXPECT_TRUE(endsCleanly(pid, 0)) << "closing the window";
    ::close(out);
}

// CPU time of every thread of the process so far, in nanoseconds.
long long cpuNs(pid_t pid) {
    long long sum = 0;
    std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    for (const auto& task : std::filesystem::directory_iterator(tasks)) {
        long long ns = 0;
        std::ifstream(task.path() / "schedstat") >> ns;
        sum += ns;
    }
    return sum;
}

TEST_F(EndToEnd, SigintOrSigtermAtAnyInstantEndsItWithStatusZeroAndLinesAreNeverLost) {
    // At once and 1, 10, 30 and 60 ms after its own code has started (the
    // moment it catches SIGTERM: before that the dynamic loader is still
    // loading its libraries, and orvanel(6) says a signal then ends it as
    // the signal's default does), then twice back to back (as timeout(1)
    // sends it) once it draws.
    for (int ms : {0, 1, 10, 30, 60, 400, 400, 400}) {
        int out = -1;
        pid_t pid = launch({}, out, {.pictureAtPath = false});
        EXPECT_TRUE(catches(pid, SIGTERM)) << "SIGTERM never caught";
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        if (ms > 100) kill(pid, SIGTERM);
        EXPECT_TRUE(endsCleanly(pid, SIGTERM, std::chrono::seconds(3))) << ms << " ms";
        close(out);
    }
    // An X server that does not answer does not hold it.
    {
        int out = -1;
        pid_t pid = launch({}, out, {.pictureAtPath = false});
        std::this_thread::sleep_for(std::chrono::milliseconds(700));
        kill(server->pid(), SIGSTOP);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_TRUE(endsCleanly(pid, SIGTERM, std::chrono::seconds(2))) << "the X server stopped";
        kill(server->pid(), SIGCONT);
        EXPECT_NE(readAll(out).find(glVersionLine()), std::string::npos) << "a finished line was lost";
    }
    // A hang-up is not caught, and still the log holds every finished line.
    int out = -1;
    pid_t pid = launch({}, out, {.pictureAtPath = false});
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    kill(pid, SIGHUP);
    std::optional<int> ended = endsWithin(pid, std::chrono::seconds(2));
    ASSERT_TRUE(ended);
    EXPECT_TRUE(WIFSIGNALED(*ended) && WTERMSIG(*ended) == SIGHUP) << *ended;
    EXPECT_NE(readAll(out).find(glVersionLine()), std::string::npos);
}

TEST_F(EndToEnd, UnmappedItDrawsNothingAndMappedAgainItDrawsOn) {
    int out = -1;
    pid_t pid = launch({}, out, {.pictureAtPath = false});
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    Display* dpy = XOpenDisplay(nullptr);
    ::Window window = findWindow(dpy, "Orvanel");
    ASSERT_NE(window, 0u);
    auto cpuOverASecond = [pid] {
        long long before = cpuNs(pid);
        std::this_thread::sleep_for(std::chrono::seconds(1));
        return cpuNs(pid) - before;
    };
    long long shown = cpuOverASecond();
    XUnmapWindow(dpy, window);
    XSync(dpy, False);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    long long hidden = cpuOverASecond();
    // Drawing is most of what it does: hidden, only the timer is left.
    EXPECT_LT(hidden * 5, shown) << "hidden " << hidden << " ns, shown " << shown << " ns";
    XMapWindow(dpy, window);
    XSync(dpy, False);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    Screen first = grab();
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    Screen second = grab();
    EXPECT_TRUE(showsAFrame(second));
    EXPECT_NE(first.px, second.px) << "it does not spin on";
    XCloseDisplay(dpy);
    EXPECT_TRUE(endsCleanly(pid, SIGTERM));
    close(out);
}

// Every k x k block of the frame at (x0, 0) in the window is one colour.
int blocksNotWhole(const std::vector<uint16_t>& px, int width, int x0, int k) {
    int bad = 0;
    for (int by = 0; by < 480; ++by)
        for (int bx = 0; bx < 320; ++bx) {
            uint16_t first = px[static_cast<size_t>(by * k) * width + x0 + bx * k];
            for (int dy = 0; dy < k; ++dy)
                for (int dx = 0; dx < k; ++dx)
                    bad += px[static_cast<size_t>(by * k + dy) * width + x0 + bx * k + dx] != first;
        }
    return bad;
}

// On a screen of 192 dots per inch the window starts twice the frame's size;
// resized, it shows the frame as large as fits in exact blocks, centred, and
// pointer input is mapped back; Esc and q end it as closing the window does.
TEST_F(EndToEnd, ScaledByTheServerInWholeBlocksWithInputMappedBackAndEscOrQEndsIt) {
    Xvfb big(16, 1000, 1500);
    Display* dpy = XOpenDisplay(nullptr);
    ASSERT_NE(dpy, nullptr);
    const char resources[] = "Xft.dpi:\t192\n";
    XChangeProperty(dpy, DefaultRootWindow(dpy), XA_RESOURCE_MANAGER, XA_STRING, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(resources), sizeof resources - 1);
    XSync(dpy, False);
    for (KeySym key : {XK_Escape, XK_q}) {
        int out = -1;
        pid_t pid = launch(std::vector<uint8_t>(128 * 128 * 3, 200), out);
        std::this_thread::sleep_for(std::chrono::milliseconds(800));
        ::Window window = findWindow(dpy, "Orvanel");
        ASSERT_NE(window, 0u);
        if (key == XK_Escape) {
            XWindowAttributes attrs;
            XGetWindowAttributes(dpy, window, &attrs);
            EXPECT_EQ(attrs.width, 640);
            EXPECT_EQ(attrs.height, 960);
            std::vector<uint16_t> px = windowPixels(dpy, window, 640, 960);
            EXPECT_EQ(blocksNotWhole(px, 640, 0, 2), 0);
            EXPECT_EQ(px[0], kClear);
            EXPECT_EQ(px[640 * 960 - 1], kClear);
            auto shown = [&] { return windowPixels(dpy, window, 640, 960); };
            double before = measure(shown, 640).x;
            EXPECT_NEAR(before, 320, 24);

            // Right button, 200 window pixels: 100 frame pixels, one unit of
            // pan, 73.5 frame pixels on screen.
            Pointer pointer;
            pointer.drag(3, 200, 480, 400, 480);
            EXPECT_NEAR(measure(shown, 640).x - before, 147, 24);

            XResizeWindow(dpy, window, 1000, 1440);  // scale 3, 20 pixels of black each side
            XSync(dpy, False);
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            px = windowPixels(dpy, window, 1000, 1440);
            EXPECT_EQ(blocksNotWhole(px, 1000, 20, 3), 0);
            EXPECT_EQ(px[0], 0);
            EXPECT_EQ(px[19], 0);
            EXPECT_EQ(px[20], kClear);
            EXPECT_EQ(px[979], kClear);
            EXPECT_EQ(px[980], 0);

            // Wider and smaller windows, and a change of width alone: the
            // frame fitted and centred each time, black beside it.
            struct Size {
                int width, height, x, y, shownWidth;
            };
            for (Size size : {Size{1000, 960, 180, 0, 640}, Size{400, 480, 40, 0, 320}, Size{160, 480, 0, 120, 160},
                              Size{700, 480, 190, 0, 320}}) {
                XResizeWindow(dpy, window, static_cast<unsigned>(size.width), static_cast<unsigned>(size.height));
                XSync(dpy, False);
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
                px = windowPixels(dpy, window, size.width, size.height);
                auto at = [&](int x, int y) { return px[static_cast<size_t>(y) * size.width + x]; };
                int right = size.x + size.shownWidth - 1, bottom = size.height - 1 - size.y;
                SCOPED_TRACE(std::to_string(size.width) + "x" + std::to_string(size.height));
                EXPECT_EQ(at(size.x, size.y), kClear);
                EXPECT_EQ(at(right, bottom), kClear);
                if (size.x > 0) {
                    EXPECT_EQ(at(size.x - 1, size.y), 0);
                }
                if (right + 1 < size.width) {
                    EXPECT_EQ(at(right + 1, bottom), 0);
                }
                if (size.y > 0) {
                    EXPECT_EQ(at(size.x, size.y - 1), 0);
                }
            }

            // Partly covered, it draws on.
            ::Window cover = XCreateSimpleWindow(dpy, DefaultRootWindow(dpy), 0, 0, 100, 100, 0, 0, 0);
            XMapRaised(dpy, cover);
            XSync(dpy, False);
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            std::vector<uint16_t> covered = windowPixels(dpy, window, 700, 480);
            std::this_thread::sleep_for(std::chrono::milliseconds(150));
            EXPECT_NE(windowPixels(dpy, window, 700, 480), covered) << "a partly covered window stopped drawing";
            XDestroyWindow(dpy, cover);
        }
        XSetInputFocus(dpy, window, RevertToParent, CurrentTime);
        KeyCode code = XKeysymToKeycode(dpy, key);
        XTestFakeKeyEvent(dpy, code, True, CurrentTime);
        XTestFakeKeyEvent(dpy, code, False, CurrentTime);
        XSync(dpy, False);
        EXPECT_TRUE(endsCleanly(pid, 0, std::chrono::seconds(1))) << XKeysymToString(key);
        close(out);
    }
    XCloseDisplay(dpy);
}

// The frame on the compositor's 400 x 480 output, as the 5-6-5 pixels it was
// given: 40 black columns each side of it.
std::optional<Screen> compositorScreen(const Weston& weston) {
    std::vector<unsigned char> rgb;
    int width = 0, height = 0;
    if (!weston.screenshot(rgb, width, height) || width != 400 || height != 480) return std::nullopt;
    Screen s;
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 400; ++x) {
            const unsigned char* p = &rgb[(static_cast<size_t>(y) * 400 + x) * 3];
            bool border = x < 40 || x >= 360;
            if (border && (p[0] || p[1] || p[2])) return std::nullopt;
            if (!border) s.px.push_back(static_cast<uint16_t>((p[0] >> 3) << 11 | (p[1] >> 2) << 5 | p[2] >> 3));
        }
    return s;
}

// Natively on Wayland (weston nested in the X server, no X for the demo):
// the frame the compositor shows is the one X shows, input reaches the
// camera with the same mapping, Esc ends it, and so does losing the compositor.
TEST_F(EndToEnd, NativeOnWaylandTheSameFramesAndInput) {
    Xvfb nest(24, 400, 480);  // weston's screenshots of a 16-bit output are blank
    std::unique_ptr<Weston> weston;
    try {
        weston = std::make_unique<Weston>(400, 480);  // a window wider than the frame
    } catch (const std::exception& e) {
        GTEST_SKIP() << e.what();
    }
    int out = -1;
    auto launched = std::chrono::steady_clock::now();
    pid_t pid = launch(markedPicture(), out, {.wayland = weston.get()});
    ASSERT_GT(pid, 0);
    auto screenshot = [&] { return compositorScreen(*weston).value_or(Screen{std::vector<uint16_t>(320 * 480)}); };
    Screen first;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    do {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        first = screenshot();
    } while (!showsAFrame(first) && std::chrono::steady_clock::now() < deadline);
    ASSERT_TRUE(showsAFrame(first)) << "no frame reached the compositor";
    expectTexelZeroAtTheCorners(first, screenshot, launched);

    // weston's seat follows the X pointer's motion, not its place: to the far
    // corner and back brings the two together.
    Pointer pointer;
    pointer.move(2000, 2000);
    pointer.move(0, 0);
    auto shown = [&] { return screenshot().px; };
    Blob start = measure(shown);
    pointer.drag(3, 140, 240, 240, 240);
    Blob panned = measure(shown);
    EXPECT_NEAR(panned.x - start.x, 73.5, 12);
    EXPECT_NEAR(panned.y, start.y, 12);

    pointer.key(XK_Escape);
    EXPECT_TRUE(endsCleanly(pid, 0, std::chrono::seconds(1))) << "Esc";
    EXPECT_EQ(readAll(out), glVersionLine());

    pid = launch(markedPicture(), out, {.wayland = weston.get()});
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    weston->kill();
    std::optional<int> ended = endsWithin(pid, std::chrono::seconds(1));
    ASSERT_TRUE(ended) << "still running a second after the compositor went away";
    EXPECT_TRUE(WIFEXITED(*ended) && WEXITSTATUS(*ended) == 1) << *ended;
    EXPECT_EQ(readAll(out), glVersionLine() + "display connection lost\n");
}

// The closing keys are read from the active layout: with "us,ru" and the
// Russian group active, the key at q's place does not close it, and Alt-q
// never does; with the US group, q does.
TEST_F(EndToEnd, QuitKeysFollowTheActiveLayoutAndIgnoreDesktopShortcuts) {
    Display* dpy = XOpenDisplay(nullptr);
    ASSERT_NE(dpy, nullptr);
    if (std::system(("setxkbmap -display " + server->name() + " -layout us,ru 2>/dev/null").c_str()) != 0)
        GTEST_SKIP() << "setxkbmap (x11-xkb-utils) cannot set the layout";
    int out = -1;
    pid_t pid = launch({}, out, {.pictureAtPath = false});
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    ::Window window = findWindow(dpy, "Orvanel");
    ASSERT_NE(window, 0u);
    XSetInputFocus(dpy, window, RevertToParent, CurrentTime);
    KeyCode q = XKeysymToKeycode(dpy, XK_q), alt = XKeysymToKeycode(dpy, XK_Alt_L);
    auto press = [&](std::vector<KeyCode> keys) {
        for (KeyCode k : keys) XTestFakeKeyEvent(dpy, k, True, CurrentTime);
        for (auto k = keys.rbegin(); k != keys.rend(); ++k) XTestFakeKeyEvent(dpy, *k, False, CurrentTime);
        XSync(dpy, False);
    };
    XkbLockGroup(dpy, XkbUseCoreKbd, 1);
    press({q});
    press({alt, q});
    XkbLockGroup(dpy, XkbUseCoreKbd, 0);
    press({alt, q});
    EXPECT_FALSE(endsWithin(pid, std::chrono::milliseconds(500))) << "closed by a key that is not q, or by Alt-q";
    close(out);
    pid = launch({}, out, {.pictureAtPath = false});
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    window = findWindow(dpy, "Orvanel");
    XSetInputFocus(dpy, window, RevertToParent, CurrentTime);
    press({q});
    EXPECT_TRUE(endsCleanly(pid, 0, std::chrono::seconds(1))) << "q in the US group";
    close(out);
    XCloseDisplay(dpy);
}

// On a desktop whose compositor draws no decorations (weston's own shell),
// libdecor draws them; F11 goes full screen and back to the size it had, and
// the close button ends the demo with status 0.
TEST_F(EndToEnd, OnWaylandTheDecorationsCloseButtonEndsIt) {
    Xvfb nest(24, 500, 700);
    std::unique_ptr<Weston> weston;
    try {
        weston = std::make_unique<Weston>(500, 700, "desktop-shell.so");
    } catch (const std::exception& e) {
        GTEST_SKIP() << e.what();
    }
    int out = -1;
    pid_t pid = launch(markedPicture(), out, {.wayland = weston.get()});
    // Where the window put the frame: the clear colour's bounds, once they
    // are `wanted` wide.
    int left = 500, top = 700, right = -1;
    auto frameBounds = [&](int wanted) {
        for (int attempt = 0; attempt < 50 && right - left + 1 != wanted; ++attempt) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            std::vector<unsigned char> rgb;
            int width = 0, height = 0;
            if (!weston->screenshot(rgb, width, height) || width != 500) continue;
            left = 500, top = 700, right = -1;
            for (int y = 0; y < height; ++y)
                for (int x = 0; x < width; ++x) {
                    const unsigned char* p = &rgb[(static_cast<size_t>(y) * width + x) * 3];
                    if (p[0] == 74 && p[1] == 77 && p[2] == 99) {
                        left = std::min(left, x);
                        top = std::min(top, y);
                        right = std::max(right, x);
                    }
                }
        }
        return right - left + 1;
    };
    ASSERT_EQ(frameBounds(320), 320) << "no frame reached the compositor";
    // F11 twice: full screen (the frame fitted to 500 x 700), then back to
    // the size it had.
    Pointer pointer;
    pointer.move(2000, 2000);
    pointer.move(0, 0);
    pointer.move(left + 160, top + 240);
    pointer.key(XK_F11);
    EXPECT_EQ(frameBounds(467), 467) << "not full screen";
    pointer.key(XK_F11);
    EXPECT_EQ(frameBounds(320), 320) << "not back to its size";
    // The close button sits at the right of the title bar above the frame.
    pointer.move(right - 16, top - 12);
    pointer.click(1);
    EXPECT_TRUE(endsCleanly(pid, 0, std::chrono::seconds(2))) << "the close button";
    close(out);
}

// A compositor with no X server under it (weston's headless backend: no seat).
std::unique_ptr<Weston> headlessWeston(int width, int height, const std::string& shell) {
    std::string display = std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "";
    unsetenv("DISPLAY");
    std::unique_ptr<Weston> weston;
    try {
        weston = std::make_unique<Weston>(width, height, shell);
    } catch (const std::exception&) {
    }
    setenv("DISPLAY", display.c_str(), 1);
    return weston;
}

// Asked for full screen at start, the window fills the desktop shell's
// output (the frame scaled to its height); and whenever the compositor goes
// or stops answering during the window's set-up, it ends with the status
// that says so, never a crash.
TEST_F(EndToEnd, OnWaylandFullScreenAtStartAndEndsCleanlyAtEveryStageOfItsSetUp) {
    std::unique_ptr<Weston> weston = headlessWeston(800, 720, "desktop-shell.so");
    if (!weston) GTEST_SKIP() << "weston did not start (is the weston package installed?)";
    int out = -1;
    pid_t pid = launch(markedPicture(), out, {.wayland = weston.get(), .args = {"--fullscreen"}});
    int left = 800, right = -1;
    for (int attempt = 0; attempt < 50 && right - left + 1 != 480; ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        std::vector<unsigned char> rgb;
        int width = 0, height = 0;
        if (!weston->screenshot(rgb, width, height) || width != 800) continue;
        left = 800, right = -1;
        for (int x = 0; x < 800; ++x) {
            const unsigned char* p = &rgb[(static_cast<size_t>(5) * width + x) * 3];  // a row near the top
            if (p[0] == 74 && p[1] == 77 && p[2] == 99) left = std::min(left, x), right = std::max(right, x);
        }
    }
    EXPECT_EQ(right - left + 1, 480) << "not full screen: the frame's top row spans " << left << " to " << right;
    EXPECT_TRUE(endsCleanly(pid));
    close(out);

    for (int ms : {1, 3, 5, 8}) {
        SCOPED_TRACE(std::to_string(ms) + " ms after start");
        // Stopped: a signal still ends it, with status 0, within the second it promises.
        pid = launch({}, out, {.pictureAtPath = false, .wayland = weston.get()});
        ASSERT_TRUE(catches(pid, SIGTERM));  // its own start has run
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        kill(weston->pid(), SIGSTOP);
        EXPECT_TRUE(endsCleanly(pid, SIGTERM, std::chrono::seconds(3))) << "compositor stopped";
        kill(weston->pid(), SIGCONT);
        close(out);
        // Gone: status 1.
        std::unique_ptr<Weston> doomed = headlessWeston(320, 480, "desktop-shell.so");
        ASSERT_TRUE(doomed);
        pid = launch({}, out, {.pictureAtPath = false, .wayland = doomed.get()});
        ASSERT_TRUE(catches(pid, SIGTERM));
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        doomed->kill();
        std::optional<int> ended = endsWithin(pid, std::chrono::seconds(3));
        ASSERT_TRUE(ended) << "still running after the compositor went away";
        EXPECT_TRUE(WIFEXITED(*ended) && WEXITSTATUS(*ended) == 1) << "compositor gone: wait status " << *ended;
        close(out);
    }
}

// A PNG's pixels as 8-bit RGB, or empty.
std::vector<unsigned char> pngPixels(const std::string& path, int& width, int& height) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    std::vector<unsigned char> rgb;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return rgb;
    image.format = PNG_FORMAT_RGB;
    rgb.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) rgb.clear();
    width = static_cast<int>(image.width);
    height = static_cast<int>(image.height);
    return rgb;
}

// A picture of the user's own, as a PNG or as the raw file the picture tool
// makes of it, shown for 40 frames on X and with no display at all: the same
// screenshot, and a closing line.
TEST_F(EndToEnd, APictureOfYourOwnForFortyFramesLeavesTheSameScreenshotOnXAndOffscreen) {
    std::string dir = std::string(testing::TempDir()) + "orvanel_shots_XXXXXX";
    ASSERT_TRUE(mkdtemp(dir.data()));
    // 64 x 48, not square: each axis scaled by its own length.
    std::vector<unsigned char> photo(64 * 48 * 3);
    for (size_t i = 0; i < photo.size(); ++i) photo[i] = static_cast<unsigned char>((i / 3 % 64) * 4 + (i % 3) * 60);
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = 64;
    image.height = 48;
    image.format = PNG_FORMAT_RGB;
    ASSERT_TRUE(png_image_write_to_file(&image, (dir + "/photo.png").c_str(), 0, photo.data(), 0, nullptr));
    auto quoted = [](const std::string& path) { return "'" + path + "'"; };  // a clone's path may hold a space
    auto run = [&](const std::string& command) {
        int status = std::system(("cd " + quoted(dir) + " && XDG_DATA_HOME=" + quoted(dir + "/data") + " " + command +
                                  " >out.txt 2>&1")
                                     .c_str());
        std::ifstream in(dir + "/out.txt");
        std::string said((std::istreambuf_iterator<char>(in)), {});
        return std::pair{WIFEXITED(status) ? WEXITSTATUS(status) : -1, said};
    };
    const std::string program = quoted(ORVANEL_BINARY), tool = quoted(ORVANEL_PICTURE_TOOL);
    ASSERT_EQ(run(tool + " photo.png photo.raw").first, 0);
    auto [xStatus, xSaid] = run("WAYLAND_DISPLAY= " + program + " --picture photo.png --frames 40 --screenshot x.png");
    EXPECT_EQ(xStatus, 0) << xSaid;
    EXPECT_EQ(xSaid.rfind(glVersionLine() + "orvanel: 40 frames shown in ", 0), 0u) << xSaid;
    // The raw picture, named alone; the PNG, made the user's own by the tool.
    ASSERT_EQ(run(tool + " photo.png").first, 0);
    for (std::string shown : {"DISPLAY= " + program + " --offscreen photo.raw --frames=40 --screenshot=o.png",
                              "DISPLAY= " + program + " --offscreen --frames=40 --screenshot=u.png"}) {
        auto [status, said] = run(shown);
        EXPECT_EQ(status, 0) << shown << ": " << said;
        EXPECT_EQ(said.rfind(glVersionLine(), 0), 0u) << shown << ": " << said;  // no message of the fixed path
    }
    int xw = 0, xh = 0, ow = 0, oh = 0, uw = 0, uh = 0;
    std::vector<unsigned char> x = pngPixels(dir + "/x.png", xw, xh), o = pngPixels(dir + "/o.png", ow, oh),
                               u = pngPixels(dir + "/u.png", uw, uh);
    EXPECT_EQ(std::vector<int>({xw, xh, ow, oh, uw, uh}), std::vector<int>({320, 480, 320, 480, 320, 480}));
    EXPECT_TRUE(x == o) << "the frames differ";
    EXPECT_TRUE(x == u) << "the user's own picture is not the one shown";
    size_t coloured = 0;
    for (size_t i = 0; i + 2 < x.size(); i += 3) coloured += x[i] != 74 || x[i + 1] != 77 || x[i + 2] != 99;
    EXPECT_GT(coloured, 10000u) << "no cube in the screenshot";
    // A picture named that cannot be shown ends the run before anything is drawn.
    auto [badStatus, badSaid] = run("DISPLAY= " + program + " --offscreen --picture missing.png --frames 2");
    EXPECT_EQ(badStatus, 1);
    EXPECT_EQ(badSaid, "orvanel: cannot read missing.png: No such file or directory\n");
    std::filesystem::remove_all(dir);
}

}  // namespace
