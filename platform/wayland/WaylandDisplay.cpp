#include "WaylandDisplay.h"

#include <cerrno>
#include <poll.h>
#include <wayland-client.h>

WaylandDisplay::~WaylandDisplay()
{
    if (!m_display)
        return;
    if (m_registry)
        wl_registry_destroy(m_registry);
    wl_display_flush(m_display);
    wl_display_disconnect(m_display);
}

bool WaylandDisplay::open(const wl_registry_listener* listener, void* data, int roundtrips,
                          QString* error)
{
    m_display = wl_display_connect(nullptr);
    if (!m_display) {
        *error = QStringLiteral("cannot connect to the Wayland compositor");
        return false;
    }
    m_registry = wl_display_get_registry(m_display);
    wl_registry_add_listener(m_registry, listener, data);
    for (int i = 0; i < roundtrips; ++i) {
        if (!roundtrip()) {
            *error = QStringLiteral("the Wayland compositor did not answer");
            return false;
        }
    }
    return true;
}

bool WaylandDisplay::isBroken() const
{
    return !m_display || wl_display_get_error(m_display) != 0;
}

bool WaylandDisplay::roundtrip()
{
    return wl_display_roundtrip(m_display) >= 0;
}

bool WaylandDisplay::flush()
{
    return wl_display_flush(m_display) >= 0 || errno == EAGAIN;
}

int WaylandDisplay::fd() const
{
    return wl_display_get_fd(m_display);
}

bool WaylandDisplay::dispatch(int ms)
{
    while (wl_display_prepare_read(m_display) != 0) {
        if (wl_display_dispatch_pending(m_display) < 0)
            return false;
    }
    if (wl_display_flush(m_display) < 0 && errno != EAGAIN) {
        wl_display_cancel_read(m_display);
        return false;
    }
    pollfd p{wl_display_get_fd(m_display), POLLIN, 0};
    if (poll(&p, 1, ms) > 0) {
        if (wl_display_read_events(m_display) < 0)
            return false;
    } else {
        wl_display_cancel_read(m_display);
    }
    return wl_display_dispatch_pending(m_display) >= 0;
}
