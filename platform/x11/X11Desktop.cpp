#include "X11Desktop.h"

#include "../KeystrokeString.h"
#include "CompoundText.h"
#include "KeyPlanner.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QThread>
#include <cstdlib>
#include <cstring>
#include <unistd.h>
#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>
// xkb.h names a field "explicit", a C++ keyword.
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit
#include <xcb/xtest.h>
#include <xkbcommon/xkbcommon-x11.h>
#include <xkbcommon/xkbcommon.h>

namespace {

template <typename T> struct FreeDeleter
{
    void operator()(T* p) const { std::free(p); }
};
template <typename T> using Reply = std::unique_ptr<T, FreeDeleter<T>>;

struct KeymapDeleter
{
    void operator()(xkb_keymap* k) const { xkb_keymap_unref(k); }
};

// The activation is asynchronous: the window manager moves the focus a few milliseconds after our
// request. Keys sent before it arrives would land in the wrong window.
constexpr int kFocusWaitMs = 1000;
// A Shift, Ctrl or Alt still held from the click would change every key typed.
constexpr int kModifierWaitMs = 2000;
constexpr int kPollMs = 2;
constexpr int kTitleLimit = 99;

QString cutToCodePoints(const QString& s, int limit)
{
    int count = 0;
    for (qsizetype i = 0; i < s.size(); ++i) {
        if (count == limit)
            return s.left(i);
        if (s.at(i).isHighSurrogate() && i + 1 < s.size() && s.at(i + 1).isLowSurrogate())
            ++i;
        ++count;
    }
    return s;
}

} // namespace

struct X11Desktop::Connection
{
    xcb_connection_t* c = nullptr;
    int screenNumber = 0;
    xcb_window_t root = XCB_NONE;
    xcb_ewmh_connection_t ewmh{};
    bool ewmhReady = false;
    xcb_atom_t wmState = XCB_NONE;
    xcb_atom_t compoundText = XCB_NONE;
    xcb_window_t helper = XCB_NONE;
    xkb_context* xkb = nullptr;
    int32_t keyboard = -1;
    xcb_window_t target = XCB_NONE;
    QByteArray hostname;

    ~Connection()
    {
        if (xkb)
            xkb_context_unref(xkb);
        if (ewmhReady)
            xcb_ewmh_connection_wipe(&ewmh);
        if (c)
            xcb_disconnect(c);
    }

    bool open(const QByteArray& display, QString* error)
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
                XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr, nullptr, nullptr)) {
            *error = QStringLiteral("the X server lacks the XKB extension");
            return false;
        }
        keyboard = xkb_x11_get_core_keyboard_device_id(c);
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
                          XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK,
                          &mask);
        char host[256] = {};
        if (gethostname(host, sizeof host - 1) == 0)
            hostname = QByteArray(host);
        return true;
    }

    xcb_atom_t intern(const char* name)
    {
        Reply<xcb_intern_atom_reply_t> atom(xcb_intern_atom_reply(
            c, xcb_intern_atom(c, 0, static_cast<uint16_t>(strlen(name)), name), nullptr));
        return atom ? atom->atom : XCB_NONE;
    }

    QByteArray property(xcb_window_t w, xcb_atom_t atom, xcb_atom_t type,
                        xcb_atom_t* actualType = nullptr)
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

    bool hasProperty(xcb_window_t w, xcb_atom_t atom)
    {
        Reply<xcb_get_property_reply_t> r(xcb_get_property_reply(
            c, xcb_get_property(c, 0, w, atom, XCB_GET_PROPERTY_TYPE_ANY, 0, 0), nullptr));
        return r && r->type != XCB_NONE;
    }

    QString title(xcb_window_t w)
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

    bool isOwnWindow(xcb_window_t w)
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

    std::vector<xcb_window_t> children(xcb_window_t w, xcb_window_t* parent = nullptr)
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

    std::vector<xcb_window_t> clientWindows()
    {
        xcb_ewmh_get_windows_reply_t list{};
        if (xcb_ewmh_get_client_list_stacking_reply(
                &ewmh, xcb_ewmh_get_client_list_stacking(&ewmh, screenNumber), &list, nullptr) ||
            xcb_ewmh_get_client_list_reply(&ewmh, xcb_ewmh_get_client_list(&ewmh, screenNumber),
                                           &list, nullptr)) {
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

    bool windowManagerRunning()
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

    xcb_window_t activeWindow()
    {
        xcb_window_t w = XCB_NONE;
        xcb_ewmh_get_active_window_reply(&ewmh, xcb_ewmh_get_active_window(&ewmh, screenNumber), &w,
                                         nullptr);
        return w;
    }

    // True when the input focus is w or one of its descendants (toolkits often focus a child).
    bool focusIsIn(xcb_window_t w)
    {
        Reply<xcb_get_input_focus_reply_t> r(
            xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
        if (!r)
            return false;
        xcb_window_t f = r->focus;
        for (int depth = 0; depth < 64 && f != XCB_NONE && f != XCB_INPUT_FOCUS_POINTER_ROOT;
             ++depth) {
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

    // A real server time: some window managers ignore activation requests stamped with 0.
    xcb_timestamp_t serverTime()
    {
        xcb_change_property(c, XCB_PROP_MODE_APPEND, helper, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                            0, nullptr);
        xcb_flush(c);
        while (xcb_generic_event_t* ev = xcb_wait_for_event(c)) {
            const bool isNotify = (ev->response_type & 0x7f) == XCB_PROPERTY_NOTIFY;
            const xcb_timestamp_t t =
                isNotify ? reinterpret_cast<xcb_property_notify_event_t*>(ev)->time : 0;
            std::free(ev);
            if (isNotify)
                return t;
        }
        return XCB_CURRENT_TIME;
    }

    void fakeKey(uint8_t type, uint8_t keycode)
    {
        xcb_test_fake_input(c, type, keycode, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    }

    void sync() { std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr)); }
};

X11Desktop::X11Desktop(const QString& display) : m_display(display)
{
}

X11Desktop::~X11Desktop() = default;

bool X11Desktop::ensureConnection()
{
    if (m_x && !xcb_connection_has_error(m_x->c))
        return true;
    // A broken connection (the server restarted, say) is replaced on the next use.
    m_x = std::make_unique<Connection>();
    if (!m_x->open(m_display.toLocal8Bit(), &m_lastError)) {
        m_x.reset();
        return false;
    }
    return true;
}

bool X11Desktop::isConnected()
{
    return ensureConnection();
}

quint32 X11Desktop::target() const
{
    return m_x ? m_x->target : 0;
}

QString X11Desktop::lastError() const
{
    return m_lastError;
}

std::vector<CandidateWindow> X11Desktop::listWindows()
{
    std::vector<CandidateWindow> out;
    if (!ensureConnection())
        return out;
    for (xcb_window_t w : m_x->clientWindows())
        out.push_back({w, m_x->title(w), m_x->isOwnWindow(w)});
    return out;
}

bool X11Desktop::activate(const QString& title)
{
    if (!ensureConnection())
        return false;
    m_x->target = XCB_NONE;
    const xcb_window_t w = chooseTargetWindow(listWindows(), title);
    if (w == XCB_NONE) {
        m_lastError = QStringLiteral("no window has the title \"%1\"").arg(title);
        return false;
    }
    const bool managed = m_x->windowManagerRunning();
    const xcb_timestamp_t now = m_x->serverTime();
    if (managed) {
        xcb_ewmh_request_change_active_window(&m_x->ewmh, m_x->screenNumber, w,
                                              XCB_EWMH_CLIENT_SOURCE_TYPE_OTHER, now,
                                              m_x->activeWindow());
    } else {
        const uint32_t above = XCB_STACK_MODE_ABOVE;
        xcb_map_window(m_x->c, w);
        xcb_configure_window(m_x->c, w, XCB_CONFIG_WINDOW_STACK_MODE, &above);
        xcb_set_input_focus(m_x->c, XCB_INPUT_FOCUS_PARENT, w, now);
    }
    xcb_flush(m_x->c);

    const QDeadlineTimer deadline(kFocusWaitMs);
    do {
        if (m_x->focusIsIn(w) && (!managed || m_x->activeWindow() == w)) {
            m_x->target = w;
            return true;
        }
        QThread::msleep(kPollMs);
    } while (!deadline.hasExpired() && !xcb_connection_has_error(m_x->c));
    m_lastError = QStringLiteral("the window \"%1\" did not take the focus").arg(title);
    return false;
}

bool X11Desktop::inject(const QString& keys)
{
    const auto strokes = parseKeystrokeString(keys, &m_lastError);
    if (!strokes || !ensureConnection())
        return false;
    return typeStrokes(*strokes);
}

bool X11Desktop::typeStrokes(const std::vector<KeyStroke>& strokes)
{
    Connection& x = *m_x;
    xcb_window_t target = x.target;
    if (target == XCB_NONE) {
        Reply<xcb_get_input_focus_reply_t> f(
            xcb_get_input_focus_reply(x.c, xcb_get_input_focus(x.c), nullptr));
        target = f ? f->focus : XCB_NONE;
    }
    if (target == XCB_NONE || !x.focusIsIn(target)) {
        m_lastError = QStringLiteral("the target window does not hold the focus");
        return false;
    }

    Reply<xcb_xkb_get_state_reply_t> state;
    const QDeadlineTimer deadline(kModifierWaitMs);
    for (;;) {
        state.reset(
            xcb_xkb_get_state_reply(x.c, xcb_xkb_get_state(x.c, XCB_XKB_ID_USE_CORE_KBD), nullptr));
        if (!state) {
            m_lastError = QStringLiteral("cannot read the keyboard state");
            return false;
        }
        if ((state->baseMods & ~XCB_MOD_MASK_LOCK) == 0)
            break;
        if (deadline.hasExpired()) {
            m_lastError = QStringLiteral("a modifier key is still held");
            return false;
        }
        QThread::msleep(kPollMs);
    }

    // The map is read for every send, so a layout switched meanwhile is honoured.
    std::unique_ptr<xkb_keymap, KeymapDeleter> keymap(
        xkb_x11_keymap_new_from_device(x.xkb, x.c, x.keyboard, XKB_KEYMAP_COMPILE_NO_FLAGS));
    if (!keymap) {
        m_lastError = QStringLiteral("cannot read the keyboard map");
        return false;
    }
    const KeyPlanner planner(keymap.get(), state->group, state->lockedMods);

    // Plan the whole text before the first key: output is exact or refused, never partial.
    std::vector<PlannedKey> plan;
    plan.reserve(strokes.size());
    for (const KeyStroke& s : strokes) {
        const char32_t c = s.kind == KeyStroke::Enter ? U'\r'
                           : s.kind == KeyStroke::Tab ? U'\t'
                                                      : s.codePoint;
        const std::optional<PlannedKey> key = planner.keyFor(c);
        if (!key) {
            m_lastError = QStringLiteral("the keyboard layout cannot type U+%1")
                              .arg(static_cast<uint>(c), 4, 16, QLatin1Char('0'))
                              .toUpper();
            return false;
        }
        plan.push_back(*key);
    }

    uint8_t held = 0;
    const auto setModifiers = [&](uint8_t want) {
        for (int bit = 0; bit < 8; ++bit) {
            const uint8_t m = static_cast<uint8_t>(1u << bit);
            if ((held & m) && !(want & m))
                x.fakeKey(XCB_KEY_RELEASE, planner.modifierKey(bit));
        }
        for (int bit = 0; bit < 8; ++bit) {
            const uint8_t m = static_cast<uint8_t>(1u << bit);
            if (!(held & m) && (want & m))
                x.fakeKey(XCB_KEY_PRESS, planner.modifierKey(bit));
        }
        held = want;
    };

    bool ok = true;
    for (const PlannedKey& key : plan) {
        // The user may move the focus while we type; the rest must not land elsewhere.
        if (!x.focusIsIn(target)) {
            m_lastError = QStringLiteral("the focus left the target window");
            ok = false;
            break;
        }
        setModifiers(key.mods);
        x.fakeKey(XCB_KEY_PRESS, key.keycode);
        x.fakeKey(XCB_KEY_RELEASE, key.keycode);
    }
    setModifiers(0);
    x.sync();
    if (xcb_connection_has_error(x.c)) {
        m_lastError = QStringLiteral("the connection to the X server broke");
        return false;
    }
    return ok;
}

PointedWindow X11Desktop::windowUnderPointer()
{
    if (!ensureConnection())
        return {};
    Connection& x = *m_x;
    Reply<xcb_query_pointer_reply_t> p(
        xcb_query_pointer_reply(x.c, xcb_query_pointer(x.c, x.root), nullptr));
    if (!p || p->child == XCB_NONE)
        return {};
    // Under a reparenting window manager the top-level window is the manager's frame, with the
    // application's window somewhere below it (decorations may cover the pointer): the
    // application's window is the one that carries WM_STATE.
    xcb_window_t found = XCB_NONE;
    std::vector<xcb_window_t> level{p->child};
    for (int depth = 0; depth < 8 && found == XCB_NONE && !level.empty(); ++depth) {
        std::vector<xcb_window_t> next;
        for (xcb_window_t w : level) {
            if (x.hasProperty(w, x.wmState)) {
                found = w;
                break;
            }
            const std::vector<xcb_window_t> kids = x.children(w);
            next.insert(next.end(), kids.begin(), kids.end());
        }
        level.swap(next);
    }
    if (found == XCB_NONE)
        found = p->child;
    return {found, cutToCodePoints(x.title(found), kTitleLimit)};
}
