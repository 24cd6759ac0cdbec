#include "X11Connection.h"

#include <algorithm>

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

bool X11Connection::rowHolds(const CoreMap& map, uint8_t kc, const KeyPacking::Row& row)
{
    for (int i = 0; i < KeyPacking::kColumns; ++i) {
        const xcb_keysym_t got = i < map.perKeycode ? map.of(kc)[i] : XCB_NO_SYMBOL;
        // The server may keep a symbol that stands on both levels of a group on the first only,
        // and may fill the columns of groups a key lacks as it likes.
        const bool folded = i % 2 == 1 && got == XCB_NO_SYMBOL && row[i] == row[i - 1];
        if (row[i] != XCB_NO_SYMBOL && got != row[i] && !folded)
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

X11Connection::CoreMap X11Connection::widened(const CoreMap& map, int width)
{
    CoreMap out;
    out.first = map.first;
    out.perKeycode = width;
    const size_t keys = map.syms.size() / static_cast<size_t>(map.perKeycode);
    out.syms.assign(keys * static_cast<size_t>(width), XCB_NO_SYMBOL);
    for (size_t k = 0; k < keys; ++k)
        std::copy_n(map.syms.data() + k * static_cast<size_t>(map.perKeycode),
                    std::min(map.perKeycode, width),
                    out.syms.data() + k * static_cast<size_t>(width));
    return out;
}

void X11Connection::forgetKeycode(uint8_t kc)
{
    borrowedRows.erase(kc);
    wideRows.erase(kc);
    for (auto it = borrowed.begin(); it != borrowed.end();)
        it = it->second.keycode == kc ? borrowed.erase(it) : std::next(it);
}

bool X11Connection::readWideMap(CoreMap* map)
{
    CoreMap read;
    if (!readCoreMap(&read))
        return false;
    *map = widened(read, std::max(read.perKeycode, KeyPacking::kColumns));
    return true;
}

int X11Connection::borrowRoom()
{
    CoreMap map;
    if (!readWideMap(&map))
        return 0;
    int room = 0;
    const int keys = static_cast<int>(map.syms.size()) / map.perKeycode;
    for (int kc = map.first; kc < map.first + keys; ++kc) {
        const auto key = static_cast<uint8_t>(kc);
        const auto ours = borrowedRows.find(key);
        room +=
            isEmpty(map, key) || (ours != borrowedRows.end() && rowHolds(map, key, ours->second))
                ? 1
                : 0;
    }
    return room + static_cast<int>(wideRows.size());
}

bool X11Connection::holdsAll(const std::set<char32_t>& chars) const
{
    for (char32_t ch : chars) {
        if (!borrowed.count(ch))
            return false;
    }
    return wideRows.empty();
}

bool X11Connection::borrow(const std::set<char32_t>& missing, bool wide, QString* error)
{
    outOfRoom = false;
    const bool placed = place(missing, wide, error);
    updateRecord();
    return placed;
}

bool X11Connection::place(const std::set<char32_t>& missing, bool wide, QString* error)
{
    // Keys of four levels are taken back in this same change: the core map, by which the rest
    // is found, cannot say what they hold; and receivers must see one change before the keys,
    // never two in a row (one that reads the first may miss the second).
    const std::vector<uint8_t> formerWide = takeBackWide();
    CoreMap map;
    if (!readWideMap(&map)) {
        *error = QStringLiteral("cannot read the keyboard map");
        return false;
    }
    // Forget keycodes that someone else has remapped meanwhile.
    for (auto it = borrowedRows.begin(); it != borrowedRows.end();) {
        const uint8_t kc = it->first;
        ++it;
        if (!rowHolds(map, kc, borrowedRows[kc]))
            forgetKeycode(kc);
    }
    // What earlier texts left on the borrowed keys stays where it stands, which often spares
    // the change of the map; the rest goes on spare keycodes and on borrowed ones that hold
    // nothing this text needs.
    std::set<char32_t> toPlace;
    for (char32_t ch : missing) {
        if (!borrowed.count(ch))
            toPlace.insert(ch);
    }
    if (toPlace.empty() && formerWide.empty())
        return true;
    std::vector<uint8_t> empty;
    const int keys = static_cast<int>(map.syms.size()) / map.perKeycode;
    for (int kc = map.first; kc < map.first + keys; ++kc) {
        if (isEmpty(map, static_cast<uint8_t>(kc)))
            empty.push_back(static_cast<uint8_t>(kc));
    }
    empty.insert(empty.end(), formerWide.begin(), formerWide.end());
    std::vector<uint8_t> spare = empty;
    for (const auto& [kc, row] : borrowedRows) {
        bool needed = false;
        for (const auto& [ch, slot] : borrowed)
            needed = needed || (slot.keycode == kc && missing.count(ch));
        if (!needed)
            spare.push_back(kc);
    }
    std::vector<KeyPacking::Pair> pairs = KeyPacking::pairs(toPlace);
    std::vector<KeyPacking::Row> rows = KeyPacking::rows(pairs);
    if (rows.size() > spare.size()) {
        // Rows that earlier texts filled in part leave gaps that a text of many characters
        // cannot use: it is laid out afresh over every key we hold, as on a first send. What
        // those keys held is no longer needed: the receiver of the last send has read it.
        spare = empty;
        for (const auto& row : borrowedRows)
            spare.push_back(row.first);
        pairs = KeyPacking::pairs(missing);
        rows = KeyPacking::rows(pairs);
    }
    if (rows.size() > spare.size() && wide)
        return borrowWide(spare, KeyPacking::wideRows(pairs), formerWide, error);
    if (rows.size() > spare.size()) {
        *error = QStringLiteral("the text needs %1 characters that the keyboard layout lacks; "
                                "the keyboard has room for %2")
                     .arg(missing.size())
                     .arg(spare.size() * KeyPacking::kColumns);
        outOfRoom = true;
        return false;
    }
    CoreMap wanted = map;
    for (uint8_t kc : formerWide)
        std::fill_n(wanted.at(kc), wanted.perKeycode, XCB_NO_SYMBOL);
    // A keycode taken for a new row forgets all it held before any character is placed, so
    // that no character placed on an earlier new row loses its place to the old one.
    const std::vector<uint8_t> used(spare.begin(),
                                    spare.begin() + static_cast<std::ptrdiff_t>(rows.size()));
    for (uint8_t kc : used)
        forgetKeycode(kc);
    for (size_t i = 0; i < rows.size(); ++i) {
        const uint8_t kc = used[i];
        std::fill_n(wanted.at(kc), wanted.perKeycode, XCB_NO_SYMBOL);
        std::copy(rows[i].begin(), rows[i].end(), wanted.at(kc));
        borrowedRows[kc] = rows[i];
        for (int col = 0; col < KeyPacking::kColumns; ++col) {
            if (const char32_t ch = xkb_keysym_to_utf32(rows[i][static_cast<size_t>(col)]))
                borrowed[ch] = {kc, static_cast<uint8_t>(col / KeyPacking::kLevels)};
        }
    }
    // A server may refuse a change, with an error or without, and another program may change
    // the same keys at the same moment: what the server holds afterwards is what counts.
    CoreMap now;
    const bool changed = changeKeys(map, wanted, error) && readWideMap(&now);
    for (uint8_t kc : used) {
        if (!changed || !rowHolds(now, kc, borrowedRows[kc])) {
            if (changed)
                *error = QStringLiteral("the X server did not take the change of the keyboard map");
            for (uint8_t k : used)
                forgetKeycode(k);
            return false;
        }
    }
    return true;
}

bool X11Connection::changeKeys(const CoreMap& map, const CoreMap& wanted, QString* error)
{
    int low = -1;
    int high = -1;
    for (size_t i = 0; i < map.syms.size(); ++i) {
        if (map.syms[i] != wanted.syms[i]) {
            const int kc = map.first + static_cast<int>(i) / map.perKeycode;
            low = low < 0 ? kc : low;
            high = kc;
        }
    }
    if (low < 0)
        return true;
    // One request for all keys: receivers see one change, never a half-done one.
    const auto kc = static_cast<uint8_t>(low);
    xcb_generic_error_t* e =
        xcb_request_check(c, xcb_change_keyboard_mapping_checked(
                                 c, static_cast<uint8_t>(high - low + 1), kc,
                                 static_cast<uint8_t>(wanted.perKeycode), wanted.of(kc)));
    keymapStale = true;
    if (e) {
        std::free(e);
        *error = QStringLiteral("the X server refused to change the keyboard map");
        return false;
    }
    return true;
}

void X11Connection::restoreBorrowed()
{
    const std::vector<uint8_t> wide = takeBackWide();
    CoreMap map;
    if ((borrowedRows.empty() && wide.empty()) || !readWideMap(&map))
        return;
    CoreMap wanted = map;
    for (const auto& [kc, row] : borrowedRows) {
        if (rowHolds(map, kc, row))
            std::fill_n(wanted.at(kc), map.perKeycode, XCB_NO_SYMBOL);
    }
    for (uint8_t kc : wide)
        std::fill_n(wanted.at(kc), map.perKeycode, XCB_NO_SYMBOL);
    borrowedRows.clear();
    borrowed.clear();
    QString ignored; // nothing to do about a refusal at this point
    changeKeys(map, wanted, &ignored);
    updateRecord();
}

void X11Connection::lockModifiers(uint8_t affect, uint8_t values)
{
    xcb_xkb_latch_lock_state(c, XCB_XKB_ID_USE_CORE_KBD, affect, values, 0, 0, 0, 0, 0);
    sync();
}

void X11Connection::lockGroup(uint32_t group)
{
    xcb_xkb_latch_lock_state(c, XCB_XKB_ID_USE_CORE_KBD, 0, 0, 1, static_cast<uint8_t>(group), 0, 0,
                             0);
}

void X11Connection::fakeKey(uint8_t type, uint8_t keycode)
{
    xcb_test_fake_input(c, type, keycode, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
}
