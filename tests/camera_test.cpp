// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <cmath>

#include "TestViews.h"
#include "UIGLCameraView.h"

namespace {

// theta, phi, distance, offset x and y, field of view
std::vector<float> pose(const UIGLCameraView* v) {
    return {v->mCameraTheta, v->mCameraPhi, v->mCameraDistance, v->mCameraOffsetX, v->mCameraOffsetY, v->mCameraFOV};
}
const std::vector<float> kDefaultPose{45, 30, 7, 0, 0, 50};

class CameraTest : public RecordingTest {
protected:
    void SetUp() override {
        RecordingTest::SetUp();
        view = make<UIGLCameraView>(0, 0, 320, 480);
        ASSERT_NE(view, nullptr);
        rec::calls.clear();
    }
    void TearDown() override {
        view->release();
        RecordingTest::TearDown();
    }
    std::vector<float> matrix() {
        auto m = rec::only("glMultMatrixf");
        EXPECT_EQ(m.size(), 1u);
        std::vector<float> out;
        for (double v : m.at(0).args) out.push_back(static_cast<float>(v));
        return out;
    }
    UIGLCameraView* view = nullptr;
};

TEST_F(CameraTest, ProjectionAndModelviewAtTheDefaultsOn320By480) {
    view->positionCamera();
    using Names = std::vector<std::string>;
    EXPECT_EQ(rec::names(), (Names{"eglQuerySurface", "eglQuerySurface", "glMatrixMode", "glLoadIdentity",
                                   "glMultMatrixf", "glRotatef", "glMatrixMode", "glLoadIdentity",
                                   "glTranslatef", "glRotatef", "glRotatef"}));
    using Args = std::vector<std::vector<double>>;
    EXPECT_EQ(rec::argsOf("eglQuerySurface"), (Args{{EGL_WIDTH}, {EGL_HEIGHT}}));
    EXPECT_EQ(rec::argsOf("glMatrixMode"), (Args{{GL_PROJECTION}, {GL_MODELVIEW}}));
    EXPECT_EQ(rec::argsOf("glTranslatef"), (Args{{0, 7, 0}}));
    EXPECT_EQ(rec::argsOf("glRotatef"), (Args{{-90, 1, 0, 0}, {30, 1, 0, 0}, {45, 0, 0, 1}}));

    std::vector<float> m = matrix();
    // Single precision throughout (tanf of the single-rounded angle, one
    // reciprocal, one division for the aspect): the bits, not a tolerance.
    EXPECT_EQ(bitsOf(m[0]), 0x404DDF67u);
    EXPECT_EQ(bitsOf(m[5]), 0x40093F9Au);
    EXPECT_EQ(bitsOf(m[10]), 0xBF80068Du);
    EXPECT_EQ(m[11], -1.0f);
    EXPECT_EQ(bitsOf(m[14]), 0xBE4CD20Bu);
    for (int i : {1, 2, 3, 4, 6, 7, 8, 9, 12, 13, 15}) EXPECT_EQ(m[i], 0.0f) << "element " << i;
}

TEST_F(CameraTest, WithoutZUpThereIsNoTurnAndTheTranslationLooksDownMinusZ) {
    view->mZUp = false;
    view->mCameraOffsetX = 0.5f;
    view->mCameraOffsetY = -0.25f;
    view->positionCamera();
    EXPECT_EQ(rec::only("glRotatef").size(), 2u);
    EXPECT_EQ(rec::only("glTranslatef")[0].args, (std::vector<double>{0.5, -0.25, -7}));
}

// A failed or empty size keeps the projection finite, with a square aspect.
TEST_F(CameraTest, SizeIsReadFromTheSurfaceOnEveryCall) {
    const struct {
        bool fails;
        EGLint width, height;
        float aspect;
    } cases[] = {{false, 480, 320, 1.5f}, {true, 320, 480, 1}, {false, 320, 0, 1}, {false, 0, 480, 1}};
    for (const auto& c : cases) {
        rec::calls.clear();
        rec::script.queryFails = c.fails;
        rec::script.surfaceWidth = c.width;
        rec::script.surfaceHeight = c.height;
        view->positionCamera();
        std::vector<float> m = matrix();
        for (float v : m) EXPECT_TRUE(std::isfinite(v)) << c.width << "x" << c.height;
        EXPECT_FLOAT_EQ(m[5], 2.1445069f) << c.width << "x" << c.height;
        EXPECT_FLOAT_EQ(m[0] * c.aspect, m[5]) << c.width << "x" << c.height;
    }
}

TEST_F(CameraTest, InitialisationSetsZUpAndTheDefaultPoseAndResetRestoresThePoseOnly) {
    EXPECT_TRUE(view->mZUp);
    EXPECT_EQ(pose(view), kDefaultPose);
    EXPECT_EQ(view->mButtonDown, 0);
    view->mZUp = false;
    view->mButtonDown = 3;
    view->mCameraTheta = 1;
    view->mCameraDistance = -4;
    view->mStartCameraPhi = 9;
    view->mMouseDownX = 12;
    view->resetView();
    EXPECT_FALSE(view->mZUp);
    EXPECT_EQ(view->mButtonDown, 3);
    EXPECT_EQ(pose(view), kDefaultPose);
    EXPECT_EQ(view->mStartCameraPhi, 0.0f);
    EXPECT_EQ(view->mMouseDownX, 0.0f);
}

// Pointer gestures.

class GestureTest : public CameraTest {
protected:
    void send(void (UIGLCameraView::*handler)(GSEventRef), float x, float y, float button, float clicks = 1) {
        __GSEvent e{CGRectMake(x, y, 0, 0), clicks, button};
        (view->*handler)(&e);
    }
    void down(float x, float y, float button, float clicks = 1) {
        send(&UIGLCameraView::mouseDown, x, y, button, clicks);
    }
    void drag(float x, float y, float button) { send(&UIGLCameraView::mouseDragged, x, y, button); }
};

// Each drag event moves the camera from the anchor, by button; nothing is
// clamped or wrapped, and the handlers draw nothing.
TEST_F(GestureTest, DragsTurnZoomAndPanFromTheAnchorUnclamped) {
    struct Case {
        float button, x0, y0, x1, y1;
        float theta, phi, distance, offsetX, offsetY;
    } cases[] = {
        {1, 100, 100, 500, 100, 225, 30, 7, 0, 0},  {1, 100, 100, 100, 300, 45, 120, 7, 0, 0},
        {2, 100, 100, 200, 0, 45, 30, 9, 0, 0},     {3, 100, 100, 200, 200, 45, 30, 7, 1, -1},
        {2, 320, 0, 0, 480, 45, 30, -1, 0, 0},      {1, 0, 0, 0, 4000, 45, 1830, 7, 0, 0},
    };
    for (const Case& c : cases) {
        view->resetView();
        down(c.x0, c.y0, c.button);
        drag(c.x0 + 7, c.y0 + 3, c.button);  // only the last event counts
        drag(c.x1, c.y1, c.button);
        EXPECT_EQ(pose(view), (std::vector<float>{c.theta, c.phi, c.distance, c.offsetX, c.offsetY, 50}))
            << "button " << c.button << " to " << c.x1 << "," << c.y1;
    }
    EXPECT_TRUE(rec::calls.empty());
}

// One gesture after another: a drag with another button, or with one after a
// release, re-anchors where it is; a release keeps the pose and the anchor; a
// double touch resets before anchoring; unknown buttons move nothing.
TEST_F(GestureTest, ButtonChangesReleasesDoubleTouchesAndUnknownButtons) {
    struct Step {
        char event;  // down, move (drag) or up
        float x, y, button, clicks;
        // theta, phi, distance, offset x and y; the same at the anchor; the button; the anchor
        std::vector<float> after;
    } steps[] = {
        {'d', 0, 0, 1, 1, {45, 30, 7, 0, 0, 45, 30, 7, 0, 0, 1, 0, 0}},
        {'m', 40, 0, 1, 1, {63, 30, 7, 0, 0, 45, 30, 7, 0, 0, 1, 0, 0}},
        {'m', 80, 0, 2, 1, {63, 30, 7, 0, 0, 63, 30, 7, 0, 0, 2, 80, 0}},
        {'m', 180, 0, 2, 1, {63, 30, 8, 0, 0, 63, 30, 7, 0, 0, 2, 80, 0}},
        {'u', 0, 0, 0, 1, {63, 30, 8, 0, 0, 63, 30, 7, 0, 0, 0, 80, 0}},
        {'m', 200, 200, 0, 1, {63, 30, 8, 0, 0, 63, 30, 7, 0, 0, 0, 80, 0}},
        {'m', 200, 200, 1, 1, {63, 30, 8, 0, 0, 63, 30, 8, 0, 0, 1, 200, 200}},
        {'d', 0, 0, 3, 1, {63, 30, 8, 0, 0, 63, 30, 8, 0, 0, 3, 0, 0}},
        {'m', 100, 0, 3, 1, {63, 30, 8, 1, 0, 63, 30, 8, 0, 0, 3, 0, 0}},
        {'u', 0, 0, 0, 1, {63, 30, 8, 1, 0, 63, 30, 8, 0, 0, 0, 0, 0}},
        {'d', 50, 60, 3, 2, {45, 30, 7, 0, 0, 45, 30, 7, 0, 0, 3, 50, 60}},
        {'m', 150, 60, 3, 1, {45, 30, 7, 1, 0, 45, 30, 7, 0, 0, 3, 50, 60}},
        {'d', 10, 10, 4, 1, {45, 30, 7, 1, 0, 45, 30, 7, 1, 0, 4, 10, 10}},
        {'m', 300, 300, 4, 1, {45, 30, 7, 1, 0, 45, 30, 7, 1, 0, 4, 10, 10}},
        {'d', 10, 10, 0, 1, {45, 30, 7, 1, 0, 45, 30, 7, 1, 0, 0, 10, 10}},
        {'m', 300, 300, 0, 1, {45, 30, 7, 1, 0, 45, 30, 7, 1, 0, 0, 10, 10}},
        {'d', 10, 10, -1, 1, {45, 30, 7, 1, 0, 45, 30, 7, 1, 0, -1, 10, 10}},
        {'m', 300, 300, -1, 1, {45, 30, 7, 1, 0, 45, 30, 7, 1, 0, -1, 10, 10}},
    };
    for (const Step& s : steps) {
        send(s.event == 'd'   ? &UIGLCameraView::mouseDown
             : s.event == 'm' ? &UIGLCameraView::mouseDragged
                              : &UIGLCameraView::mouseUp,
             s.x, s.y, s.button, s.clicks);
        const UIGLCameraView& v = *view;
        EXPECT_EQ((std::vector<float>{v.mCameraTheta, v.mCameraPhi, v.mCameraDistance, v.mCameraOffsetX,
                                      v.mCameraOffsetY, v.mStartCameraTheta, v.mStartCameraPhi,
                                      v.mStartCameraDistance, v.mStartCameraOffsetX, v.mStartCameraOffsetY,
                                      static_cast<float>(v.mButtonDown), v.mMouseDownX, v.mMouseDownY}),
                  s.after)
            << s.event << " " << s.x << "," << s.y << " button " << s.button;
    }
}

TEST_F(GestureTest, BadEventValuesGiveNoResetAndNoMode) {
    const float bad[] = {NAN, INFINITY, -INFINITY, 3e9f, -3e9f, 1e30f};
    for (float v : bad) {
        view->mCameraTheta = 10;
        down(0, 0, 1, v);  // not a double touch
        EXPECT_EQ(view->mCameraTheta, 10.0f);
        down(0, 0, v);
        EXPECT_EQ(view->mButtonDown, 0);
        drag(400, 400, v);
        EXPECT_EQ(view->mCameraTheta, 10.0f);
    }
    // Values in range are truncated toward zero.
    down(0, 0, 1.9f, 2.7f);
    EXPECT_EQ(view->mButtonDown, 1);
    EXPECT_EQ(view->mCameraTheta, 45.0f);  // 2.7 counts as a double touch
    EXPECT_EQ(UIGLCameraEventInt(-2147483648.0f), INT32_MIN);
    EXPECT_EQ(UIGLCameraEventInt(2147483648.0f), 0);
    EXPECT_EQ(UIGLCameraEventInt(-3.9f), -3);
}

}  // namespace
