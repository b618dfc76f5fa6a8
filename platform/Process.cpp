// SPDX-License-Identifier: MIT
// The signal handlers' state is the one state of the program kept at file
// scope: a handler has no object to reach.
#include "Process.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>

namespace process {
namespace {

int gStopPipe[2] = {-1, -1};
volatile sig_atomic_t gPrepared = false;  // by the program's own start: handlers stay to the end
volatile sig_atomic_t gOwed = 0;
// The deadline: a timer whose signal carries its own code, so that a SIGALRM
// someone sends cannot pass for it.
timer_t gDeadline{};
volatile sig_atomic_t gWriting = false;  // the screenshot, through gTemporary
char gTemporary[4096];

void say(const char* text) {
    size_t n = 0;
    while (text[n]) ++n;
    ssize_t ignored = write(2, text, n);
    (void)ignored;
}

// Only async-signal-safe work: what is owed, on one line, and the end.
[[noreturn]] void onDeadline() {
    bool writing = gWriting;
    if (writing && gTemporary[0]) unlink(gTemporary);
    unsigned owed = static_cast<unsigned>(gOwed);
    if (!owed) _exit(0);
    say(writing ? "orvanel: the screenshot was cut off by the deadline"
                : "orvanel: the display server stopped answering");
    const char* sep = "; not delivered: ";
    for (auto [bit, what] : {std::pair{kAnyFrame, "any frame"}, {kClosingLine, "the closing line"},
                             {kSummary, "the --stats summary"}, {kScreenshot, "the screenshot"}})
        if (owed & bit) {
            say(sep);
            say(what);
            sep = ", ";
        }
    say("\n");
    _exit(1);
}

// The run loop reads the pipe and stops; a display server that does not let
// it is cut off a second later.
void onStop(int) {
    int saved = errno;
    char byte = 1;
    ssize_t ignored = write(gStopPipe[1], &byte, 1);
    (void)ignored;
    if (gPrepared) endWithin(1);
    errno = saved;
}

void onAlarm(int sig, siginfo_t* info, void*) {
    if (info->si_code == SI_TIMER) onDeadline();
    onStop(sig);
}

void catchStops() {
    if (gStopPipe[0] >= 0 || pipe2(gStopPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    struct sigaction sa {};
    sa.sa_handler = onStop;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &sa, nullptr);
    sa.sa_sigaction = onAlarm;
    sa.sa_flags = SA_RESTART | SA_SIGINFO;
    sigaction(SIGALRM, &sa, nullptr);
}

// Signals held off while the main thread changes what a handler reads.
class Held {
public:
    Held() {
        sigset_t all;
        sigfillset(&all);
        pthread_sigmask(SIG_BLOCK, &all, &mOld);
    }
    ~Held() { pthread_sigmask(SIG_SETMASK, &mOld, nullptr); }

private:
    sigset_t mOld;
};

}  // namespace

void prepare() {
    // Descriptors 0 to 2 exist before anything opens a file or a connection,
    // so that no diagnostic can land in one. Those below it are open by then,
    // so that the lowest free descriptor open() takes is the missing one.
    for (int fd = 0; fd <= 2; ++fd)
        if (fcntl(fd, F_GETFD) < 0 && errno == EBADF) open("/dev/null", O_RDWR);
    // Every finished line reaches the log, however the process ends.
    setvbuf(stdout, nullptr, _IOLBF, 0);
    // A reader that goes away (orvanel | head -1) does not end the demo:
    // what it would have read is dropped.
    signal(SIGPIPE, SIG_IGN);
    sigevent event{};
    event.sigev_notify = SIGEV_SIGNAL;
    event.sigev_signo = SIGALRM;
    if (timer_create(CLOCK_MONOTONIC, &event, &gDeadline) != 0) return;
    gPrepared = true;
    catchStops();
}

int stopSignals() {
    catchStops();
    return gStopPipe[0];
}

void drainStopSignals() {
    char bytes[16];
    while (gStopPipe[0] >= 0 && read(gStopPipe[0], bytes, sizeof bytes) > 0) {
    }
}

void releaseStopSignals() {
    if (gPrepared || gStopPipe[0] < 0) return;
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGALRM}) signal(sig, SIG_DFL);
    for (int& fd : gStopPipe) close(fd), fd = -1;
}

void owe(unsigned what) {
    Held held;
    gOwed = static_cast<sig_atomic_t>(static_cast<unsigned>(gOwed) | what);
}

void delivered(unsigned what) {
    Held held;
    gOwed = static_cast<sig_atomic_t>(static_cast<unsigned>(gOwed) & ~what);
}

// Async-signal-safe: the stop signal's handler sets the end too.
void endWithin(double seconds) {
    if (!gPrepared) return;
    Held held;
    itimerspec left{};
    timer_gettime(gDeadline, &left);
    seconds = std::clamp(seconds, 0.001, 1e9);  // a run of any length the command line takes
    double whole = std::floor(seconds);
    timespec wanted{static_cast<time_t>(whole), static_cast<long>((seconds - whole) * 1e9)};
    bool set = left.it_value.tv_sec || left.it_value.tv_nsec;
    bool sooner = set && (left.it_value.tv_sec < wanted.tv_sec ||
                          (left.it_value.tv_sec == wanted.tv_sec && left.it_value.tv_nsec <= wanted.tv_nsec));
    if (!sooner) {
        itimerspec at{};
        at.it_value = wanted;
        timer_settime(gDeadline, 0, &at, nullptr);
    }
}

void writingScreenshot(bool writing) {
    Held held;
    gTemporary[0] = '\0';
    gWriting = writing;
}

void screenshotTemporary(const std::string& path) {
    Held held;
    gTemporary[path.copy(gTemporary, sizeof gTemporary - 1)] = '\0';
}

}  // namespace process
