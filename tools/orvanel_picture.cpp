// SPDX-License-Identifier: MIT
// orvanel-picture IMAGE.png [OUTPUT]: makes the demo's picture from an image,
// written to OUTPUT or to the demo's fixed path.
#include <cstdio>
#include <cstring>

#include "PictureTool.h"

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3 || std::strcmp(argv[1], "--help") == 0) {
        std::fprintf(stderr, "usage: orvanel-picture IMAGE.png [OUTPUT]\n"
                             "Makes the demo's 128 x 128 picture from a PNG image, written to OUTPUT\n"
                             "or to /private/var/tesmor.raw.\n");
        return 2;
    }
    const char* output = argc == 3 ? argv[2] : "/private/var/tesmor.raw";
    picture::Pixels image;
    std::string error;
    if (!picture::readImage(argv[1], image, error) ||
        !picture::writePicture(output, picture::toPicture(image), error)) {
        std::fprintf(stderr, "orvanel-picture: %s\n", error.c_str());
        return 1;
    }
    std::printf("orvanel-picture: wrote %s\n", output);
    return 0;
}
