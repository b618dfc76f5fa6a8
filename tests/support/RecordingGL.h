// SPDX-License-Identifier: MIT
#pragma once

// A recording stand-in for the EGL and OpenGL ES 1 entry points (and the
// surface-buffer calls the view makes), linked into unit tests in place of
// the real libraries.

#include <EGL/egl.h>
#include <GLES/gl.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

namespace rec {

struct Call {
    std::string fn;
    std::vector<double> args;
    const void* ptr = nullptr;
};

struct Script {
    bool initializeFails = false;
    bool chooseFails = false;
    EGLint configCount = 1;
    bool contextFails = false;
    bool surfaceFails = false;
    bool makeCurrentFails = false;
    bool queryFails = false;
    EGLint surfaceWidth = 320;
    EGLint surfaceHeight = 480;
    EGLint error = EGL_SUCCESS;  // what eglGetError reports after a failure
    bool pictureAllocFails = false;  // calloc of the picture's 49,152 bytes
};

extern std::vector<Call> calls;
extern Script script;
// Textures alive (generated and not deleted).
extern std::set<GLuint> textures;
// The surface-buffer properties at the last create, in the order set.
extern std::vector<std::pair<std::string, std::string>> lastProperties;

// The fake handles.
EGLDisplay display();
EGLConfig config();
EGLContext context();
EGLSurface surface();

void reset();
std::vector<std::string> names();
std::vector<Call> only(const std::string& fn);
// The arguments of each call to `fn`.
std::vector<std::vector<double>> argsOf(const std::string& fn);

}  // namespace rec
