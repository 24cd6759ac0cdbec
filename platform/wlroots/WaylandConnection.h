#pragma once

#include "../Services.h"

#include <QString>
#include <cstdint>
#include <memory>
#include <vector>

struct wl_display;
struct wl_registry;
struct wl_seat;
struct zwlr_foreign_toplevel_manager_v1;
struct zwlr_foreign_toplevel_handle_v1;
struct zwp_virtual_keyboard_manager_v1;
struct WaylandConnection;

// Another program's window as the compositor lists it.
struct Toplevel
{
    zwlr_foreign_toplevel_handle_v1* handle = nullptr;
    WaylandConnection* connection = nullptr;
    WindowId id = 0;
    QString title;
    QString appId;
    bool activated = false;
    bool closed = false;
    // When it last became the active window: no protocol tells the stacking order, so the most
    // recently active window counts as the topmost.
    uint64_t activeSince = 0;
    // What the compositor has sent since its last "done".
    QString pendingTitle;
    QString pendingAppId;
    bool pendingActivated = false;
};

// Keyflare's own connection to the Wayland compositor (Qt's stays Qt's), with the globals that
// typing into other windows needs and the window list they give.
struct WaylandConnection
{
    wl_display* display = nullptr;
    wl_registry* registry = nullptr;
    wl_seat* seat = nullptr;
    zwlr_foreign_toplevel_manager_v1* toplevels = nullptr;
    zwp_virtual_keyboard_manager_v1* keyboards = nullptr;
    std::vector<std::unique_ptr<Toplevel>> windows;
    WindowId nextId = 1;
    uint64_t activations = 0;

    ~WaylandConnection();
    // Connects to $WAYLAND_DISPLAY and learns the globals and the current windows.
    bool open(QString* error);
    // Handles what the compositor has sent, waiting up to ms for something to arrive; false
    // when the connection broke.
    bool dispatch(int ms);
    bool roundtrip();
    Toplevel* find(WindowId id);
};
