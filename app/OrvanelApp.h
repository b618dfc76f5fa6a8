// SPDX-License-Identifier: MIT
#pragma once

#include "UIGLView.h"
#include "UIKit.h"

// Shows the test view full-screen and redraws it every 0.033 s.
class OrvanelApp : public UIApplication {
public:
    void applicationDidFinishLaunching(id sender) override;
    void applicationWillTerminate() override;
    void update();

    UIGLView* mGLView = nullptr;

    static constexpr double kFramePeriod = 0.033;
};

int OrvanelMain(int argc, char** argv);
