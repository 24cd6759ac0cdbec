#include "X11Connection.h"

#include "CompoundText.h"

#include <QDeadlineTimer>
#include <cstring>
#include <poll.h>
#include <unistd.h>

namespace {
// How long to wait for the server's answer that carries its time.
constexpr int kServerTimeWaitMs = 200;
} // namespace

X11Connection::~X11Connection()
{
    if (m_ewmhReady)
        xcb_ewmh_connection_wipe(&m_ewmh);
    if (m_c)
        xcb_disconnect(m_c);
}

bool X11Connection::open(const QByteArray& display, QString* error)
{
    m_c = xcb_connect(display.isEmpty() ? nullptr : display.constData(), &m_screenNumber);
    if (xcb_connection_has_error(m_c)) {
        *error = QStringLiteral("cannot connect to the X server");
        return false;
    }
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(m_c));
    for (int i = 0; i < m_screenNumber && it.rem; ++i)
        xcb_screen_next(&it);
    if (!it.rem) {
        *error = QStringLiteral("the X server has no screen");
        return false;
    }
    m_root = it.data->root;

    xcb_intern_atom_cookie_t* cookies = xcb_ewmh_init_atoms(m_c, &m_ewmh);
    m_ewmhReady = xcb_ewmh_init_atoms_replies(&m_ewmh, cookies, nullptr);
    m_wmState = intern("WM_STATE");
    m_compoundText = intern("COMPOUND_TEXT");
    if (!m_ewmhReady || m_wmState == XCB_NONE) {
        *error = QStringLiteral("cannot intern the window manager atoms");
        return false;
    }

    // Unmapped, for server timestamps and as a mark that lives exactly as long as we do.
    m_helper = xcb_generate_id(m_c);
    const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_create_window(m_c, XCB_COPY_FROM_PARENT, m_helper, m_root, -1, -1, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, &mask);
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) == 0)
        m_hostname = QByteArray(host);
    return true;
}

void X11Connection::grabServer()
{
    if (m_grabs++ == 0)
        xcb_grab_server(m_c);
}

void X11Connection::ungrabServer()
{
    if (--m_grabs == 0) {
        xcb_ungrab_server(m_c);
        xcb_flush(m_c);
    }
}

bool X11Connection::isBroken() const
{
    return !m_c || xcb_connection_has_error(m_c);
}

xcb_atom_t X11Connection::intern(const char* name)
{
    Reply<xcb_intern_atom_reply_t> atom(xcb_intern_atom_reply(
        m_c, xcb_intern_atom(m_c, 0, static_cast<uint16_t>(strlen(name)), name), nullptr));
    return atom ? atom->atom : XCB_NONE;
}

QByteArray X11Connection::property(xcb_window_t w, xcb_atom_t atom, xcb_atom_t type,
                                   xcb_atom_t* actualType)
{
    Reply<xcb_get_property_reply_t> r(
        xcb_get_property_reply(m_c, xcb_get_property(m_c, 0, w, atom, type, 0, 16384), nullptr));
    if (!r || r->type == XCB_NONE)
        return {};
    if (actualType)
        *actualType = r->type;
    return QByteArray(static_cast<const char*>(xcb_get_property_value(r.get())),
                      xcb_get_property_value_length(r.get()));
}

bool X11Connection::hasProperty(xcb_window_t w, xcb_atom_t atom)
{
    Reply<xcb_get_property_reply_t> r(xcb_get_property_reply(
        m_c, xcb_get_property(m_c, 0, w, atom, XCB_GET_PROPERTY_TYPE_ANY, 0, 0), nullptr));
    return r && r->type != XCB_NONE;
}

QString X11Connection::title(xcb_window_t w)
{
    const QByteArray net = property(w, m_ewmh._NET_WM_NAME, m_ewmh.UTF8_STRING);
    if (!net.isEmpty())
        return QString::fromUtf8(net);
    xcb_atom_t type = XCB_NONE;
    const QByteArray legacy = property(w, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, &type);
    // WM_NAME is STRING (Latin-1) or COMPOUND_TEXT by the ICCCM; some clients put UTF-8
    // there and say so.
    if (type == m_ewmh.UTF8_STRING)
        return QString::fromUtf8(legacy);
    if (type == m_compoundText)
        return decodeCompoundText(legacy);
    return QString::fromLatin1(legacy);
}

std::vector<xcb_window_t> X11Connection::children(xcb_window_t w, xcb_window_t* parent)
{
    Reply<xcb_query_tree_reply_t> r(xcb_query_tree_reply(m_c, xcb_query_tree(m_c, w), nullptr));
    if (!r)
        return {};
    if (parent)
        *parent = r->parent;
    const xcb_window_t* kids = xcb_query_tree_children(r.get());
    std::vector<xcb_window_t> out;
    const int count = xcb_query_tree_children_length(r.get());
    out.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i)
        out.push_back(kids[i]);
    return out;
}

void X11Connection::onEvent(EventHandler handler)
{
    m_handlers.push_back(std::move(handler));
}

void X11Connection::dispatch(const xcb_generic_event_t* ev)
{
    const uint8_t type = ev->response_type & 0x7f;
    if (ev->response_type == 0 && ev->sequence == m_timeRequest) {
        m_timeFailed = true; // the request failed: no notify will follow
    } else if (type == XCB_PROPERTY_NOTIFY &&
               reinterpret_cast<const xcb_property_notify_event_t*>(ev)->window == m_helper) {
        m_helperTime = reinterpret_cast<const xcb_property_notify_event_t*>(ev)->time;
        m_timeSeen = true;
    }
    for (const EventHandler& handler : m_handlers)
        handler(ev);
}

void X11Connection::pumpEvents()
{
    while (xcb_generic_event_t* ev = xcb_poll_for_event(m_c)) {
        dispatch(ev);
        std::free(ev);
    }
}

void X11Connection::pumpQueuedEvents()
{
    while (xcb_generic_event_t* ev = xcb_poll_for_queued_event(m_c)) {
        dispatch(ev);
        std::free(ev);
    }
}

void X11Connection::selectRootEvents(uint32_t mask)
{
    if ((m_rootMask | mask) == m_rootMask)
        return;
    m_rootMask |= mask;
    xcb_change_window_attributes(m_c, m_root, XCB_CW_EVENT_MASK, &m_rootMask);
    xcb_flush(m_c);
}

xcb_timestamp_t X11Connection::serverTime()
{
    m_timeRequest =
        static_cast<uint16_t>(xcb_change_property(m_c, XCB_PROP_MODE_APPEND, m_helper,
                                                  XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8, 0, nullptr)
                                  .sequence);
    m_timeSeen = false;
    m_timeFailed = false;
    waitUntil([this] { return m_timeSeen || m_timeFailed; }, kServerTimeWaitMs);
    return m_timeSeen ? m_helperTime : XCB_CURRENT_TIME;
}

bool X11Connection::waitUntil(const std::function<bool()>& done, int ms)
{
    xcb_flush(m_c);
    const QDeadlineTimer deadline(ms);
    for (;;) {
        pumpEvents();
        if (done())
            return true;
        const int left = static_cast<int>(deadline.remainingTime());
        if (left <= 0 || xcb_connection_has_error(m_c))
            return false;
        pollfd fd{xcb_get_file_descriptor(m_c), POLLIN, 0};
        ::poll(&fd, 1, left);
    }
}

void X11Connection::sync()
{
    std::free(xcb_get_input_focus_reply(m_c, xcb_get_input_focus(m_c), nullptr));
}
