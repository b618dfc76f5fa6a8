// SPDX-License-Identifier: MIT
#pragma once

#include <sys/types.h>

#include <string>

// A private X server for one test program.
class Xvfb {
public:
    // Starts `Xvfb -screen 0 320x480xDEPTH` on a free display and points
    // $DISPLAY at it. Throws std::runtime_error when it cannot.
    explicit Xvfb(int depth = 16, int width = 320, int height = 480);
    ~Xvfb();
    Xvfb(const Xvfb&) = delete;
    Xvfb& operator=(const Xvfb&) = delete;

    const std::string& name() const { return mName; }
    pid_t pid() const { return mPid; }
    int depth() const { return mDepth; }
    // Ends the server now (to test a lost display).
    void kill();

private:
    pid_t mPid = -1;
    int mDepth;
    std::string mName;
};
