// SPDX-License-Identifier: MIT
#include "Xvfb.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

Xvfb::Xvfb(int depth, int width, int height) : mDepth(depth) {
    int fds[2];
    if (pipe(fds) != 0) throw std::runtime_error("pipe failed");
    std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x" + std::to_string(depth);
    std::string fd = std::to_string(fds[1]);
    mPid = fork();
    if (mPid == 0) {
        close(fds[0]);
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
    if (number.empty()) {
        kill();
        throw std::runtime_error("Xvfb did not start (is the xvfb package installed?)");
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
