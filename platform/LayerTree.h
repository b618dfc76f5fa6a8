// SPDX-License-Identifier: MIT
#pragma once

// Walks what a view's layers show (internal to the platform layer): each
// layer below the view's own, with the buffer it shows and where that
// buffer's top left falls in the view.

#include "LayerKit.h"

namespace layertree {

template <class Visit>
void visit(const LKLayer* layer, float x, float y, Visit& f) {
    x += layer->frame().origin.x;
    y += layer->frame().origin.y;
    if (CoreSurfaceBufferRef buffer = layer->contents()) f(buffer, x, y);
    for (const LKLayer* sub : layer->sublayers()) visit(sub, x, y, f);
}

// f(CoreSurfaceBufferRef buffer, float x, float y) for each buffer shown.
template <class Visit>
void forEachBuffer(const LKLayer* root, Visit f) {
    if (!root) return;
    for (const LKLayer* sub : root->sublayers()) visit(sub, 0, 0, f);
}

}  // namespace layertree
