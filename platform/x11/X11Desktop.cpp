#include "X11Desktop.h"

#include "../KeystrokeString.h"
#include "CompoundText.h"
#include "KeyPlanner.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>
#include <QTimer>
#include <cstdlib>
#include <cstring>
#include <map>
#include <poll.h>
#include <set>
#include <unistd.h>
#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>
// xkb.h names a field "explicit", a C++ keyword.
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit
#include <xcb/xinput.h>
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
constexpr int kServerTimeWaitMs = 200;
constexpr int kRestoreAfterMs = 30000;
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
    int32_t keyboard = -1;      // the core keyboard: its state is what receivers see
    int32_t xtestKeyboard = -1; // the keyboard XTEST drives: its map turns our keys into text
    uint8_t xkbEvent = 0;
    std::unique_ptr<xkb_keymap, KeymapDeleter> cachedKeymap;
    bool keymapStale = true;
    xcb_window_t watched = XCB_NONE; // the window whose loss of the focus ends typing
    bool focusLeft = false;
    // Characters the layout lacks, mapped onto spare keycodes for as long as receivers may
    // still be reading keys typed with them.
    std::map<char32_t, uint8_t> borrowed;
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

    void dispatch(const xcb_generic_event_t* ev)
    {
        const uint8_t type = ev->response_type & 0x7f;
        if (type == xkbEvent || type == XCB_MAPPING_NOTIFY) {
            keymapStale = true;
        } else if (type == XCB_FOCUS_OUT) {
            const auto* f = reinterpret_cast<const xcb_focus_out_event_t*>(ev);
            // Moves within the window, and the passing grabs of shortcuts, leave it focused.
            if (f->event == watched && f->mode == XCB_NOTIFY_MODE_NORMAL &&
                f->detail != XCB_NOTIFY_DETAIL_INFERIOR)
                focusLeft = true;
        }
    }

    // Handles what the server has sent, without waiting for anything.
    void pumpEvents()
    {
        while (xcb_generic_event_t* ev = xcb_poll_for_event(c)) {
            dispatch(ev);
            std::free(ev);
        }
    }

    // Reports the focus leaving w as an event, so typing can watch for it without a round trip.
    void watchFocus(xcb_window_t w)
    {
        pumpEvents();
        const uint32_t mask = XCB_EVENT_MASK_FOCUS_CHANGE;
        xcb_change_window_attributes(c, w, XCB_CW_EVENT_MASK, &mask);
        watched = w;
        focusLeft = false;
    }

    // A real server time: some window managers ignore activation requests stamped with 0. The
    // answer is an event, which may never come (our helper window destroyed by another client,
    // a server too busy to answer): after kServerTimeWaitMs the current time serves instead.
    xcb_timestamp_t serverTime()
    {
        const xcb_void_cookie_t cookie = xcb_change_property(
            c, XCB_PROP_MODE_APPEND, helper, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8, 0, nullptr);
        xcb_flush(c);
        const QDeadlineTimer deadline(kServerTimeWaitMs);
        while (!xcb_connection_has_error(c)) {
            while (xcb_generic_event_t* ev = xcb_poll_for_event(c)) {
                const bool isNotify =
                    (ev->response_type & 0x7f) == XCB_PROPERTY_NOTIFY &&
                    reinterpret_cast<xcb_property_notify_event_t*>(ev)->window == helper;
                // The request failed (its error comes as an event): no notify will follow.
                const bool failed = ev->response_type == 0 && ev->sequence == cookie.sequence;
                const xcb_timestamp_t t =
                    isNotify ? reinterpret_cast<xcb_property_notify_event_t*>(ev)->time : 0;
                dispatch(ev);
                std::free(ev);
                if (isNotify)
                    return t;
                if (failed)
                    return XCB_CURRENT_TIME;
            }
            const int left = static_cast<int>(deadline.remainingTime());
            if (left <= 0)
                break;
            pollfd fd{xcb_get_file_descriptor(c), POLLIN, 0};
            ::poll(&fd, 1, left);
        }
        return XCB_CURRENT_TIME;
    }

    // The slave keyboard that XTEST drives; its map may differ from the physical keyboard's.
    int32_t findXtestKeyboard()
    {
        std::free(
            xcb_input_xi_query_version_reply(c, xcb_input_xi_query_version(c, 2, 0), nullptr));
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

    // The map of the keyboard XTEST drives, read again whenever the server said it changed.
    xkb_keymap* keymap()
    {
        pumpEvents();
        if (cachedKeymap && !keymapStale)
            return cachedKeymap.get();
        keymapStale = false;
        xkb_keymap* map = nullptr;
        if (xtestKeyboard >= 0)
            map =
                xkb_x11_keymap_new_from_device(xkb, c, xtestKeyboard, XKB_KEYMAP_COMPILE_NO_FLAGS);
        if (!map)
            map = xkb_x11_keymap_new_from_device(xkb, c, keyboard, XKB_KEYMAP_COMPILE_NO_FLAGS);
        cachedKeymap.reset(map);
        return map;
    }

    // The core keysym table, for finding spare keycodes and checking our borrowed ones.
    struct CoreMap
    {
        uint8_t first = 0;
        int perKeycode = 0;
        std::vector<xcb_keysym_t> syms;
        const xcb_keysym_t* of(uint8_t kc) const
        {
            return syms.data() + static_cast<size_t>(kc - first) * static_cast<size_t>(perKeycode);
        }
    };

    bool readCoreMap(CoreMap* map)
    {
        const xcb_setup_t* setup = xcb_get_setup(c);
        const int count = setup->max_keycode - setup->min_keycode + 1;
        Reply<xcb_get_keyboard_mapping_reply_t> r(xcb_get_keyboard_mapping_reply(
            c, xcb_get_keyboard_mapping(c, setup->min_keycode, static_cast<uint8_t>(count)),
            nullptr));
        if (!r || r->keysyms_per_keycode == 0)
            return false;
        map->first = setup->min_keycode;
        map->perKeycode = r->keysyms_per_keycode;
        const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(r.get());
        map->syms.assign(syms, syms + xcb_get_keyboard_mapping_keysyms_length(r.get()));
        return true;
    }

    // True when kc types sym and nothing else. The server may report a key we filled with one
    // symbol in its own shape (NoSymbol on levels it folded), so those count too.
    static bool holdsOnly(const CoreMap& map, uint8_t kc, xcb_keysym_t sym)
    {
        if (map.of(kc)[0] != sym)
            return false;
        for (int i = 1; i < map.perKeycode; ++i) {
            if (map.of(kc)[i] != sym && map.of(kc)[i] != XCB_NO_SYMBOL)
                return false;
        }
        return true;
    }

    static bool isEmpty(const CoreMap& map, uint8_t kc)
    {
        for (int i = 0; i < map.perKeycode; ++i) {
            if (map.of(kc)[i] != XCB_NO_SYMBOL)
                return false;
        }
        return true;
    }

    // Maps each character in missing onto a spare keycode, reusing the ones still mapped from
    // an earlier send. One keycode per character, all before the first key is typed: remapping
    // while typing races the receivers' reading of the map.
    bool borrow(const std::set<char32_t>& missing, QString* error)
    {
        CoreMap map;
        if (!readCoreMap(&map)) {
            *error = QStringLiteral("cannot read the keyboard map");
            return false;
        }
        // Forget keycodes that someone else has remapped meanwhile.
        for (auto it = borrowed.begin(); it != borrowed.end();) {
            if (holdsOnly(map, it->second, xkb_utf32_to_keysym(it->first)))
                ++it;
            else
                it = borrowed.erase(it);
        }
        std::vector<uint8_t> spare;
        for (int kc = map.first;
             kc < map.first + static_cast<int>(map.syms.size()) / map.perKeycode; ++kc) {
            if (isEmpty(map, static_cast<uint8_t>(kc)))
                spare.push_back(static_cast<uint8_t>(kc));
        }
        // Keycodes borrowed for characters not needed now may be taken back.
        for (auto it = borrowed.begin(); it != borrowed.end() && spare.size() < missing.size();) {
            if (missing.count(it->first)) {
                ++it;
                continue;
            }
            spare.push_back(it->second);
            it = borrowed.erase(it);
        }
        size_t needed = 0;
        for (char32_t ch : missing)
            needed += borrowed.count(ch) ? 0 : 1;
        if (needed > spare.size()) {
            *error = QStringLiteral("the text needs %1 characters that the keyboard layout lacks; "
                                    "at most %2 can be typed at once")
                         .arg(missing.size())
                         .arg(spare.size() + missing.size() - needed);
            return false;
        }
        for (char32_t ch : missing) {
            if (borrowed.count(ch))
                continue;
            const uint8_t kc = spare.back();
            spare.pop_back();
            // The same symbol on every level and group, so neither Shift nor the group in force
            // can turn it into another character (a letter alone would read as lower case).
            const std::vector<xcb_keysym_t> syms(static_cast<size_t>(map.perKeycode),
                                                 xkb_utf32_to_keysym(ch));
            xcb_change_keyboard_mapping(c, 1, kc, static_cast<uint8_t>(map.perKeycode),
                                        syms.data());
            borrowed[ch] = kc;
        }
        sync();
        keymapStale = true;
        return true;
    }

    // Gives the borrowed keycodes back, unless someone else has remapped them meanwhile.
    void restoreBorrowed()
    {
        CoreMap map;
        if (borrowed.empty() || !readCoreMap(&map))
            return;
        for (const auto& [ch, kc] : borrowed) {
            if (!holdsOnly(map, kc, xkb_utf32_to_keysym(ch)))
                continue;
            const std::vector<xcb_keysym_t> none(static_cast<size_t>(map.perKeycode),
                                                 XCB_NO_SYMBOL);
            xcb_change_keyboard_mapping(c, 1, kc, static_cast<uint8_t>(map.perKeycode),
                                        none.data());
        }
        borrowed.clear();
        sync();
        keymapStale = true;
    }

    void lockModifiers(uint8_t affect, uint8_t values)
    {
        xcb_xkb_latch_lock_state(c, XCB_XKB_ID_USE_CORE_KBD, affect, values, 0, 0, 0, 0, 0);
        sync();
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

X11Desktop::~X11Desktop()
{
    if (m_x && !xcb_connection_has_error(m_x->c))
        m_x->restoreBorrowed();
}

void X11Desktop::scheduleRestore()
{
    // Receivers read the map when they get to our keys, which a busy one may do seconds later;
    // the borrowed keycodes are given back once Keyflare has been idle for a while, or at exit.
    if (!QCoreApplication::instance())
        return;
    if (!m_restoreTimer) {
        m_restoreTimer = std::make_unique<QTimer>();
        m_restoreTimer->setSingleShot(true);
        QObject::connect(m_restoreTimer.get(), &QTimer::timeout, [this] {
            if (m_x && !xcb_connection_has_error(m_x->c))
                m_x->restoreBorrowed();
        });
    }
    m_restoreTimer->start(kRestoreAfterMs);
}

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

WindowId X11Desktop::activate(const QString& title)
{
    if (!ensureConnection())
        return 0;
    const xcb_window_t w = chooseTargetWindow(listWindows(), title);
    if (w == XCB_NONE) {
        m_lastError = QStringLiteral("no window has the title \"%1\"").arg(title);
        return 0;
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
        if (m_x->focusIsIn(w) && (!managed || m_x->activeWindow() == w))
            return w;
        QThread::msleep(kPollMs);
    } while (!deadline.hasExpired() && !xcb_connection_has_error(m_x->c));
    Reply<xcb_get_input_focus_reply_t> f(
        xcb_get_input_focus_reply(m_x->c, xcb_get_input_focus(m_x->c), nullptr));
    m_lastError = QStringLiteral("the window \"%1\" (0x%2) did not take the focus (focus 0x%3, "
                                 "active 0x%4)")
                      .arg(title)
                      .arg(w, 0, 16)
                      .arg(f ? f->focus : 0, 0, 16)
                      .arg(m_x->activeWindow(), 0, 16);
    return 0;
}

Typing X11Desktop::inject(WindowId target, const QString& keys)
{
    const auto strokes = parseKeystrokeString(keys, &m_lastError);
    if (!strokes)
        return Typing::Untypable;
    if (!ensureConnection())
        return Typing::Unavailable;
    return typeStrokes(static_cast<xcb_window_t>(target), *strokes);
}

Typing X11Desktop::typeStrokes(xcb_window_t target, const std::vector<KeyStroke>& strokes)
{
    Connection& x = *m_x;
    if (target == XCB_NONE || !x.focusIsIn(target)) {
        m_lastError = QStringLiteral("the target window does not hold the focus");
        return Typing::FocusLost;
    }
    x.watchFocus(target);

    Reply<xcb_xkb_get_state_reply_t> state;
    const QDeadlineTimer deadline(kModifierWaitMs);
    for (;;) {
        state.reset(
            xcb_xkb_get_state_reply(x.c, xcb_xkb_get_state(x.c, XCB_XKB_ID_USE_CORE_KBD), nullptr));
        if (!state) {
            m_lastError = QStringLiteral("cannot read the keyboard state");
            return Typing::Unavailable;
        }
        if ((state->baseMods & ~XCB_MOD_MASK_LOCK) == 0)
            break;
        if (deadline.hasExpired()) {
            m_lastError = QStringLiteral("a modifier key is still held");
            return Typing::ModifiersHeld;
        }
        QThread::msleep(kPollMs);
    }

    std::vector<char32_t> chars;
    chars.reserve(strokes.size());
    for (const KeyStroke& s : strokes)
        chars.push_back(s.kind == KeyStroke::Enter ? U'\r'
                        : s.kind == KeyStroke::Tab ? U'\t'
                                                   : s.codePoint);

    // The map is the server's current one for every send, so a layout switched meanwhile is
    // honoured.
    xkb_keymap* keymap = x.keymap();
    if (!keymap) {
        m_lastError = QStringLiteral("cannot read the keyboard map");
        return Typing::Unavailable;
    }
    const uint32_t group = state->group;
    std::optional<KeyPlanner> planner(std::in_place, keymap, group, state->lockedMods);
    std::set<char32_t> missing;
    for (char32_t c : chars) {
        if (!planner->keyFor(c))
            missing.insert(c);
    }
    if (!missing.empty()) {
        if (!x.borrow(missing, &m_lastError))
            return Typing::Untypable;
        scheduleRestore();
        keymap = x.keymap();
        if (!keymap) {
            m_lastError = QStringLiteral("cannot read the keyboard map");
            return Typing::Unavailable;
        }
        planner.emplace(keymap, group, state->lockedMods);
    }

    // Plan the whole text before the first key: output is exact or refused, never partial.
    std::vector<PlannedKey> plan;
    const auto planAll = [&](const KeyPlanner& p) {
        plan.clear();
        for (char32_t c : chars) {
            const std::optional<PlannedKey> key = p.keyFor(c);
            if (!key) {
                m_lastError = QStringLiteral("the keyboard layout cannot type U+%1")
                                  .arg(static_cast<uint>(c), 4, 16, QLatin1Char('0'))
                                  .toUpper();
                return false;
            }
            plan.push_back(*key);
        }
        return true;
    };
    // Caps Lock may turn a borrowed letter into its capital, which no key level undoes; such a
    // text is typed with the locks off, and they are put back afterwards.
    const uint8_t locks = state->lockedMods & (XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2);
    bool unlock = false;
    if (!planAll(*planner)) {
        if (locks == 0)
            return Typing::Untypable;
        planner.emplace(keymap, group, state->lockedMods & ~locks);
        if (!planAll(*planner))
            return Typing::Untypable;
        unlock = true;
        x.lockModifiers(locks, 0);
    }

    uint8_t held = 0;
    const auto setModifiers = [&](uint8_t want) {
        for (int bit = 0; bit < 8; ++bit) {
            const uint8_t m = static_cast<uint8_t>(1u << bit);
            if ((held & m) && !(want & m))
                x.fakeKey(XCB_KEY_RELEASE, planner->modifierKey(bit));
        }
        for (int bit = 0; bit < 8; ++bit) {
            const uint8_t m = static_cast<uint8_t>(1u << bit);
            if (!(held & m) && (want & m))
                x.fakeKey(XCB_KEY_PRESS, planner->modifierKey(bit));
        }
        held = want;
    };

    Typing result = Typing::Done;
    size_t sent = 0;
    for (const PlannedKey& key : plan) {
        // Sent in batches, so that the server works on the keys (and tells of a focus change)
        // while the rest are still being queued.
        if (++sent % 32 == 0)
            xcb_flush(x.c);
        // The user may move the focus while we type; the rest must not land elsewhere. The
        // server tells of a focus change by an event, which costs no round trip to look for.
        x.pumpEvents();
        if (x.focusLeft) {
            if (!x.focusIsIn(target)) {
                m_lastError = QStringLiteral("the focus left the target window");
                result = Typing::FocusLost;
                break;
            }
            x.focusLeft = false; // it went and came back, or it was never really gone
        }
        setModifiers(key.mods);
        x.fakeKey(XCB_KEY_PRESS, key.keycode);
        x.fakeKey(XCB_KEY_RELEASE, key.keycode);
    }
    setModifiers(0);
    if (unlock)
        x.lockModifiers(locks, locks);
    x.sync();
    if (xcb_connection_has_error(x.c)) {
        m_lastError = QStringLiteral("the connection to the X server broke");
        return Typing::Unavailable;
    }
    return result;
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
