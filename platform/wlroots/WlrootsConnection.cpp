#include "WlrootsConnection.h"

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
    (*toplevelOf(data)->changed)();
}

// The handle's events are applied together at "done", so a window is never seen half updated.
void onDone(void* data, zwlr_foreign_toplevel_handle_v1*)
{
    Toplevel* t = toplevelOf(data);
    t->title = t->pendingTitle;
    t->appId = t->pendingAppId;
    if (t->pendingActivated && !t->activated)
        t->activeSince = ++*t->activations;
    t->activated = t->pendingActivated;
    (*t->changed)();
}

const zwlr_foreign_toplevel_handle_v1_listener kToplevelListener = {
    onTitle, onAppId, onOutputEnter, onOutputLeave, onState, onDone, onClosed, onParent};

void onFinished(void*, zwlr_foreign_toplevel_manager_v1*)
{
}

void onGlobalRemove(void*, wl_registry*, uint32_t)
{
}

} // namespace

void WlrootsConnection::onToplevel(void* data, zwlr_foreign_toplevel_manager_v1*,
                                   zwlr_foreign_toplevel_handle_v1* handle)
{
    auto* c = static_cast<WlrootsConnection*>(data);
    auto t = std::make_unique<Toplevel>();
    t->handle = handle;
    t->activations = &c->m_activations;
    t->changed = &c->m_changed;
    t->id = c->m_nextId++;
    zwlr_foreign_toplevel_handle_v1_add_listener(handle, &kToplevelListener, t.get());
    c->m_windows.push_back(std::move(t));
}

void WlrootsConnection::onGlobal(void* data, wl_registry* registry, uint32_t name,
                                 const char* interface, uint32_t version)
{
    static const zwlr_foreign_toplevel_manager_v1_listener managerListener = {onToplevel,
                                                                              onFinished};
    auto* c = static_cast<WlrootsConnection*>(data);
    if (std::strcmp(interface, wl_seat_interface.name) == 0 && !c->m_seat) {
        c->m_seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
    } else if (std::strcmp(interface, zwlr_foreign_toplevel_manager_v1_interface.name) == 0) {
        c->m_toplevels = static_cast<zwlr_foreign_toplevel_manager_v1*>(wl_registry_bind(
            registry, name, &zwlr_foreign_toplevel_manager_v1_interface, std::min(version, 3u)));
        zwlr_foreign_toplevel_manager_v1_add_listener(c->m_toplevels, &managerListener, c);
    } else if (std::strcmp(interface, zwp_virtual_keyboard_manager_v1_interface.name) == 0) {
        c->m_keyboards = static_cast<zwp_virtual_keyboard_manager_v1*>(
            wl_registry_bind(registry, name, &zwp_virtual_keyboard_manager_v1_interface, 1));
    }
}

WlrootsConnection::~WlrootsConnection()
{
    for (const auto& t : m_windows)
        zwlr_foreign_toplevel_handle_v1_destroy(t->handle);
    if (m_toplevels) {
        zwlr_foreign_toplevel_manager_v1_stop(m_toplevels);
        zwlr_foreign_toplevel_manager_v1_destroy(m_toplevels);
    }
    if (m_keyboards)
        zwp_virtual_keyboard_manager_v1_destroy(m_keyboards);
    if (m_seat)
        wl_seat_destroy(m_seat);
}

bool WlrootsConnection::open(QString* error)
{
    static const wl_registry_listener registryListener = {onGlobal, onGlobalRemove};
    // The first round trip brings the globals, the second the windows and their state.
    return m_display.open(&registryListener, this, 2, error);
}

Toplevel* WlrootsConnection::find(WindowId id)
{
    for (const auto& t : m_windows) {
        if (t->id == id && !t->closed)
            return t.get();
    }
    return nullptr;
}

void WlrootsConnection::activate(const Toplevel& t)
{
    zwlr_foreign_toplevel_handle_v1_activate(t.handle, m_seat);
    flush();
}

zwp_virtual_keyboard_v1* WlrootsConnection::createKeyboard()
{
    return zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(m_keyboards, m_seat);
}

void WlrootsConnection::watch(std::function<void()> changed)
{
    m_changed = std::move(changed);
    m_socket = SocketWatch::ofWayland(m_display, [this] { m_changed(); });
}

void WlrootsConnection::flush()
{
    m_display.flush();
}
