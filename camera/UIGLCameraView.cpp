// SPDX-License-Identifier: MIT
#include "UIGLCameraView.h"

#include <GLES/gl.h>

#include <cmath>

UIView* UIGLCameraView::initWithFrame(CGRect frame) {
    mZUp = true;
    resetView();
    return UIGLView::initWithFrame(frame);
}

void UIGLCameraView::resetView() {
    mCameraTheta = 45;
    mCameraPhi = 30;
    mCameraDistance = 7;
    mCameraOffsetX = 0;
    mCameraOffsetY = 0;
    mCameraFOV = 50;
    mStartCameraTheta = 0;
    mStartCameraPhi = 0;
    mStartCameraDistance = 0;
    mStartCameraOffsetX = 0;
    mStartCameraOffsetY = 0;
    mMouseX = 0;
    mMouseY = 0;
    mMouseDownX = 0;
    mMouseDownY = 0;
}

void UIGLCameraView::projectionMatrix(int width, int height, float m[16]) const {
    const float a = static_cast<float>(mCameraFOV * 0.008726646259971648);
    const float f = 1.0f / tanf(a);
    // A failed query or an empty surface leaves no aspect to take; a square
    // one keeps inf and NaN out of the projection.
    float aspect = 1.0f;
    if (width > 0 && height > 0) aspect = static_cast<float>(width) / static_cast<float>(height);
    const float zNear = 0.1f;
    const float zFar = 1000.0f;
    for (int i = 0; i < 16; ++i) m[i] = 0;
    m[0] = f / aspect;
    m[5] = f;
    m[10] = (zFar + zNear) / (zNear - zFar);
    m[11] = -1;
    m[14] = 2 * zFar * zNear / (zNear - zFar);
}

void UIGLCameraView::positionCamera() {
    EGLint width = 0, height = 0;
    if (!eglQuerySurface(mEGLDisplay, mEGLSurface, EGL_WIDTH, &width)) width = 0;
    if (!eglQuerySurface(mEGLDisplay, mEGLSurface, EGL_HEIGHT, &height)) height = 0;

    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    float m[16];
    projectionMatrix(width, height, m);
    glMultMatrixf(m);
    if (mZUp) glRotatef(-90, 1, 0, 0);

    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    if (mZUp)
        glTranslatef(mCameraOffsetX, mCameraDistance, mCameraOffsetY);
    else
        glTranslatef(mCameraOffsetX, mCameraOffsetY, -mCameraDistance);
    glRotatef(mCameraPhi, 1, 0, 0);
    glRotatef(mCameraTheta, 0, 0, 1);
}

int32_t UIGLCameraEventInt(float value) {
    // Converting these would be undefined; both bounds are exact floats.
    if (std::isnan(value) || value >= 2147483648.0f || value < -2147483648.0f) return 0;
    return static_cast<int32_t>(value);
}

void UIGLCameraView::mouseDown(GSEventRef event) {
    const CGRect where = GSEventGetLocationInWindow(event);
    const float x = CGRectGetMinX(where);
    const float y = CGRectGetMinY(where);
    if (UIGLCameraEventInt(GSEventGetDeltaX(event)) == 2) resetView();
    mMouseDownX = x;
    mMouseDownY = y;
    mButtonDown = UIGLCameraEventInt(GSEventGetDeltaY(event));
    mStartCameraTheta = mCameraTheta;
    mStartCameraPhi = mCameraPhi;
    mStartCameraDistance = mCameraDistance;
    mStartCameraOffsetX = mCameraOffsetX;
    mStartCameraOffsetY = mCameraOffsetY;
}

void UIGLCameraView::mouseDragged(GSEventRef event) {
    const CGRect where = GSEventGetLocationInWindow(event);
    const float x = where.origin.x;
    const float y = where.origin.y;
    if (UIGLCameraEventInt(GSEventGetDeltaY(event)) != mButtonDown) mouseDown(event);

    const float dx = (x - mMouseDownX) / 400.0f;
    const float dy = (y - mMouseDownY) / 400.0f;
    switch (mButtonDown) {
    case 1: {
        const float turnX = dx * 180.0f;
        const float turnY = dy * 180.0f;
        mCameraTheta = mStartCameraTheta + turnX;
        mCameraPhi = mStartCameraPhi + turnY;
        break;
    }
    case 2: {
        const float spread = dx - dy;
        mCameraDistance = static_cast<float>(static_cast<double>(mStartCameraDistance) +
                                             static_cast<double>(spread) * 4.0);
        break;
    }
    case 3:
        mCameraOffsetX = static_cast<float>(static_cast<double>(mStartCameraOffsetX) +
                                            static_cast<double>(dx) * 4.0);
        mCameraOffsetY = static_cast<float>(static_cast<double>(mStartCameraOffsetY) +
                                            static_cast<double>(dy) * -4.0);
        break;
    default:
        break;
    }
}

void UIGLCameraView::mouseUp(GSEventRef) { mButtonDown = 0; }
