// SPDX-License-Identifier: MIT
#include "Picture.h"

#include <fcntl.h>
#include <png.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "WriteFile.h"

namespace picture {

namespace {
// libpng's word for a file that ends before the image does.
std::string reason(const char* message) {
    return std::strcmp(message, "Read Error") == 0 ? "the file ends before the image does" : message;
}
}  // namespace

bool readImage(const std::string& path, Pixels& out, std::string& error) {
    struct stat st {};
    if (access(path.c_str(), R_OK) != 0 || stat(path.c_str(), &st) != 0) {
        error = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    if (!S_ISREG(st.st_mode) || st.st_size == 0) {
        error = path + (S_ISDIR(st.st_mode)   ? " is a folder"
                        : S_ISREG(st.st_mode) ? " is empty"
                                              : " is not a regular file") +
                ", not a PNG image";
        return false;
    }
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) {
        error = path + " is not a PNG image (" + reason(image.message) + ")";
        png_image_free(&image);
        return false;
    }
    image.format = PNG_FORMAT_RGBA;
    // Refused from the header, before anything is allocated for the pixels.
    if (image.width > kMaxSide || image.height > kMaxSide ||
        static_cast<uint64_t>(image.width) * image.height > kMaxPixels) {
        error = path + ": " + std::to_string(image.width) + " x " + std::to_string(image.height) +
                " pixels is too large to scale (at most " + std::to_string(kMaxPixels) + " pixels, " +
                std::to_string(kMaxSide) + " a side)";
        png_image_free(&image);
        return false;
    }
    out.width = static_cast<int>(image.width);
    out.height = static_cast<int>(image.height);
    out.rgba.assign(PNG_IMAGE_SIZE(image), 0);
    if (!png_image_finish_read(&image, nullptr, out.rgba.data(), 0, nullptr)) {
        error = path + " is a broken PNG image: " + reason(image.message);
        png_image_free(&image);
        return false;
    }
    return true;
}

bool isPng(int fd) {
    static const unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    unsigned char head[8] = {};
    return pread(fd, head, sizeof head, 0) == sizeof head && std::memcmp(head, kSignature, sizeof head) == 0;
}

std::vector<uint8_t> encodePng(int width, int height, uint32_t format, const void* rows, std::string& error) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(width);
    image.height = static_cast<png_uint_32>(height);
    image.format = format;
    // In memory: libpng's own file writer removes the path it was given on
    // any error, a device node or a link included.
    png_alloc_size_t size = 0;
    std::vector<uint8_t> png;
    if (png_image_write_to_memory(&image, nullptr, &size, 0, rows, 0, nullptr)) {
        png.resize(size);
        if (png_image_write_to_memory(&image, png.data(), &size, 0, rows, 0, nullptr)) {
            png.resize(size);
            return png;
        }
    }
    error = image.message;
    return {};
}

bool writePng(const std::string& path, const Pixels& pixels, std::string& error) {
    std::vector<uint8_t> png = encodePng(pixels.width, pixels.height, PNG_FORMAT_RGBA, pixels.rgba.data(), error);
    if (png.empty()) {
        error = "cannot write " + path + ": " + error;
        return false;
    }
    return files::writeFile(path, png, error);
}

namespace {
// One output sample's colour over white, from the source area it covers.
void sample(const Pixels& in, double x0, double y0, double x1, double y1, double out[3]) {
    double sum[4] = {0, 0, 0, 0}, weight = 0;
    int ix0 = static_cast<int>(std::floor(x0)), iy0 = static_cast<int>(std::floor(y0));
    int ix1 = static_cast<int>(std::ceil(x1)), iy1 = static_cast<int>(std::ceil(y1));
    for (int y = iy0; y < iy1; ++y) {
        double wy = std::min<double>(y + 1, y1) - std::max<double>(y, y0);
        for (int x = ix0; x < ix1; ++x) {
            double w = wy * (std::min<double>(x + 1, x1) - std::max<double>(x, x0));
            if (w <= 0) continue;
            int cx = std::clamp(x, 0, in.width - 1), cy = std::clamp(y, 0, in.height - 1);
            const uint8_t* p = &in.rgba[(static_cast<size_t>(cy) * in.width + cx) * 4];
            double a = p[3] / 255.0;
            for (int c = 0; c < 3; ++c) sum[c] += w * (p[c] * a + 255.0 * (1 - a));
            weight += w;
        }
    }
    for (int c = 0; c < 3; ++c) out[c] = weight > 0 ? sum[c] / weight : 255;
}

void bilinear(const Pixels& in, double x, double y, double out[3]) {
    x = std::clamp(x, 0.0, in.width - 1.0);
    y = std::clamp(y, 0.0, in.height - 1.0);
    int x0 = static_cast<int>(x), y0 = static_cast<int>(y);
    int x1 = std::min(x0 + 1, in.width - 1), y1 = std::min(y0 + 1, in.height - 1);
    double fx = x - x0, fy = y - y0;
    double acc[3] = {0, 0, 0};
    const std::pair<int, int> corner[4] = {{x0, y0}, {x1, y0}, {x0, y1}, {x1, y1}};
    const double w[4] = {(1 - fx) * (1 - fy), fx * (1 - fy), (1 - fx) * fy, fx * fy};
    for (int k = 0; k < 4; ++k) {
        const uint8_t* p = &in.rgba[(static_cast<size_t>(corner[k].second) * in.width + corner[k].first) * 4];
        double a = p[3] / 255.0;
        for (int c = 0; c < 3; ++c) acc[c] += w[k] * (p[c] * a + 255.0 * (1 - a));
    }
    for (int c = 0; c < 3; ++c) out[c] = acc[c];
}
}  // namespace

std::vector<uint8_t> toPicture(const Pixels& in) {
    std::vector<uint8_t> bytes(kBytes);
    double sx = static_cast<double>(in.width) / kSize, sy = static_cast<double>(in.height) / kSize;
    for (int t = 0; t < kSize; ++t) {
        int row = kSize - 1 - t;  // the image's bottom row is t = 0
        for (int s = 0; s < kSize; ++s) {
            double rgb[3];
            if (sx > 1 || sy > 1)
                sample(in, s * sx, row * sy, (s + 1) * sx, (row + 1) * sy, rgb);
            else
                bilinear(in, (s + 0.5) * sx - 0.5, (row + 0.5) * sy - 0.5, rgb);
            for (int c = 0; c < 3; ++c)
                bytes[(static_cast<size_t>(t) * kSize + s) * 3 + c] =
                    static_cast<uint8_t>(std::clamp(std::lround(rgb[c]), 0L, 255L));
        }
    }
    return bytes;
}

bool writePicture(const std::string& path, const std::vector<uint8_t>& bytes, std::string& error) {
    return files::writeFile(path, bytes, error);
}

std::string userPath() {
    const char* data = std::getenv("XDG_DATA_HOME");
    if (data && data[0] == '/') return std::string(data) + "/orvanel/tesmor.raw";
    const char* home = std::getenv("HOME");
    std::string base = home && *home ? home : "";
    if (base.empty())
        if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) base = pw->pw_dir;
    return base.empty() ? std::string() : base + "/.local/share/orvanel/tesmor.raw";
}

bool usable(const std::string& path, std::string& error) {
    // Not blocking: a FIFO with no writer is refused, not waited on.
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    struct stat st {};
    bool regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    bool png = regular && isPng(fd);
    close(fd);
    if (!regular) {
        error = path + " is not a regular file";
        return false;
    }
    if (png) {
        Pixels image;
        return readImage(path, image, error);
    }
    if (static_cast<size_t>(st.st_size) != kBytes) {
        error = path + " is neither a PNG image nor a picture of " + std::to_string(kBytes) + " bytes (it has " +
                std::to_string(st.st_size) + ")";
        return false;
    }
    return true;
}

bool sameFile(const std::string& a, const std::string& b) {
    struct stat sa {}, sb {};
    return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

}  // namespace picture
