#pragma once

#include <QString>
#include <cstdint>
#include <vector>
#include <xcb/xcb.h>

class X11Connection;

// The windows of an X server as the window manager tells of them, where the input focus is, and
// whether a window's program has handled what was sent to it.
class X11Windows
{
public:
    explicit X11Windows(X11Connection& connection);
    X11Windows(const X11Windows&) = delete;
    X11Windows& operator=(const X11Windows&) = delete;

    // True when window w belongs to this program.
    bool isOwnWindow(xcb_window_t w);
    // The program of window w, as its class names it; empty when it names none.
    QString program(xcb_window_t w);
    // The application windows, bottom to top where the window manager tells the stacking.
    std::vector<xcb_window_t> clientWindows();
    bool windowManagerRunning();
    xcb_window_t activeWindow();
    // True when the input focus is w or one of its descendants (toolkits often focus a child).
    bool focusIsIn(xcb_window_t w);
    // focusIsIn(w) with one round trip while the focus stays on the window last found in w.
    bool stillFocused(xcb_window_t w);
    // Makes the next stillFocused() look for the focus afresh, as for a new target.
    void forgetFocus() { m_focusInTarget = XCB_NONE; }
    // True when the program of window w answers a ping (_NET_WM_PING).
    bool answersPing(xcb_window_t w);
    // Pings window w and waits for the answer, which its program sends once it has handled
    // every event sent to it before; false after ms.
    bool ping(xcb_window_t w, int ms);

private:
    X11Connection& m_x;
    xcb_window_t m_focusInTarget = XCB_NONE; // where stillFocused() last found the focus
    bool m_watchingPings = false;
    uint32_t m_pingStamp = 0;
    bool m_pingAnswered = false;
};
