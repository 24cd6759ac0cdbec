#pragma once

#include <QtGlobal>

struct xcb_connection_t;

// A connection of Keyflare's own to Xwayland, the X server of the X11 programs on a Wayland
// desktop, on which the keys for their windows wait. The compositor writes each key to Xwayland
// at once, read or not; keys piled up while Xwayland reads nothing (it compiles each new keymap
// with a program of its own, and a busy machine gives it no time) are lost, or cost Xwayland its
// connection and every X11 window with it. A round trip after each key keeps at most that key
// waiting.
class XwaylandPace
{
public:
    // Connects to the server of DISPLAY, where there is one that answers within ms.
    explicit XwaylandPace(int ms = 5000);
    ~XwaylandPace();
    XwaylandPace(const XwaylandPace&) = delete;
    XwaylandPace& operator=(const XwaylandPace&) = delete;

    // True when the program with process id pid shows a window on the server, as the window
    // manager lists them, or the server cannot tell; false without a server.
    bool serves(qint64 pid);
    // True once the server has answered a request sent now; false when the connection broke or
    // no answer came within ms.
    bool roundTrip(int ms = 5000);

private:
    // The reply to the request of that sequence number (to free), or null as roundTrip fails.
    void* reply(unsigned sequence, int ms);

    xcb_connection_t* m_connection = nullptr;
};
