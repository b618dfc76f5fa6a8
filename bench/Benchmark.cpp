// SPDX-License-Identifier: MIT
#include "Session.h"

#include "Benchmark.h"

#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "BackToBack.h"
#include "Measure.h"
#include "Paced.h"
#include "Soak.h"
#include "Startup.h"
#include "TestGLView.h"
#include "TimerRun.h"
#include "UIKit.h"
#include "Xvfb.h"

namespace bench {

namespace {
// The in-process view's picture, in a file with no name: nothing is left
// behind however the run ends.
class PictureFile {
public:
    explicit PictureFile(const std::vector<uint8_t>& picture) : mFd(servers::unnamedFile()) {
        if (mFd >= 0 && write(mFd, picture.data(), picture.size()) == static_cast<ssize_t>(picture.size()))
            mPath = "/proc/self/fd/" + std::to_string(mFd);
        TestGLView::picturePath = mPath.c_str();
    }
    ~PictureFile() {
        TestGLView::picturePath = TestGLView::kPicturePath;
        if (mFd >= 0) close(mFd);
    }
    PictureFile(const PictureFile&) = delete;
    PictureFile& operator=(const PictureFile&) = delete;

private:
    int mFd;
    std::string mPath;
};

struct Results {
    bool ownCore = false;
    BackToBack backToBack;
    Memory memory;
    Startup startup;
    Paced paced;
    TimerRun timed, idle;
};

void printTable(const Results& r) {
    std::printf("\n| measure | value |\n|---|---|\n");
    std::printf("| the X server's core | %s |\n", r.ownCore ? "its own" : "shared with the frames");
    printBackToBack(r.backToBack);
    printMemory(r.memory);
    printStartupRows(r.startup);
    printPaced(r.paced);
    printTimer(r.timed, r.idle);
    std::printf("ratio %.3f\n", r.backToBack.real.median / r.backToBack.bare.median);
}

// What runs in this process, on the X server: back to back, memory, the
// timer; or the soak alone.
int runInProcess(const RunOptions& options, Results& results, const std::vector<uint8_t>& picture) {
    NSAutoreleasePool* pool = alloc<NSAutoreleasePool>()->init();
    UIKitPlatform::Session session;
    if (std::string error; !session.start(error)) {
        std::fprintf(stderr, "bench: cannot open the display: %s\n", error.c_str());
        return 1;
    }
    std::fflush(stdout);
    RealPath real;
    if (options.soakFrames > 0) {
        soak(real, options.soakFrames);
    } else {
        results.backToBack = runBackToBack(real, picture.data(), options.quick ? 300 : 3000);
        results.memory = measureMemory(real, options.quick ? 5000 : 100000);
        // The real timer, after the same timer with nothing drawn.
        const double seconds = options.quick ? 3 : 60;
        results.idle = runTimer(nullptr, seconds / 3);
        results.timed = runTimer(&real, seconds);
        printTable(results);
    }
    pool->release();
    return 0;
}
}  // namespace

int runBenchmark(const RunOptions& options) {
    Xvfb server(16);
    const std::vector<uint8_t> picture = testPicture();
    PictureFile file(picture);
    Results results;
    if (options.soakFrames == 0) {
        results.startup = measureStartup(options.startupOnly ? 10 : 5);
        if (options.startupOnly) {
            printStartupLine(results.startup);
            return 0;
        }
        results.paced = measurePaced(server.pid(), options.quick ? 1 : 3, options.quick ? 2 : 6);
    }
    results.ownCore = giveServerItsOwnCore(server.pid());
    return runInProcess(options, results, picture);
}

}  // namespace bench
