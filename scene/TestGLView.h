// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>

#include "UIGLCameraView.h"

// The demonstration's view: a spinning cube textured with the picture file.
class TestGLView : public UIGLCameraView {
public:
    static constexpr const char* kPicturePath = "/private/var/tesmor.raw";
    static constexpr int32_t kPictureSize = 128;
    static constexpr size_t kPictureBytes = 128 * 128 * 3;

    UIView* initWithFrame(CGRect frame) override;
    void drawRect(CGRect rect) override;

    uint8_t* mbmpImage = nullptr;
    int32_t mWidth = 0;
    int32_t mHeight = 0;

    // Where the picture is read from; tests point it elsewhere.
    static const char* picturePath;

protected:
    ~TestGLView() override;
};
