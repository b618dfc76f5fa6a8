// SPDX-License-Identifier: MIT
#include "RecordingGL.h"

#include <cstdint>
#include <cstdio>
#include <type_traits>

#include "CoreSurface.h"

namespace rec {

std::vector<Call> calls;
Script script;
std::set<GLuint> textures;
std::vector<std::pair<std::string, std::string>> lastProperties;

namespace {
GLuint nextTexture = 1;
GLuint boundTexture = 0;
EGLint lastError = EGL_SUCCESS;
EGLContext currentContext = EGL_NO_CONTEXT;

// Handles are recorded as their numbers.
template <class T>
double number(T v) {
    if constexpr (std::is_pointer_v<T>)
        return static_cast<double>(reinterpret_cast<uintptr_t>(v));
    else
        return static_cast<double>(v);
}
}  // namespace

// Records a call; true, for the EGL calls that succeed.
template <class... A>
EGLBoolean record(const char* fn, const void* ptr, A... args) {
    calls.push_back(Call{fn, {number(args)...}, ptr});
    return EGL_TRUE;
}

// A failed call's result, leaving the scripted error for eglGetError.
template <class T>
T fail(T result) {
    lastError = script.error;
    return result;
}

EGLDisplay display() { return reinterpret_cast<void*>(0xD1); }
EGLConfig config() { return reinterpret_cast<void*>(0xC0); }
EGLContext context() { return reinterpret_cast<void*>(0xC7); }
EGLSurface surface() { return reinterpret_cast<void*>(0x5F); }

void reset() {
    calls.clear();
    script = Script{};
    textures.clear();
    lastProperties.clear();
    nextTexture = 1;
    boundTexture = 0;
    lastError = EGL_SUCCESS;
    currentContext = EGL_NO_CONTEXT;
}

std::vector<std::string> names() {
    std::vector<std::string> out;
    for (const Call& c : calls) out.push_back(c.fn);
    return out;
}

std::vector<Call> only(const std::string& fn) {
    std::vector<Call> out;
    for (const Call& c : calls)
        if (c.fn == fn) out.push_back(c);
    return out;
}

std::vector<std::vector<double>> argsOf(const std::string& fn) {
    std::vector<std::vector<double>> out;
    for (const Call& c : only(fn)) out.push_back(c.args);
    return out;
}

}  // namespace rec

using rec::fail;
using rec::record;
using rec::script;

extern "C" {

EGLDisplay eglGetDisplay(EGLNativeDisplayType id) {
    record("eglGetDisplay", nullptr, id);
    return rec::display();
}

EGLBoolean eglInitialize(EGLDisplay, EGLint* major, EGLint* minor) {
    record("eglInitialize", nullptr);
    if (script.initializeFails) return fail(EGL_FALSE);
    if (major) *major = 1;
    if (minor) *minor = 4;
    return EGL_TRUE;
}

EGLBoolean eglChooseConfig(EGLDisplay, const EGLint* attribs, EGLConfig* configs, EGLint size, EGLint* count) {
    rec::Call call{"eglChooseConfig", {}, attribs};
    for (const EGLint* a = attribs; a && *a != EGL_NONE; ++a) call.args.push_back(*a);
    call.args.push_back(EGL_NONE);
    rec::calls.push_back(call);
    if (script.chooseFails) return fail(EGL_FALSE);
    *count = script.configCount;
    if (configs && size > 0 && script.configCount > 0) configs[0] = rec::config();
    return EGL_TRUE;
}

EGLContext eglCreateContext(EGLDisplay, EGLConfig cfg, EGLContext share, const EGLint* attribs) {
    record("eglCreateContext", nullptr, cfg, share, attribs);
    return script.contextFails ? fail(EGL_NO_CONTEXT) : rec::context();
}

// The platform wraps this name; its wrapper reaches this one.
EGLSurface eglCreatePixmapSurface(EGLDisplay, EGLConfig cfg, EGLNativePixmapType pixmap, const EGLint* attribs) {
    record("eglCreatePixmapSurface", nullptr, cfg, pixmap, attribs);
    return script.surfaceFails ? fail(EGL_NO_SURFACE) : rec::surface();
}

EGLSurface eglCreatePbufferSurface(EGLDisplay, EGLConfig, const EGLint*) {
    record("eglCreatePbufferSurface", nullptr);
    return script.surfaceFails ? fail(EGL_NO_SURFACE) : rec::surface();
}

// Nothing here is reached through it but the platform's own wrapped entries.
__eglMustCastToProperFunctionPointerType eglGetProcAddress(const char*) { return nullptr; }

EGLBoolean eglMakeCurrent(EGLDisplay dpy, EGLSurface draw, EGLSurface read, EGLContext ctx) {
    record("eglMakeCurrent", nullptr, dpy, draw, read, ctx);
    if (script.makeCurrentFails) return fail(EGL_FALSE);
    rec::currentContext = ctx;
    return EGL_TRUE;
}

EGLint eglGetError() {
    record("eglGetError", nullptr);
    return std::exchange(rec::lastError, EGL_SUCCESS);
}

EGLBoolean eglQuerySurface(EGLDisplay, EGLSurface, EGLint attribute, EGLint* value) {
    record("eglQuerySurface", nullptr, attribute);
    if (script.queryFails) return fail(EGL_FALSE);
    *value = attribute == EGL_WIDTH ? script.surfaceWidth : script.surfaceHeight;
    return EGL_TRUE;
}

EGLBoolean eglWaitNative(EGLint engine) { return record("eglWaitNative", nullptr, engine); }
EGLBoolean eglWaitGL() { return record("eglWaitGL", nullptr); }
EGLBoolean eglDestroySurface(EGLDisplay, EGLSurface) { return record("eglDestroySurface", nullptr); }
EGLBoolean eglDestroyContext(EGLDisplay, EGLContext) { return record("eglDestroyContext", nullptr); }
EGLContext eglGetCurrentContext() { return rec::currentContext; }
EGLDisplay eglGetCurrentDisplay() { return rec::display(); }
EGLSurface eglGetCurrentSurface(EGLint) { return rec::surface(); }

void glMatrixMode(GLenum mode) { record("glMatrixMode", nullptr, mode); }
void glLoadIdentity() { record("glLoadIdentity", nullptr); }
void glMultMatrixf(const GLfloat* m) {
    rec::calls.push_back(rec::Call{"glMultMatrixf", std::vector<double>(m, m + 16), m});
}
void glRotatef(GLfloat a, GLfloat x, GLfloat y, GLfloat z) { record("glRotatef", nullptr, a, x, y, z); }
void glTranslatef(GLfloat x, GLfloat y, GLfloat z) { record("glTranslatef", nullptr, x, y, z); }
void glClearColor(GLfloat r, GLfloat g, GLfloat b, GLfloat a) { record("glClearColor", nullptr, r, g, b, a); }
void glClear(GLbitfield mask) { record("glClear", nullptr, mask); }
void glColor4f(GLfloat r, GLfloat g, GLfloat b, GLfloat a) { record("glColor4f", nullptr, r, g, b, a); }
void glPixelStorei(GLenum, GLint) { record("glPixelStorei", nullptr); }
void glReadPixels(GLint, GLint, GLsizei, GLsizei, GLenum, GLenum, void*) { record("glReadPixels", nullptr); }
const GLubyte* glGetString(GLenum) { return reinterpret_cast<const GLubyte*>("recording"); }

void glEnable(GLenum cap) { record("glEnable", nullptr, cap); }
void glDisable(GLenum cap) { record("glDisable", nullptr, cap); }
void glEnableClientState(GLenum array) { record("glEnableClientState", nullptr, array); }

void glGenTextures(GLsizei n, GLuint* names) {
    record("glGenTextures", nullptr);
    for (GLsizei i = 0; i < n; ++i) rec::textures.insert(names[i] = rec::nextTexture++);
}

void glDeleteTextures(GLsizei n, const GLuint* names) {
    record("glDeleteTextures", nullptr);
    for (GLsizei i = 0; i < n; ++i) {
        rec::textures.erase(names[i]);
        if (names[i] == rec::boundTexture) rec::boundTexture = 0;
    }
}

// Queries are answered, not recorded.
void glGetIntegerv(GLenum pname, GLint* value) {
    *value = pname == GL_TEXTURE_BINDING_2D ? static_cast<GLint>(rec::boundTexture) : 0;
}

void glBindTexture(GLenum target, GLuint name) {
    record("glBindTexture", nullptr, target, name);
    rec::boundTexture = name;
}

void glTexImage2D(GLenum target, GLint level, GLint internal, GLsizei w, GLsizei h, GLint border, GLenum format,
                  GLenum type, const void* pixels) {
    record("glTexImage2D", pixels, target, level, internal, w, h, border, format, type);
}

void glTexParameterf(GLenum target, GLenum pname, GLfloat value) {
    record("glTexParameterf", nullptr, target, pname, value);
}

void glVertexPointer(GLint size, GLenum type, GLsizei stride, const void* p) {
    record("glVertexPointer", p, size, type, stride);
}

void glTexCoordPointer(GLint size, GLenum type, GLsizei stride, const void* p) {
    record("glTexCoordPointer", p, size, type, stride);
}

void glDrawArrays(GLenum mode, GLint first, GLsizei count) { record("glDrawArrays", nullptr, mode, first, count); }

// The surface-buffer calls, wrapped at link time so that they land in the
// same record as the EGL calls.
CoreSurfaceBufferRef __real_CoreSurfaceBufferCreate(CFDictionaryRef);
int __real_CoreSurfaceBufferLock(CoreSurfaceBufferRef, unsigned int);
int __real_CoreSurfaceBufferUnlock(CoreSurfaceBufferRef);

CoreSurfaceBufferRef __wrap_CoreSurfaceBufferCreate(CFDictionaryRef properties) {
    record("CoreSurfaceBufferCreate", nullptr);
    rec::lastProperties.clear();
    for (const auto& [key, value] : properties->entries) {
        std::string v;
        if (auto* s = dynamic_cast<const __CFString*>(value)) v = "\"" + s->text + "\"";
        if (auto* n = dynamic_cast<const __CFNumber*>(value)) {
            char number[48];
            std::snprintf(number, sizeof number, "i%d:%lld", n->type, static_cast<long long>(n->value));
            v = number;
        }
        if (auto* b = dynamic_cast<const __CFBoolean*>(value)) v = b->value ? "true" : "false";
        rec::lastProperties.emplace_back(static_cast<CFStringRef>(key)->text, v);
    }
    return __real_CoreSurfaceBufferCreate(properties);
}

int __wrap_CoreSurfaceBufferLock(CoreSurfaceBufferRef buffer, unsigned int flags) {
    record("CoreSurfaceBufferLock", buffer, flags);
    return __real_CoreSurfaceBufferLock(buffer, flags);
}

int __wrap_CoreSurfaceBufferUnlock(CoreSurfaceBufferRef buffer) {
    record("CoreSurfaceBufferUnlock", buffer);
    return __real_CoreSurfaceBufferUnlock(buffer);
}

// calloc, wrapped so that a test can make the picture's allocation fail.
void* __real_calloc(size_t count, size_t size);
void* __wrap_calloc(size_t count, size_t size) {
    return script.pictureAllocFails && count * size == 49152 ? nullptr : __real_calloc(count, size);
}
}
