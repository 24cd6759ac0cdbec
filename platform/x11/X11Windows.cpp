#include "X11Connection.h"

#include <cstring>
#include <unistd.h>

bool X11Connection::isOwnWindow(xcb_window_t w)
{
    const QByteArray pid = property(w, ewmh._NET_WM_PID, XCB_ATOM_CARDINAL);
    if (pid.size() != 4)
        return false;
    uint32_t value = 0;
    memcpy(&value, pid.constData(), 4);
    if (value != static_cast<uint32_t>(getpid()))
        return false;
    QByteArray machine = property(w, XCB_ATOM_WM_CLIENT_MACHINE, XCB_ATOM_STRING);
    while (machine.endsWith('\0'))
        machine.chop(1);
    return machine.isEmpty() || machine == hostname;
}

std::vector<xcb_window_t> X11Connection::clientWindows()
{
    xcb_ewmh_get_windows_reply_t list{};
    if (xcb_ewmh_get_client_list_stacking_reply(
            &ewmh, xcb_ewmh_get_client_list_stacking(&ewmh, screenNumber), &list, nullptr) ||
        xcb_ewmh_get_client_list_reply(&ewmh, xcb_ewmh_get_client_list(&ewmh, screenNumber), &list,
                                       nullptr)) {
        // Copied one by one: GCC 12 misreads a range copy here (-Wfree-nonheap-object).
        std::vector<xcb_window_t> out;
        out.reserve(list.windows_len);
        for (uint32_t i = 0; i < list.windows_len; ++i)
            out.push_back(list.windows[i]);
        xcb_ewmh_get_windows_reply_wipe(&list);
        if (!out.empty())
            return out;
    }
    // No window manager lists its clients: the application windows are the top-level
    // windows, or their children, that carry WM_STATE.
    std::vector<xcb_window_t> out;
    for (xcb_window_t top : children(root)) {
        if (hasProperty(top, wmState)) {
            out.push_back(top);
            continue;
        }
        for (xcb_window_t child : children(top)) {
            if (hasProperty(child, wmState))
                out.push_back(child);
        }
    }
    return out;
}

bool X11Connection::windowManagerRunning()
{
    xcb_window_t check = XCB_NONE;
    if (!xcb_ewmh_get_supporting_wm_check_reply(
            &ewmh, xcb_ewmh_get_supporting_wm_check(&ewmh, root), &check, nullptr))
        return false;
    xcb_window_t self = XCB_NONE;
    return xcb_ewmh_get_supporting_wm_check_reply(
               &ewmh, xcb_ewmh_get_supporting_wm_check(&ewmh, check), &self, nullptr) &&
           self == check;
}

xcb_window_t X11Connection::activeWindow()
{
    xcb_window_t w = XCB_NONE;
    xcb_ewmh_get_active_window_reply(&ewmh, xcb_ewmh_get_active_window(&ewmh, screenNumber), &w,
                                     nullptr);
    return w;
}

bool X11Connection::focusIsIn(xcb_window_t w)
{
    Reply<xcb_get_input_focus_reply_t> r(
        xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    if (!r)
        return false;
    xcb_window_t f = r->focus;
    for (int depth = 0; depth < 64 && f != XCB_NONE && f != XCB_INPUT_FOCUS_POINTER_ROOT; ++depth) {
        if (f == w)
            return true;
        if (f == root)
            return false;
        xcb_window_t parent = XCB_NONE;
        children(f, &parent);
        f = parent;
    }
    return false;
}

bool X11Connection::stillFocused(xcb_window_t w)
{
    Reply<xcb_get_input_focus_reply_t> r(
        xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    if (!r)
        return false;
    if (r->focus != focusInTarget || focusInTarget == XCB_NONE)
        focusInTarget = focusIsIn(w) ? r->focus : XCB_NONE;
    return focusInTarget != XCB_NONE;
}

bool X11Connection::answersPing(xcb_window_t w)
{
    const QByteArray protocols = property(w, ewmh.WM_PROTOCOLS, XCB_ATOM_ATOM);
    for (qsizetype i = 0; i + 4 <= protocols.size(); i += 4) {
        uint32_t atom = 0;
        memcpy(&atom, protocols.constData() + i, 4);
        if (atom == ewmh._NET_WM_PING)
            return true;
    }
    return false;
}
