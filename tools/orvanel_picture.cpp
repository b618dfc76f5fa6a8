// SPDX-License-Identifier: MIT
// orvanel-picture IMAGE.png [OUTPUT]: makes the demo's picture from an image,
// written to OUTPUT or to the demo's fixed path.
#include <cstdio>
#include <cstring>
#include <vector>

#include "Picture.h"

namespace {
const char kUsage[] =
    "usage: orvanel-picture [--help] [--version] IMAGE.png [OUTPUT]\n"
    "Makes the demo's 128 x 128 picture from a PNG image, written to OUTPUT\n"
    "or to /private/var/tesmor.raw.\n";

int usageError(const char* why, const char* what) {
    std::fprintf(stderr, "orvanel-picture: %s '%s'\n%s", why, what, kUsage);
    return 2;
}
}  // namespace

int main(int argc, char** argv) {
    std::vector<const char*> operands;
    bool options = true;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (options && std::strcmp(arg, "--") == 0) {
            options = false;
        } else if (options && (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0)) {
            std::fputs(kUsage, stdout);
            return 0;
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
        std::fputs(kUsage, stderr);
        return 2;
    }
    if (operands.size() > 2) return usageError("one output only, not", operands[2]);

    const char* output = operands.size() == 2 ? operands[1] : "/private/var/tesmor.raw";
    if (picture::sameFile(operands[0], output)) {
        std::fprintf(stderr, "orvanel-picture: %s is the image itself; name another output\n", output);
        return 1;
    }
    picture::Pixels image;
    std::string error;
    if (!picture::readImage(operands[0], image, error) ||
        !picture::writePicture(output, picture::toPicture(image), error)) {
        std::fprintf(stderr, "orvanel-picture: %s\n", error.c_str());
        if (operands.size() == 1 && error.rfind("cannot write", 0) == 0)
            std::fprintf(stderr,
                         "orvanel-picture: to show a picture without writing there, run orvanel --picture %s\n",
                         operands[0]);
        return 1;
    }
    std::printf("orvanel-picture: wrote %s\n", output);
    return 0;
}
