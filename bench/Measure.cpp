// SPDX-License-Identifier: MIT
// What every part measures with (clocks, the CPU and memory a process used,
// percentiles) and how it starts the programs it measures.
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "Bench.h"
#include "RunStats.h"
#include "Xvfb.h"

namespace bench {

std::string format(const char* f, ...) {
    va_list args, again;
    va_start(args, f);
    va_copy(again, args);
    std::string text(static_cast<size_t>(std::max(std::vsnprintf(nullptr, 0, f, args), 0)), '\0');
    std::vsnprintf(text.data(), text.size() + 1, f, again);
    va_end(again);
    va_end(args);
    return text;
}

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

std::string demoBinary() {
    const char* chosen = std::getenv("ORVANEL_BENCH_DEMO");
    return chosen && *chosen ? chosen : ORVANEL_BINARY;
}

std::vector<uint8_t> testPicture() {
    std::vector<uint8_t> picture(128 * 128 * 3);
    for (size_t i = 0; i < picture.size(); ++i) picture[i] = static_cast<uint8_t>(i * 31);
    return picture;
}

}  // namespace bench
