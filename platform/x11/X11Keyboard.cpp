#include "X11Keyboard.h"

#include "X11Connection.h"
#include "X11CoreMap.h"

#include <algorithm>
// xkb.h names a field "explicit", a C++ keyword.
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit
#include <xcb/xinput.h>
#include <xcb/xtest.h>
#include <xkbcommon/xkbcommon-x11.h>

X11Keyboard::X11Keyboard(X11Connection& connection) : m_x(connection)
{
    m_x.onEvent([this](const xcb_generic_event_t* ev) {
        const uint8_t type = ev->response_type & 0x7f;
        if (type != 0 && (type == m_xkbEvent || type == XCB_MAPPING_NOTIFY))
            m_stale = true;
    });
}

X11Keyboard::~X11Keyboard()
{
    m_keymap.reset();
    if (m_xkb)
        xkb_context_unref(m_xkb);
}

bool X11Keyboard::open(QString* error)
{
    xcb_connection_t* c = m_x.raw();
    const xcb_query_extension_reply_t* xtest = xcb_get_extension_data(c, &xcb_test_id);
    if (!xtest || !xtest->present) {
        *error = QStringLiteral("the X server lacks the XTEST extension");
        return false;
    }
    if (!xkb_x11_setup_xkb_extension(
            c, XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
            XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr, &m_xkbEvent, nullptr)) {
        *error = QStringLiteral("the X server lacks the XKB extension");
        return false;
    }
    m_keyboard = xkb_x11_get_core_keyboard_device_id(c);
    m_xtestKeyboard = findXtestKeyboard();
    // Told when a map changes, the cached one is read again; no need to read it every send.
    const uint16_t mapEvents =
        XCB_XKB_EVENT_TYPE_NEW_KEYBOARD_NOTIFY | XCB_XKB_EVENT_TYPE_MAP_NOTIFY;
    for (int32_t device : {m_keyboard, m_xtestKeyboard}) {
        if (device >= 0)
            xcb_xkb_select_events(c, static_cast<xcb_xkb_device_spec_t>(device), mapEvents, 0,
                                  mapEvents, 0xffff, 0xffff, nullptr);
    }
    m_xkb = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    if (m_keyboard < 0 || !m_xkb) {
        *error = QStringLiteral("cannot read the keyboard");
        return false;
    }
    return true;
}

int32_t X11Keyboard::findXtestKeyboard()
{
    xcb_connection_t* c = m_x.raw();
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
            it.data->attachment == m_keyboard && name.endsWith("XTEST keyboard"))
            return it.data->deviceid;
    }
    return -1;
}

xkb_keymap* X11Keyboard::keymap()
{
    m_x.pumpEvents();
    if (m_keymap && !m_stale)
        return m_keymap.get();
    m_stale = false;
    xkb_keymap* map = nullptr;
    if (m_xtestKeyboard >= 0)
        map = xkb_x11_keymap_new_from_device(m_xkb, m_x.raw(), m_xtestKeyboard,
                                             XKB_KEYMAP_COMPILE_NO_FLAGS);
    if (!map)
        map = xkb_x11_keymap_new_from_device(m_xkb, m_x.raw(), m_keyboard,
                                             XKB_KEYMAP_COMPILE_NO_FLAGS);
    m_keymap.reset(map);
    return map;
}

std::optional<X11Keyboard::State> X11Keyboard::state()
{
    xcb_connection_t* c = m_x.raw();
    Reply<xcb_xkb_get_state_reply_t> r(
        xcb_xkb_get_state_reply(c, xcb_xkb_get_state(c, XCB_XKB_ID_USE_CORE_KBD), nullptr));
    if (!r)
        return std::nullopt;
    return State{r->baseMods, r->lockedMods, r->group, r->lockedGroup};
}

bool X11Keyboard::readCoreMap(X11CoreMap* map)
{
    xcb_connection_t* c = m_x.raw();
    const xcb_setup_t* setup = xcb_get_setup(c);
    const int count = setup->max_keycode - setup->min_keycode + 1;
    Reply<xcb_get_keyboard_mapping_reply_t> r(xcb_get_keyboard_mapping_reply(
        c, xcb_get_keyboard_mapping(c, setup->min_keycode, static_cast<uint8_t>(count)), nullptr));
    if (!r || r->keysyms_per_keycode == 0)
        return false;
    map->first = setup->min_keycode;
    map->perKeycode = r->keysyms_per_keycode;
    const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(r.get());
    map->syms.assign(syms, syms + xcb_get_keyboard_mapping_keysyms_length(r.get()));
    return true;
}

bool X11Keyboard::readWideMap(X11CoreMap* map)
{
    X11CoreMap read;
    if (!readCoreMap(&read))
        return false;
    *map = read.widened(std::max(read.perKeycode, KeyPacking::kColumns));
    return true;
}

int X11Keyboard::fourLevelType()
{
    xcb_connection_t* c = m_x.raw();
    const xcb_atom_t name = m_x.intern("FOUR_LEVEL");
    Reply<xcb_xkb_get_names_reply_t> r(xcb_xkb_get_names_reply(
        c, xcb_xkb_get_names(c, XCB_XKB_ID_USE_CORE_KBD, XCB_XKB_NAME_DETAIL_KEY_TYPE_NAMES),
        nullptr));
    if (!r || name == XCB_NONE)
        return -1;
    xcb_xkb_get_names_value_list_t names{};
    xcb_xkb_get_names_value_list_unpack(xcb_xkb_get_names_value_list(r.get()), r->nTypes,
                                        r->indicators, r->virtualMods, r->groupNames, r->nKeys,
                                        r->nKeyAliases, r->nRadioGroups, r->which, &names);
    for (int i = 0; names.typeNames && i < r->nTypes; ++i) {
        if (names.typeNames[i] == name)
            return i;
    }
    return -1;
}

void X11Keyboard::lockModifiers(uint8_t affect, uint8_t values)
{
    xcb_xkb_latch_lock_state(m_x.raw(), XCB_XKB_ID_USE_CORE_KBD, affect, values, 0, 0, 0, 0, 0);
    m_x.sync();
}

void X11Keyboard::lockGroup(uint32_t group)
{
    xcb_xkb_latch_lock_state(m_x.raw(), XCB_XKB_ID_USE_CORE_KBD, 0, 0, 1,
                             static_cast<uint8_t>(group), 0, 0, 0);
}

void X11Keyboard::fakeKey(uint8_t type, uint8_t keycode)
{
    xcb_test_fake_input(m_x.raw(), type, keycode, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
}
