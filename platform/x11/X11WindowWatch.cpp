#include "X11WindowWatch.h"

#include "X11Connection.h"
#include "X11Windows.h"

X11WindowWatch::X11WindowWatch(X11Connection& x, X11Windows& windows) : m_x(x), m_windows(windows)
{
}

void X11WindowWatch::start(std::function<void()> changed)
{
    m_changed = std::move(changed);
    m_x.onEvent([this](const xcb_generic_event_t* ev) { onEvent(ev); });
    // A window manager lists and stacks its windows on the root window; without one, windows
    // mapped, unmapped and restacked there are the list.
    m_rootChildren = !m_windows.windowManagerRunning();
    m_x.selectRootEvents(XCB_EVENT_MASK_PROPERTY_CHANGE |
                         (m_rootChildren ? XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY : 0));
    // Events are only read here, never asked for: a round trip would wait out another program's
    // hold of the server.
    m_socket = std::make_unique<SocketWatch>(
        xcb_get_file_descriptor(m_x.raw()),
        [this] {
            m_x.pumpEvents();
            if (m_x.isBroken())
                m_changed();
            return !m_x.isBroken();
        },
        true);
}

void X11WindowWatch::onEvent(const xcb_generic_event_t* ev)
{
    if (!m_changed)
        return;
    const uint8_t type = ev->response_type & 0x7f;
    if (type == XCB_PROPERTY_NOTIFY) {
        const auto* p = reinterpret_cast<const xcb_property_notify_event_t*>(ev);
        xcb_ewmh_connection_t* ewmh = m_x.ewmh();
        if (p->window == m_x.root()) {
            if (p->atom != ewmh->_NET_CLIENT_LIST_STACKING && p->atom != ewmh->_NET_CLIENT_LIST)
                return;
        } else if (!m_followed.count(p->window) ||
                   (p->atom != ewmh->_NET_WM_NAME && p->atom != XCB_ATOM_WM_NAME &&
                    p->atom != XCB_ATOM_WM_CLASS)) {
            return;
        }
        m_changed();
    } else if (m_rootChildren &&
               (type == XCB_MAP_NOTIFY || type == XCB_UNMAP_NOTIFY || type == XCB_DESTROY_NOTIFY ||
                (type == XCB_CONFIGURE_NOTIFY &&
                 reinterpret_cast<const xcb_configure_notify_event_t*>(ev)->event == m_x.root()))) {
        m_changed();
    }
}

void X11WindowWatch::follow(const std::vector<xcb_window_t>& listed)
{
    const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    std::set<xcb_window_t> now;
    for (xcb_window_t w : listed) {
        now.insert(w);
        if (!m_followed.count(w))
            xcb_change_window_attributes(m_x.raw(), w, XCB_CW_EVENT_MASK, &mask);
    }
    xcb_flush(m_x.raw());
    // A window gone from the list has closed or will be listed again when it is shown.
    m_followed.swap(now);
}
