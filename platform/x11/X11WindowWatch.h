#pragma once

#include "../SocketWatch.h"

#include <functional>
#include <memory>
#include <set>
#include <vector>
#include <xcb/xcb.h>

class X11Connection;
class X11Windows;

// Tells when the windows a title may name change, as the X server reports it: the window
// manager's list and stacking of its windows on the root window, and each listed window's title
// and class. Without a window manager, the root window's own children are watched instead.
class X11WindowWatch
{
public:
    X11WindowWatch(X11Connection& x, X11Windows& windows);
    X11WindowWatch(const X11WindowWatch&) = delete;
    X11WindowWatch& operator=(const X11WindowWatch&) = delete;

    // From now on, changed runs from the event loop at every change; once when the connection
    // breaks.
    void start(std::function<void()> changed);
    // Follows the titles of the windows listed (as the list is read anew after each change).
    void follow(const std::vector<xcb_window_t>& listed);

private:
    void onEvent(const xcb_generic_event_t* ev);

    X11Connection& m_x;
    X11Windows& m_windows;
    std::function<void()> m_changed;
    std::set<xcb_window_t> m_followed;
    bool m_rootChildren = false; // no window manager lists the windows
    std::unique_ptr<SocketWatch> m_socket;
};
