// SPDX-License-Identifier: MIT
#include "DisplayBackend.h"

#include <sys/stat.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace display {
namespace {
bool set(const char* name) { return name && *name; }

// libwayland's own default when WAYLAND_DISPLAY is not set.
bool waylandSocketExists() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (!set(runtime)) return false;
    struct stat st {};
    return stat((std::string(runtime) + "/wayland-0").c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
}
}  // namespace

std::unique_ptr<Backend> openBackend(EventLoop& loop, bool offscreen, std::string& error) {
    std::vector<std::unique_ptr<Backend>> candidates;
    if (offscreen) {
        std::unique_ptr<Backend> none = makeOffscreenBackend();
        none->open(loop);
        return none;
    }
    const char* forced = std::getenv("ORVANEL_BACKEND");
    if (set(forced)) {
        std::string name = forced;
        if (name != "x11" && name != "wayland") {
            error = "ORVANEL_BACKEND is \"" + name + "\"; it can be x11 or wayland";
            return nullptr;
        }
        candidates.push_back(name == "x11" ? makeX11Backend() : makeWaylandBackend());
    } else {
        // A session names its compositor; X through DISPLAY next (also when
        // that compositor is gone, as toolkits do); a compositor's default
        // socket last.
        bool named = set(std::getenv("WAYLAND_DISPLAY"));
        if (named) candidates.push_back(makeWaylandBackend());
        if (set(std::getenv("DISPLAY"))) candidates.push_back(makeX11Backend());
        if (!named && waylandSocketExists()) candidates.push_back(makeWaylandBackend());
        if (candidates.empty()) candidates.push_back(makeX11Backend());
    }
    std::string tried;
    for (std::unique_ptr<Backend>& backend : candidates) {
        if (backend->open(loop)) return std::move(backend);
        tried += (tried.empty() ? "" : "; ") + backend->openFailure();
    }
    // What the user can do: what the forced backend needs, or any display.
    const char* hint = !set(forced)                   ? "set WAYLAND_DISPLAY to a Wayland compositor or DISPLAY to an X display"
                       : std::string(forced) == "x11" ? "ORVANEL_BACKEND=x11 needs an X display: set DISPLAY to one"
                                                      : "ORVANEL_BACKEND=wayland needs a Wayland compositor: set "
                                                        "WAYLAND_DISPLAY to one";
    error = tried + ": " + hint + ", or run with --offscreen";
    return nullptr;
}

}  // namespace display
