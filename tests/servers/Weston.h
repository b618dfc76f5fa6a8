// SPDX-License-Identifier: MIT
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

// A private Wayland compositor (weston, software rendering) for one test
// program, in a runtime folder of its own. Nested in the X server $DISPLAY
// names when there is one (so that XTest reaches its seat), headless
// otherwise.
class Weston {
public:
    // Throws std::runtime_error when it does not start. A `scale` above 1
    // gives its output that scale, as a screen of many dots per inch has:
    // then the output is width x height of its own units, `scale` times as
    // many pixels each way.
    Weston(int width, int height, const std::string& shell = "kiosk-shell.so", int scale = 1);
    ~Weston();
    Weston(const Weston&) = delete;
    Weston& operator=(const Weston&) = delete;

    // WAYLAND_DISPLAY and XDG_RUNTIME_DIR for its clients.
    const std::string& socket() const { return mSocket; }
    const std::string& runtimeDir() const { return mRuntimeDir; }
    pid_t pid() const { return mPid; }
    // Its output as 8-bit RGB rows (weston-screenshooter), or empty.
    bool screenshot(std::vector<unsigned char>& rgb, int& width, int& height) const;
    // Ends the compositor now (to test a lost one).
    void kill();

private:
    pid_t mPid = -1;
    std::string mRuntimeDir;
    std::string mSocket = "orvanel-test";
};
