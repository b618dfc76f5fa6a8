// SPDX-License-Identifier: MIT
// orvanel-picture [--system] IMAGE.png [OUTPUT]: makes the demo's picture
// from an image, written to OUTPUT, to the user's own picture, or with
// --system to the device's fixed path.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "Picture.h"

namespace {
const char kUsage[] =
    "usage: orvanel-picture [--help] [--version] [--system] IMAGE.png [OUTPUT]\n"
    "Makes the demo's 128 x 128 picture from a PNG image, written to OUTPUT, or by\n"
    "default to your own picture, $XDG_DATA_HOME/orvanel/tesmor.raw (XDG_DATA_HOME\n"
    "is ~/.local/share unless set), which orvanel shows from then on. --system\n"
    "writes the device's fixed path, /private/var/tesmor.raw, instead: orvanel\n"
    "shows it to every user who has no picture of their own.\n";

// Makes the folders above `path` that are missing (0700 in a user's data
// folder, as the XDG rules ask; 0755 for the system's).
bool makeParents(const std::string& path, mode_t mode, std::string& error) {
    for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
        std::string dir = path.substr(0, slash);
        if (mkdir(dir.c_str(), mode) != 0 && errno != EEXIST) {
            error = "cannot make " + dir + ": " + std::strerror(errno);
            return false;
        }
    }
    return true;
}

int usageError(const char* why, const char* what) {
    std::fprintf(stderr, "orvanel-picture: %s '%s'\n%s", why, what, kUsage);
    return 2;
}
}  // namespace

int main(int argc, char** argv) {
    std::vector<const char*> operands;
    bool options = true, system = false;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (options && std::strcmp(arg, "--") == 0) {
            options = false;
        } else if (options && (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0)) {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (options && std::strcmp(arg, "--system") == 0) {
            system = true;
        } else if (options && std::strcmp(arg, "--version") == 0) {
            std::printf("orvanel-picture %s\n", ORVANEL_VERSION);
            return 0;
        } else if (options && arg[0] == '-' && arg[1] != '\0') {
            return usageError("unknown option", arg);
        } else {
            operands.push_back(arg);
        }
    }
    if (operands.empty()) {
        std::fprintf(stderr, "orvanel-picture: name the PNG image to make the picture from\n%s", kUsage);
        return 2;
    }
    if (operands.size() > 2) return usageError("one output only, not", operands[2]);
    for (const char* operand : operands)
        if (!*operand) return usageError("a file name cannot be empty:", operand);
    if (system && operands.size() == 2) return usageError("--system or an output, not both:", operands[1]);

    std::string output = operands.size() == 2 ? operands[1] : system ? picture::kSystemPath : picture::userPath();
    if (output.empty()) {
        std::fprintf(stderr, "orvanel-picture: no home folder to keep your picture in; name an output\n");
        return 1;
    }
    if (picture::sameFile(operands[0], output)) {
        std::fprintf(stderr, "orvanel-picture: %s is the image itself; name another output\n", output.c_str());
        return 1;
    }
    picture::Pixels image;
    std::string error;
    if (!picture::readImage(operands[0], image, error) ||
        (operands.size() == 1 && !makeParents(output, system ? 0755 : 0700, error)) ||
        !picture::writePicture(output, picture::toPicture(image), error)) {
        std::fprintf(stderr, "orvanel-picture: %s\n", error.c_str());
        if (system && error.rfind("cannot", 0) == 0)
            std::fprintf(stderr,
                         "orvanel-picture: to show a picture without writing there, run orvanel --picture %s\n",
                         operands[0]);
        return 1;
    }
    std::printf("orvanel-picture: wrote %s\n", output.c_str());
    return 0;
}
