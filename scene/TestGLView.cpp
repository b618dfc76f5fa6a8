// SPDX-License-Identifier: MIT
#include "TestGLView.h"

#include <GLES/gl.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <vector>

#include "DrawCube.h"
#include "Foundation.h"
#include "Picture.h"

const char* TestGLView::picturePath = TestGLView::kPicturePath;

namespace {
// A PNG the user named, as the picture tool would have made it into a
// picture: the same bytes, read as the picture file would be.
FILE* openPng(const char* path) {
    static std::vector<uint8_t> converted;
    picture::Pixels image;
    std::string error;
    if (!picture::readImage(path, image, error)) {
        std::string prefix = std::string(path) + ": ";
        if (error.rfind(prefix, 0) == 0) error.erase(0, prefix.size());
        printf("\nCannot open picture file %s: %s", path, error.c_str());
        return nullptr;
    }
    converted = picture::toPicture(image);
    return fmemopen(converted.data(), converted.size(), "rb");
}

// Opens read-only in binary mode. Without O_NONBLOCK a FIFO with no writer
// would hang start-up, so only a regular file is taken. A PNG is taken only
// where the user named the file.
FILE* openPicture(const char* path, bool pngToo = false) {
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        printf("\nCannot open picture file %s: %s", path, strerror(errno));
        return nullptr;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        printf("\nCannot open picture file %s: not a regular file", path);
        close(fd);
        return nullptr;
    }
    if (pngToo && picture::isPng(fd)) {
        close(fd);
        return openPng(path);
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    FILE* file = fdopen(fd, "rb");
    if (!file) {
        printf("\nCannot open picture file %s: %s", path, strerror(errno));
        close(fd);
    }
    return file;
}

// True when nothing at all is at the path (a dangling link is something).
bool nothingAt(const char* path) {
    struct stat st {};
    return lstat(path, &st) != 0 && (errno == ENOENT || errno == ENOTDIR);
}
}  // namespace

UIView* TestGLView::initWithFrame(CGRect frame) {
    mWidth = kPictureSize;
    mHeight = kPictureSize;
    // A picture named on the command line stands in for the fixed path, and
    // nothing stands in for it.
    std::string chosen = NSUserDefaults::standardUserDefaults()->stringForKey("picture");
    std::string path = chosen.empty() ? picturePath : chosen;
    FILE* file = openPicture(path.c_str(), !chosen.empty());
    if (!file && chosen.empty() && nothingAt(path.c_str())) {
        // The user has put no picture of their own: show the one installed
        // with the program.
        path = NSBundle::mainBundle()->pathForResource("tesmor", "raw");
        if (!path.empty() && (file = openPicture(path.c_str())))
            printf("\nShowing the sample picture %s instead\n", path.c_str());
    }
    if (file) {
        // Zeroed, so that a short file leaves black texels, not garbage.
        mbmpImage = static_cast<uint8_t*>(calloc(kPictureBytes, 1));
        if (!mbmpImage) {
            printf("\nFailed to alloc memory for bmpImage data");
        } else {
            size_t got = fread(mbmpImage, 1, kPictureBytes, file);
            if (got < kPictureBytes)
                printf("\nPicture file %s is short: read %zu of %zu bytes", path.c_str(), got,
                       kPictureBytes);
        }
        fclose(file);
    }
    return UIGLCameraView::initWithFrame(frame);
}

void TestGLView::drawRect(CGRect) {
    const float spin = 5.94f;
    mCameraTheta += spin;
    mCameraPhi += spin;
    beginScene();
    positionCamera();
    glEnable(GL_DEPTH_TEST);
    glClearColor(0.3f, 0.3f, 0.4f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
    glDisable(GL_CULL_FACE);
    DrawCube(mWidth, mHeight, mbmpImage);
    endScene();
}

TestGLView::~TestGLView() { free(mbmpImage); }
