// SPDX-License-Identifier: MIT
#include "CommandLine.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <utility>

#ifndef ORVANEL_VERSION
#define ORVANEL_VERSION "unknown"
#endif

namespace UIKitPlatform {
namespace {

const char kUsage[] =
    "usage: orvanel [OPTION]... [PICTURE]\n"
    "Shows a spinning, lit, textured cube that you turn (left button or one finger),\n"
    "zoom (middle button or two fingers) and pan (right button or three fingers).\n"
    "\n"
    "  --picture FILE      show FILE (a PNG, or 49,152 bytes of raw RGB); the same as\n"
    "                      naming it alone. Otherwise the picture orvanel-picture\n"
    "                      made for you ($XDG_DATA_HOME/orvanel/tesmor.raw) is shown,\n"
    "                      else /private/var/tesmor.raw, else the sample\n"
    "  --frames N          end after N frames shown\n"
    "  --duration SECONDS  end after that many seconds\n"
    "  --screenshot FILE   at the end, write the last frame shown to FILE as a PNG\n"
    "  --fullscreen        start full screen (F11 toggles it)\n"
    "  --offscreen         draw with no display at all (for --screenshot)\n"
    "  --stats[=json]      at the end, say what the frames cost: the time between\n"
    "                      them, CPU per frame (from the first frame shown), late\n"
    "                      and missed ticks, frames presented\n"
    "  --help              show this help and end\n"
    "  --version           show the version and end\n"
    "\n"
    "Esc, q, Ctrl-Q, closing the window, SIGINT, SIGTERM or SIGHUP end it. It runs\n"
    "on Wayland when WAYLAND_DISPLAY names a compositor that answers, on X11\n"
    "through DISPLAY otherwise; ORVANEL_BACKEND=x11 or wayland forces one. Exit\n"
    "status: 0 when it ends as asked; 1 when no display can be opened or it is\n"
    "lost, the picture named cannot be shown, no frame could be drawn, the\n"
    "screenshot cannot be written or the display server stopped answering before\n"
    "what was asked was delivered; 2 for a bad command line. See orvanel(6).\n";

ParsedCommandLine usageError(const std::string& why) {
    return {.options = {}, .exitStatus = 2, .text = "orvanel: " + why + "\nTry 'orvanel --help' for the options.\n"};
}

// Decimal digits, a point and an exponent only: strtol and strtod would skip
// blanks and take hexadecimal, "inf" and "nan".
template <class T, class Parse>
bool positive(const char* text, T& out, Parse parse) {
    if (std::strspn(text, "0123456789.eE+-") != std::strlen(text)) return false;
    errno = 0;
    char* end = nullptr;
    T v = parse(text, &end);
    if (errno || end == text || *end || !std::isfinite(static_cast<double>(v)) || v <= 0) return false;
    out = v;
    return true;
}

}  // namespace

ParsedCommandLine parseCommandLine(int argc, char** argv) {
    ParsedCommandLine parsed;
    Options& o = parsed.options;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::string value;
        bool inlineValue = false;
        // A plain argument is the picture, as if named by --picture.
        if (optionsEnded || arg == "-" || arg.rfind("-", 0) != 0) {
            if (arg.empty()) return usageError("the picture's name is empty");
            value = std::exchange(arg, "--picture");
            inlineValue = true;
        } else if (arg == "--") {
            optionsEnded = true;
            continue;
        } else if (size_t eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg.erase(eq);
            inlineValue = true;
        }
        bool missing = false;
        auto takesValue = [&]() -> bool {
            if (inlineValue) return true;
            if (i + 1 >= argc) return !(missing = true);
            value = argv[++i];
            return true;
        };
        bool flag = arg == "--help" || arg == "-h" || arg == "--version" || arg == "--fullscreen" ||
                    arg == "--offscreen";
        if (flag && inlineValue) return usageError("option '" + arg + "' takes no value");
        if (arg == "--help" || arg == "-h" || arg == "--version")
            return {.options = {}, .exitStatus = 0,
                    .text = arg == "--version" ? std::string("orvanel ") + ORVANEL_VERSION + "\n" : kUsage};
        if (arg == "--stats") {
            if (inlineValue && value != "json")
                return usageError("option '--stats' takes no value or 'json', not '" + value + "'");
            o.stats = inlineValue ? Options::Stats::Json : Options::Stats::Line;
        } else if (arg == "--fullscreen" || arg == "--offscreen") {
            (arg == "--fullscreen" ? o.fullscreen : o.offscreen) = true;
        } else if (arg == "--picture" || arg == "--screenshot") {
            if (!takesValue() || value.empty()) return usageError("option '" + arg + "' needs a FILE");
            if (arg == "--picture" && !o.picture.empty())
                return usageError("one picture only: '" + o.picture + "' and '" + value + "'");
            (arg == "--screenshot" ? o.screenshot : o.picture) = value;
        } else if (arg == "--frames" || arg == "--duration") {
            auto whole = [](const char* text, char** end) { return std::strtol(text, end, 10); };
            auto real = [](const char* text, char** end) { return std::strtod(text, end); };
            bool frames = arg == "--frames";
            if (!takesValue() || !(frames ? positive(value.c_str(), o.frames, whole)
                                          : positive(value.c_str(), o.duration, real)))
                return usageError("option '" + arg + "' needs " +
                                  (frames ? "a whole number of frames" : "a number of seconds") + " above 0" +
                                  (missing ? std::string() : ", not '" + value + "'"));
        } else {
            return usageError("unknown option '" + arg + "'");
        }
    }
    return parsed;
}

}  // namespace UIKitPlatform
