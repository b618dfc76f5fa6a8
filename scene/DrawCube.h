// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>

// The cube from -1 to 1 on every axis, six triangle fans of four vertices.
extern const float verts[24][3];
extern const float texCoords[24][2];
extern const float faceColors[6][4];

// Draws the cube textured with `pixels` (width x height RGB texels, first row
// t = 0; may be null) under the current matrices.
void DrawCube(int32_t width, int32_t height, const uint8_t* pixels);
