#pragma once

#include <QString>

struct wl_display;
struct wl_registry;
struct wl_registry_listener;

// A connection of Keyflare's own to the Wayland compositor of $WAYLAND_DISPLAY (Qt's stays Qt's),
// and its registry. Its owner destroys the objects bound through it first.
class WaylandDisplay
{
public:
    WaylandDisplay() = default;
    WaylandDisplay(const WaylandDisplay&) = delete;
    WaylandDisplay& operator=(const WaylandDisplay&) = delete;
    ~WaylandDisplay();

    // Connects, has listener told of the globals (with data), and makes roundtrips round trips
    // so that what the globals send at once has arrived; false, with the reason, when it cannot.
    bool open(const wl_registry_listener* listener, void* data, int roundtrips, QString* error);
    // True once the connection has broken (the compositor ended, say); it stays broken.
    bool isBroken() const;
    // Handles what the compositor has sent, waiting up to ms for something to arrive; false
    // when the connection broke.
    bool dispatch(int ms);
    bool roundtrip();
    // Sends what is queued; false when the connection broke.
    bool flush();
    // The connection's socket, to wait on beside other files.
    int fd() const;

private:
    wl_display* m_display = nullptr;
    wl_registry* m_registry = nullptr;
};
