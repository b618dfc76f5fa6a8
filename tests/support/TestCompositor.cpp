// SPDX-License-Identifier: MIT
#include "TestCompositor.h"

#include <linux/sockios.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <wayland-server.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <list>
#include <stdexcept>
#include <thread>
#include <utility>

#include "viewporter-server-protocol.h"
#include "xdg-decoration-unstable-v1-server-protocol.h"
#include "xdg-shell-server-protocol.h"

namespace e2e {
namespace {

// A client's shared memory, mapped while a buffer in it lives.
struct Pool {
    uint8_t* data = nullptr;
    size_t size = 0;
    ~Pool() {
        if (data) munmap(data, size);
    }
};

struct Buffer {
    std::shared_ptr<Pool> pool;
    int32_t offset = 0, width = 0, height = 0, stride = 0;
    uint32_t format = 0;
    std::vector<uint8_t> copy;  // its pixels when last committed
    bool held = false;          // committed and not released
    std::vector<uint8_t> pixels() const {
        size_t bytes = static_cast<size_t>(stride) * static_cast<size_t>(height);
        if (!pool || offset < 0 || stride <= 0 || height <= 0 || offset + bytes > pool->size) return {};
        return {pool->data + offset, pool->data + offset + bytes};
    }
};

struct Surface {
    wl_resource* pending = nullptr;  // the buffer attached
    bool attached = false;
    wl_resource* current = nullptr;    // the buffer committed
    std::vector<wl_resource*> frames;  // callbacks for the next commit
    bool sub = false;  // the frame's, a subsurface
    Rect damage;       // buffer damage since the last commit
    Rect place;  // its subsurface position and viewport destination
};

wl_resource* object(const wl_argument& arg) { return reinterpret_cast<wl_resource*>(arg.o); }

}  // namespace

struct TestCompositor::Impl {
    // A global as advertised: maybe at a higher version than this libwayland
    // knows, which the client must not take up.
    struct Global {
        Impl* impl;
        const wl_interface* interface;
        wl_interface advertised;
    };

    std::mutex& mutex;
    Facts& facts;
    CompositorOptions options;
    wl_display* display = wl_display_create();
    std::string dir = (std::filesystem::temp_directory_path() / "orvanel-compositor-XXXXXX").string();
    std::string socket = options.socket;
    int wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);  // stops the thread
    std::atomic<bool> stopping{false};
    std::thread thread;
    std::list<Global> globals;
    std::map<wl_resource*, Surface> surfaces;
    std::map<wl_resource*, Buffer> buffers;
    std::map<wl_resource*, std::shared_ptr<Pool>> pools;
    std::map<wl_resource*, wl_resource*> surfaceOf;  // a role's or viewport's surface
    std::vector<wl_resource*> heldFrames;
    wl_resource *wmBase = nullptr, *window = nullptr, *xdgSurface = nullptr, *toplevel = nullptr,
                *decoration = nullptr, *pointer = nullptr, *keyboard = nullptr, *touch = nullptr, *seat = nullptr;
    uint32_t configured = 0, acked = 0, time = 0;
    bool firstConfigure = true, entered = false, focused = false;

    Impl(std::mutex& m, Facts& f, const CompositorOptions& o) : mutex(m), facts(f), options(o) {
        if (!display || wake < 0 || !mkdtemp(dir.data())) throw std::runtime_error("cannot make a compositor");
        listen();
        for (auto [interface, version] : std::initializer_list<std::pair<const wl_interface*, int>>{
                 {&wl_compositor_interface, 6}, {&wl_subcompositor_interface, 1}, {&wl_shm_interface, 2},
                 {&wl_seat_interface, 9}, {&wl_output_interface, 4}, {&xdg_wm_base_interface, 6},
                 {&wp_viewporter_interface, 1}, {&zxdg_decoration_manager_v1_interface, 1}}) {
            Global& g = globals.emplace_back(Global{this, interface, *interface});
            g.advertised.version = version;
            facts.advertised[interface->name] = static_cast<uint32_t>(version);
            auto onBind = [](wl_client* c, void* data, uint32_t v, uint32_t id) {
                auto* global = static_cast<Global*>(data);
                global->impl->bind(c, global->interface, v, id);
            };
            wl_global_create(display, &g.advertised, version, &g, onBind);
        }
        thread = std::thread([this] { run(); });
    }

    ~Impl() {
        stopping = true;
        uint64_t one = 1;
        if (write(wake, &one, sizeof one) < 0) std::terminate();  // the thread would never end
        thread.join();
        wl_display_destroy_clients(display);
        wl_display_destroy(display);
        close(wake);
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }

    // In the private folder, whatever XDG_RUNTIME_DIR the tests have.
    void listen() {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::string path = dir + "/" + socket;
        int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (path.size() < sizeof address.sun_path) path.copy(address.sun_path, path.size());
        if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(fd, 8) != 0 || wl_display_add_socket_fd(display, fd) != 0) {
            if (fd >= 0) close(fd);
            throw std::runtime_error("the compositor cannot listen at " + path);
        }
    }

    void run() {
        wl_event_loop* loop = wl_display_get_event_loop(display);
        pollfd ready[] = {{wl_event_loop_get_fd(loop), POLLIN, 0}, {wake, POLLIN, 0}};
        while (!stopping) {
            poll(ready, 2, -1);
            std::lock_guard<std::mutex> lock(mutex);
            wl_event_loop_dispatch(loop, 0);
            flush();
        }
    }

    void flush() { wl_display_flush_clients(display); }
    uint32_t serial() { return wl_display_next_serial(display); }
    uint32_t now() { return time += 500; }  // far apart: no two presses make a double click
    void pointerFrame() {
        if (wl_resource_get_version(pointer) >= WL_POINTER_FRAME_SINCE_VERSION) wl_pointer_send_frame(pointer);
    }

    wl_resource* make(wl_client* client, const wl_interface* interface, int version, uint32_t id) {
        wl_resource* r = wl_resource_create(client, interface, version, id);
        if (!r) {
            wl_client_post_no_memory(client);
            return nullptr;
        }
        auto dispatch = [](const void* impl, void* target, uint32_t, const wl_message* message, wl_argument* args) {
            static_cast<Impl*>(const_cast<void*>(impl))->request(static_cast<wl_resource*>(target), message, args);
            return 0;
        };
        auto destroyed = [](wl_resource* r) { static_cast<Impl*>(wl_resource_get_user_data(r))->forget(r); };
        wl_resource_set_dispatcher(r, dispatch, this, this, destroyed);
        return r;
    }

    void bind(wl_client* client, const wl_interface* interface, uint32_t version, uint32_t id) {
        facts.bound[interface->name] = version;
        ++facts.binds[interface->name];
        wl_resource* r = make(client, interface, static_cast<int>(version), id);
        if (r && interface == &wl_shm_interface) {
            wl_shm_send_format(r, WL_SHM_FORMAT_ARGB8888);
            wl_shm_send_format(r, WL_SHM_FORMAT_XRGB8888);
            if (options.rgb565) wl_shm_send_format(r, WL_SHM_FORMAT_RGB565);
        } else if (r && interface == &wl_seat_interface) {
            wl_seat_send_capabilities(seat = r, WL_SEAT_CAPABILITY_POINTER | WL_SEAT_CAPABILITY_KEYBOARD |
                                                    WL_SEAT_CAPABILITY_TOUCH);
            if (version >= WL_SEAT_NAME_SINCE_VERSION) wl_seat_send_name(r, "seat0");
        } else if (r && interface == &xdg_wm_base_interface) {
            wmBase = r;
        }
    }

    // Every request of every object comes here, by name: the objects it
    // makes first, then what the tests look at.
    void request(wl_resource* r, const wl_message* message, wl_argument* args) {
        std::vector<wl_resource*> made;
        int n = 0;
        for (const char* s = message->signature; *s; ++s) {
            if (*s == '?' || (*s >= '0' && *s <= '9')) continue;
            if (*s == 'n' && message->types[n]) {
                wl_client* client = wl_resource_get_client(r);
                made.push_back(make(client, message->types[n], wl_resource_get_version(r), args[n].n));
                if (!made.back()) return;
            }
            ++n;
        }
        std::string name = std::string(wl_resource_get_class(r)) + "." + message->name;
        if (name == "wl_compositor.create_surface") {
            surfaces[made[0]];
        } else if (name == "wl_subcompositor.get_subsurface") {
            surfaceOf[made[0]] = object(args[1]);
            surfaces[object(args[1])].sub = true;
            ++facts.subsurfaces;
        } else if (name == "wl_subsurface.set_position") {
            surfaces[surfaceOf[r]].place.x = args[0].i;
            surfaces[surfaceOf[r]].place.y = args[1].i;
        } else if (name == "wp_viewporter.get_viewport") {
            surfaceOf[made[0]] = object(args[1]);
        } else if (name == "wp_viewport.set_destination") {
            surfaces[surfaceOf[r]].place.width = args[0].i;
            surfaces[surfaceOf[r]].place.height = args[1].i;
        } else if (name == "wl_shm.create_pool") {
            auto pool = pools[made[0]] = std::make_shared<Pool>();
            size_t size = static_cast<size_t>(std::max(args[2].i, 0));
            void* data = size ? mmap(nullptr, size, PROT_READ, MAP_SHARED, args[1].h, 0) : MAP_FAILED;
            if (data != MAP_FAILED) pool->data = static_cast<uint8_t*>(data), pool->size = size;
            close(args[1].h);
        } else if (name == "wl_shm_pool.create_buffer") {
            buffers[made[0]] = Buffer{pools[r], args[1].i, args[2].i, args[3].i, args[4].i, args[5].u, {}, false};
        } else if (name == "wl_surface.attach") {
            surfaces[r].pending = object(args[0]);
            surfaces[r].attached = true;
        } else if (name == "wl_surface.damage_buffer") {
            surfaces[r].damage = Rect{args[0].i, args[1].i, args[2].i, args[3].i};
        } else if (name == "wl_surface.frame") {
            surfaces[r].frames.push_back(made[0]);
        } else if (name == "wl_surface.commit") {
            commit(r);
        } else if (name.starts_with("wl_seat.get_")) {
            (name == "wl_seat.get_pointer" ? pointer : name == "wl_seat.get_keyboard" ? keyboard : touch) = made[0];
        } else if (name == "xdg_wm_base.pong") {
            facts.pongs.push_back(args[0].u);
        } else if (name == "xdg_wm_base.get_xdg_surface") {
            window = object(args[1]);
            xdgSurface = made[0];
        } else if (name == "xdg_surface.get_toplevel") {
            toplevel = made[0];
        } else if (name == "xdg_surface.ack_configure") {
            acked = args[0].u;
            ++facts.acks;
        } else if (name == "xdg_toplevel.set_min_size") {
            facts.minSize = Rect{0, 0, args[0].i, args[1].i};
        } else if (name == "xdg_toplevel.set_fullscreen") {
            ++facts.fullscreenAsked;
        } else if (name == "zxdg_decoration_manager_v1.get_toplevel_decoration") {
            decoration = made[0];
        } else if (name == "zxdg_toplevel_decoration_v1.set_mode") {
            facts.decorationMode = args[0].u;
        }
        if (std::strcmp(message->name, "destroy") == 0 || std::strcmp(message->name, "release") == 0)
            wl_resource_destroy(r);
    }

    void commit(wl_resource* r) {
        checkHeld();
        Surface& s = surfaces[r];
        if (s.attached) {
            s.attached = false;
            wl_resource* old = std::exchange(s.current, s.pending);
            if (old && old != s.current && !options.holdReleases) release(old);
            if (auto b = buffers.find(s.current); b != buffers.end()) {
                Buffer& buffer = b->second;
                buffer.copy = buffer.pixels();
                buffer.held = true;
                Shot shot{buffer.format, buffer.width, buffer.height, buffer.stride, buffer.copy};
                if (s.sub) {
                    ++facts.frames;
                    facts.last = shot;
                    facts.damage = std::exchange(s.damage, {});
                } else if (r == window) {
                    facts.border = shot;
                }
            }
        }
        if (r == window) {
            if (configured != acked) ++facts.commitsBeforeAck;
            // The subsurface's state is applied with its parent's commit.
            facts.window = Rect{0, 0, s.place.width, s.place.height};
            for (auto& [_, other] : surfaces)
                if (other.sub) facts.frame = other.place;
            // The first commit, with no buffer, asks for the first configure.
            if (std::exchange(firstConfigure, false)) sendConfigure(0, 0, {});
        }
        for (wl_resource* callback : s.frames)
            if (options.holdFrames)
                heldFrames.push_back(callback);
            else
                done(callback);
        s.frames.clear();
    }

    // The client must not write into what the compositor may still be reading.
    void checkHeld() {
        for (auto& [_, buffer] : buffers)
            if (buffer.held)
                if (std::vector<uint8_t> now = buffer.pixels(); now != buffer.copy) {
                    ++facts.heldWrites;
                    buffer.copy = std::move(now);
                }
    }

    void release(wl_resource* buffer) {
        checkHeld();
        buffers[buffer].held = false;
        wl_buffer_send_release(buffer);
    }

    void done(wl_resource* callback) {
        wl_callback_send_done(callback, now());
        wl_resource_destroy(callback);
    }

    void sendConfigure(int width, int height, const std::vector<uint32_t>& states) {
        if (!toplevel || !xdgSurface) return;
        if (decoration)
            zxdg_toplevel_decoration_v1_send_configure(decoration, ZXDG_TOPLEVEL_DECORATION_V1_MODE_SERVER_SIDE);
        wl_array array;
        wl_array_init(&array);
        for (uint32_t state : states) *static_cast<uint32_t*>(wl_array_add(&array, sizeof state)) = state;
        xdg_toplevel_send_configure(toplevel, width, height, &array);
        wl_array_release(&array);
        xdg_surface_send_configure(xdgSurface, configured = serial());
        ++facts.configures;
    }

    // A keymap a desktop with US and Russian layouts would send, in memory
    // the client maps.
    void sendKeymap() {
        xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
        xkb_rule_names names{nullptr, nullptr, "us,ru", nullptr, nullptr};
        xkb_keymap* keymap =
            context ? xkb_keymap_new_from_names(context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS) : nullptr;
        char* text = keymap ? xkb_keymap_get_as_string(keymap, XKB_KEYMAP_FORMAT_TEXT_V1) : nullptr;
        int fd = memfd_create("keymap", MFD_CLOEXEC);
        size_t size = text ? std::strlen(text) + 1 : 0;
        if (text && fd >= 0 && write(fd, text, size) == static_cast<ssize_t>(size))
            wl_keyboard_send_keymap(keyboard, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd, static_cast<uint32_t>(size));
        if (fd >= 0) close(fd);
        free(text);
        xkb_keymap_unref(keymap);
        xkb_context_unref(context);
    }

    void forget(wl_resource* r) {
        surfaces.erase(r);
        buffers.erase(r);
        pools.erase(r);
        surfaceOf.erase(r);
        std::erase(heldFrames, r);
        for (auto& [_, s] : surfaces) {
            if (s.pending == r) s.pending = nullptr;
            if (s.current == r) s.current = nullptr;
            std::erase(s.frames, r);
        }
        if (r == pointer) entered = false;
        if (r == keyboard) focused = false;
        for (wl_resource** p : {&wmBase, &window, &xdgSurface, &toplevel, &decoration, &pointer, &keyboard, &touch, &seat})
            if (*p == r) *p = nullptr;
    }
};

TestCompositor::TestCompositor(CompositorOptions options) : mImpl(std::make_unique<Impl>(mMutex, mFacts, options)) {}

TestCompositor::~TestCompositor() = default;

std::vector<std::string> TestCompositor::environment() const {
    return {"WAYLAND_DISPLAY=" + mImpl->socket, "XDG_RUNTIME_DIR=" + mImpl->dir, "ORVANEL_BACKEND=wayland"};
}

// From the test's thread: while it holds the lock, the compositor's thread
// waits outside libwayland.
template <class F>
auto TestCompositor::send(F f) {
    std::lock_guard<std::mutex> lock(mMutex);
    struct Flush {
        Impl& m;
        ~Flush() { m.flush(); }
    } flush{*mImpl};
    return f(*mImpl);
}

uint32_t TestCompositor::ping() {
    return send([](Impl& m) {
        uint32_t serial = m.serial();
        if (m.wmBase) xdg_wm_base_send_ping(m.wmBase, serial);
        return serial;
    });
}

void TestCompositor::configure(int width, int height, std::vector<uint32_t> states) {
    send([&](Impl& m) { m.sendConfigure(width, height, states); });
}

void TestCompositor::pointer(double x, double y) {
    send([&](Impl& m) {
        if (!m.pointer || !m.window) return;
        wl_fixed_t fx = wl_fixed_from_double(x), fy = wl_fixed_from_double(y);
        if (std::exchange(m.entered, true))
            wl_pointer_send_motion(m.pointer, m.now(), fx, fy);
        else
            wl_pointer_send_enter(m.pointer, m.serial(), m.window, fx, fy);
        m.pointerFrame();
    });
}

void TestCompositor::button(uint32_t code, bool pressed) {
    send([&](Impl& m) {
        if (!m.pointer || !m.entered) return;
        wl_pointer_send_button(m.pointer, m.serial(), m.now(), code,
                               pressed ? WL_POINTER_BUTTON_STATE_PRESSED : WL_POINTER_BUTTON_STATE_RELEASED);
        m.pointerFrame();
    });
}

void TestCompositor::touch(TouchPhase phase, int id, double x, double y) {
    send([&](Impl& m) {
        if (!m.touch || !m.window) return;
        wl_fixed_t fx = wl_fixed_from_double(x), fy = wl_fixed_from_double(y);
        if (phase == TouchPhase::Down)
            wl_touch_send_down(m.touch, m.serial(), m.now(), m.window, id, fx, fy);
        else if (phase == TouchPhase::Motion)
            wl_touch_send_motion(m.touch, m.now(), id, fx, fy);
        else
            wl_touch_send_up(m.touch, m.serial(), m.now(), id);
        wl_touch_send_frame(m.touch);
    });
}

void TestCompositor::key(uint32_t code, uint32_t modifiers, uint32_t group) {
    send([&](Impl& m) {
        if (!m.keyboard || !m.window) return;
        if (!std::exchange(m.focused, true)) {
            m.sendKeymap();
            wl_array keys;
            wl_array_init(&keys);
            // On a surface of the window's other than its own, as on decorations'.
            auto other = std::ranges::find_if(m.surfaces, [&m](auto& e) { return e.first != m.window; });
            wl_keyboard_send_enter(m.keyboard, m.serial(), other == m.surfaces.end() ? m.window : other->first, &keys);
        }
        wl_keyboard_send_modifiers(m.keyboard, m.serial(), modifiers, 0, 0, group);
        for (auto state : {WL_KEYBOARD_KEY_STATE_PRESSED, WL_KEYBOARD_KEY_STATE_RELEASED})
            wl_keyboard_send_key(m.keyboard, m.serial(), m.now(), code, state);
    });
}

void TestCompositor::devices(uint32_t capabilities) {
    send([&](Impl& m) {
        if (m.seat) wl_seat_send_capabilities(m.seat, capabilities);
    });
}

void TestCompositor::releaseFrames() {
    send([](Impl& m) {
        for (wl_resource* callback : std::exchange(m.heldFrames, {})) m.done(callback);
    });
}

void TestCompositor::releaseBuffers() {
    send([](Impl& m) {
        m.options.holdReleases = false;
        std::vector<wl_resource*> shown;
        for (auto& [_, s] : m.surfaces) shown.push_back(s.current);
        for (auto& [r, buffer] : m.buffers)
            if (buffer.held && std::find(shown.begin(), shown.end(), r) == shown.end()) m.release(r);
    });
}

bool TestCompositor::fillClientSocket() {
    // All along, the compositor's thread reads nothing.
    return send([](Impl& m) {
        if (!m.wmBase) return false;
        wl_client* client = wl_resource_get_client(m.wmBase);
        int fd = wl_client_get_fd(client);
        // Pings, each read by the client before the next, until its answers
        // stop coming in: its socket is full, its writes would block.
        int queued = -1;
        for (int still = 0, sent = 0; sent < 100000; ++sent) {
            xdg_wm_base_send_ping(m.wmBase, m.serial());
            wl_client_flush(client);
            auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
            for (int unread = 1; unread > 0; std::this_thread::yield()) {
                pollfd hangup{fd, POLLRDHUP, 0};
                if (ioctl(fd, SIOCOUTQ, &unread) != 0 || poll(&hangup, 1, 0) != 0 ||
                    std::chrono::steady_clock::now() > deadline)
                    return false;  // it has gone, or reads no more
            }
            int waiting = 0;
            ioctl(fd, FIONREAD, &waiting);
            still = waiting > queued ? 0 : still + 1;
            queued = waiting;
            if (still == 50) return true;
        }
        return false;
    });
}

}  // namespace e2e
