// SPDX-License-Identifier: MIT
#include "LayerKit.h"

LKLayer* LKLayer::layer() {
    LKLayer* layer = alloc<LKLayer>();
    layer->autorelease();
    return layer;
}

void LKLayer::setContents(CoreSurfaceBufferRef buffer) {
    if (buffer) CFRetain(buffer);
    if (mContents) CFRelease(mContents);
    mContents = buffer;
}

void LKLayer::addSublayer(LKLayer* layer) {
    if (!layer || layer == this) return;
    layer->retain();
    if (LKLayer* old = layer->mSuperlayer) {
        std::erase(old->mSublayers, layer);
        layer->release();
    }
    layer->mSuperlayer = this;
    mSublayers.push_back(layer);
}

LKLayer::~LKLayer() {
    for (LKLayer* sub : mSublayers) {
        sub->mSuperlayer = nullptr;
        sub->release();
    }
    setContents(nullptr);
}
