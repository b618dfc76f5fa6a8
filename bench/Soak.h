// SPDX-License-Identifier: MIT
#pragma once

// Whether memory stays flat: the real path's frames back to back, the
// resident set taken as they go.

namespace bench {

struct RealPath;

struct Memory {
    int frames = 0;
    double after1000 = 0, atEnd = 0;  // MiB
};

// `frames` frames (at least 1,000); the resident set after 1,000 and at the end.
Memory measureMemory(RealPath& real, int frames);
void printMemory(const Memory& memory);

// --soak: `frames` frames, the resident set said every 100,000 and at the end.
void soak(RealPath& real, long frames);

}  // namespace bench
