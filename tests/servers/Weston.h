// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <thread>

#include "PngRgb.h"
#include "Xvfb.h"

// A private Wayland compositor (weston, software rendering) for one test
// program, in a runtime folder of its own. Nested in the X server $DISPLAY
// names when there is one (so that XTest reaches its seat), headless
// otherwise.
class Weston {
public:
    // Throws std::runtime_error when it does not start. A `scale` above 1
    // gives its output that scale, as a screen of many dots per inch has:
    // then the output is width x height of its own units, `scale` times as
    // many pixels each way. `headless`: on no X server even if there is one.
    Weston(int width, int height, const std::string& shell = "kiosk-shell.so", int scale = 1, bool headless = false) {
        mRuntimeDir = (std::filesystem::temp_directory_path() / "orvanel-weston-XXXXXX").string();
        if (!mkdtemp(mRuntimeDir.data())) throw std::runtime_error("cannot make a runtime folder for weston");
        const char* display = std::getenv("DISPLAY");
        headless = headless || !display || !*display;
        mPid = servers::spawn({"weston", headless ? "--backend=headless-backend.so" : "--backend=x11-backend.so",
                               "--use-pixman", "--debug", "--socket=" + mSocket, "--width=" + std::to_string(width),
                               "--height=" + std::to_string(height), "--idle-time=0", "--shell=" + shell,
                               "--scale=" + std::to_string(scale)},
                              {"XDG_RUNTIME_DIR=" + mRuntimeDir}, mRuntimeDir, mLog);
        // Ready once its socket is there and a client gets an answer.
        for (int tries = 0; tries < 500 && waitpid(mPid, nullptr, WNOHANG) == 0; ++tries) {
            if (std::filesystem::exists(mRuntimeDir + "/" + mSocket)) {
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        std::string why = "weston did not start (is the weston package installed?)" + servers::said(mLog);
        end();
        throw std::runtime_error(why);
    }
    ~Weston() { end(); }
    Weston(const Weston&) = delete;
    Weston& operator=(const Weston&) = delete;

    // WAYLAND_DISPLAY and XDG_RUNTIME_DIR for its clients.
    const std::string& socket() const { return mSocket; }
    const std::string& runtimeDir() const { return mRuntimeDir; }
    // A client's environment: this compositor and no X server.
    std::vector<std::string> environment() const {
        return {"DISPLAY=", "WAYLAND_DISPLAY=" + mSocket, "XDG_RUNTIME_DIR=" + mRuntimeDir};
    }
    pid_t pid() const { return mPid; }
    // Its output (weston-screenshooter), or empty.
    Rgb screenshot() const {
        for (const auto& entry : std::filesystem::directory_iterator(mRuntimeDir))
            if (entry.path().extension() == ".png") std::filesystem::remove(entry.path());
        pid_t pid = servers::spawn({"weston-screenshooter"}, environment(), mRuntimeDir, mLog);
        waitpid(pid, nullptr, 0);
        for (const auto& entry : std::filesystem::directory_iterator(mRuntimeDir))
            if (entry.path().extension() == ".png") return readPng(entry.path().string());
        return {};
    }
    // Ends the compositor now (to test a lost one).
    void kill() { servers::stop(mPid); }

private:
    void end() {
        kill();
        close(mLog);
        std::error_code ignored;
        std::filesystem::remove_all(mRuntimeDir, ignored);
    }
    pid_t mPid = -1;
    int mLog = servers::unnamedFile();
    std::string mRuntimeDir;
    std::string mSocket = "orvanel-test";
};
