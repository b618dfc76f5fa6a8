// SPDX-License-Identifier: MIT
#pragma once

struct CGPoint {
    float x;
    float y;
};

struct CGSize {
    float width;
    float height;
};

struct CGRect {
    CGPoint origin;
    CGSize size;
};

inline CGRect CGRectMake(float x, float y, float width, float height) {
    return CGRect{{x, y}, {width, height}};
}

// A rectangle of negative size extends to the left of (or above) its origin.
inline float CGRectGetMinX(CGRect r) {
    return r.size.width < 0 ? r.origin.x + r.size.width : r.origin.x;
}

inline float CGRectGetMinY(CGRect r) {
    return r.size.height < 0 ? r.origin.y + r.size.height : r.origin.y;
}
