// SPDX-License-Identifier: MIT
// Linked into the program, not into tests: prepares the process before any
// library's start-up code runs, so that a signal or a closed descriptor is
// handled from the very start.
#include "Process.h"

namespace {
void prepare(int, char**, char**) { process::prepare(); }
[[gnu::section(".preinit_array"), gnu::used]] void (*const gPrepare)(int, char**, char**) = prepare;
}  // namespace
