// Writes the demo's sample picture: 128 x 128 raw RGB, first row t = 0.
// Quadrants in four colours over a light grid, with a black square at
// texel (0, 0) and a white arrow pointing toward growing t, so every face
// shows which corner is (0, 0) and which way t runs.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUT.raw\n", argv[0]);
        return 2;
    }
    constexpr int N = 128;
    std::vector<uint8_t> px(N * N * 3);
    auto set = [&](int s, int t, uint8_t r, uint8_t g, uint8_t b) {
        uint8_t* p = &px[(static_cast<size_t>(t) * N + s) * 3];
        p[0] = r;
        p[1] = g;
        p[2] = b;
    };
    static const uint8_t quad[4][3] = {{230, 90, 60}, {70, 160, 230}, {90, 200, 110}, {240, 200, 70}};
    for (int t = 0; t < N; ++t)
        for (int s = 0; s < N; ++s) {
            const uint8_t* q = quad[(t >= N / 2) * 2 + (s >= N / 2)];
            bool grid = s % 16 == 0 || t % 16 == 0;
            set(s, t, grid ? 255 : q[0], grid ? 255 : q[1], grid ? 255 : q[2]);
        }
    for (int t = 0; t < 20; ++t)
        for (int s = 0; s < 20; ++s) set(s, t, 0, 0, 0);
    // Arrow: a shaft along t and a head at high t.
    for (int t = 30; t < 100; ++t)
        for (int s = 60; s < 68; ++s) set(s, t, 255, 255, 255);
    for (int k = 0; k < 24; ++k)
        for (int s = 64 - 24 + k; s < 64 + 24 - k; ++s) set(s, 100 + k, 255, 255, 255);
    FILE* out = std::fopen(argv[1], "wb");
    if (!out || std::fwrite(px.data(), 1, px.size(), out) != px.size() || std::fclose(out) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
