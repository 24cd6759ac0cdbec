#include "X11Windows.h"

#include "X11Connection.h"

#include <QList>
#include <cstring>
#include <unistd.h>

X11Windows::X11Windows(X11Connection& connection) : m_x(connection)
{
    m_x.onEvent([this](const xcb_generic_event_t* ev) {
        if ((ev->response_type & 0x7f) != XCB_CLIENT_MESSAGE)
            return;
        const auto* m = reinterpret_cast<const xcb_client_message_event_t*>(ev);
        if (m->format == 32 && m->type == m_x.ewmh()->WM_PROTOCOLS &&
            m->data.data32[0] == m_x.ewmh()->_NET_WM_PING && m->data.data32[1] == m_pingStamp)
            m_pingAnswered = true;
    });
}

bool X11Windows::isOwnWindow(xcb_window_t w)
{
    const QByteArray pid = m_x.property(w, m_x.ewmh()->_NET_WM_PID, XCB_ATOM_CARDINAL);
    if (pid.size() != 4)
        return false;
    uint32_t value = 0;
    memcpy(&value, pid.constData(), 4);
    if (value != static_cast<uint32_t>(getpid()))
        return false;
    QByteArray machine = m_x.property(w, XCB_ATOM_WM_CLIENT_MACHINE, XCB_ATOM_STRING);
    while (machine.endsWith('\0'))
        machine.chop(1);
    return machine.isEmpty() || machine == m_x.hostname();
}

QString X11Windows::program(xcb_window_t w)
{
    // WM_CLASS holds the instance and then the class, each ended by a NUL.
    const QList<QByteArray> names = m_x.property(w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING).split('\0');
    return QString::fromLatin1(names.value(1).isEmpty() ? names.value(0) : names.value(1));
}

std::vector<xcb_window_t> X11Windows::clientWindows()
{
    xcb_ewmh_get_windows_reply_t list{};
    if (xcb_ewmh_get_client_list_stacking_reply(
            m_x.ewmh(), xcb_ewmh_get_client_list_stacking(m_x.ewmh(), m_x.screenNumber()), &list,
            nullptr) ||
        xcb_ewmh_get_client_list_reply(
            m_x.ewmh(), xcb_ewmh_get_client_list(m_x.ewmh(), m_x.screenNumber()), &list, nullptr)) {
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
    for (xcb_window_t top : m_x.children(m_x.root())) {
        if (m_x.hasProperty(top, m_x.wmState())) {
            out.push_back(top);
            continue;
        }
        for (xcb_window_t child : m_x.children(top)) {
            if (m_x.hasProperty(child, m_x.wmState()))
                out.push_back(child);
        }
    }
    return out;
}

bool X11Windows::windowManagerRunning()
{
    xcb_window_t check = XCB_NONE;
    if (!xcb_ewmh_get_supporting_wm_check_reply(
            m_x.ewmh(), xcb_ewmh_get_supporting_wm_check(m_x.ewmh(), m_x.root()), &check, nullptr))
        return false;
    xcb_window_t self = XCB_NONE;
    return xcb_ewmh_get_supporting_wm_check_reply(
               m_x.ewmh(), xcb_ewmh_get_supporting_wm_check(m_x.ewmh(), check), &self, nullptr) &&
           self == check;
}

xcb_window_t X11Windows::activeWindow()
{
    xcb_window_t w = XCB_NONE;
    xcb_ewmh_get_active_window_reply(
        m_x.ewmh(), xcb_ewmh_get_active_window(m_x.ewmh(), m_x.screenNumber()), &w, nullptr);
    return w;
}

bool X11Windows::focusIsIn(xcb_window_t w)
{
    Reply<xcb_get_input_focus_reply_t> r(
        xcb_get_input_focus_reply(m_x.raw(), xcb_get_input_focus(m_x.raw()), nullptr));
    if (!r)
        return false;
    xcb_window_t f = r->focus;
    for (int depth = 0; depth < 64 && f != XCB_NONE && f != XCB_INPUT_FOCUS_POINTER_ROOT; ++depth) {
        if (f == w)
            return true;
        if (f == m_x.root())
            return false;
        xcb_window_t parent = XCB_NONE;
        m_x.children(f, &parent);
        f = parent;
    }
    return false;
}

bool X11Windows::stillFocused(xcb_window_t w)
{
    Reply<xcb_get_input_focus_reply_t> r(
        xcb_get_input_focus_reply(m_x.raw(), xcb_get_input_focus(m_x.raw()), nullptr));
    if (!r)
        return false;
    if (r->focus != m_focusInTarget || m_focusInTarget == XCB_NONE)
        m_focusInTarget = focusIsIn(w) ? r->focus : XCB_NONE;
    return m_focusInTarget != XCB_NONE;
}

bool X11Windows::answersPing(xcb_window_t w)
{
    const QByteArray protocols = m_x.property(w, m_x.ewmh()->WM_PROTOCOLS, XCB_ATOM_ATOM);
    for (qsizetype i = 0; i + 4 <= protocols.size(); i += 4) {
        uint32_t atom = 0;
        memcpy(&atom, protocols.constData() + i, 4);
        if (atom == m_x.ewmh()->_NET_WM_PING)
            return true;
    }
    return false;
}

bool X11Windows::ping(xcb_window_t window, int ms)
{
    xcb_connection_t* c = m_x.raw();
    if (!m_watchingPings) {
        // The answer goes to the root window, to whoever watches it or its children (toolkits
        // differ in which).
        m_x.selectRootEvents(XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY);
        m_watchingPings = true;
    }
    xcb_client_message_event_t ev{};
    ev.response_type = XCB_CLIENT_MESSAGE;
    ev.format = 32;
    ev.window = window;
    ev.type = m_x.ewmh()->WM_PROTOCOLS;
    ev.data.data32[0] = m_x.ewmh()->_NET_WM_PING;
    ev.data.data32[1] = ++m_pingStamp;
    ev.data.data32[2] = window;
    m_pingAnswered = false;
    xcb_send_event(c, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&ev));
    return m_x.waitUntil([this] { return m_pingAnswered; }, ms);
}
