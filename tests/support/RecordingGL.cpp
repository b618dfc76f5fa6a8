// SPDX-License-Identifier: MIT
#include "RecordingGL.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "CoreSurface.h"

namespace rec {

std::vector<Call> calls;
Script script;
std::set<GLenum> enabled;
std::set<GLenum> clientEnabled;
std::set<GLuint> textures;
std::vector<std::pair<std::string, std::string>> lastProperties;

namespace {
GLuint nextTexture = 1;
GLuint boundTexture = 0;
EGLint lastError = EGL_SUCCESS;
EGLContext currentContext = EGL_NO_CONTEXT;

void record(const char* fn, std::vector<double> args = {}, const void* ptr = nullptr) {
    calls.push_back(Call{fn, std::move(args), ptr});
}

void* handle(uintptr_t v) { return reinterpret_cast<void*>(v); }

EGLBoolean fail() {
    lastError = script.error;
    return EGL_FALSE;
}
}  // namespace

EGLDisplay display() { return handle(0xD1); }
EGLConfig config() { return handle(0xC0); }
EGLContext context() { return handle(0xC7); }
EGLSurface surface() { return handle(0x5F); }

void reset() {
    calls.clear();
    script = Script{};
    enabled.clear();
    clientEnabled.clear();
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

int indexOf(const std::string& fn, int from) {
    for (size_t i = static_cast<size_t>(from); i < calls.size(); ++i)
        if (calls[i].fn == fn) return static_cast<int>(i);
    return -1;
}

}  // namespace rec

using rec::record;

extern "C" {

EGLDisplay eglGetDisplay(EGLNativeDisplayType id) {
    record("eglGetDisplay", {static_cast<double>(reinterpret_cast<uintptr_t>(id))});
    return rec::display();
}

EGLBoolean eglInitialize(EGLDisplay, EGLint* major, EGLint* minor) {
    record("eglInitialize");
    if (rec::script.initializeFails) return rec::fail();
    if (major) *major = rec::script.major;
    if (minor) *minor = rec::script.minor;
    return EGL_TRUE;
}

EGLBoolean eglChooseConfig(EGLDisplay, const EGLint* attribs, EGLConfig* configs, EGLint size,
                           EGLint* count) {
    std::vector<double> args;
    for (const EGLint* a = attribs; a && *a != EGL_NONE; a += 2) {
        args.push_back(a[0]);
        args.push_back(a[1]);
    }
    args.push_back(EGL_NONE);
    record("eglChooseConfig", args, attribs);
    if (rec::script.chooseFails) return rec::fail();
    *count = rec::script.configCount;
    if (configs && size > 0 && rec::script.configCount > 0) configs[0] = rec::config();
    return EGL_TRUE;
}

EGLContext eglCreateContext(EGLDisplay, EGLConfig cfg, EGLContext share, const EGLint* attribs) {
    record("eglCreateContext",
           {static_cast<double>(reinterpret_cast<uintptr_t>(cfg)),
            static_cast<double>(reinterpret_cast<uintptr_t>(share)), attribs ? 1.0 : 0.0});
    if (rec::script.contextFails) {
        rec::fail();
        return EGL_NO_CONTEXT;
    }
    return rec::context();
}

// The platform wraps this name; its wrapper reaches this one.
EGLSurface eglCreatePixmapSurface(EGLDisplay, EGLConfig cfg, EGLNativePixmapType pixmap,
                                         const EGLint* attribs) {
    record("eglCreatePixmapSurface",
           {static_cast<double>(reinterpret_cast<uintptr_t>(cfg)), static_cast<double>(pixmap),
            attribs ? 1.0 : 0.0});
    if (rec::script.surfaceFails) {
        rec::fail();
        return EGL_NO_SURFACE;
    }
    return rec::surface();
}

EGLSurface eglCreatePbufferSurface(EGLDisplay, EGLConfig cfg, const EGLint* attribs) {
    std::vector<double> args{static_cast<double>(reinterpret_cast<uintptr_t>(cfg))};
    for (const EGLint* a = attribs; a && *a != EGL_NONE; ++a) args.push_back(*a);
    record("eglCreatePbufferSurface", args);
    if (rec::script.surfaceFails) {
        rec::fail();
        return EGL_NO_SURFACE;
    }
    return rec::surface();
}

// Nothing here is reached through it but the platform's own wrapped entries.
__eglMustCastToProperFunctionPointerType eglGetProcAddress(const char*) { return nullptr; }

EGLBoolean eglMakeCurrent(EGLDisplay dpy, EGLSurface draw, EGLSurface read, EGLContext ctx) {
    record("eglMakeCurrent", {static_cast<double>(reinterpret_cast<uintptr_t>(dpy)),
                              static_cast<double>(reinterpret_cast<uintptr_t>(draw)),
                              static_cast<double>(reinterpret_cast<uintptr_t>(read)),
                              static_cast<double>(reinterpret_cast<uintptr_t>(ctx))});
    if (rec::script.makeCurrentFails) return rec::fail();
    rec::currentContext = ctx;
    return EGL_TRUE;
}

EGLBoolean eglWaitNative(EGLint engine) {
    record("eglWaitNative", {static_cast<double>(engine)});
    return EGL_TRUE;
}

EGLBoolean eglWaitGL() {
    record("eglWaitGL");
    return EGL_TRUE;
}

EGLint eglGetError() {
    record("eglGetError");
    EGLint e = rec::lastError;
    rec::lastError = EGL_SUCCESS;
    return e;
}

EGLBoolean eglQuerySurface(EGLDisplay, EGLSurface, EGLint attribute, EGLint* value) {
    record("eglQuerySurface", {static_cast<double>(attribute)});
    if (rec::script.queryFails) return rec::fail();
    *value = attribute == EGL_WIDTH ? rec::script.surfaceWidth : rec::script.surfaceHeight;
    return EGL_TRUE;
}

EGLContext eglGetCurrentContext() { return rec::currentContext; }
EGLDisplay eglGetCurrentDisplay() { return rec::display(); }
EGLSurface eglGetCurrentSurface(EGLint) { return rec::surface(); }

EGLBoolean eglDestroySurface(EGLDisplay, EGLSurface) {
    record("eglDestroySurface");
    return EGL_TRUE;
}

EGLBoolean eglDestroyContext(EGLDisplay, EGLContext) {
    record("eglDestroyContext");
    return EGL_TRUE;
}

void glMatrixMode(GLenum mode) { record("glMatrixMode", {static_cast<double>(mode)}); }
void glLoadIdentity() { record("glLoadIdentity"); }

void glMultMatrixf(const GLfloat* m) {
    std::vector<double> args(m, m + 16);
    record("glMultMatrixf", args, m);
}

void glRotatef(GLfloat a, GLfloat x, GLfloat y, GLfloat z) { record("glRotatef", {a, x, y, z}); }
void glTranslatef(GLfloat x, GLfloat y, GLfloat z) { record("glTranslatef", {x, y, z}); }

void glEnable(GLenum cap) {
    record("glEnable", {static_cast<double>(cap)});
    rec::enabled.insert(cap);
}

void glDisable(GLenum cap) {
    record("glDisable", {static_cast<double>(cap)});
    rec::enabled.erase(cap);
}

GLboolean glIsEnabled(GLenum cap) { return rec::enabled.count(cap) ? GL_TRUE : GL_FALSE; }

void glClearColor(GLfloat r, GLfloat g, GLfloat b, GLfloat a) { record("glClearColor", {r, g, b, a}); }
void glClear(GLbitfield mask) { record("glClear", {static_cast<double>(mask)}); }

void glGenTextures(GLsizei n, GLuint* names) {
    record("glGenTextures", {static_cast<double>(n)});
    for (GLsizei i = 0; i < n; ++i) {
        names[i] = rec::nextTexture++;
        rec::textures.insert(names[i]);
    }
}

void glDeleteTextures(GLsizei n, const GLuint* names) {
    record("glDeleteTextures", {static_cast<double>(n), n > 0 ? static_cast<double>(names[0]) : 0});
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
    record("glBindTexture", {static_cast<double>(target), static_cast<double>(name)});
    rec::boundTexture = name;
}

void glTexImage2D(GLenum target, GLint level, GLint internal, GLsizei w, GLsizei h, GLint border,
                  GLenum format, GLenum type, const void* pixels) {
    record("glTexImage2D",
           {static_cast<double>(target), static_cast<double>(level), static_cast<double>(internal),
            static_cast<double>(w), static_cast<double>(h), static_cast<double>(border),
            static_cast<double>(format), static_cast<double>(type)},
           pixels);
}

void glTexParameterf(GLenum target, GLenum pname, GLfloat value) {
    record("glTexParameterf", {static_cast<double>(target), static_cast<double>(pname), value});
}

void glEnableClientState(GLenum array) {
    record("glEnableClientState", {static_cast<double>(array)});
    rec::clientEnabled.insert(array);
}

void glColor4f(GLfloat r, GLfloat g, GLfloat b, GLfloat a) { record("glColor4f", {r, g, b, a}); }

void glVertexPointer(GLint size, GLenum type, GLsizei stride, const void* p) {
    record("glVertexPointer",
           {static_cast<double>(size), static_cast<double>(type), static_cast<double>(stride)}, p);
}

void glTexCoordPointer(GLint size, GLenum type, GLsizei stride, const void* p) {
    record("glTexCoordPointer",
           {static_cast<double>(size), static_cast<double>(type), static_cast<double>(stride)}, p);
}

void glDrawArrays(GLenum mode, GLint first, GLsizei count) {
    record("glDrawArrays",
           {static_cast<double>(mode), static_cast<double>(first), static_cast<double>(count)});
}

void glPixelStorei(GLenum pname, GLint param) {
    record("glPixelStorei", {static_cast<double>(pname), static_cast<double>(param)});
}

void glReadPixels(GLint, GLint, GLsizei, GLsizei, GLenum, GLenum, void*) { record("glReadPixels"); }
const GLubyte* glGetString(GLenum) { return reinterpret_cast<const GLubyte*>("recording"); }

// The surface-buffer calls, wrapped at link time so that they land in the
// same record as the EGL calls.
CoreSurfaceBufferRef __real_CoreSurfaceBufferCreate(CFDictionaryRef);
int __real_CoreSurfaceBufferLock(CoreSurfaceBufferRef, unsigned int);
int __real_CoreSurfaceBufferUnlock(CoreSurfaceBufferRef);

CoreSurfaceBufferRef __wrap_CoreSurfaceBufferCreate(CFDictionaryRef properties) {
    record("CoreSurfaceBufferCreate");
    rec::lastProperties.clear();
    for (const auto& [key, value] : properties->entries) {
        std::string k = static_cast<CFStringRef>(key)->text, v;
        if (auto* s = dynamic_cast<const __CFString*>(value)) v = "\"" + s->text + "\"";
        char number[48];
        if (auto* n = dynamic_cast<const __CFNumber*>(value)) {
            std::snprintf(number, sizeof number, "i%d:%lld", n->type, static_cast<long long>(n->value));
            v = number;
        }
        if (auto* b = dynamic_cast<const __CFBoolean*>(value)) v = b->value ? "true" : "false";
        rec::lastProperties.emplace_back(k, v);
    }
    return __real_CoreSurfaceBufferCreate(properties);
}

int __wrap_CoreSurfaceBufferLock(CoreSurfaceBufferRef buffer, unsigned int flags) {
    record("CoreSurfaceBufferLock", {static_cast<double>(flags), buffer ? 1.0 : 0.0}, buffer);
    return __real_CoreSurfaceBufferLock(buffer, flags);
}

int __wrap_CoreSurfaceBufferUnlock(CoreSurfaceBufferRef buffer) {
    record("CoreSurfaceBufferUnlock", {buffer ? 1.0 : 0.0}, buffer);
    return __real_CoreSurfaceBufferUnlock(buffer);
}
}

// calloc, wrapped so that a test can make the picture's allocation fail.
extern "C" void* __real_calloc(size_t count, size_t size);
extern "C" void* __wrap_calloc(size_t count, size_t size) {
    if (rec::script.pictureAllocFails && count * size == 49152) return nullptr;
    return __real_calloc(count, size);
}
