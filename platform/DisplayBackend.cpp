// SPDX-License-Identifier: MIT
#include "DisplayBackend.h"

#include <sys/stat.h>

#include <cstdlib>
#include <string>

namespace display {
namespace {
std::unique_ptr<Backend> gCurrent;

bool set(const char* name) { return name && *name; }

// libwayland's own default when WAYLAND_DISPLAY is not set.
bool waylandSocketExists() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (!set(runtime)) return false;
    struct stat st {};
    return stat((std::string(runtime) + "/wayland-0").c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
}
}  // namespace

Backend* current() { return gCurrent.get(); }

void setCurrent(std::unique_ptr<Backend> backend) {
    if (gCurrent) gCurrent->close();
    gCurrent = std::move(backend);
}

std::unique_ptr<Backend> choose(std::string& error) {
    const char* forced = std::getenv("ORVANEL_BACKEND");
    if (set(forced)) {
        std::string name = forced;
        if (name == "x11") return makeX11Backend();
        if (name == "wayland") return makeWaylandBackend();
        error = "ORVANEL_BACKEND is \"" + name + "\"; it can be x11 or wayland";
        return nullptr;
    }
    // A session names its compositor; X through DISPLAY next (an X client
    // started from a Wayland desktop's X terminal keeps working); a
    // compositor's default socket last.
    if (set(std::getenv("WAYLAND_DISPLAY"))) return makeWaylandBackend();
    if (set(std::getenv("DISPLAY"))) return makeX11Backend();
    if (waylandSocketExists()) return makeWaylandBackend();
    return makeX11Backend();
}

}  // namespace display
