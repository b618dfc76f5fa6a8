// SPDX-License-Identifier: MIT
#include "Weston.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <thread>

#include "PngRgb.h"

namespace fs = std::filesystem;

namespace {
// Runs a command with `env` added, output to `log`; returns its pid.
pid_t spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env, const std::string& dir,
            const std::string& log) {
    pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);  // ends with the test, even one that crashed
        int out = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        if (out >= 0) {
            dup2(out, 1);
            dup2(out, 2);
        }
        for (const std::string& e : env) putenv(const_cast<char*>(e.c_str()));
        if (chdir(dir.c_str()) != 0) _exit(126);
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    return pid;
}

}  // namespace

Weston::Weston(int width, int height, const std::string& shell, int scale) {
    std::string dir = (fs::temp_directory_path() / "orvanel-weston-XXXXXX").string();
    if (!mkdtemp(dir.data())) throw std::runtime_error("cannot make a runtime folder for weston");
    mRuntimeDir = dir;  // mode 0700, as a runtime folder must be
    const char* display = std::getenv("DISPLAY");
    std::string backend = display && *display ? "--backend=x11-backend.so" : "--backend=headless-backend.so";
    std::vector<std::string> command{"weston", backend, "--use-pixman", "--debug", "--socket=" + mSocket,
                                     "--width=" + std::to_string(width), "--height=" + std::to_string(height),
                                     "--idle-time=0", "--shell=" + shell};
    if (scale > 1) command.push_back("--scale=" + std::to_string(scale));
    mPid = spawn(command, {"XDG_RUNTIME_DIR=" + mRuntimeDir}, mRuntimeDir, mRuntimeDir + "/weston.log");
    // Ready once its socket is there and a client gets an answer.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (waitpid(mPid, &status, WNOHANG) == mPid) {
            mPid = -1;
            break;
        }
        if (fs::exists(mRuntimeDir + "/" + mSocket)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::string why = "weston did not start (is the weston package installed?)";
    kill();
    throw std::runtime_error(why);
}

bool Weston::screenshot(std::vector<unsigned char>& rgb, int& width, int& height) const {
    for (const auto& entry : fs::directory_iterator(mRuntimeDir))
        if (entry.path().extension() == ".png") fs::remove(entry.path());
    pid_t pid = spawn({"weston-screenshooter"}, {"XDG_RUNTIME_DIR=" + mRuntimeDir, "WAYLAND_DISPLAY=" + mSocket},
                      mRuntimeDir, mRuntimeDir + "/screenshooter.log");
    int status = 0;
    waitpid(pid, &status, 0);
    for (const auto& entry : fs::directory_iterator(mRuntimeDir))
        if (entry.path().extension() == ".png") return readPngRgb(entry.path().string(), rgb, width, height);
    return false;
}

void Weston::kill() {
    if (mPid > 0) {
        ::kill(mPid, SIGTERM);
        int status;
        waitpid(mPid, &status, 0);
        mPid = -1;
    }
}

Weston::~Weston() {
    kill();
    std::error_code ignored;
    fs::remove_all(mRuntimeDir, ignored);
}
