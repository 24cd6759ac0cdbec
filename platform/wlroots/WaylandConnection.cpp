#include "WaylandConnection.h"

#include "../wayland/WaylandEvents.h"
#include "virtual-keyboard-unstable-v1-client-protocol.h"
#include "wlr-foreign-toplevel-management-unstable-v1-client-protocol.h"

#include <cstring>
#include <wayland-client.h>

namespace {

Toplevel* toplevelOf(void* data)
{
    return static_cast<Toplevel*>(data);
}

void onTitle(void* data, zwlr_foreign_toplevel_handle_v1*, const char* title)
{
    toplevelOf(data)->pendingTitle = QString::fromUtf8(title);
}

void onAppId(void* data, zwlr_foreign_toplevel_handle_v1*, const char* appId)
{
    toplevelOf(data)->pendingAppId = QString::fromUtf8(appId);
}

void onOutputEnter(void*, zwlr_foreign_toplevel_handle_v1*, wl_output*)
{
}
void onOutputLeave(void*, zwlr_foreign_toplevel_handle_v1*, wl_output*)
{
}

void onState(void* data, zwlr_foreign_toplevel_handle_v1*, wl_array* state)
{
    bool activated = false;
    const auto* states = static_cast<const uint32_t*>(state->data);
    for (size_t i = 0; i < state->size / sizeof(uint32_t); ++i)
        activated = activated || states[i] == ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_ACTIVATED;
    toplevelOf(data)->pendingActivated = activated;
}

void onParent(void*, zwlr_foreign_toplevel_handle_v1*, zwlr_foreign_toplevel_handle_v1*)
{
}

void onClosed(void* data, zwlr_foreign_toplevel_handle_v1*)
{
    toplevelOf(data)->closed = true;
    toplevelOf(data)->activated = false;
}

// The handle's events are applied together at "done", so a window is never seen half updated.
void onDone(void* data, zwlr_foreign_toplevel_handle_v1*)
{
    Toplevel* t = toplevelOf(data);
    t->title = t->pendingTitle;
    t->appId = t->pendingAppId;
    if (t->pendingActivated && !t->activated)
        t->activeSince = ++t->connection->activations;
    t->activated = t->pendingActivated;
}

const zwlr_foreign_toplevel_handle_v1_listener kToplevelListener = {
    onTitle, onAppId, onOutputEnter, onOutputLeave, onState, onDone, onClosed, onParent};

void onToplevel(void* data, zwlr_foreign_toplevel_manager_v1*,
                zwlr_foreign_toplevel_handle_v1* handle)
{
    auto* c = static_cast<WaylandConnection*>(data);
    auto t = std::make_unique<Toplevel>();
    t->handle = handle;
    t->connection = c;
    t->id = c->nextId++;
    zwlr_foreign_toplevel_handle_v1_add_listener(handle, &kToplevelListener, t.get());
    c->windows.push_back(std::move(t));
}

void onFinished(void*, zwlr_foreign_toplevel_manager_v1*)
{
}

const zwlr_foreign_toplevel_manager_v1_listener kManagerListener = {onToplevel, onFinished};

void onGlobal(void* data, wl_registry* registry, uint32_t name, const char* interface,
              uint32_t version)
{
    auto* c = static_cast<WaylandConnection*>(data);
    if (std::strcmp(interface, wl_seat_interface.name) == 0 && !c->seat) {
        c->seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
    } else if (std::strcmp(interface, zwlr_foreign_toplevel_manager_v1_interface.name) == 0) {
        c->toplevels = static_cast<zwlr_foreign_toplevel_manager_v1*>(wl_registry_bind(
            registry, name, &zwlr_foreign_toplevel_manager_v1_interface, std::min(version, 3u)));
        zwlr_foreign_toplevel_manager_v1_add_listener(c->toplevels, &kManagerListener, c);
    } else if (std::strcmp(interface, zwp_virtual_keyboard_manager_v1_interface.name) == 0) {
        c->keyboards = static_cast<zwp_virtual_keyboard_manager_v1*>(
            wl_registry_bind(registry, name, &zwp_virtual_keyboard_manager_v1_interface, 1));
    }
}

void onGlobalRemove(void*, wl_registry*, uint32_t)
{
}

const wl_registry_listener kRegistryListener = {onGlobal, onGlobalRemove};

} // namespace

WaylandConnection::~WaylandConnection()
{
    if (!display)
        return;
    for (const auto& t : windows)
        zwlr_foreign_toplevel_handle_v1_destroy(t->handle);
    if (toplevels) {
        zwlr_foreign_toplevel_manager_v1_stop(toplevels);
        zwlr_foreign_toplevel_manager_v1_destroy(toplevels);
    }
    if (keyboards)
        zwp_virtual_keyboard_manager_v1_destroy(keyboards);
    if (seat)
        wl_seat_destroy(seat);
    wl_registry_destroy(registry);
    wl_display_flush(display);
    wl_display_disconnect(display);
}

bool WaylandConnection::open(QString* error)
{
    display = wl_display_connect(nullptr);
    if (!display) {
        *error = QStringLiteral("cannot connect to the Wayland compositor");
        return false;
    }
    registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &kRegistryListener, this);
    // The first round trip brings the globals, the second the windows and their state.
    if (!roundtrip() || !roundtrip()) {
        *error = QStringLiteral("the Wayland compositor did not answer");
        return false;
    }
    return true;
}

bool WaylandConnection::roundtrip()
{
    return wl_display_roundtrip(display) >= 0;
}

bool WaylandConnection::dispatch(int ms)
{
    return dispatchWaylandEvents(display, ms);
}

Toplevel* WaylandConnection::find(WindowId id)
{
    for (const auto& t : windows) {
        if (t->id == id && !t->closed)
            return t.get();
    }
    return nullptr;
}
