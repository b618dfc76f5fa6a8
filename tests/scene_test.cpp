// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <map>

#include "CubeModel.h"
#include "DrawCube.h"
#include "TestGLView.h"
#include "TestViews.h"

namespace {

using Names = std::vector<std::string>;

class DrawCubeTest : public RecordingTest {};

// Without a picture too, the texture is specified and what is turned on stays on.
TEST_F(DrawCubeTest, UploadsThePictureThenDrawsSixColouredFans) {
    std::vector<uint8_t> picture(128 * 128 * 3, 7);
    for (const uint8_t* pixels : {picture.data(), static_cast<uint8_t*>(nullptr)}) {
        rec::reset();
        DrawCube(128, 128, pixels);
        Names expected{"glGenTextures", "glBindTexture", "glTexImage2D", "glTexParameterf", "glTexParameterf",
                       "glEnable", "glEnable", "glEnable", "glEnable", "glEnable",
                       "glEnableClientState", "glEnableClientState"};
        for (int face = 0; face < 6; ++face)
            for (const char* fn : {"glColor4f", "glVertexPointer", "glTexCoordPointer", "glDrawArrays"})
                expected.push_back(fn);
        EXPECT_EQ(rec::names(), expected);

        using Args = std::vector<std::vector<double>>;
        EXPECT_EQ(rec::argsOf("glTexImage2D"),
                  (Args{{GL_TEXTURE_2D, 0, GL_RGB, 128, 128, 0, GL_RGB, GL_UNSIGNED_BYTE}}));
        EXPECT_EQ(rec::only("glTexImage2D")[0].ptr, pixels);
        EXPECT_EQ(rec::argsOf("glTexParameterf"),
                  (Args{{GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR},
                        {GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR}}));
        ASSERT_EQ(rec::textures.size(), 1u);
        EXPECT_EQ(rec::argsOf("glBindTexture"), (Args{{GL_TEXTURE_2D, static_cast<double>(*rec::textures.begin())}}));
        EXPECT_EQ(rec::argsOf("glEnable"),
                  (Args{{GL_TEXTURE_2D}, {GL_LIGHTING}, {GL_LIGHT0}, {GL_LIGHT1}, {GL_COLOR_MATERIAL}}));
        EXPECT_EQ(rec::argsOf("glEnableClientState"), (Args{{GL_VERTEX_ARRAY}, {GL_TEXTURE_COORD_ARRAY}}));
        EXPECT_EQ(rec::argsOf("glColor4f"),
                  (Args{{0, 1, 0, 1}, {1, 0, 1, 1}, {0, 0, 1, 1}, {1, 1, 0, 1}, {1, 0, 0, 1}, {0, 1, 1, 1}}));
        EXPECT_EQ(rec::argsOf("glVertexPointer"), Args(6, {3, GL_FLOAT, 0}));
        EXPECT_EQ(rec::argsOf("glTexCoordPointer"), Args(6, {2, GL_FLOAT, 0}));
        EXPECT_EQ(rec::argsOf("glDrawArrays"), Args(6, {GL_TRIANGLE_FAN, 0, 4}));
        for (int face = 0; face < 6; ++face) {
            EXPECT_EQ(rec::only("glVertexPointer")[face].ptr, verts[4 * face]) << "face " << face;
            EXPECT_EQ(rec::only("glTexCoordPointer")[face].ptr, texCoords[4 * face]) << "face " << face;
        }
    }
}

// Each fan is its face as the screen should show it: each corner at its
// texture coordinate, and both triangles wound counter-clockwise seen from
// outside, so that culling keeps the faces turned to the viewer.
TEST_F(DrawCubeTest, EachFanIsItsFaceTexturedAndFacingOut) {
    const float kAt[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    auto outward = [](const float* a, const float* b, const float* c) {
        float u[3], w[3];
        for (int i = 0; i < 3; ++i) u[i] = b[i] - a[i], w[i] = c[i] - a[i];
        float n[3] = {u[1] * w[2] - u[2] * w[1], u[2] * w[0] - u[0] * w[2], u[0] * w[1] - u[1] * w[0]};
        return n[0] * a[0] + n[1] * a[1] + n[2] * a[2] > 0;  // away from the cube's centre
    };
    for (int f = 0; f < 6; ++f) {
        for (int v = 4 * f; v < 4 * f + 4; ++v) {
            int k = 0;
            while (k < 4 && !(kAt[k][0] == texCoords[v][0] && kAt[k][1] == texCoords[v][1])) ++k;
            ASSERT_LT(k, 4) << "vertex " << v << ": not a corner of the picture";
            EXPECT_EQ(std::vector<float>(verts[v], verts[v] + 3),
                      std::vector<float>(e2e::kFaces[f].corner[k], e2e::kFaces[f].corner[k] + 3))
                << "vertex " << v;
        }
        const float(*fan)[3] = &verts[4 * f];
        EXPECT_TRUE(outward(fan[0], fan[1], fan[2]) && outward(fan[0], fan[2], fan[3])) << "face " << f;
    }
}

TEST_F(DrawCubeTest, KeepsOneTextureObjectAcrossFrames) {
    for (int frame = 0; frame < 50; ++frame) DrawCube(128, 128, nullptr);
    EXPECT_EQ(rec::textures.size(), 1u);
    EXPECT_EQ(rec::only("glDeleteTextures").size(), 49u);
    EXPECT_EQ(rec::only("glTexImage2D").size(), 50u);  // each frame uploads anew
}

// The test view.

std::string tempPath(const char* name) {
    return std::string(testing::TempDir()) + "orvanel_" + std::to_string(getpid()) + "_" + name;
}

uint8_t patternByte(size_t i) { return static_cast<uint8_t>((i * 7 + 3) & 0xFF); }

class PictureTest : public RecordingTest {
protected:
    void TearDown() override {
        TestGLView::picturePath = TestGLView::kPicturePath;
        for (auto& p : mFiles) std::remove(p.c_str());  // in order: what is in a folder before it
        RecordingTest::TearDown();
    }
    std::string write(const char* name, size_t bytes) {
        std::string path = tempPath(name);
        std::ofstream out(path, std::ios::binary);
        for (size_t i = 0; i < bytes; ++i) out.put(static_cast<char>(patternByte(i)));
        mFiles.push_back(path);
        return path;
    }
    template <class View = TestGLView>
    View* load(const std::string& path) {
        TestGLView::picturePath = path.c_str();
        View* view = make<View>(0, 0, 320, 480);
        TestGLView::picturePath = TestGLView::kPicturePath;
        return view;
    }
    // The last byte of the picture a view loads from `path`; -1 for none.
    int lastByte(const std::string& path) {
        TestGLView* view = load(path);
        int last = view->mbmpImage ? view->mbmpImage[49151] : -1;
        view->release();
        return last;
    }
    std::vector<std::string> mFiles;
};

TEST_F(PictureTest, ExactFileFillsTheTextureFirstRowFirstAndALongerOneAsFarAsThePicture) {
    const std::string exact = write("exact.raw", 49152);
    TestGLView* view = load(exact);
    ASSERT_NE(view->mbmpImage, nullptr);
    EXPECT_EQ(view->mWidth, 128);
    EXPECT_EQ(view->mHeight, 128);
    for (size_t i : {0u, 1u, 2u, 49149u, 49150u, 49151u}) EXPECT_EQ(view->mbmpImage[i], patternByte(i));
    rec::calls.clear();
    view->drawRect(view->bounds());
    EXPECT_EQ(rec::only("glTexImage2D").at(0).ptr, view->mbmpImage);
    view->release();
    EXPECT_EQ(lastByte(write("long.raw", 60000)), patternByte(49151));
    EXPECT_EQ(output(), "GL version 1.4\nGL version 1.4\n");

    rec::script.pictureAllocFails = true;
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(lastByte(exact), -1);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "\nFailed to alloc memory for bmpImage dataGL version 1.4\n");
}

// With nothing at the path the bundled sample is shown where there is one;
// something bad there is the user's to mend, and only reported.
TEST_F(PictureTest, MissingFileIsOneLineThenTheBundledSampleIfThereIsOne) {
    std::string missing = tempPath("missing.raw"), dir = tempPath("not_a_file");
    const std::string cannot = "\nCannot open picture file " + missing + ": No such file or directory";
    TestGLView* view = load(missing);
    EXPECT_EQ(view->mbmpImage, nullptr);
    EXPECT_EQ(output(), cannot + "GL version 1.4\n");
    rec::calls.clear();
    view->drawRect(view->bounds());
    EXPECT_EQ(rec::only("glDrawArrays").size(), 6u);
    view->release();

    std::string bundle = tempPath("bundle"), loop = tempPath("loop"), dangling = tempPath("dangling");
    mkdir(bundle.c_str(), 0700);
    std::string sample = bundle + "/tesmor.raw";
    std::rename(write("sample.raw", 49152).c_str(), sample.c_str());
    NSBundle::mainBundle()->_setResourcePath(bundle);
    mkdir(dir.c_str(), 0700);
    EXPECT_EQ(symlink(loop.c_str(), loop.c_str()), 0);
    EXPECT_EQ(symlink(tempPath("nowhere").c_str(), dangling.c_str()), 0);
    std::string throughFile = write("plain.raw", 10) + "/tesmor.raw";  // nothing can be there
    mFiles.insert(mFiles.end(), {sample, bundle, dir, loop, dangling});
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(lastByte(missing), patternByte(49151));
    EXPECT_EQ(lastByte(dir), -1);
    EXPECT_EQ(lastByte(loop + "/tesmor.raw"), -1);  // a path that cannot be followed is not nothing
    EXPECT_EQ(lastByte(dangling), -1);              // a link to nothing is something
    EXPECT_EQ(lastByte(throughFile), patternByte(49151));
    // A picture named on the command line has no stand-in.
    NSUserDefaults::standardUserDefaults()->_setStringForKey(missing, "picture");
    EXPECT_EQ(lastByte(tempPath("also-missing.raw")), -1);
    NSUserDefaults::standardUserDefaults()->_setStringForKey("", "picture");
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              cannot + "\nShowing the sample picture " + sample + " instead\nGL version 1.4\n" +
                  "\nCannot open picture file " + dir + ": not a regular fileGL version 1.4\n" +
                  "\nCannot open picture file " + loop + "/tesmor.raw: Too many levels of symbolic links" +
                  "GL version 1.4\n" + "\nCannot open picture file " + dangling +
                  ": No such file or directoryGL version 1.4\n" + "\nCannot open picture file " + throughFile +
                  ": Not a directory\nShowing the sample picture " + sample + " instead\nGL version 1.4\n" + cannot +
                  "GL version 1.4\n");
}

TEST_F(PictureTest, ShortFileIsZeroFilledPastWhatWasRead) {
    TestGLView* view = load(write("short.raw", 1000));
    ASSERT_NE(view->mbmpImage, nullptr);
    EXPECT_EQ(view->mbmpImage[999], patternByte(999));
    EXPECT_EQ(view->mbmpImage[1000], 0);
    EXPECT_EQ(view->mbmpImage[49151], 0);
    std::string out = output();
    EXPECT_EQ(out.rfind("\n", 0), 0u);
    EXPECT_NE(out.find("1000"), std::string::npos) << out;
    EXPECT_EQ(out.substr(out.find("GL version")), "GL version 1.4\n");
    view->release();
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(lastByte(write("one_short.raw", 49151)), 0);  // one byte short is short too
    EXPECT_NE(::testing::internal::GetCapturedStdout().find("read 49151 of 49152"), std::string::npos);
}

TEST_F(PictureTest, EmptyFileDirectoryAndFifoNeverHang) {
    std::string dir = tempPath("dir"), fifo = tempPath("fifo");
    mkdir(dir.c_str(), 0700);
    mkfifo(fifo.c_str(), 0600);
    mFiles.insert(mFiles.end(), {dir, fifo});
    auto start = std::chrono::steady_clock::now();
    for (const std::string& path : {write("empty.raw", 0), dir, fifo}) EXPECT_LE(lastByte(path), 0) << path;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    std::string out = output();
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 6) << out;  // one diagnostic per file
    // The folder and the FIFO are refused by what they are, not read.
    EXPECT_NE(out.find(dir + ": not a regular file"), std::string::npos) << out;
    EXPECT_NE(out.find(fifo + ": not a regular file"), std::string::npos) << out;
}

// Records what the class chain had done when the camera was reset.
class ProbeView : public TestGLView {
public:
    void resetView() override {
        ++resets;
        pictureLoadedFirst = mWidth == 128 && mbmpImage != nullptr;
        zUpFirst = mZUp;
        glNotStarted = rec::calls.empty();
        TestGLView::resetView();
    }
    // Every call the views make on themselves reaches the subclass.
    void mouseDown(GSEventRef e) override { ++reached["mouseDown"], TestGLView::mouseDown(e); }
    void beginScene() override { ++reached["beginScene"], TestGLView::beginScene(); }
    void positionCamera() override { ++reached["positionCamera"], TestGLView::positionCamera(); }
    void endScene() override { ++reached["endScene"], TestGLView::endScene(); }
    std::map<std::string, int> reached;
    int resets = 0;
    bool pictureLoadedFirst = false, zUpFirst = false, glNotStarted = false;
};

TEST_F(PictureTest, PictureThenCameraThenGLAndResetReachesTheSubclass) {
    auto* view = load<ProbeView>(write("order.raw", 49152));
    EXPECT_EQ(view->resets, 1);
    EXPECT_TRUE(view->pictureLoadedFirst);
    EXPECT_TRUE(view->zUpFirst);
    EXPECT_TRUE(view->glNotStarted);
    EXPECT_FALSE(rec::calls.empty());
    EXPECT_EQ(view->mCameraTheta, 45.0f);
    // A double touch reaches the override too, through a drag that re-anchors.
    __GSEvent e{CGRectMake(0, 0, 0, 0), 2, 1};
    view->mouseDragged(&e);
    EXPECT_EQ(view->resets, 2);
    view->drawRect(view->bounds());
    EXPECT_EQ(view->reached, (std::map<std::string, int>{
                                 {"mouseDown", 1}, {"beginScene", 1}, {"positionCamera", 1}, {"endScene", 1}}));
    view->release();
}

class FrameTest : public PictureTest {};

TEST_F(FrameTest, DrawRectSpinsThenBracketsTheCameraClearAndCube) {
    TestGLView* view = load(tempPath("none.raw"));
    rec::calls.clear();
    view->drawRect(view->bounds());
    Names names = rec::names();
    EXPECT_EQ(names.front(), "eglWaitNative");
    EXPECT_EQ(names.back(), "CoreSurfaceBufferUnlock");
    auto camera = std::find(names.begin(), names.end(), "glMultMatrixf");
    ASSERT_GT(camera - names.begin(), 2);
    auto depth = std::find(camera, names.end(), "glEnable") - names.begin();
    EXPECT_EQ(Names(names.begin() + depth, names.begin() + depth + 5),
              (Names{"glEnable", "glClearColor", "glClear", "glDisable", "glGenTextures"}));
    using Args = std::vector<double>;
    EXPECT_EQ(rec::calls[depth].args, Args{GL_DEPTH_TEST});
    EXPECT_EQ(rec::calls[depth + 1].args, (Args{0.3f, 0.3f, 0.4f, 1.0f}));
    EXPECT_EQ(rec::calls[depth + 2].args, Args{0x4500});
    EXPECT_EQ(rec::calls[depth + 3].args, Args{GL_CULL_FACE});
    // The spin is in place before the camera is loaded.
    EXPECT_EQ(rec::only("glRotatef").back().args[0], static_cast<double>(45.0f + 5.94f));
    view->release();
}

TEST_F(FrameTest, SpinAccumulatesOneFrameAtATimeInSinglePrecision) {
    TestGLView* view = load(tempPath("none.raw"));
    for (int n = 0; n < 1000; ++n) view->drawRect(view->bounds());
    // Where the camera is after 1,000 frames, to the bit: a sum taken frame
    // by frame in single precision (one product would give 5985 and 5970).
    EXPECT_EQ(bitsOf(view->mCameraTheta), 0x45BB079Du) << view->mCameraTheta;
    EXPECT_EQ(bitsOf(view->mCameraPhi), 0x45BA8F9Du) << view->mCameraPhi;
    view->release();
}

// Between drag events the spin turns the camera; a one-button drag event puts
// both angles back where the drag says, and zoom and pan leave them spinning.
TEST_F(FrameTest, ATurningDragOverridesTheSpinAndZoomingLetsItGoOn) {
    TestGLView* view = load(tempPath("none.raw"));
    __GSEvent down{CGRectMake(0, 0, 0, 0), 1, 1}, drag{CGRectMake(400, 0, 0, 0), 1, 1};
    view->mouseDown(&down);
    view->drawRect(view->bounds());
    view->mouseDragged(&drag);
    EXPECT_EQ(view->mCameraTheta, 45.0f + 180.0f);
    EXPECT_EQ(view->mCameraPhi, 30.0f);
    __GSEvent zoomDown{CGRectMake(0, 0, 0, 0), 1, 2}, zoom{CGRectMake(100, -100, 0, 0), 1, 2};
    view->mouseDown(&zoomDown);
    view->drawRect(view->bounds());
    view->mouseDragged(&zoom);
    EXPECT_EQ(view->mCameraTheta, 225.0f + 5.94f);
    EXPECT_EQ(view->mCameraDistance, 9.0f);
    view->release();
}

}  // namespace
