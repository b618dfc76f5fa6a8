// SPDX-License-Identifier: MIT
#pragma once

// The program's command line, which the platform reads before the
// application starts. With no options nothing changes.

#include <optional>
#include <string>

namespace UIKitPlatform {

struct Options {
    std::string picture;      // --picture FILE: shown instead of the fixed path
    long frames = 0;          // --frames N: end after N frames shown (0: never)
    double duration = 0;      // --duration SECONDS: end after that long (0: never)
    std::string screenshot;   // --screenshot FILE: the last frame, as a PNG
    bool fullscreen = false;  // --fullscreen
    bool offscreen = false;   // --offscreen: no display at all
    enum class Stats { None, Line, Json } stats = Stats::None;  // --stats[=json]: what the run cost
};

// What the command line asks for: a run with these options, or an answer
// (usage, version) or a usage error, with the text and status to end with.
struct ParsedCommandLine {
    Options options;
    std::optional<int> exitStatus;  // set: print `text` and end
    std::string text;               // on stdout for status 0, stderr otherwise
};

ParsedCommandLine parseCommandLine(int argc, char** argv);

}  // namespace UIKitPlatform
