#include "X11Connection.h"

#include "CompoundText.h"

#include <QDeadlineTimer>
#include <cstring>
#include <poll.h>
#include <unistd.h>
// xkb.h names a field "explicit", a C++ keyword.
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit
#include <xcb/xinput.h>
#include <xcb/xtest.h>
#include <xkbcommon/xkbcommon-x11.h>

namespace {
// How long to wait for the server's answer that carries its time.
constexpr int kServerTimeWaitMs = 200;
} // namespace

X11Connection::~X11Connection()
{
    if (xkb)
        xkb_context_unref(xkb);
    if (ewmhReady)
        xcb_ewmh_connection_wipe(&ewmh);
    if (c)
        xcb_disconnect(c);
}

bool X11Connection::open(const QByteArray& display, QString* error)
{
    c = xcb_connect(display.isEmpty() ? nullptr : display.constData(), &screenNumber);
    if (xcb_connection_has_error(c)) {
        *error = QStringLiteral("cannot connect to the X server");
        return false;
    }
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; i < screenNumber && it.rem; ++i)
        xcb_screen_next(&it);
    if (!it.rem) {
        *error = QStringLiteral("the X server has no screen");
        return false;
    }
    root = it.data->root;

    const xcb_query_extension_reply_t* xtest = xcb_get_extension_data(c, &xcb_test_id);
    if (!xtest || !xtest->present) {
        *error = QStringLiteral("the X server lacks the XTEST extension");
        return false;
    }
    if (!xkb_x11_setup_xkb_extension(
            c, XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
            XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr, &xkbEvent, nullptr)) {
        *error = QStringLiteral("the X server lacks the XKB extension");
        return false;
    }
    keyboard = xkb_x11_get_core_keyboard_device_id(c);
    xtestKeyboard = findXtestKeyboard();
    // Told when a map changes, the cached one is read again; no need to read it every send.
    const uint16_t mapEvents =
        XCB_XKB_EVENT_TYPE_NEW_KEYBOARD_NOTIFY | XCB_XKB_EVENT_TYPE_MAP_NOTIFY;
    for (int32_t device : {keyboard, xtestKeyboard}) {
        if (device >= 0)
            xcb_xkb_select_events(c, static_cast<xcb_xkb_device_spec_t>(device), mapEvents, 0,
                                  mapEvents, 0xffff, 0xffff, nullptr);
    }
    xkb = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    if (keyboard < 0 || !xkb) {
        *error = QStringLiteral("cannot read the keyboard");
        return false;
    }

    xcb_intern_atom_cookie_t* cookies = xcb_ewmh_init_atoms(c, &ewmh);
    ewmhReady = xcb_ewmh_init_atoms_replies(&ewmh, cookies, nullptr);
    wmState = intern("WM_STATE");
    compoundText = intern("COMPOUND_TEXT");
    if (!ewmhReady || wmState == XCB_NONE) {
        *error = QStringLiteral("cannot intern the window manager atoms");
        return false;
    }

    // An unmapped window of our own, for server timestamps.
    helper = xcb_generate_id(c);
    const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_create_window(c, XCB_COPY_FROM_PARENT, helper, root, -1, -1, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, &mask);
    markOwner();
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) == 0)
        hostname = QByteArray(host);
    return true;
}

xcb_atom_t X11Connection::intern(const char* name)
{
    Reply<xcb_intern_atom_reply_t> atom(xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, static_cast<uint16_t>(strlen(name)), name), nullptr));
    return atom ? atom->atom : XCB_NONE;
}

QByteArray X11Connection::property(xcb_window_t w, xcb_atom_t atom, xcb_atom_t type,
                                   xcb_atom_t* actualType)
{
    Reply<xcb_get_property_reply_t> r(
        xcb_get_property_reply(c, xcb_get_property(c, 0, w, atom, type, 0, 16384), nullptr));
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
        c, xcb_get_property(c, 0, w, atom, XCB_GET_PROPERTY_TYPE_ANY, 0, 0), nullptr));
    return r && r->type != XCB_NONE;
}

QString X11Connection::title(xcb_window_t w)
{
    const QByteArray net = property(w, ewmh._NET_WM_NAME, ewmh.UTF8_STRING);
    if (!net.isEmpty())
        return QString::fromUtf8(net);
    xcb_atom_t type = XCB_NONE;
    const QByteArray legacy = property(w, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, &type);
    // WM_NAME is STRING (Latin-1) or COMPOUND_TEXT by the ICCCM; some clients put UTF-8
    // there and say so.
    if (type == ewmh.UTF8_STRING)
        return QString::fromUtf8(legacy);
    if (type == compoundText)
        return decodeCompoundText(legacy);
    return QString::fromLatin1(legacy);
}

std::vector<xcb_window_t> X11Connection::children(xcb_window_t w, xcb_window_t* parent)
{
    Reply<xcb_query_tree_reply_t> r(xcb_query_tree_reply(c, xcb_query_tree(c, w), nullptr));
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

void X11Connection::dispatch(const xcb_generic_event_t* ev)
{
    const uint8_t type = ev->response_type & 0x7f;
    if (ev->response_type == 0 && ev->sequence == timeRequest) {
        timeFailed = true; // the request failed: no notify will follow
    } else if (type == XCB_PROPERTY_NOTIFY &&
               reinterpret_cast<const xcb_property_notify_event_t*>(ev)->window == helper) {
        helperTime = reinterpret_cast<const xcb_property_notify_event_t*>(ev)->time;
        timeSeen = true;
    } else if (type == xkbEvent || type == XCB_MAPPING_NOTIFY) {
        keymapStale = true;
    } else if (type == XCB_CLIENT_MESSAGE) {
        const auto* m = reinterpret_cast<const xcb_client_message_event_t*>(ev);
        if (m->format == 32 && m->type == ewmh.WM_PROTOCOLS &&
            m->data.data32[0] == ewmh._NET_WM_PING && m->data.data32[1] == pingStamp)
            pingAnswered = true;
    }
}

void X11Connection::pumpEvents()
{
    while (xcb_generic_event_t* ev = xcb_poll_for_event(c)) {
        dispatch(ev);
        std::free(ev);
    }
}

xcb_timestamp_t X11Connection::serverTime()
{
    timeRequest =
        static_cast<uint16_t>(xcb_change_property(c, XCB_PROP_MODE_APPEND, helper, XCB_ATOM_WM_NAME,
                                                  XCB_ATOM_STRING, 8, 0, nullptr)
                                  .sequence);
    timeSeen = false;
    timeFailed = false;
    waitUntil([this] { return timeSeen || timeFailed; }, kServerTimeWaitMs);
    return timeSeen ? helperTime : XCB_CURRENT_TIME;
}

bool X11Connection::waitUntil(const std::function<bool()>& done, int ms)
{
    xcb_flush(c);
    const QDeadlineTimer deadline(ms);
    for (;;) {
        pumpEvents();
        if (done())
            return true;
        const int left = static_cast<int>(deadline.remainingTime());
        if (left <= 0 || xcb_connection_has_error(c))
            return false;
        pollfd fd{xcb_get_file_descriptor(c), POLLIN, 0};
        ::poll(&fd, 1, left);
    }
}

int32_t X11Connection::findXtestKeyboard()
{
    std::free(xcb_input_xi_query_version_reply(c, xcb_input_xi_query_version(c, 2, 0), nullptr));
    Reply<xcb_input_xi_query_device_reply_t> r(xcb_input_xi_query_device_reply(
        c, xcb_input_xi_query_device(c, XCB_INPUT_DEVICE_ALL), nullptr));
    if (!r)
        return -1;
    for (auto it = xcb_input_xi_query_device_infos_iterator(r.get()); it.rem;
         xcb_input_xi_device_info_next(&it)) {
        const QByteArray name(xcb_input_xi_device_info_name(it.data),
                              xcb_input_xi_device_info_name_length(it.data));
        if (it.data->type == XCB_INPUT_DEVICE_TYPE_SLAVE_KEYBOARD &&
            it.data->attachment == keyboard && name.endsWith("XTEST keyboard"))
            return it.data->deviceid;
    }
    return -1;
}

void X11Connection::sync()
{
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
}

bool X11Connection::ping(xcb_window_t window, int ms)
{
    if (!watchingPings) {
        // The answer goes to the root window, to whoever watches it or its children (toolkits
        // differ in which).
        const uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(c, root, XCB_CW_EVENT_MASK, &mask);
        watchingPings = true;
    }
    xcb_client_message_event_t ev{};
    ev.response_type = XCB_CLIENT_MESSAGE;
    ev.format = 32;
    ev.window = window;
    ev.type = ewmh.WM_PROTOCOLS;
    ev.data.data32[0] = ewmh._NET_WM_PING;
    ev.data.data32[1] = ++pingStamp;
    ev.data.data32[2] = window;
    pingAnswered = false;
    xcb_send_event(c, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&ev));
    return waitUntil([this] { return pingAnswered; }, ms);
}
