// SPDX-License-Identifier: MIT
// Measures what a frame costs, back to back and at the demo's own pace
// against bare GL and a plain EGL window program, whether memory stays flat,
// how soon the first frame shows and how well the 0.033 s timer keeps time, on
// a private 16-bit Xvfb and a headless weston, and how the display server's
// work grows with the window. Usage: orvanel_bench [--quick | --soak FRAMES |
// --startup | --window-sizes [ROUNDS]]; --plain-window, --plain-wayland and
// --bare-paced run the baselines themselves.
#include <EGL/egl.h>
#include <GLES/gl.h>
#include <sched.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

// Before Xlib, whose None is a macro.
#include "Session.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "DrawCube.h"
#include "PlainWayland.h"
#include "TestGLView.h"
#include "UIKit.h"
#include "Weston.h"
#include "Xvfb.h"

namespace {

double wall() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

double cpu() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

double residentMiB() {
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

struct Stats {
    double min, median, p99, cpuPerFrame;
};

// The p-th percentile of values sorted in ascending order (0 when empty).
double percentileOfSorted(const std::vector<double>& sorted, size_t p) {
    return sorted.empty() ? 0 : sorted[std::min(sorted.size() - 1, sorted.size() * p / 100)];
}

Stats summarise(std::vector<double> ms, double cpuSeconds) {
    std::sort(ms.begin(), ms.end());
    return Stats{ms.front(), percentileOfSorted(ms, 50), percentileOfSorted(ms, 99),
                 cpuSeconds * 1000.0 / static_cast<double>(ms.size())};
}

// The demo's view in a window, drawn as the run loop draws it.
struct RealPath {
    UIWindow* window = nullptr;
    TestGLView* view = nullptr;

    RealPath() {
        CGRect r = CGRectMake(0, 0, 320, 480);
        window = alloc<UIWindow>()->initWithContentRect(r);
        window->_setHidden(false);
        view = static_cast<TestGLView*>(alloc<TestGLView>()->initWithFrame(r));
        window->setContentView(view);
    }
    // One pass of the run loop, as the demo's timer gets: the redraw, the
    // composite and the window system's events.
    void frame() {
        view->setNeedsDisplay();
        NSRunLoop::mainRunLoop()->runOnce(0);
    }
    // Adds `frames` frame times (ms) to `ms`; returns the CPU seconds used.
    double run(int frames, std::vector<double>& ms) {
        double c0 = cpu();
        for (int i = 0; i < frames; ++i) {
            double t0 = wall();
            frame();
            ms.push_back((wall() - t0) * 1000.0);
        }
        UIKitPlatform::Session::current()->sync();
        return cpu() - c0;
    }
};

// The same GL calls into a pbuffer, ended with glFinish, with nothing around;
// or, given an X window or a Wayland one, into a window surface ended with
// eglSwapBuffers, as a plain EGL program would draw.
struct BareGL {
    EGLDisplay dpy = EGL_NO_DISPLAY;
    EGLSurface surface = EGL_NO_SURFACE;
    EGLContext context = EGL_NO_CONTEXT;
    UIGLCameraView* camera = alloc<UIGLCameraView>();  // for its arithmetic only
    const uint8_t* picture;
    bool swap = false;

    explicit BareGL(const uint8_t* pixels, unsigned long window = 0) : picture(pixels), swap(window != 0) {
        dpy = eglGetDisplay(EGL_DEFAULT_DISPLAY);
        EGLConfig config = setUp();
        const EGLint size[] = {EGL_WIDTH, 320, EGL_HEIGHT, 480, EGL_NONE};
        surface = window ? eglCreateWindowSurface(dpy, config, static_cast<EGLNativeWindowType>(window), nullptr)
                         : eglCreatePbufferSurface(dpy, config, size);
    }
    // On a Wayland connection's EGL display, into its wl_egl_window.
    BareGL(const uint8_t* pixels, EGLDisplay display, void* window) : dpy(display), picture(pixels), swap(true) {
        surface = eglCreatePlatformWindowSurface(dpy, setUp(), window, nullptr);
    }
    bool ok() const { return surface != EGL_NO_SURFACE && context != EGL_NO_CONTEXT; }
    // The demo's pixel format and depth buffer, so that GL's work is alike;
    // a window surface needs a config that can draw into windows, which the
    // demo's pbuffer-only choice need not be.
    EGLConfig setUp() {
        eglInitialize(dpy, nullptr, nullptr);
        std::vector<EGLint> attribs;
        for (const EGLint* a = UIGLView::configAttribs; *a != EGL_NONE; a += 2)
            attribs.insert(attribs.end(), {a[0], a[0] == EGL_SURFACE_TYPE && swap ? EGL_WINDOW_BIT : a[1]});
        attribs.push_back(EGL_NONE);
        EGLConfig config = nullptr;
        EGLint count = 0;
        eglChooseConfig(dpy, attribs.data(), &config, 1, &count);
        context = eglCreateContext(dpy, config, EGL_NO_CONTEXT, nullptr);
        camera->mZUp = true;
        camera->resetView();
        return config;
    }
    void frame() {
        camera->mCameraTheta += 5.94f;
        camera->mCameraPhi += 5.94f;
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        float m[16];
        camera->projectionMatrix(320, 480, m);
        glMultMatrixf(m);
        glRotatef(-90, 1, 0, 0);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        glTranslatef(camera->mCameraOffsetX, camera->mCameraDistance, camera->mCameraOffsetY);
        glRotatef(camera->mCameraPhi, 1, 0, 0);
        glRotatef(camera->mCameraTheta, 0, 0, 1);
        glEnable(GL_DEPTH_TEST);
        glClearColor(0.3f, 0.3f, 0.4f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
        glDisable(GL_CULL_FACE);
        DrawCube(128, 128, picture);
        if (swap)
            eglSwapBuffers(dpy, surface);
        else
            glFinish();
    }
    double run(int frames, std::vector<double>& ms) {
        eglMakeCurrent(dpy, surface, surface, context);
        double c0 = cpu();
        for (int i = 0; i < frames; ++i) {
            double t0 = wall();
            frame();
            ms.push_back((wall() - t0) * 1000.0);
        }
        double used = cpu() - c0;
        eglMakeCurrent(dpy, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
        return used;
    }
};

// Back to back, each frame's request wakes the server on the frame's own core
// (the kernel expects the writer to sleep next, as the demo at 30 frames a
// second does), and the server's copy of the frame then runs in the frame's
// time. So the server gets a core of its own, as the device's display
// hardware is its own. Returns whether it could.
bool giveServerItsOwnCore(pid_t server) {
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (sched_getaffinity(0, sizeof allowed, &allowed) != 0 || CPU_COUNT(&allowed) < 2) return false;
    int last = 0;
    for (int c = 0; c < CPU_SETSIZE; ++c)
        if (CPU_ISSET(c, &allowed)) last = c;
    cpu_set_t own;
    CPU_ZERO(&own);
    CPU_SET(last, &own);
    // Every thread of it: a mask set on a process binds only its first thread.
    std::error_code error;
    bool moved = false;
    for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(server) + "/task", error))
        moved |= sched_setaffinity(std::atoi(task.path().filename().c_str()), sizeof own, &own) == 0;
    if (!moved) return false;
    CPU_CLR(last, &allowed);
    return sched_setaffinity(0, sizeof allowed, &allowed) == 0;
}

// Runs a program with its output thrown away, `env` added to its environment.
pid_t spawn(const std::vector<const char*>& command, const std::vector<std::string>& env = {}) {
    pid_t pid = fork();
    if (pid == 0) {
        if (!freopen("/dev/null", "w", stdout)) _exit(126);
        setenv("LP_NUM_THREADS", "0", 0);  // as the demo draws: on one thread
        for (const std::string& e : env) putenv(const_cast<char*>(e.c_str()));
        execv(command[0], const_cast<char* const*>(command.data()));
        _exit(127);
    }
    return pid;
}

// Time from starting a program to its first frame on the screen.
double firstFrameMs(const std::vector<const char*>& command) {
    Display* dpy = XOpenDisplay(nullptr);
    double t0 = wall();
    pid_t pid = spawn(command);
    double shown = -1;
    while (wall() - t0 < 10) {
        XImage* image = XGetImage(dpy, DefaultRootWindow(dpy), 0, 0, 1, 1, AllPlanes, ZPixmap);
        unsigned long p = XGetPixel(image, 0, 0);
        XDestroyImage(image);
        if (p == 0x4A6C) {
            shown = (wall() - t0) * 1000.0;
            break;
        }
        usleep(500);
    }
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    XCloseDisplay(dpy);
    return shown;
}

// The demo's timer for a while: ticks, lateness, drift and CPU use. With no
// view, nothing is drawn: what is left is the timer and the machine's own noise.
struct TimerRun {
    double start = 0;
    double period = 0.033;
    double elapsed = 0;
    double cpuShare = 0;
    std::vector<double> lateness;  // ms, in the order of the ticks
    double lastLate = 0;
    RealPath* path = nullptr;

    double percentile(size_t p) const {
        std::vector<double> late = lateness;
        std::sort(late.begin(), late.end());
        return percentileOfSorted(late, p);
    }
    double worst() const { return lateness.empty() ? 0 : *std::max_element(lateness.begin(), lateness.end()); }
};

class Ticker : public NSObject {
public:
    TimerRun* run = nullptr;
    void tick() {
        double now = wall();
        double k = std::floor((now - run->start) / run->period);
        double late = now - (run->start + k * run->period);
        run->lateness.push_back(late * 1000.0);
        run->lastLate = late;
        if (run->path) run->path->view->setNeedsDisplay();
    }
    void finish() { NSRunLoop::mainRunLoop()->stop(0); }
};

TimerRun runTimer(RealPath* path, double seconds) {
    TimerRun timed;
    timed.path = path;
    auto* ticker = alloc<Ticker>();
    ticker->run = &timed;
    double c0 = cpu();
    timed.start = wall();
    NSTimer* ticks = NSTimer::scheduledTimerWithTimeInterval(timed.period, ticker, &Ticker::tick, nullptr, true);
    NSTimer::scheduledTimerWithTimeInterval(seconds, ticker, &Ticker::finish, nullptr, false);
    NSRunLoop::mainRunLoop()->run();
    ticks->invalidate();
    timed.elapsed = wall() - timed.start;
    timed.cpuShare = (cpu() - c0) / timed.elapsed * 100.0;
    ticker->release();
    return timed;
}

// The baselines as programs of their own, drawing at the demo's pace until
// they are ended: bare GL into a pbuffer, or a plain EGL program's window on
// X or on Wayland. `frames` frames at the demo's pace, or for ever (0).
enum class Plain { Pbuffer, XWindow, Wayland };

int runPlainProgram(Plain kind, long frames) {
    std::vector<uint8_t> picture(128 * 128 * 3);
    for (size_t i = 0; i < picture.size(); ++i) picture[i] = static_cast<uint8_t>(i * 31);
    Display* x = nullptr;
    unsigned long id = 0;
    if (kind == Plain::XWindow) {
        x = XOpenDisplay(nullptr);
        if (!x) return 1;
        id = XCreateSimpleWindow(x, DefaultRootWindow(x), 0, 0, 320, 480, 0, 0, 0);
        XMapWindow(x, id);
        XSync(x, False);
    }
    std::optional<PlainWaylandWindow> wayland;
    if (kind == Plain::Wayland) {
        wayland.emplace(320, 480);
        if (!wayland->ok()) {
            std::fprintf(stderr, "orvanel_bench: no Wayland window (WAYLAND_DISPLAY names no compositor with "
                                 "xdg-shell?)\n");
            return 1;
        }
    }
    BareGL gl = wayland ? BareGL(picture.data(), wayland->eglDisplay(), wayland->eglWindow())
                        : BareGL(picture.data(), id);
    if (!gl.ok() || !eglMakeCurrent(gl.dpy, gl.surface, gl.surface, gl.context)) {
        std::fprintf(stderr, "orvanel_bench: EGL could not draw there (0x%x)\n", eglGetError());
        return 1;
    }
    timespec next{};
    clock_gettime(CLOCK_MONOTONIC, &next);
    for (long n = 0; frames == 0 || n < frames; ++n) {
        gl.frame();
        if (wayland && !wayland->serve()) return 1;
        next.tv_nsec += 33000000;
        if (next.tv_nsec >= 1000000000) {
            next.tv_nsec -= 1000000000;
            ++next.tv_sec;
        }
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
    }
    return 0;
}

// CPU time of every thread of a process so far, in seconds.
double cpuOf(pid_t pid) {
    long long sum = 0;
    std::error_code error;
    for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", error)) {
        long long ns = 0;
        if (FILE* f = std::fopen((task.path() / "schedstat").c_str(), "r")) {
            if (std::fscanf(f, "%lld", &ns) != 1) ns = 0;
            std::fclose(f);
        }
        sum += ns;
    }
    return static_cast<double>(sum) * 1e-9;
}

struct PacedCost {
    double process = 0, server = 0;  // % of one core
};

// A program at its own pace: its CPU and the display server's over
// `seconds`, once it has been running for a second.
PacedCost pacedCost(const std::vector<const char*>& command, pid_t server, double seconds,
                    const std::vector<std::string>& env = {}) {
    pid_t pid = spawn(command, env);
    usleep(1000000);
    double w0 = wall(), p0 = cpuOf(pid), s0 = cpuOf(server);
    usleep(static_cast<useconds_t>(seconds * 1e6));
    double w = wall() - w0;
    PacedCost cost{(cpuOf(pid) - p0) / w * 100, (cpuOf(server) - s0) / w * 100};
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    return cost;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return percentileOfSorted(v, 50);
}

// How the display server's work grows with the window the frame is shown in:
// the demo's 320 x 480 frame at 1x, at 2x (the desktop's scale of 2) and full
// screen, on screens of 1920 x 1080 and 3840 x 2160, and on one of the
// frame's own size.
struct ShownAs {
    const char* name;
    int scale;  // the desktop's: Xft.dpi of 96 times it on X, the output's on Wayland
    bool fullscreen;
};

// The CPU a frame shown, in microseconds: the display server's and the demo's.
struct PerFrame {
    double server = 0, demo = 0;
};

// Waits until the server is done with what came before (weston fades the
// desktop in when it starts and a closed window out): until it has used less
// than a millisecond of CPU in each of two tenths of a second, 10 s at most.
void settle(pid_t server) {
    double last = cpuOf(server);
    for (int i = 0, quiet = 0; i < 100 && quiet < 2; ++i) {
        usleep(100000);
        double now = cpuOf(server);
        quiet = now - last < 0.001 ? quiet + 1 : 0;
        last = now;
    }
}

// The demo showing `frames` frames and ending: the server's CPU from its
// start to its end, and the demo's own. NaN when the demo failed.
PerFrame framesShown(std::vector<const char*> command, long frames, pid_t server, const std::vector<std::string>& env) {
    std::string count = std::to_string(frames);
    command.insert(command.end() - 1, {"--frames", count.c_str()});
    settle(server);
    double s0 = cpuOf(server);
    pid_t pid = spawn(command, env);
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return {std::nan(""), std::nan("")};
    auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6;
    };
    return {cpuOf(server) - s0, seconds(usage.ru_utime) + seconds(usage.ru_stime)};
}

// Per frame shown, by the difference of a long run and a short one, so that
// start-up, mapping the window and exit cancel out.
PerFrame perFrameShown(const std::vector<const char*>& command, pid_t server, const std::vector<std::string>& env) {
    const long shortRun = 30, longRun = 210;
    PerFrame a = framesShown(command, shortRun, server, env), b = framesShown(command, longRun, server, env);
    double frames = static_cast<double>(longRun - shortRun);
    return {(b.server - a.server) / frames * 1e6, (b.demo - a.demo) / frames * 1e6};
}

// Sets the resources X programs read their dots per inch from (Xft.dpi on
// the root window), which the demo's window takes a whole multiple of.
void setXftDpi(int dpi) {
    Display* d = XOpenDisplay(nullptr);
    if (!d) return;
    std::string resources = "Xft.dpi:\t" + std::to_string(dpi) + "\n";
    XChangeProperty(d, DefaultRootWindow(d), XA_RESOURCE_MANAGER, XA_STRING, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(resources.c_str()), static_cast<int>(resources.size()));
    XCloseDisplay(d);
}

// "median [least-most] us, % of one core at 30 frames a second", or why not.
std::string cell(std::vector<double> us) {
    if (us.empty()) return "not measured";
    if (std::any_of(us.begin(), us.end(), [](double v) { return std::isnan(v); })) return "the demo failed";
    std::sort(us.begin(), us.end());
    char text[96];
    std::snprintf(text, sizeof text, "%.0f [%.0f-%.0f] us, %.2f %%", median(us), us.front(), us.back(),
                  median(us) / 330);
    return text;
}

int runWindowSizes(int rounds, const char* demoBinary) {
    struct Screen {
        int width, height;
    };
    const Screen screens[] = {{320, 480}, {1920, 1080}, {3840, 2160}};
    const ShownAs shownAs[] = {{"1x", 1, false}, {"2x", 2, false}, {"full screen", 1, true}};
    const std::vector<const char*> windowed{demoBinary, nullptr}, full{demoBinary, "--fullscreen", nullptr};
    struct Row {
        std::string screen, shown;
        std::vector<double> x, xDemo, wayland, waylandDemo;
    };
    std::vector<Row> rows;
    std::string skipped;
    for (const Screen& screen : screens) {
        // On a screen of the frame's own size, 1x is all there is.
        size_t cases = screen.width == 320 ? 1 : std::size(shownAs);
        size_t first = rows.size();
        for (size_t c = 0; c < cases; ++c) {
            Row& row = rows.emplace_back();
            row.screen = std::to_string(screen.width) + "x" + std::to_string(screen.height);
            row.shown = cases == 1 ? "1x, the whole screen" : shownAs[c].name;
        }
        // The cases in alternating rounds, so that what else the machine does
        // falls on all of them.
        {
            Xvfb server(16, screen.width, screen.height);
            const std::vector<std::string> onX{"WAYLAND_DISPLAY="};
            for (int round = 0; round < rounds; ++round)
                for (size_t c = 0; c < cases; ++c) {
                    setXftDpi(96 * shownAs[c].scale);
                    PerFrame f = perFrameShown(shownAs[c].fullscreen ? full : windowed, server.pid(), onX);
                    rows[first + c].x.push_back(f.server);
                    rows[first + c].xDemo.push_back(f.demo);
                }
        }
        const char* display = std::getenv("DISPLAY");
        std::string x = display ? display : "";
        unsetenv("DISPLAY");  // so that weston runs headless
        try {
            // One weston a scale, both there through the rounds.
            Weston plain(screen.width, screen.height, "desktop-shell.so");
            std::optional<Weston> doubled;
            if (cases > 1) doubled.emplace(screen.width / 2, screen.height / 2, "desktop-shell.so", 2);
            for (int round = 0; round < rounds; ++round)
                for (size_t c = 0; c < cases; ++c) {
                    const Weston& weston = shownAs[c].scale == 2 ? *doubled : plain;
                    const std::vector<std::string> onWayland{"DISPLAY=", "WAYLAND_DISPLAY=" + weston.socket(),
                                                             "XDG_RUNTIME_DIR=" + weston.runtimeDir()};
                    PerFrame f = perFrameShown(shownAs[c].fullscreen ? full : windowed, weston.pid(), onWayland);
                    rows[first + c].wayland.push_back(f.server);
                    rows[first + c].waylandDemo.push_back(f.demo);
                }
        } catch (const std::exception& e) {
            skipped = e.what();
        }
        setenv("DISPLAY", x.c_str(), 1);
    }
    std::printf("\nHow cost grows with the window: CPU a frame shown, microseconds, median [least-most] of %d "
                "rounds; %% of one core at 30 frames a second\n\n",
                rounds);
    std::printf("| screen | the frame shown | X server (16-bit Xvfb) | the demo on X | compositor (weston, pixman) "
                "| the demo on Wayland |\n|---|---|---|---|---|---|\n");
    for (const Row& r : rows)
        std::printf("| %s | %s | %s | %s | %s | %s |\n", r.screen.c_str(), r.shown.c_str(), cell(r.x).c_str(),
                    cell(r.xDemo).c_str(), cell(r.wayland).c_str(), cell(r.waylandDemo).c_str());
    bool slow = std::any_of(rows.begin(), rows.end(), [](const Row& r) {
        return (!r.x.empty() && median(r.x) > 33000) || (!r.wayland.empty() && median(r.wayland) > 33000);
    });
    if (slow)
        std::printf("\nPast 33,000 us a frame the server cannot keep the demo's pace: fewer frames are shown, and "
                    "the share of a core is what 30 frames a second would take.\n");
    if (!skipped.empty()) std::printf("Wayland: not measured: %s\n", skipped.c_str());
    return 0;
}

}  // namespace

const char kUsage[] =
    "usage: orvanel_bench [--quick | --startup | --soak FRAMES | --window-sizes [ROUNDS]]\n"
    "Measures the demo against bare GL and a plain EGL window program, on a private\n"
    "16-bit Xvfb and a headless weston: frame times back to back, CPU at the demo's\n"
    "own pace (per frame over bare GL too), memory, the first frame and the timer.\n"
    "  --quick          a short run\n"
    "  --startup        the start-up timings alone\n"
    "  --soak FRAMES    frames back to back, the resident set as it goes\n"
    "  --window-sizes [ROUNDS]\n"
    "                   alone: the display server's CPU a frame with the frame shown\n"
    "                   at 1x, 2x and full screen on 1920x1080 and 3840x2160 screens,\n"
    "                   on X and on Wayland (3 rounds unless told; about 3 minutes a\n"
    "                   round)\n"
    "(--plain-window [N], --plain-wayland [N] and --bare-paced [N] run the\n"
    "baselines themselves, for N frames or for ever: a plain EGL window program on\n"
    "DISPLAY, the same on WAYLAND_DISPLAY, bare GL; scripts/count.sh counts their\n"
    "instructions.)\n";

int main(int argc, char** argv) {
    if (argc > 1 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    static const char* const known[] = {"--plain-window", "--plain-wayland", "--bare-paced", "--quick",
                                        "--startup",      "--soak",          "--window-sizes"};
    if (argc > 1 && std::none_of(std::begin(known), std::end(known),
                                 [&](const char* k) { return std::strcmp(argv[1], k) == 0; })) {
        std::fprintf(stderr, "orvanel_bench: unknown option '%s'\n%s", argv[1], kUsage);
        return 2;
    }
    if (argc > 1 && std::strcmp(argv[1], "--soak") == 0 && (argc < 3 || std::atol(argv[2]) <= 0)) {
        std::fprintf(stderr, "orvanel_bench: --soak needs a number of frames\n%s", kUsage);
        return 2;
    }
    long baselineFrames = argc > 2 ? std::atol(argv[2]) : 0;
    const char* option = argc > 1 ? argv[1] : "";
    if (std::strcmp(option, "--plain-window") == 0) return runPlainProgram(Plain::XWindow, baselineFrames);
    if (std::strcmp(option, "--plain-wayland") == 0) return runPlainProgram(Plain::Wayland, baselineFrames);
    if (std::strcmp(option, "--bare-paced") == 0) return runPlainProgram(Plain::Pbuffer, baselineFrames);
    if (std::strcmp(option, "--window-sizes") == 0) {
        int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
        if (rounds <= 0) {
            std::fprintf(stderr, "orvanel_bench: --window-sizes takes a number of rounds\n%s", kUsage);
            return 2;
        }
        return runWindowSizes(rounds, ORVANEL_BINARY);
    }
    bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
    long soakOnly = argc > 2 && std::strcmp(argv[1], "--soak") == 0 ? std::atol(argv[2]) : 0;
    const int frames = quick ? 300 : 3000;
    const int soak = quick ? 5000 : 100000;
    const double timerSeconds = quick ? 3 : 60;

    Xvfb server(16);
    std::vector<uint8_t> picture(128 * 128 * 3);
    for (size_t i = 0; i < picture.size(); ++i) picture[i] = static_cast<uint8_t>(i * 31);
    std::string picturePath = "/tmp/orvanel-bench-" + std::to_string(getpid()) + ".raw";
    if (FILE* f = std::fopen(picturePath.c_str(), "wb")) {
        std::fwrite(picture.data(), 1, picture.size(), f);
        std::fclose(f);
    }
    TestGLView::picturePath = picturePath.c_str();
    // Gone however main returns (the soak and a display that will not open
    // return early).
    struct RemoveAtReturn {
        const std::string& path;
        ~RemoveAtReturn() { std::remove(path.c_str()); }
    } removePicture{picturePath};

    static char self[4096];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    self[n > 0 ? n : 0] = '\0';
    const std::vector<const char*> demo{ORVANEL_BINARY, nullptr}, plain{self, "--plain-window", nullptr},
        plainWayland{self, "--plain-wayland", nullptr}, barePaced{self, "--bare-paced", nullptr};

    // One start-up is at the mercy of whatever else the machine is doing.
    std::vector<double> starts, plainStarts;
    bool startupOnly = argc > 1 && std::strcmp(argv[1], "--startup") == 0;
    for (int i = 0; i < (startupOnly ? 10 : 5); ++i) {
        starts.push_back(firstFrameMs(demo));
        plainStarts.push_back(firstFrameMs(plain));
    }
    std::sort(starts.begin(), starts.end());
    if (startupOnly) {
        std::printf("process start to first frame shown (ms): min %.1f, median %.1f, max %.1f; "
                    "a plain EGL program's median %.1f\n",
                    starts.front(), median(starts), starts.back(), median(plainStarts));
        return 0;
    }
    double startup = median(starts);

    // At the demo's own pace, as a user's machine runs it: the demo, bare GL
    // and a plain EGL window program, each a process of its own, in
    // alternating rounds; CPU of every thread of each, and of the X server.
    const std::vector<std::string> onX{"WAYLAND_DISPLAY="};
    std::vector<double> pacedDemo, pacedDemoServer, pacedBare, pacedPlain, pacedPlainServer;
    for (int round = 0; round < (quick ? 1 : 3); ++round) {
        double seconds = quick ? 2 : 6;
        PacedCost d = pacedCost(demo, server.pid(), seconds, onX);
        PacedCost b = pacedCost(barePaced, server.pid(), seconds, onX);
        PacedCost p = pacedCost(plain, server.pid(), seconds, onX);
        pacedDemo.push_back(d.process);
        pacedDemoServer.push_back(d.server);
        pacedBare.push_back(b.process);
        pacedPlain.push_back(p.process);
        pacedPlainServer.push_back(p.server);
    }
    // The same on Wayland (a headless weston drawing with pixman): the demo
    // against bare GL on the surfaceless platform it runs EGL on there, and
    // against a plain EGL program's wl_egl_window.
    std::vector<double> waylandDemo, waylandCompositor, surfacelessBare, waylandPlain, waylandPlainCompositor;
    std::string waylandSkipped;
    {
        const char* display = std::getenv("DISPLAY");
        std::string x = display ? display : "";
        unsetenv("DISPLAY");
        try {
            Weston weston(320, 480, "desktop-shell.so");
            const std::vector<std::string> onWayland{"DISPLAY=", "WAYLAND_DISPLAY=" + weston.socket(),
                                                     "XDG_RUNTIME_DIR=" + weston.runtimeDir()};
            for (int round = 0; round < (quick ? 1 : 3); ++round) {
                double seconds = quick ? 2 : 6;
                PacedCost d = pacedCost(demo, weston.pid(), seconds, onWayland);
                PacedCost b = pacedCost(barePaced, weston.pid(), seconds, {"EGL_PLATFORM=surfaceless"});
                PacedCost p = pacedCost(plainWayland, weston.pid(), seconds, onWayland);
                waylandDemo.push_back(d.process);
                waylandCompositor.push_back(d.server);
                surfacelessBare.push_back(b.process);
                waylandPlain.push_back(p.process);
                waylandPlainCompositor.push_back(p.server);
            }
        } catch (const std::exception& e) {
            waylandSkipped = e.what();
        }
        setenv("DISPLAY", x.c_str(), 1);
    }
    bool ownCore = giveServerItsOwnCore(server.pid());

    NSAutoreleasePool* pool = alloc<NSAutoreleasePool>()->init();
    UIKitPlatform::Session session;
    if (std::string error; !session.start(error)) {
        std::fprintf(stderr, "bench: cannot open the display: %s\n", error.c_str());
        return 1;
    }
    std::fflush(stdout);
    RealPath real;
    if (soakOnly > 0) {
        // Frames back to back, resident set reported as it goes.
        double first = 0;
        for (long done = 1; done <= soakOnly; ++done) {
            real.frame();
            if (done == 1000) first = residentMiB();
            if (done % 100000 == 0 || done == soakOnly) {
                std::printf("after %ld frames: resident %.2f MiB", done, residentMiB());
                if (done >= 1000) std::printf(" (%+.3f since frame 1,000)", residentMiB() - first);
                std::printf("\n");
            }
            std::fflush(stdout);
        }
        return 0;
    }
    BareGL bare(picture.data());
    std::vector<double> realMs, bareMs;
    real.run(100, realMs);  // warm up both
    bare.run(100, bareMs);
    realMs.clear();
    bareMs.clear();
    // In alternating rounds, so that what else the machine does falls on both.
    double realCpu = 0, bareCpu = 0;
    for (int round = 0; round < 10; ++round) {
        realCpu += real.run(frames / 10, realMs);
        bareCpu += bare.run(frames / 10, bareMs);
    }
    Stats r = summarise(realMs, realCpu);
    Stats b = summarise(bareMs, bareCpu);

    // Memory: frames back to back.
    int done = 0;
    double rss1000 = 0;
    for (; done < soak; ++done) {
        real.frame();
        if (done + 1 == 1000) rss1000 = residentMiB();
    }
    session.sync();
    double rssSoak = residentMiB();

    // The real timer, after the same timer with nothing drawn.
    TimerRun idle = runTimer(nullptr, timerSeconds / 3);
    TimerRun timed = runTimer(&real, timerSeconds);

    std::printf("\n| measure | value |\n|---|---|\n");
    std::printf("| the X server's core | %s |\n", ownCore ? "its own" : "shared with the frames");
    std::printf("| frame, whole real path (ms): min / median / p99 | %.3f / %.3f / %.3f |\n", r.min, r.median, r.p99);
    std::printf("| frame, whole real path: CPU ms per frame | %.3f |\n", r.cpuPerFrame);
    std::printf("| frame, bare GL into a pbuffer (ms): min / median / p99 | %.3f / %.3f / %.3f |\n", b.min,
                b.median, b.p99);
    std::printf("| frame, bare GL: CPU ms per frame | %.3f |\n", b.cpuPerFrame);
    std::printf("| ratio, real path to bare GL (median) | %.3f |\n", r.median / b.median);
    std::printf("| resident set after 1,000 frames (MiB) | %.2f |\n", rss1000);
    std::printf("| resident set after %d frames (MiB) | %.2f |\n", soak, rssSoak);
    std::printf("| growth (MiB) | %.3f |\n", rssSoak - rss1000);
    std::printf("| process start to first frame shown (ms), median of %zu | %.1f |\n", starts.size(), startup);
    std::printf("| the same for a plain EGL window program (ms) | %.1f |\n", median(plainStarts));
    std::printf("| first frame, demo to plain EGL program | %.3f |\n", startup / median(plainStarts));
    double demoPct = median(pacedDemo), barePct = median(pacedBare), plainPct = median(pacedPlain);
    double demoTotal = demoPct + median(pacedDemoServer), plainTotal = plainPct + median(pacedPlainServer);
    std::printf("| at 0.033 s a frame, CPU (%% of one core): demo / its X server share | %.2f / %.2f |\n", demoPct,
                median(pacedDemoServer));
    std::printf("| at 0.033 s a frame: bare GL into a pbuffer | %.2f |\n", barePct);
    std::printf("| at 0.033 s a frame: plain EGL window program / its X server share | %.2f / %.2f |\n", plainPct,
                median(pacedPlainServer));
    std::printf("| at 0.033 s a frame, ratio: demo to bare GL | %.3f |\n", demoPct / barePct);
    std::printf("| at 0.033 s a frame, ratio: demo and server to plain EGL program and server | %.3f |\n",
                demoTotal / plainTotal);
    // A percent of one core at 0.033 s a frame is 330 microseconds a frame.
    std::printf("| at 0.033 s a frame, over bare GL (us of CPU a frame): demo / its X server share | %.0f / %.0f |\n",
                (demoPct - barePct) * 330, median(pacedDemoServer) * 330);
    std::printf("| at 0.033 s a frame, over bare GL (us of CPU a frame): plain EGL program / its X server share "
                "| %.0f / %.0f |\n",
                (plainPct - barePct) * 330, median(pacedPlainServer) * 330);
    if (waylandSkipped.empty()) {
        double wd = median(waylandDemo), wb = median(surfacelessBare), wp = median(waylandPlain);
        double wdc = median(waylandCompositor), wpc = median(waylandPlainCompositor);
        std::printf("| on Wayland at 0.033 s a frame, CPU (%% of one core): demo / compositor's share"
                    " | %.2f / %.2f |\n",
                    wd, wdc);
        std::printf("| on Wayland at 0.033 s a frame: bare GL on the surfaceless platform | %.2f |\n", wb);
        std::printf("| on Wayland at 0.033 s a frame: plain EGL Wayland program / compositor's share | %.2f / %.2f |\n",
                    wp, wpc);
        std::printf("| on Wayland at 0.033 s a frame, ratio: demo to bare GL | %.3f |\n", wd / wb);
        std::printf("| on Wayland at 0.033 s a frame, ratio: demo and compositor to plain EGL program and compositor "
                    "| %.3f |\n",
                    (wd + wdc) / (wp + wpc));
        std::printf("| on Wayland, over bare GL (us of CPU a frame): demo / compositor's share | %.0f / %.0f |\n",
                    (wd - wb) * 330, wdc * 330);
        std::printf("| on Wayland, over bare GL (us of CPU a frame): plain EGL program / compositor's share "
                    "| %.0f / %.0f |\n",
                    (wp - wb) * 330, wpc * 330);
    } else {
        std::printf("| on Wayland | not measured: %s |\n", waylandSkipped.c_str());
    }
    std::printf("| timer run (s) | %.1f |\n", timed.elapsed);
    std::printf("| frames shown at the 0.033 s timer | %zu of %d due |\n", timed.lateness.size(),
                static_cast<int>(timed.elapsed / timed.period));
    std::printf("| tick lateness median / p99 / worst (ms) | %.3f / %.3f / %.3f |\n", timed.percentile(50),
                timed.percentile(99), timed.worst());
    std::printf("| tick lateness, the timer alone with nothing drawn (%.0f s): median / p99 / worst (ms) "
                "| %.3f / %.3f / %.3f |\n",
                idle.elapsed, idle.percentile(50), idle.percentile(99), idle.worst());
    std::printf("| drift at the end (ms) | %.3f |\n", timed.lastLate * 1000.0);
    std::printf("| CPU at 30 frames a second (%% of one core) | %.2f |\n", timed.cpuShare);
    std::printf("ratio %.3f\n", r.median / b.median);

    pool->release();
    return 0;
}
