// SPDX-License-Identifier: MIT
#pragma once

// What the benchmark's parts share: what they measure with, how they start
// programs, bare GL, and each part's entry. A part adds its rows, formatted,
// to the table in the table's order.

#include <sys/types.h>

#include <EGL/egl.h>

#include <cstdint>
#include <string>
#include <vector>

class UIGLCameraView;

namespace bench {

using Rows = std::vector<std::string>;
// printf's format, as a string.
std::string format(const char* f, ...) __attribute__((format(printf, 1, 2)));

// Seconds: the monotonic clock, and this process's CPU.
double wall();
double cpu();
// This process's resident set.
double residentMiB();
// The CPU of every thread of a process so far, in seconds: schedstat counts
// in nanoseconds where /proc/PID/stat counts in ticks of 10 ms.
double cpuOf(pid_t pid);
// The p-th percentile (0 < p <= 100) by the platform's nearest-rank rule (the
// 100th is the largest); 0 when there are no values.
double percentile(std::vector<double> values, double p);
inline double median(const std::vector<double>& values) { return percentile(values, 50); }

// Starts a program with its output thrown away, `env` (NAME=VALUE) added to
// its environment, drawing on one thread as the demo does unless told.
pid_t launch(const std::vector<std::string>& argv, const std::vector<std::string>& env = {});
// The demo measured: $ORVANEL_BENCH_DEMO when set, the one built beside.
std::string demoBinary();
// This program, to start its baselines: a fork is still this program there.
inline const std::string kSelf = "/proc/self/exe";
// The 128 x 128 RGB picture the bare GL frames and the in-process demo view
// draw on the cube.
std::vector<uint8_t> testPicture();

// The demo's frame with nothing of the platform around it: its GL calls (the
// camera's matrices, the depth test, the clear, the cube) into a 320 x 480
// pbuffer of the demo's configuration, ended with glFinish; or, given a
// window (for eglCreatePlatformWindowSurface), into it, ended with
// eglSwapBuffers, as a plain EGL program would draw.
class BareGL {
public:
    explicit BareGL(const uint8_t* picture, EGLDisplay display = eglGetDisplay(EGL_DEFAULT_DISPLAY),
                    void* window = nullptr);
    ~BareGL();
    BareGL(const BareGL&) = delete;
    BareGL& operator=(const BareGL&) = delete;

    // False too when the surface or the context could not be made.
    bool makeCurrent() { return mSurface != EGL_NO_SURFACE && eglMakeCurrent(mDisplay, mSurface, mSurface, mContext); }
    void release() { eglMakeCurrent(mDisplay, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT); }
    void frame();

private:
    EGLDisplay mDisplay;
    EGLSurface mSurface = EGL_NO_SURFACE;
    EGLContext mContext = EGL_NO_CONTEXT;
    bool mSwap;
    UIGLCameraView* mCamera;
    const uint8_t* mPicture;
};

// The baselines as programs of their own, drawing at the demo's pace for
// `frames` frames or for ever (0): bare GL into a pbuffer (--bare-paced), or
// a plain EGL program's window on X (--plain-window) or on Wayland
// (--plain-wayland). The exit status.
enum class Plain { Pbuffer, XWindow, Wayland };
int plainProgram(Plain kind, long frames);

// How soon the first frame shows, the demo's and a plain EGL window
// program's: its rows, or alone (--startup) its line printed.
void startup(bool alone, Rows& rows);
// The CPU at the demo's own pace of the demo, bare GL and a plain EGL program
// and the display server's share, on the X server `server` and on a headless
// weston: `rounds` rounds of `seconds` each.
void paced(pid_t server, int rounds, double seconds, Rows& rows);
// What runs in this process on the X server `server`: the table printed, the
// programs' rows (start-up and paced) in their place; or the soak alone. The
// exit status.
int inProcess(pid_t server, bool quick, long soakFrames, const Rows& programs);
// --window-sizes: `rounds` rounds; prints its table. The exit status.
int windowSizes(int rounds);

}  // namespace bench
