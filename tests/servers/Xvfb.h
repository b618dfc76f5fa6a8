// SPDX-License-Identifier: MIT
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace servers {

// Starts `argv` in `dir` with `env` (NAME=VALUE) added and its output to
// `log`, after `inChild` (which may stop it); it ends with the test, even
// one that crashed.
inline pid_t spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env, const std::string& dir,
                   int log, const std::function<bool()>& inChild = {}) {
    pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        dup2(log, 1);
        dup2(log, 2);
        for (const std::string& e : env) putenv(const_cast<char*>(e.c_str()));
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        if ((!inChild || inChild()) && chdir(dir.c_str()) == 0) execvp(args[0], args.data());
        _exit(127);
    }
    return pid;
}

inline void stop(pid_t& pid) {
    if (pid > 0 && ::kill(pid, SIGTERM) == 0) waitpid(pid, nullptr, 0);
    pid = -1;
}

// What a server said into `log`, for the message when it does not start.
inline std::string said(int log) {
    std::string text(4096, '\0');
    text.resize(static_cast<size_t>(std::max<ssize_t>(pread(log, text.data(), text.size(), 0), 0)));
    return text.empty() ? text : ": " + text;
}

inline int unnamedFile() {
    return open(std::filesystem::temp_directory_path().c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
}

}  // namespace servers

// A private X server for one test program.
class Xvfb {
public:
    // Starts `Xvfb -screen 0 WIDTHxHEIGHTxDEPTH` on a free display and
    // points $DISPLAY at it, having run `inChild` in its process. Throws
    // std::runtime_error when it cannot.
    explicit Xvfb(int depth = 16, int width = 320, int height = 480, const std::function<bool()>& inChild = {}) {
        int fds[2], log = servers::unnamedFile();
        if (pipe(fds) != 0) throw std::runtime_error("pipe failed");
        std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x" + std::to_string(depth);
        mPid = servers::spawn({"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", screen, "-nolisten", "tcp",
                               "-noreset"},
                              {}, "/", log, inChild);
        close(fds[1]);
        pollfd p{fds[0], POLLIN, 0};
        char c;
        while (poll(&p, 1, 10000) > 0 && read(fds[0], &c, 1) == 1 && c != '\n') mName += c;
        close(fds[0]);
        std::string why = "Xvfb did not start (is the xvfb package installed?)" + servers::said(log);
        close(log);
        if (mName.empty()) {
            kill();
            throw std::runtime_error(why);
        }
        mName = ":" + mName;
        setenv("DISPLAY", mName.c_str(), 1);
    }
    ~Xvfb() { kill(); }
    Xvfb(const Xvfb&) = delete;
    Xvfb& operator=(const Xvfb&) = delete;

    const std::string& name() const { return mName; }
    pid_t pid() const { return mPid; }
    // Ends the server now (to test a lost display).
    void kill() { servers::stop(mPid); }

private:
    pid_t mPid = -1;
    std::string mName;
};
