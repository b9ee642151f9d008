#include "wayland_startup.hpp"

#include <dlfcn.h>
#include <poll.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>

namespace orvela::qt {

namespace {

// libwayland-client's ABI (stable since 1.0): the few types and calls used here. It is looked up
// at run time, so that the app never needs the library where it runs on X11.
struct WlInterface;
struct WlMessage {
    const char* name;
    const char* signature;
    const WlInterface** types;
};
struct WlInterface {
    const char* name;
    int version;
    int methodCount;
    const WlMessage* methods;
    int eventCount;
    const WlMessage* events;
};
struct WlProxy;  // wl_display is one too
using Listener = void (*)();

struct Client {
    WlProxy* (*connect)(const char*);
    void (*disconnect)(WlProxy*);
    int (*fd)(WlProxy*);
    int (*flush)(WlProxy*);
    int (*prepareRead)(WlProxy*);
    void (*cancelRead)(WlProxy*);
    int (*readEvents)(WlProxy*);
    int (*dispatchPending)(WlProxy*);
    WlProxy* (*create)(WlProxy*, std::uint32_t, const WlInterface*, ...);
    WlProxy* (*createVersioned)(WlProxy*, std::uint32_t, const WlInterface*, std::uint32_t, ...);
    void (*send)(WlProxy*, std::uint32_t, ...);
    int (*listen)(WlProxy*, Listener*, void*);
    void (*destroy)(WlProxy*);
    const WlInterface* registry;
    const WlInterface* callback;
};

template <typename T>
bool symbol(void* library, const char* name, T& out) {
    out = reinterpret_cast<T>(dlsym(library, name));
    return out != nullptr;
}

bool load(void* library, Client& c) {
    return symbol(library, "wl_display_connect", c.connect) &&
           symbol(library, "wl_display_disconnect", c.disconnect) &&
           symbol(library, "wl_display_get_fd", c.fd) &&
           symbol(library, "wl_display_flush", c.flush) &&
           symbol(library, "wl_display_prepare_read", c.prepareRead) &&
           symbol(library, "wl_display_cancel_read", c.cancelRead) &&
           symbol(library, "wl_display_read_events", c.readEvents) &&
           symbol(library, "wl_display_dispatch_pending", c.dispatchPending) &&
           symbol(library, "wl_proxy_marshal_constructor", c.create) &&
           symbol(library, "wl_proxy_marshal_constructor_versioned", c.createVersioned) &&
           symbol(library, "wl_proxy_marshal", c.send) &&
           symbol(library, "wl_proxy_add_listener", c.listen) &&
           symbol(library, "wl_proxy_destroy", c.destroy) &&
           symbol(library, "wl_registry_interface", c.registry) &&
           symbol(library, "wl_callback_interface", c.callback);
}

// GNOME's gtk_shell1, as far as it is used: bound at version 1, where set_startup_id is request 1
// and capabilities the one event.
const WlInterface* kNoTypes[] = {nullptr, nullptr};
const WlMessage kGtkShellRequests[] = {{"get_gtk_surface", "no", kNoTypes},
                                       {"set_startup_id", "?s", kNoTypes}};
const WlMessage kGtkShellEvents[] = {{"capabilities", "u", kNoTypes}};
const WlInterface kGtkShell = {"gtk_shell1", 1, 2, kGtkShellRequests, 1, kGtkShellEvents};
constexpr std::uint32_t kSetStartupId = 1;
constexpr std::uint32_t kDisplaySync = 0, kDisplayGetRegistry = 1, kRegistryBind = 0;

void onGlobal(void* data, WlProxy*, std::uint32_t name, const char* interface, std::uint32_t) {
    if (interface && std::strcmp(interface, kGtkShell.name) == 0)
        *static_cast<std::uint32_t*>(data) = name;
}
void onGlobalRemoved(void*, WlProxy*, std::uint32_t) {}
void onDone(void* data, WlProxy*, std::uint32_t) {
    *static_cast<bool*>(data) = true;
}
void onCapabilities(void*, WlProxy*, std::uint32_t) {}

using Clock = std::chrono::steady_clock;

// Waits until the compositor has handled everything sent before (wl_display.sync), dispatching
// what comes meanwhile; false past the deadline or when the connection fails.
bool roundtrip(const Client& wl, WlProxy* display, Clock::time_point deadline) {
    bool done = false;
    WlProxy* callback = wl.create(display, kDisplaySync, wl.callback, nullptr);
    if (!callback) return false;
    Listener listener[] = {reinterpret_cast<Listener>(&onDone)};
    wl.listen(callback, listener, &done);
    while (!done) {
        if (wl.prepareRead(display) != 0) {
            if (wl.dispatchPending(display) < 0) break;
            continue;
        }
        wl.flush(display);
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd ready{wl.fd(display), POLLIN, 0};
        int polled = -1;
        do {
            polled = left > 0 ? ::poll(&ready, 1, int(left)) : 0;
        } while (polled < 0 && errno == EINTR);
        if (polled <= 0) {
            wl.cancelRead(display);
            break;
        }
        if (wl.readEvents(display) < 0 || wl.dispatchPending(display) < 0) break;
    }
    wl.destroy(callback);
    return done;
}

}  // namespace

bool endWaylandStartup(const std::string& token) {
    if (token.empty()) return false;
    // Only where Qt's Wayland platform (or anything else) already has the library.
    void* library = dlopen("libwayland-client.so.0", RTLD_LAZY | RTLD_NOLOAD);
    if (!library) return false;
    bool sent = false;
    Client wl{};
    WlProxy* display = load(library, wl) ? wl.connect(nullptr) : nullptr;
    if (display) {
        const Clock::time_point deadline =
            Clock::now() + std::chrono::milliseconds(kWaylandStartupWaitMs);
        std::uint32_t shellName = 0;
        WlProxy* registry = wl.create(display, kDisplayGetRegistry, wl.registry, nullptr);
        Listener registryListener[] = {reinterpret_cast<Listener>(&onGlobal),
                                       reinterpret_cast<Listener>(&onGlobalRemoved)};
        if (registry) wl.listen(registry, registryListener, &shellName);
        if (registry && roundtrip(wl, display, deadline) && shellName != 0) {
            WlProxy* shell = wl.createVersioned(registry, kRegistryBind, &kGtkShell, 1u, shellName,
                                                kGtkShell.name, 1u, nullptr);
            Listener shellListener[] = {reinterpret_cast<Listener>(&onCapabilities)};
            if (shell) {
                wl.listen(shell, shellListener, nullptr);
                wl.send(shell, kSetStartupId, token.c_str());
                // Read before the connection closes: a compositor drops what a client that
                // hung up left unread.
                sent = roundtrip(wl, display, deadline);
                wl.destroy(shell);
            }
        }
        if (registry) wl.destroy(registry);
        wl.disconnect(display);
    }
    dlclose(library);
    return sent;
}

}  // namespace orvela::qt
