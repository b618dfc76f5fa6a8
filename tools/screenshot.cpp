// SPDX-License-Identifier: MIT
// Saves the X screen (or one window) as a PNG: screenshot OUT.png [WINDOW-ID]
// or prints one pixel of the screen as "R G B": screenshot --pixel X Y
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

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
    FILE* out = std::fopen(path, "wb");
    if (!out) {
        std::perror(path);
        return false;
    }
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        std::fprintf(stderr, "screenshot: cannot write %s\n", path);
        return false;
    }
    png_init_io(png, out);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    std::vector<png_byte> row(static_cast<size_t>(width) * 3);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            unsigned long p = XGetPixel(image, x, y);
            row[x * 3 + 0] = static_cast<png_byte>(channel(p, image->red_mask));
            row[x * 3 + 1] = static_cast<png_byte>(channel(p, image->green_mask));
            row[x * 3 + 2] = static_cast<png_byte>(channel(p, image->blue_mask));
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    std::fclose(out);
    return true;
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
