// SPDX-License-Identifier: MIT
#include "Xvfb.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

Xvfb::Xvfb(int depth, int width, int height) : mDepth(depth) {
    int fds[2];
    if (pipe(fds) != 0) throw std::runtime_error("pipe failed");
    std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x" + std::to_string(depth);
    std::string fd = std::to_string(fds[1]);
    // What it says goes to an unnamed file, read only if it does not start
    // (it warns about every other X server it meets).
    std::string logName = (std::filesystem::temp_directory_path() / "orvanel-xvfb-XXXXXX").string();
    int log = mkstemp(logName.data());
    if (log >= 0) unlink(logName.c_str());
    mPid = fork();
    if (mPid == 0) {
        close(fds[0]);
        // It ends with the test, even one that crashed, and holds none of
        // its output open.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        int null = open("/dev/null", O_RDWR | O_CLOEXEC);
        if (null >= 0) dup2(null, 1);
        if (log >= 0) dup2(log, 2);
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen.c_str(), "-nolisten",
               "tcp", "-noreset", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    std::string number;
    pollfd p{fds[0], POLLIN, 0};
    char c;
    while (poll(&p, 1, 10000) > 0 && read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    close(fds[0]);
    std::string said;
    if (log >= 0) {
        char buf[512];
        ssize_t n;
        if (number.empty() && lseek(log, 0, SEEK_SET) == 0)
            while ((n = read(log, buf, sizeof buf)) > 0) said.append(buf, static_cast<size_t>(n));
        close(log);
    }
    if (number.empty()) {
        kill();
        throw std::runtime_error("Xvfb did not start (is the xvfb package installed?)" +
                                 (said.empty() ? std::string() : ": " + said));
    }
    mName = ":" + number;
    setenv("DISPLAY", mName.c_str(), 1);
}

void Xvfb::kill() {
    if (mPid <= 0) return;
    ::kill(mPid, SIGTERM);
    int status;
    waitpid(mPid, &status, 0);
    mPid = -1;
}

Xvfb::~Xvfb() { kill(); }
