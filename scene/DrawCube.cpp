// SPDX-License-Identifier: MIT
#include "DrawCube.h"

#include <GLES/gl.h>

// clang-format off
const float verts[24][3] = {
    { 1,  1, -1}, {-1,  1, -1}, {-1,  1,  1}, { 1,  1,  1},  // y = +1
    { 1, -1,  1}, {-1, -1,  1}, {-1, -1, -1}, { 1, -1, -1},  // y = -1
    { 1,  1,  1}, {-1,  1,  1}, {-1, -1,  1}, { 1, -1,  1},  // z = +1
    { 1, -1, -1}, {-1, -1, -1}, {-1,  1, -1}, { 1,  1, -1},  // z = -1
    { 1,  1, -1}, { 1,  1,  1}, { 1, -1,  1}, { 1, -1, -1},  // x = +1
    {-1,  1,  1}, {-1,  1, -1}, {-1, -1, -1}, {-1, -1,  1},  // x = -1
};

const float texCoords[24][2] = {
    {1, 0}, {0, 0}, {0, 1}, {1, 1},
    {1, 1}, {0, 1}, {0, 0}, {1, 0},
    {1, 1}, {0, 1}, {0, 0}, {1, 0},
    {1, 0}, {0, 0}, {0, 1}, {1, 1},
    {1, 0}, {1, 1}, {0, 1}, {0, 0},
    {1, 1}, {1, 0}, {0, 0}, {0, 1},
};

// Green, magenta, blue, yellow, red, cyan.
const float faceColors[6][4] = {
    {0, 1, 0, 1}, {1, 0, 1, 1}, {0, 0, 1, 1}, {1, 1, 0, 1}, {1, 0, 0, 1}, {0, 1, 1, 1},
};
// clang-format on

void DrawCube(int32_t width, int32_t height, const uint8_t* pixels) {
    // One texture object at a time: the one the last call left bound in this
    // context goes before a new one is made.
    GLint bound = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    if (bound != 0) {
        const GLuint previous = static_cast<GLuint>(bound);
        glDeleteTextures(1, &previous);
    }

    GLuint name = 0;
    glGenTextures(1, &name);
    glBindTexture(GL_TEXTURE_2D, name);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB, width, height, 0, GL_RGB, GL_UNSIGNED_BYTE, pixels);
    glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, 9729.0f);
    glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, 9729.0f);

    glEnable(GL_TEXTURE_2D);
    glEnable(GL_LIGHTING);
    glEnable(GL_LIGHT0);
    glEnable(GL_LIGHT1);
    // Lit faces take their colour from glColor, so each face shows its own.
    glEnable(GL_COLOR_MATERIAL);

    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);

    for (int face = 0; face < 6; ++face) {
        const float* c = faceColors[face];
        glColor4f(c[0], c[1], c[2], c[3]);
        glVertexPointer(3, GL_FLOAT, 0, verts[4 * face]);
        glTexCoordPointer(2, GL_FLOAT, 0, texCoords[4 * face]);
        glDrawArrays(GL_TRIANGLE_FAN, 0, 4);
    }
}
