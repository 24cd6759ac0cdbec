#include "X11WideKeys.h"

#include "X11Connection.h"
#include "X11Keyboard.h"

#include <algorithm>
#include <cstring>
// xkb.h names a field "explicit", a C++ keyword.
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit

X11WideKeys::X11WideKeys(X11Connection& connection, X11Keyboard& keyboard)
    : m_x(connection), m_keyboard(keyboard)
{
}

bool X11WideKeys::holds(xkb_keymap* keymap, uint8_t kc, const KeyPacking::WideRow& row)
{
    for (uint32_t g = 0; g < KeyPacking::kGroups; ++g) {
        for (uint32_t l = 0; l < KeyPacking::kWideLevels; ++l) {
            const uint32_t want = row[g * KeyPacking::kWideLevels + l];
            const xkb_keysym_t* syms = nullptr;
            if (want != XCB_NO_SYMBOL &&
                (xkb_keymap_key_get_syms_by_level(keymap, kc, g, l, &syms) != 1 || syms[0] != want))
                return false;
        }
    }
    return true;
}

bool X11WideKeys::holdsOnly(xkb_keymap* keymap, uint8_t kc, const KeyPacking::WideRow& row)
{
    const int groups = KeyPacking::groupsUsed(row);
    if (groups == 0 || xkb_keymap_num_layouts_for_key(keymap, kc) != uint32_t(groups) ||
        !holds(keymap, kc, row))
        return false;
    for (uint32_t g = 0; g < uint32_t(groups); ++g) {
        if (xkb_keymap_num_levels_for_key(keymap, kc, g) != KeyPacking::kWideLevels)
            return false;
        for (uint32_t l = 0; l < KeyPacking::kWideLevels; ++l) {
            const xkb_keysym_t* syms = nullptr;
            const int held = xkb_keymap_key_get_syms_by_level(keymap, kc, g, l, &syms);
            if (held != (row[g * KeyPacking::kWideLevels + l] != XCB_NO_SYMBOL ? 1 : 0))
                return false;
        }
    }
    return true;
}

bool X11WideKeys::write(const std::map<uint8_t, KeyPacking::WideRow>& rows,
                        const std::vector<uint8_t>& emptied, QString* error)
{
    const int type = m_keyboard.fourLevelType();
    if (type < 0) {
        *error = QStringLiteral("the keyboard map has no key type of four levels");
        return false;
    }
    std::map<uint8_t, std::vector<uint8_t>> entries;
    for (const auto& [kc, row] : rows) {
        const auto symbols =
            static_cast<uint16_t>(KeyPacking::groupsUsed(row) * KeyPacking::kWideLevels);
        // The key as the request lays it out: a key type for each group, the number of groups,
        // the levels of each, how many symbols follow, the symbols group by group.
        std::vector<uint8_t> entry(8 + sizeof(uint32_t) * symbols);
        std::fill_n(entry.begin(), 4, static_cast<uint8_t>(type));
        entry[4] = static_cast<uint8_t>(KeyPacking::groupsUsed(row));
        entry[5] = KeyPacking::kWideLevels;
        std::memcpy(&entry[6], &symbols, sizeof symbols);
        std::memcpy(&entry[8], row.data(), sizeof(uint32_t) * symbols);
        entries[kc] = std::move(entry);
    }
    for (uint8_t kc : emptied)
        entries.insert({kc, std::vector<uint8_t>(8, 0)});
    if (entries.empty())
        return true;
    // One request for all keys, so that receivers see one change: the keys between ours are
    // sent back as the server holds them.
    xcb_connection_t* c = m_x.raw();
    const uint8_t low = entries.begin()->first;
    const uint8_t high = entries.rbegin()->first;
    const auto count = static_cast<uint8_t>(high - low + 1);
    Reply<xcb_xkb_get_map_reply_t> held(xcb_xkb_get_map_reply(
        c,
        xcb_xkb_get_map(c, XCB_XKB_ID_USE_CORE_KBD, 0, XCB_XKB_MAP_PART_KEY_SYMS, 0, 0, low, count,
                        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0),
        nullptr));
    bool refused = !held || held->nKeySyms != count || held->firstKeySym != low;
    std::vector<uint8_t> values;
    uint16_t total = 0;
    if (!refused) {
        const auto* wire = static_cast<const uint8_t*>(xcb_xkb_get_map_map(held.get()));
        const uint8_t* end = reinterpret_cast<const uint8_t*>(held.get()) + 32 + 4 * held->length;
        for (int kc = low; kc <= high && !refused; ++kc) {
            uint16_t symbols = 0;
            refused = wire + 8 > end;
            if (refused)
                break;
            std::memcpy(&symbols, wire + 6, sizeof symbols);
            const size_t size = 8 + sizeof(uint32_t) * symbols;
            const auto ours = entries.find(static_cast<uint8_t>(kc));
            const std::vector<uint8_t> entry =
                ours != entries.end() ? ours->second : std::vector<uint8_t>(wire, wire + size);
            std::memcpy(&symbols, entry.data() + 6, sizeof symbols);
            total = static_cast<uint16_t>(total + symbols);
            values.insert(values.end(), entry.begin(), entry.end());
            wire += size;
        }
    }
    if (!refused) {
        const xcb_setup_t* setup = xcb_get_setup(c);
        xcb_generic_error_t* e = xcb_request_check(
            c,
            xcb_xkb_set_map_checked(c, XCB_XKB_ID_USE_CORE_KBD, XCB_XKB_MAP_PART_KEY_SYMS, 0,
                                    setup->min_keycode, setup->max_keycode, 0, 0, low, count, total,
                                    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, values.data()));
        refused = e != nullptr;
        std::free(e);
    }
    m_keyboard.markChanged();
    // What receivers will read is what counts: the map, read back as they read it.
    xkb_keymap* map = refused ? nullptr : m_keyboard.keymap();
    for (const auto& [kc, row] : rows) {
        if (!map || !holds(map, kc, row)) {
            *error = refused ? QStringLiteral("the X server refused to change the keyboard map")
                             : QStringLiteral("the X server did not take the change of the "
                                              "keyboard map");
            return false;
        }
    }
    return true;
}
