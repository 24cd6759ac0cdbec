#pragma once

struct wl_display;

// Handles what the compositor has sent on display, waiting up to ms for something to arrive;
// false when the connection broke.
bool dispatchWaylandEvents(wl_display* display, int ms);
