// SPDX-License-Identifier: MIT
// Saves the X screen (or one window) as a PNG: screenshot OUT.png [WINDOW-ID]
// or prints one pixel of the screen as "R G B": screenshot --pixel X Y
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <png.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "Picture.h"
#include "WriteFile.h"

namespace {
int channel(unsigned long pixel, unsigned long mask) {
    if (!mask) return 0;
    int shift = 0;
    while (!(mask & 1)) {
        mask >>= 1;
        ++shift;
    }
    unsigned long v = (pixel >> shift) & mask;
    return static_cast<int>(v * 255 / mask);
}
// The image's pixels as an 8-bit RGB PNG; false, said, when it cannot be written.
bool writePng(const char* path, XImage* image, int width, int height) {
    std::vector<uint8_t> rgb;
    rgb.reserve(static_cast<size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            unsigned long p = XGetPixel(image, x, y);
            for (unsigned long mask : {image->red_mask, image->green_mask, image->blue_mask})
                rgb.push_back(static_cast<uint8_t>(channel(p, mask)));
        }
    std::string error;
    std::vector<uint8_t> png = picture::encodePng(width, height, PNG_FORMAT_RGB, rgb.data(), error);
    if (png.empty())
        error = std::string("cannot write ") + path + ": " + error;
    else if (files::writeFile(path, png, error))
        return true;
    std::fprintf(stderr, "screenshot: %s\n", error.c_str());
    return false;
}
}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || (std::string(argv[1]) == "--pixel" && argc != 4)) {
        std::fprintf(stderr, "usage: %s OUT.png [WINDOW-ID] | --pixel X Y\n", argv[0]);
        return 2;
    }
    Display* dpy = XOpenDisplay(nullptr);
    if (!dpy) {
        std::fprintf(stderr, "screenshot: cannot open display\n");
        return 1;
    }
    if (std::string(argv[1]) == "--pixel") {
        XImage* one = XGetImage(dpy, DefaultRootWindow(dpy), std::atoi(argv[2]), std::atoi(argv[3]), 1, 1,
                                AllPlanes, ZPixmap);
        if (!one) return 1;
        unsigned long p = XGetPixel(one, 0, 0);
        std::printf("%d %d %d\n", channel(p, one->red_mask), channel(p, one->green_mask),
                    channel(p, one->blue_mask));
        XDestroyImage(one);
        XCloseDisplay(dpy);
        return 0;
    }
    Window target = argc > 2 ? std::strtoul(argv[2], nullptr, 0) : DefaultRootWindow(dpy);
    XWindowAttributes attrs;
    if (!XGetWindowAttributes(dpy, target, &attrs)) {
        std::fprintf(stderr, "screenshot: no such window\n");
        return 1;
    }
    XImage* image = XGetImage(dpy, target, 0, 0, static_cast<unsigned>(attrs.width),
                              static_cast<unsigned>(attrs.height), AllPlanes, ZPixmap);
    if (!image) {
        std::fprintf(stderr, "screenshot: cannot read the screen\n");
        return 1;
    }
    bool written = writePng(argv[1], image, attrs.width, attrs.height);
    XDestroyImage(image);
    XCloseDisplay(dpy);
    return written ? 0 : 1;
}
