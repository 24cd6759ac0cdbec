#include "X11BorrowedKeys.h"

#include "X11Connection.h"
#include "X11CoreMap.h"
#include "X11Keyboard.h"

#include <algorithm>

X11BorrowedKeys::X11BorrowedKeys(X11Connection& connection, X11Keyboard& keyboard)
    : m_x(connection), m_keyboard(keyboard), m_wide(connection, keyboard), m_record(connection)
{
}

void X11BorrowedKeys::open()
{
    m_record.markOwner();
}

std::optional<X11BorrowedKeys::Slot> X11BorrowedKeys::slotOf(char32_t ch) const
{
    const auto it = m_borrowed.find(ch);
    if (it == m_borrowed.end())
        return std::nullopt;
    return it->second;
}

bool X11BorrowedKeys::isBorrowed(uint8_t keycode) const
{
    return m_rows.count(keycode) != 0 || m_wideRows.count(keycode) != 0;
}

void X11BorrowedKeys::forgetKeycode(uint8_t kc)
{
    m_rows.erase(kc);
    m_wideRows.erase(kc);
    for (auto it = m_borrowed.begin(); it != m_borrowed.end();)
        it = it->second.keycode == kc ? m_borrowed.erase(it) : std::next(it);
}

int X11BorrowedKeys::room()
{
    X11CoreMap map;
    if (!m_keyboard.readWideMap(&map))
        return 0;
    int room = 0;
    for (int kc = map.first; kc < map.first + map.keys(); ++kc) {
        const auto key = static_cast<uint8_t>(kc);
        const auto ours = m_rows.find(key);
        room += map.isEmpty(key) || (ours != m_rows.end() && map.holds(key, ours->second)) ? 1 : 0;
    }
    return room + static_cast<int>(m_wideRows.size());
}

bool X11BorrowedKeys::holdsAll(const std::set<char32_t>& chars) const
{
    for (char32_t ch : chars) {
        if (!m_borrowed.count(ch))
            return false;
    }
    return m_wideRows.empty();
}

bool X11BorrowedKeys::borrow(const std::set<char32_t>& missing, bool wide, QString* error)
{
    m_outOfRoom = false;
    // Another program placing keys at the same moment would find the same keycodes spare: the
    // map is read and changed, and the record written, while the server serves no one else.
    m_x.grabServer();
    const bool placed = place(missing, wide, error);
    updateRecord();
    m_x.ungrabServer();
    return placed;
}

bool X11BorrowedKeys::place(const std::set<char32_t>& missing, bool wide, QString* error)
{
    // Keys of four levels are taken back in this same change: the core map, by which the rest
    // is found, cannot say what they hold; and receivers must see one change before the keys,
    // never two in a row (one that reads the first may miss the second).
    const std::vector<uint8_t> formerWide = takeBackWide();
    X11CoreMap map;
    if (!m_keyboard.readWideMap(&map)) {
        *error = QStringLiteral("cannot read the keyboard map");
        return false;
    }
    // Forget keycodes that someone else has remapped meanwhile.
    for (auto it = m_rows.begin(); it != m_rows.end();) {
        const uint8_t kc = it->first;
        ++it;
        if (!map.holds(kc, m_rows[kc]))
            forgetKeycode(kc);
    }
    // What earlier texts left on the borrowed keys stays where it stands, which often spares
    // the change of the map; the rest goes on spare keycodes and on borrowed ones that hold
    // nothing this text needs.
    std::set<char32_t> toPlace;
    for (char32_t ch : missing) {
        if (!m_borrowed.count(ch))
            toPlace.insert(ch);
    }
    if (toPlace.empty() && formerWide.empty())
        return true;
    std::vector<uint8_t> empty;
    for (int kc = map.first; kc < map.first + map.keys(); ++kc) {
        if (map.isEmpty(static_cast<uint8_t>(kc)))
            empty.push_back(static_cast<uint8_t>(kc));
    }
    empty.insert(empty.end(), formerWide.begin(), formerWide.end());
    std::vector<uint8_t> spare = empty;
    for (const auto& [kc, row] : m_rows) {
        bool needed = false;
        for (const auto& [ch, slot] : m_borrowed)
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
        for (const auto& row : m_rows)
            spare.push_back(row.first);
        pairs = KeyPacking::pairs(missing);
        rows = KeyPacking::rows(pairs);
    }
    if (rows.size() > spare.size() && wide)
        return placeWide(spare, KeyPacking::wideRows(pairs), formerWide, error);
    if (rows.size() > spare.size()) {
        *error = QStringLiteral("the text needs %1 characters that the keyboard layout lacks; "
                                "the keyboard has room for %2")
                     .arg(missing.size())
                     .arg(spare.size() * KeyPacking::kColumns);
        m_outOfRoom = true;
        return false;
    }
    X11CoreMap wanted = map;
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
        m_rows[kc] = rows[i];
        for (int col = 0; col < KeyPacking::kColumns; ++col) {
            if (const char32_t ch = xkb_keysym_to_utf32(rows[i][static_cast<size_t>(col)]))
                m_borrowed[ch] = {kc, static_cast<uint8_t>(col / KeyPacking::kLevels)};
        }
    }
    // A server may refuse a change, with an error or without, and another program may change
    // the same keys at the same moment: what the server holds afterwards is what counts.
    X11CoreMap now;
    const bool changed = changeKeys(map, wanted, error) && m_keyboard.readWideMap(&now);
    for (uint8_t kc : used) {
        if (!changed || !now.holds(kc, m_rows[kc])) {
            if (changed)
                *error = QStringLiteral("the X server did not take the change of the keyboard map");
            for (uint8_t k : used)
                forgetKeycode(k);
            return false;
        }
    }
    return true;
}

bool X11BorrowedKeys::placeWide(const std::vector<uint8_t>& spare,
                                const std::vector<KeyPacking::WideRow>& rows,
                                const std::vector<uint8_t>& formerWide, QString* error)
{
    if (rows.size() > spare.size()) {
        *error = QStringLiteral("the text needs more characters that the keyboard layout lacks "
                                "than the keyboard has room for (%1)")
                     .arg(spare.size() * KeyPacking::kGroups * KeyPacking::kWideLevels);
        m_outOfRoom = true;
        return false;
    }
    for (size_t i = 0; i < rows.size(); ++i)
        forgetKeycode(spare[i]);
    for (size_t i = 0; i < rows.size(); ++i) {
        const uint8_t kc = spare[i];
        m_wideRows[kc] = rows[i];
        for (size_t s = 0; s < rows[i].size(); ++s) {
            if (const char32_t ch = xkb_keysym_to_utf32(rows[i][s]))
                m_borrowed[ch] = {kc, static_cast<uint8_t>(s / KeyPacking::kWideLevels)};
        }
    }
    // Keys of four levels left from an earlier send that this one does not use are emptied.
    if (!m_wide.write(m_wideRows, formerWide, error)) {
        giveBack();
        return false;
    }
    return true;
}

std::vector<uint8_t> X11BorrowedKeys::takeBackWide()
{
    std::vector<uint8_t> ours;
    std::vector<uint8_t> all;
    xkb_keymap* now = m_wideRows.empty() ? nullptr : m_keyboard.keymap();
    for (const auto& [kc, row] : m_wideRows) {
        all.push_back(kc);
        // A keycode that someone else has remapped meanwhile is theirs now.
        if (now && X11WideKeys::holds(now, kc, row))
            ours.push_back(kc);
    }
    for (uint8_t kc : all)
        forgetKeycode(kc);
    return ours;
}

bool X11BorrowedKeys::changeKeys(const X11CoreMap& map, const X11CoreMap& wanted, QString* error)
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
    xcb_connection_t* c = m_x.raw();
    const auto kc = static_cast<uint8_t>(low);
    xcb_generic_error_t* e =
        xcb_request_check(c, xcb_change_keyboard_mapping_checked(
                                 c, static_cast<uint8_t>(high - low + 1), kc,
                                 static_cast<uint8_t>(wanted.perKeycode), wanted.of(kc)));
    m_keyboard.markChanged();
    if (e) {
        std::free(e);
        *error = QStringLiteral("the X server refused to change the keyboard map");
        return false;
    }
    return true;
}

void X11BorrowedKeys::giveBack()
{
    const std::vector<uint8_t> wide = takeBackWide();
    X11CoreMap map;
    if ((m_rows.empty() && wide.empty()) || !m_keyboard.readWideMap(&map))
        return;
    X11CoreMap wanted = map;
    for (const auto& [kc, row] : m_rows) {
        if (map.holds(kc, row))
            std::fill_n(wanted.at(kc), map.perKeycode, XCB_NO_SYMBOL);
    }
    for (uint8_t kc : wide)
        std::fill_n(wanted.at(kc), map.perKeycode, XCB_NO_SYMBOL);
    m_rows.clear();
    m_borrowed.clear();
    QString ignored; // nothing to do about a refusal at this point
    changeKeys(map, wanted, &ignored);
    updateRecord();
}

std::vector<X11BorrowRecord::Entry> X11BorrowedKeys::held() const
{
    std::vector<X11BorrowRecord::Entry> out;
    for (const auto& [kc, row] : m_rows)
        out.push_back({kc, std::vector<uint32_t>(row.begin(), row.end())});
    for (const auto& [kc, row] : m_wideRows)
        out.push_back({kc, std::vector<uint32_t>(row.begin(), row.end())});
    return out;
}

void X11BorrowedKeys::updateRecord()
{
    m_record.update([this] { return held(); });
}

void X11BorrowedKeys::adoptLeftovers()
{
    // The map is read while the record is held, so that what is taken over is what the keys hold.
    std::optional<X11CoreMap> core;
    xkb_keymap* keys = nullptr;
    m_record.update([this] { return held(); },
                    [&](const X11BorrowRecord::Entry& e) {
                        if (!core) {
                            core.emplace();
                            if (!m_keyboard.readWideMap(&*core))
                                core->syms.clear();
                        }
                        adopt(e, *core, &keys);
                    });
}

void X11BorrowedKeys::adopt(const X11BorrowRecord::Entry& e, const X11CoreMap& core,
                            xkb_keymap** keys)
{
    // The record is a property any client may write: an entry is taken over only where its key
    // holds exactly what we would have put there, since giving it back empties the key.
    if (isBorrowed(e.keycode) || !core.contains(e.keycode))
        return;
    if (e.syms.size() == KeyPacking::kColumns) {
        KeyPacking::Row row{};
        std::copy(e.syms.begin(), e.syms.end(), row.begin());
        if (!core.holdsOnly(e.keycode, row))
            return;
        m_rows[e.keycode] = row;
    } else {
        KeyPacking::WideRow row{};
        std::copy(e.syms.begin(), e.syms.end(), row.begin());
        *keys = *keys ? *keys : m_keyboard.keymap();
        if (!*keys || !X11WideKeys::holdsOnly(*keys, e.keycode, row))
            return;
        m_wideRows[e.keycode] = row;
    }
    const size_t levels = e.syms.size() / KeyPacking::kGroups;
    for (size_t s = 0; s < e.syms.size(); ++s) {
        if (const char32_t ch = xkb_keysym_to_utf32(e.syms[s]))
            m_borrowed.insert({ch, {e.keycode, static_cast<uint8_t>(s / levels)}});
    }
}
