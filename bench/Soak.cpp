// SPDX-License-Identifier: MIT
#include "Session.h"

#include "Soak.h"

#include <cstdio>

#include "BackToBack.h"
#include "Measure.h"

namespace bench {

Memory measureMemory(RealPath& real, int frames) {
    Memory memory;
    memory.frames = frames;
    for (int done = 0; done < frames; ++done) {
        real.frame();
        if (done + 1 == 1000) memory.after1000 = residentMiB();
    }
    UIKitPlatform::Session::current()->sync();
    memory.atEnd = residentMiB();
    return memory;
}

void printMemory(const Memory& memory) {
    std::printf("| resident set after 1,000 frames (MiB) | %.2f |\n", memory.after1000);
    std::printf("| resident set after %d frames (MiB) | %.2f |\n", memory.frames, memory.atEnd);
    std::printf("| growth (MiB) | %.3f |\n", memory.atEnd - memory.after1000);
}

void soak(RealPath& real, long frames) {
    double first = 0;
    for (long done = 1; done <= frames; ++done) {
        real.frame();
        if (done == 1000) first = residentMiB();
        if (done % 100000 == 0 || done == frames) {
            std::printf("after %ld frames: resident %.2f MiB", done, residentMiB());
            if (done >= 1000) std::printf(" (%+.3f since frame 1,000)", residentMiB() - first);
            std::printf("\n");
        }
        std::fflush(stdout);
    }
}

}  // namespace bench
