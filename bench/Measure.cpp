// SPDX-License-Identifier: MIT
#include "Measure.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "RunStats.h"
#include "Xvfb.h"

namespace bench {

namespace {
double seconds(clockid_t clock) {
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}
}  // namespace

double wall() { return seconds(CLOCK_MONOTONIC); }

double cpu() { return seconds(CLOCK_PROCESS_CPUTIME_ID); }

double residentMiB() {
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

double cpuOf(pid_t pid) {
    long long sum = 0;
    std::error_code error;
    for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", error)) {
        long long ns = 0;
        if (FILE* f = std::fopen((task.path() / "schedstat").c_str(), "r")) {
            if (std::fscanf(f, "%lld", &ns) != 1) ns = 0;
            std::fclose(f);
        }
        sum += ns;
    }
    return static_cast<double>(sum) * 1e-9;
}

double percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[UIKitPlatform::nearestRank(p / 100.0, values.size()) - 1];
}

double median(const std::vector<double>& values) { return percentile(values, 50); }

Stats summarise(std::vector<double> ms, double cpuSeconds) {
    std::sort(ms.begin(), ms.end());
    return Stats{ms.front(), percentile(ms, 50), percentile(ms, 99),
                 cpuSeconds * 1000.0 / static_cast<double>(ms.size())};
}

pid_t launch(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
    int nowhere = open("/dev/null", O_WRONLY | O_CLOEXEC);
    pid_t pid = servers::spawn(argv, env, ".", nowhere, [] {
        // What `env` says comes first.
        setenv("LP_NUM_THREADS", "0", 0);
        return true;
    });
    if (nowhere >= 0) close(nowhere);
    return pid;
}

void stop(pid_t pid) {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
}

std::string demoBinary() {
    const char* chosen = std::getenv("ORVANEL_BENCH_DEMO");
    return chosen && *chosen ? chosen : ORVANEL_BINARY;
}

std::string selfPath() {
    std::error_code error;
    return std::filesystem::read_symlink("/proc/self/exe", error).string();
}

std::vector<uint8_t> testPicture() {
    std::vector<uint8_t> picture(128 * 128 * 3);
    for (size_t i = 0; i < picture.size(); ++i) picture[i] = static_cast<uint8_t>(i * 31);
    return picture;
}

WithoutX::WithoutX() {
    const char* display = std::getenv("DISPLAY");
    mDisplay = display ? display : "";
    unsetenv("DISPLAY");
}

WithoutX::~WithoutX() { setenv("DISPLAY", mDisplay.c_str(), 1); }

}  // namespace bench
