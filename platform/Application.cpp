// SPDX-License-Identifier: MIT
// The run: the command line, the choice of picture, the session, and what a
// run ends with (the closing line, the summary, the screenshot, its status).
#include <EGL/egl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>

#include "CommandLine.h"
#include "Picture.h"
#include "Process.h"
#include "Screenshot.h"
#include "Session.h"
#include "UIKit.h"

namespace {
using UIKitPlatform::Options;
using UIKitPlatform::Session;

// Says why the run failed, on standard error; the status that says so.
int fail(const std::string& why, int status = 1) {
    std::fprintf(stderr, "orvanel: %s\n", why.c_str());
    return status;
}

// The picture the user named must be shown, or nothing is; one of their own
// made by the picture tool stands in for the device's fixed path. The
// screenshot never replaces the picture shown. Nonzero: the status to end
// with, having said why.
int choosePicture(const Options& options) {
    std::string picture = options.picture;
    if (std::string error; !picture.empty() && !picture::usable(picture, error)) return fail(error);
    struct stat st {};
    if (picture.empty() && !picture::userPath().empty() && lstat(picture::userPath().c_str(), &st) == 0)
        picture = picture::userPath();
    if (!picture.empty()) NSUserDefaults::standardUserDefaults()->_setStringForKey(picture, "picture");
    std::string shown = !picture.empty()                           ? picture
                        : lstat(picture::kSystemPath, &st) == 0 ? picture::kSystemPath
                                                                 : NSBundle::mainBundle()->pathForResource("tesmor", "raw");
    if (!options.screenshot.empty() && picture::sameFile(shown, options.screenshot))
        return fail(options.screenshot + " is the picture shown; name another file for --screenshot", 2);
    return 0;
}

// What the run owes the user should the display server stop answering:
// what was asked for, and then frames for it (a plain run asks for none).
void oweWhatWasAsked(const Options& options) {
    unsigned owed = (options.frames || options.duration ? process::kClosingLine : 0) |
                    (options.stats != Options::Stats::None ? process::kSummary : 0) |
                    (options.screenshot.empty() ? 0 : process::kScreenshot);
    process::owe(owed ? owed | process::kAnyFrame : 0);
}

// The end of a run the command line bounded.
class RunSummary : public NSObject {
public:
    void finish() { NSRunLoop::mainRunLoop()->stop(0); }
};

// Where the run's counts started, and when its run loop ended: the closing
// line and the summary give the run the same length.
struct RunStart {
    double time = NSRunLoop::mainRunLoop()->now(), ended = time;
    long long late = NSRunLoop::mainRunLoop()->lateTicks(), due = NSRunLoop::mainRunLoop()->dueTicks();
};

// --frames, --duration: what the run did, on one line.
void printClosingLine(const Session& session, const RunStart& start) {
    NSRunLoop* loop = NSRunLoop::mainRunLoop();
    long drawn = session.framesDrawn();
    std::printf("orvanel: %ld frame%s shown in %.2f s, %lld late\n", drawn, drawn == 1 ? "" : "s",
                start.ended - start.time, loop->lateTicks() - start.late);
}

// --stats: one line, or one JSON object on a line of its own.
void printStats(Session& session, const RunStart& start) {
    UIKitPlatform::RunStats::Summary s = session.stats()->summary();
    NSRunLoop* loop = NSRunLoop::mainRunLoop();
    // What the window system has done by now is all it will say it showed.
    session.sync();
    s.seconds = start.ended - start.time;
    s.lateTicks = loop->lateTicks() - start.late;
    // The first frame comes before any tick; each later one is a tick's.
    s.missedTicks = std::max(0ll, loop->dueTicks() - start.due - std::max(0l, s.frames - 1));
    for (UIWindow* w : session.windows()) s.presented += w->_framesPresented();
    // A window shown again after it was covered is no new frame.
    s.presented = std::min(s.presented, s.frames);
    s.backend = session.backend() ? session.backend()->name() : "none";
    s.renderer = session.surfaces().renderer();
    bool json = session.options().stats == Options::Stats::Json;
    std::printf("%s\n", (json ? UIKitPlatform::RunStats::json(s) : UIKitPlatform::RunStats::line(s)).c_str());
}

// What EGL says of itself when nothing could be drawn.
std::string whyNothingWasDrawn() {
    EGLDisplay display = eglGetDisplay(EGL_DEFAULT_DISPLAY);
    if (display == EGL_NO_DISPLAY) return "EGL has no display here (is Mesa's libegl-mesa0 installed?)";
    if (!eglInitialize(display, nullptr, nullptr)) {
        char code[16];
        std::snprintf(code, sizeof code, "0x%04x", eglGetError());
        // Mesa's EGL also fails so on a screen it has no configuration for.
        return std::string("EGL could not be initialised (error ") + code +
               "; are Mesa's drivers installed, and is the screen one they draw for?)";
    }
    return "GL drew none of them (see the messages above)";
}

// The last frame the key window showed, as a PNG; false when it cannot be
// written (said on standard error).
bool writeScreenshot(const Session& session, const std::string& path) {
    UIWindow* window = session.keyWindow() ? session.keyWindow()
                       : session.windows().empty() ? nullptr
                                                   : session.windows().front();
    int width = static_cast<int>(UIHardware::kScreenWidth), height = static_cast<int>(UIHardware::kScreenHeight);
    std::string error;
    std::vector<uint16_t> pixels = UIKitPlatform::snapshot(window ? window->contentView() : nullptr, width, height);
    process::writingScreenshot(true);
    bool written = UIKitPlatform::writePng565(path, pixels, width, height, error, process::screenshotTemporary);
    process::writingScreenshot(false);
    if (!written) return fail(error), false;
    process::delivered(process::kScreenshot);
    return true;
}

// The application's run, from its making to its termination; its status.
int run(Session& session, Class applicationClass) {
    const Options& options = session.options();
    RunStart start;
    if (options.duration) {
        RunSummary* summary = alloc<RunSummary>();
        NSTimer::scheduledTimerWithTimeInterval(options.duration, summary, &RunSummary::finish, nullptr, false);
        summary->release();  // the timer's now
        // Due then, whatever the display server does meanwhile.
        process::endWithin(options.duration + 1);
    }
    UIApplication* app = applicationClass.create();
    if (app) app = app->init();
    if (!app) return 1;
    app->applicationDidFinishLaunching(app);
    int status = NSRunLoop::mainRunLoop()->run();
    start.ended = NSRunLoop::mainRunLoop()->now();
    // The end is due: what is left to say and write is owed within a second.
    process::endWithin(1);
    if (options.frames || options.duration) printClosingLine(session, start);
    process::delivered(process::kClosingLine);
    if (session.stats()) printStats(session, start);
    process::delivered(process::kSummary);
    // The view carries on when GL cannot draw, as on the device; the run
    // does not count as one that worked, and leaves no picture of nothing.
    if (session.framesShown() > 0 && session.framesDrawn() == 0)
        status = fail("no frame could be drawn: " + whyNothingWasDrawn());
    else if (!options.screenshot.empty() && !writeScreenshot(session, options.screenshot) && status == 0)
        status = 1;
    app->applicationWillTerminate();
    app->release();
    return status;
}
}  // namespace

int UIApplicationMain(int argc, char** argv, Class applicationClass) {
    UIKitPlatform::ParsedCommandLine command = UIKitPlatform::parseCommandLine(argc, argv);
    if (command.exitStatus) {
        std::fputs(command.text.c_str(), *command.exitStatus == 0 ? stdout : stderr);
        return *command.exitStatus;
    }
    if (int status = choosePicture(command.options)) return status;
    oweWhatWasAsked(command.options);
    Session session(command.options);
    if (std::string error; !session.start(error)) return fail(error);
    return run(session, applicationClass);
}
