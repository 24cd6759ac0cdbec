#include "WaylandEvents.h"

#include <cerrno>
#include <poll.h>
#include <wayland-client.h>

bool dispatchWaylandEvents(wl_display* display, int ms)
{
    while (wl_display_prepare_read(display) != 0) {
        if (wl_display_dispatch_pending(display) < 0)
            return false;
    }
    if (wl_display_flush(display) < 0 && errno != EAGAIN) {
        wl_display_cancel_read(display);
        return false;
    }
    pollfd p{wl_display_get_fd(display), POLLIN, 0};
    if (poll(&p, 1, ms) > 0) {
        if (wl_display_read_events(display) < 0)
            return false;
    } else {
        wl_display_cancel_read(display);
    }
    return wl_display_dispatch_pending(display) >= 0;
}
