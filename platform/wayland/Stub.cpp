#include "DisplayBackend.h"
std::unique_ptr<display::Backend> display::makeWaylandBackend() { return nullptr; }
