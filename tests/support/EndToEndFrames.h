// SPDX-License-Identifier: MIT
#pragma once

// Where the end-to-end tests expect the cube: each frame's pose, and the
// cube's place and size on screen.

#include "CubeModel.h"
#include "EndToEndHarness.h"

namespace e2e {

struct Pose {
    float theta = 45, phi = 30;
    // Eye coordinates of a cube point (x right, y up, z toward the viewer).
    std::array<double, 3> eye(const float v[3], bool translate = true) const {
        double t = theta * M_PI / 180, p = phi * M_PI / 180, y = v[0] * std::sin(t) + v[1] * std::cos(t);
        return {v[0] * std::cos(t) - v[1] * std::sin(t), y * std::sin(p) + v[2] * std::cos(p),
                -(y * std::cos(p) - v[2] * std::sin(p) + (translate ? 7 : 0))};
    }
    std::pair<double, double> screen(const float v[3]) const {
        auto e = eye(v);
        double f = 1 / std::tan(25 * M_PI / 180), w = -e[2];
        return {(f / (320.0 / 480.0) * e[0] / w + 1) / 2 * 320, (1 - f * e[1] / w) / 2 * 480};
    }
    bool facing(const Face& face) const {
        float centre[3];  // halfway between opposite corners
        for (int k = 0; k < 3; ++k) centre[k] = (face.corner[0][k] + face.corner[2][k]) / 2;
        auto e = eye(centre), n = eye(centre, false);  // the centre is along the face's normal
        return n[0] * e[0] + n[1] * e[1] + n[2] * e[2] < 0;
    }
};

inline Pose poseOfFrame(int n) {
    Pose pose;
    for (int k = 0; k < n; ++k) pose = {pose.theta + 5.94f, pose.phi + 5.94f};
    return pose;
}

using Quad = std::array<std::pair<double, double>, 4>;

inline bool insideQuad(const Quad& q, double x, double y) {
    bool left = false, right = false;
    for (int i = 0; i < 4; ++i) {
        auto [a, b] = std::pair(q[i], q[(i + 1) % 4]);
        double c = (b.first - a.first) * (y - a.second) - (b.second - a.second) * (x - a.first);
        left |= c > 0;
        right |= c < 0;
    }
    return !(left && right);
}

// How well frame n's pose explains the screen: the share of sampled pixels
// whose colour channels are those of the face the pose puts there, or the
// clear colour where it puts none.
inline double poseScore(const Screen& s, const Pose& pose) {
    std::vector<std::pair<Quad, const Face*>> shown;
    for (const Face& f : kFaces)
        if (pose.facing(f))
            shown.push_back({{pose.screen(f.corner[0]), pose.screen(f.corner[1]), pose.screen(f.corner[2]),
                              pose.screen(f.corner[3])},
                             &f});
    int good = 0, total = 0;
    for (int y = 2; y < 480; y += 6)
        for (int x = 2; x < 320; x += 6, ++total) {
            uint16_t p = s.at(x, y);
            auto face = std::find_if(shown.begin(), shown.end(), [&](auto& q) { return insideQuad(q.first, x, y); });
            bool on[3] = {(p >> 11) > 3, ((p >> 5) & 63) > 7, (p & 31) > 3};
            if (face == shown.end())
                good += p == kClear;
            else  // black is the mark
                good += (!on[0] && !on[1] && !on[2]) || std::equal(on, on + 3, face->second->on);
        }
    return static_cast<double>(good) / total;
}

// Texel (0, 0) of a picture black over texels s, t < 16 lands on the corner of
// each face with texture coordinate (0, 0): find the frame whose pose
// explains the screen, then look there.
inline void expectTexelZeroAtTheCorners(const std::function<Screen()>& grab,
                                        std::chrono::steady_clock::time_point launched) {
    Screen s;
    std::vector<std::pair<int, int>> black;
    auto marked = [&] {
        s = grab();
        black.clear();
        for (int y = 0; y < 480; ++y)
            for (int x = 0; x < 320; ++x)
                if (s.at(x, y) == 0) black.emplace_back(x, y);
        return black.size() >= 20;
    };
    ASSERT_TRUE(waitUntil(marked, 5s, 37ms)) << "texel (0, 0) never came into view";
    int best = 0;
    double bestScore = 0;
    // No more frames than periods since launch: a later pose can alias.
    double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - launched).count();
    for (int n = 1; n <= static_cast<int>(elapsed / 0.033) + 2; ++n)
        if (double score = poseScore(s, poseOfFrame(n)); score > bestScore) {
            bestScore = score;
            best = n;
        }
    ASSERT_GT(bestScore, 0.95) << "no frame's pose explains the screen (best " << best << ")";
    Pose pose = poseOfFrame(best);
    double worst = 0;
    for (auto [x, y] : black) {
        double nearest = 1e9;
        for (const Face& f : kFaces)
            if (auto [px, py] = pose.screen(f.corner[0]); pose.facing(f))
                nearest = std::min(nearest, std::hypot(px - x, py - y));
        worst = std::max(worst, nearest);
    }
    // The mark covers an eighth of a face edge (about 20 px here); any other
    // corner is a whole edge away.
    EXPECT_LT(worst, 45.0) << "black texels are not at a (0, 0) corner of frame " << best;
}

// Where the cube is and how big: the centre of what differs from the clear
// colour and the farthest such pixel from it, averaged over a few frames.
struct Blob {
    double x = 0, y = 0, radius = 0;
};

inline Blob blobOf(const std::vector<uint16_t>& px, int width) {
    Blob b;
    double count = std::max<double>(1, px.size() - std::count(px.begin(), px.end(), kClear));
    for (size_t i = 0; i < px.size(); ++i)
        if (px[i] != kClear) {
            b.x += static_cast<double>(i % width) / count;
            b.y += static_cast<double>(i / width) / count;
        }
    for (size_t i = 0; i < px.size(); ++i)
        if (px[i] != kClear) b.radius = std::max(b.radius, std::hypot(i % width - b.x, i / width - b.y));
    return b;
}

// Averaged over a few frames of what `pixels` reads, `width` pixels a row.
inline Blob measure(const std::function<std::vector<uint16_t>()>& pixels = [] { return grab().px; }, int width = 320) {
    Blob sum;
    for (int k = 0; k < 6; ++k, std::this_thread::sleep_for(45ms)) {
        Blob b = blobOf(pixels(), width);
        sum = {sum.x + b.x / 6, sum.y + b.y / 6, sum.radius + b.radius / 6};
    }
    return sum;
}

}  // namespace e2e
