// SPDX-License-Identifier: MIT
// Writes the demo's sample image as a PNG: upright, with an arrow pointing up,
// an "F" that reads backwards wherever a face mirrors it, and a black square
// in the bottom-left corner, which becomes texel (0, 0).
#include <cstdio>

#include "Picture.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUT.png\n", argv[0]);
        return 2;
    }
    constexpr int N = 256;
    picture::Pixels img;
    img.width = img.height = N;
    img.rgba.resize(N * N * 4);
    auto fill = [&](int x0, int y0, int x1, int y1, uint8_t r, uint8_t g, uint8_t b) {
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x) {
                uint8_t* p = &img.rgba[(static_cast<size_t>(y) * N + x) * 4];
                p[0] = r;
                p[1] = g;
                p[2] = b;
                p[3] = 255;
            }
    };
    // Sky over ground, with a light grid.
    for (int y = 0; y < N; ++y) {
        uint8_t shade = static_cast<uint8_t>(255 - y / 4);
        if (y < N / 2)
            fill(0, y, N, y + 1, static_cast<uint8_t>(120 + y / 3), static_cast<uint8_t>(180 + y / 6), 255);
        else
            fill(0, y, N, y + 1, 110, shade, 90);
    }
    for (int k = 0; k < N; k += 32) {
        fill(k, 0, k + 2, N, 255, 255, 255);
        fill(0, k, N, k + 2, 255, 255, 255);
    }
    // The arrow: a shaft and a head, pointing to the top row.
    fill(116, 90, 140, 220, 255, 255, 255);
    for (int k = 0; k < 60; ++k) fill(128 - k, 30 + k, 128 + k, 31 + k, 255, 255, 255);
    // An "F" in the top right.
    fill(180, 140, 192, 210, 200, 30, 30);
    fill(180, 140, 228, 152, 200, 30, 30);
    fill(180, 170, 216, 182, 200, 30, 30);
    // Texel (0, 0).
    fill(0, N - 40, 40, N, 0, 0, 0);
    std::string error;
    if (!picture::writePng(argv[1], img, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    return 0;
}
