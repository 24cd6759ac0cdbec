#include "X11Connection.h"

// xkb.h names a field "explicit", a C++ keyword.
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit
#include <xcb/xtest.h>
#include <xkbcommon/xkbcommon-x11.h>

xkb_keymap* X11Connection::keymap()
{
    pumpEvents();
    if (cachedKeymap && !keymapStale)
        return cachedKeymap.get();
    keymapStale = false;
    xkb_keymap* map = nullptr;
    if (xtestKeyboard >= 0)
        map = xkb_x11_keymap_new_from_device(xkb, c, xtestKeyboard, XKB_KEYMAP_COMPILE_NO_FLAGS);
    if (!map)
        map = xkb_x11_keymap_new_from_device(xkb, c, keyboard, XKB_KEYMAP_COMPILE_NO_FLAGS);
    cachedKeymap.reset(map);
    return map;
}

bool X11Connection::readCoreMap(CoreMap* map)
{
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

bool X11Connection::holdsOnly(const CoreMap& map, uint8_t kc, xcb_keysym_t sym)
{
    if (map.of(kc)[0] != sym)
        return false;
    for (int i = 1; i < map.perKeycode; ++i) {
        if (map.of(kc)[i] != sym && map.of(kc)[i] != XCB_NO_SYMBOL)
            return false;
    }
    return true;
}

bool X11Connection::isEmpty(const CoreMap& map, uint8_t kc)
{
    for (int i = 0; i < map.perKeycode; ++i) {
        if (map.of(kc)[i] != XCB_NO_SYMBOL)
            return false;
    }
    return true;
}

bool X11Connection::borrow(const std::set<char32_t>& missing, QString* error)
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
    for (int kc = map.first; kc < map.first + static_cast<int>(map.syms.size()) / map.perKeycode;
         ++kc) {
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
        xcb_change_keyboard_mapping(c, 1, kc, static_cast<uint8_t>(map.perKeycode), syms.data());
        borrowed[ch] = kc;
    }
    sync();
    keymapStale = true;
    return true;
}

void X11Connection::restoreBorrowed()
{
    CoreMap map;
    if (borrowed.empty() || !readCoreMap(&map))
        return;
    for (const auto& [ch, kc] : borrowed) {
        if (!holdsOnly(map, kc, xkb_utf32_to_keysym(ch)))
            continue;
        const std::vector<xcb_keysym_t> none(static_cast<size_t>(map.perKeycode), XCB_NO_SYMBOL);
        xcb_change_keyboard_mapping(c, 1, kc, static_cast<uint8_t>(map.perKeycode), none.data());
    }
    borrowed.clear();
    sync();
    keymapStale = true;
}

void X11Connection::lockModifiers(uint8_t affect, uint8_t values)
{
    xcb_xkb_latch_lock_state(c, XCB_XKB_ID_USE_CORE_KBD, affect, values, 0, 0, 0, 0, 0);
    sync();
}

void X11Connection::fakeKey(uint8_t type, uint8_t keycode)
{
    xcb_test_fake_input(c, type, keycode, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
}
