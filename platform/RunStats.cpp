// SPDX-License-Identifier: MIT
#include "RunStats.h"

#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace UIKitPlatform {
namespace {
void cpuSeconds(double& user, double& system) {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    user = static_cast<double>(usage.ru_utime.tv_sec) + usage.ru_utime.tv_usec / 1e6;
    system = static_cast<double>(usage.ru_stime.tv_sec) + usage.ru_stime.tv_usec / 1e6;
}

std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else {
            if (c == '"' || c == '\\') out += '\\';
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}
}  // namespace

void RunStats::frameShown(double now) {
    if (++mFrames == 1) cpuSeconds(mUserStart, mSystemStart);
    if (mLast >= 0) {
        double ms = (now - mLast) * 1000;
        mMax = std::max(mMax, ms);
        auto bin = static_cast<size_t>(std::max(ms, 0.0) * kBinsPerMs);
        if (bin < mBins.size())
            ++mBins[bin];
        else
            mLong.push_back(ms);
    }
    mLast = now;
}

size_t nearestRank(double p, size_t n) {
    return std::max<size_t>(1, static_cast<size_t>(std::ceil(p * static_cast<double>(n) - 1e-9)));
}

RunStats::Summary RunStats::summary() const {
    Summary s;
    s.frames = mFrames;
    s.max = mMax;
    size_t intervals = mFrames > 1 ? static_cast<size_t>(mFrames - 1) : 0;
    std::vector<double> longOnes = mLong;
    std::sort(longOnes.begin(), longOnes.end());
    auto percentile = [&](double p) {
        if (!intervals) return 0.0;
        size_t rank = nearestRank(p, intervals);
        size_t seen = 0;
        // A bin's middle, but never past the longest interval.
        for (size_t b = 0; b < mBins.size(); ++b)
            if ((seen += mBins[b]) >= rank) return std::min((static_cast<double>(b) + 0.5) / kBinsPerMs, mMax);
        return longOnes[rank - seen - 1];
    };
    s.p50 = percentile(0.50);
    s.p95 = percentile(0.95);
    s.p99 = percentile(0.99);
    double user = 0, system = 0;
    cpuSeconds(user, system);
    if (intervals) {
        s.userUs = (user - mUserStart) * 1e6 / static_cast<double>(intervals);
        s.systemUs = (system - mSystemStart) * 1e6 / static_cast<double>(intervals);
    }
    return s;
}

std::string RunStats::line(const Summary& s) {
    char text[512];
    std::snprintf(text, sizeof text,
                  "orvanel: %ld frames in %.2f s; between frames %.1f ms median, %.1f 95th, %.1f 99th, %.1f max; "
                  "CPU %.0f us user and %.0f us system a frame; %lld late, %lld missed; %ld presented (%s, %s)",
                  s.frames, s.seconds, s.p50, s.p95, s.p99, s.max, s.userUs, s.systemUs, s.lateTicks, s.missedTicks,
                  s.presented,
                  s.backend.c_str(), s.renderer.empty() ? "no renderer" : s.renderer.c_str());
    return text;
}

std::string RunStats::json(const Summary& s) {
    char text[512];
    std::snprintf(text, sizeof text,
                  "{\"frames\":%ld,\"seconds\":%.3f,\"late_ticks\":%lld,\"missed_ticks\":%lld,"
                  "\"frame_ms\":{\"p50\":%.3f,\"p95\":%.3f,\"p99\":%.3f,\"max\":%.3f},"
                  "\"cpu_us_per_frame\":{\"user\":%.1f,\"system\":%.1f},\"presented\":%ld,",
                  s.frames, s.seconds, s.lateTicks, s.missedTicks, s.p50, s.p95, s.p99, s.max, s.userUs, s.systemUs,
                  s.presented);
    return text + std::string("\"backend\":") + quoted(s.backend) + ",\"renderer\":" + quoted(s.renderer) + "}";
}

}  // namespace UIKitPlatform
