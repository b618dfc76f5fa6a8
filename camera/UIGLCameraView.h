// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>

#include "UIGLView.h"

// An orbit camera over the GL view: two angles, a distance, a pan offset and
// a field of view, turned, zoomed and panned by pointer drags.
class UIGLCameraView : public UIGLView {
public:
    UIView* initWithFrame(CGRect frame) override;
    virtual void resetView();
    virtual void positionCamera();

    void mouseDown(GSEventRef event) override;
    void mouseDragged(GSEventRef event) override;
    void mouseUp(GSEventRef event) override;

    bool mZUp = false;
    float mCameraTheta = 0;
    float mCameraPhi = 0;
    float mCameraDistance = 0;
    float mCameraOffsetX = 0;
    float mCameraOffsetY = 0;
    float mCameraFOV = 0;
    float mStartCameraTheta = 0;
    float mStartCameraPhi = 0;
    float mStartCameraDistance = 0;
    float mStartCameraOffsetX = 0;
    float mStartCameraOffsetY = 0;
    int32_t mButtonDown = 0;
    float mMouseX = 0;
    float mMouseY = 0;
    float mMouseDownX = 0;
    float mMouseDownY = 0;

    // The projection positionCamera loads for a surface of the given size
    // (column-major).
    void projectionMatrix(int width, int height, float m[16]) const;
};

// Truncates an event's float value toward zero; NaN, infinities and values
// beyond the 32-bit range give 0 (no reset, no mode).
int32_t UIGLCameraEventInt(float value);
