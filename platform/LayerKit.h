// SPDX-License-Identifier: MIT
#pragma once

#include <vector>

#include "CoreGraphics.h"
#include "CoreSurface.h"
#include "Foundation.h"

// A rectangle of content in the layer tree; the window composites the tree of
// its content view after each redraw.
class LKLayer : public NSObject {
public:
    // Autoreleased, as a convenience constructor.
    static LKLayer* layer();

    void setFrame(CGRect frame) { mFrame = frame; }
    CGRect frame() const { return mFrame; }
    void setContents(CoreSurfaceBufferRef buffer);
    CoreSurfaceBufferRef contents() const { return mContents; }
    void setOpaque(bool opaque) { mOpaque = opaque; }
    bool isOpaque() const { return mOpaque; }

    void addSublayer(LKLayer* layer);
    const std::vector<LKLayer*>& sublayers() const { return mSublayers; }
    LKLayer* superlayer() const { return mSuperlayer; }

protected:
    ~LKLayer() override;

private:
    CGRect mFrame{};
    CoreSurfaceBufferRef mContents = nullptr;
    bool mOpaque = false;
    LKLayer* mSuperlayer = nullptr;
    std::vector<LKLayer*> mSublayers;
};
