// Which keycodes each running Keyflare has borrowed, kept where the next one can read it: a
// program killed outright cannot give its keycodes back, and without the record they would stay
// taken until the layout is set again. The record is a property of the root window, a list of
// entries (owner, keycode, count, that many keysyms); the owner is a window of its program,
// marked as such, which the X server destroys when the program's connection ends. An entry whose
// owner is gone, and whose keycode still holds what the entry says, is taken over by the next
// program that types: it then types with those keycodes and gives them back as its own.
#include "X11Connection.h"

#include <cstring>
#include <unistd.h>

namespace {
struct Entry
{
    uint32_t owner;
    uint8_t keycode;
    std::vector<uint32_t> syms;
};

std::vector<Entry> parse(const QByteArray& bytes)
{
    std::vector<Entry> out;
    std::vector<uint32_t> words(static_cast<size_t>(bytes.size()) / 4);
    if (!words.empty())
        std::memcpy(words.data(), bytes.constData(), words.size() * 4);
    for (size_t i = 0; i + 3 <= words.size();) {
        const uint32_t count = words[i + 2];
        if ((count != KeyPacking::kColumns &&
             count != KeyPacking::kGroups * KeyPacking::kWideLevels) ||
            words[i + 1] > 255 || i + 3 + count > words.size())
            break; // not written by us: nothing after it can be trusted either
        out.push_back(
            {words[i], static_cast<uint8_t>(words[i + 1]),
             std::vector<uint32_t>(words.begin() + static_cast<std::ptrdiff_t>(i + 3),
                                   words.begin() + static_cast<std::ptrdiff_t>(i + 3 + count))});
        i += 3 + count;
    }
    return out;
}
} // namespace

void X11Connection::markOwner()
{
    borrowedKeysAtom = intern("_KEYFLARE_BORROWED_KEYS");
    ownerAtom = intern("_KEYFLARE_BORROWER");
    const uint32_t pid = static_cast<uint32_t>(getpid());
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, helper, ownerAtom, XCB_ATOM_CARDINAL, 32, 1,
                        &pid);
}

void X11Connection::updateRecord(bool adopt)
{
    if (borrowedKeysAtom == XCB_NONE || ownerAtom == XCB_NONE)
        return;
    // No other program reads or writes the record between our reading and writing it.
    xcb_grab_server(c);
    std::vector<Entry> entries = parse(property(root, borrowedKeysAtom, XCB_ATOM_CARDINAL));
    std::map<uint32_t, bool> alive;
    for (const Entry& e : entries) {
        if (!alive.count(e.owner))
            alive[e.owner] = e.owner != helper && hasProperty(e.owner, ownerAtom);
    }
    if (adopt) {
        CoreMap map;
        const bool core = readWideMap(&map);
        xkb_keymap* keys = nullptr;
        for (const Entry& e : entries) {
            // Entries under our own window's number are a former program's that had the same
            // number: ours are written from what we hold, below.
            const bool ours = borrowedRows.count(e.keycode) || wideRows.count(e.keycode);
            if (alive[e.owner] || ours || e.keycode < map.first)
                continue;
            if (e.syms.size() == KeyPacking::kColumns) {
                KeyPacking::Row row{};
                std::copy(e.syms.begin(), e.syms.end(), row.begin());
                if (!core || !rowHolds(map, e.keycode, row))
                    continue;
                borrowedRows[e.keycode] = row;
            } else {
                KeyPacking::WideRow row{};
                std::copy(e.syms.begin(), e.syms.end(), row.begin());
                keys = keys ? keys : keymap();
                if (!keys || !wideRowHolds(keys, e.keycode, row))
                    continue;
                wideRows[e.keycode] = row;
            }
            const size_t levels = e.syms.size() / KeyPacking::kGroups;
            for (size_t s = 0; s < e.syms.size(); ++s) {
                if (const char32_t ch = xkb_keysym_to_utf32(e.syms[s]))
                    borrowed.insert({ch, {e.keycode, static_cast<uint8_t>(s / levels)}});
            }
        }
    }
    // Entries of others stay, those of programs that are gone too until a program takes them
    // over; an entry under our own window's number is rewritten from what we hold.
    std::vector<uint32_t> words;
    for (const Entry& e : entries) {
        if (e.owner != helper && (alive[e.owner] || !adopt)) {
            words.insert(words.end(), {e.owner, e.keycode, static_cast<uint32_t>(e.syms.size())});
            words.insert(words.end(), e.syms.begin(), e.syms.end());
        }
    }
    for (const auto& [kc, row] : borrowedRows) {
        words.insert(words.end(), {helper, kc, static_cast<uint32_t>(row.size())});
        words.insert(words.end(), row.begin(), row.end());
    }
    for (const auto& [kc, row] : wideRows) {
        words.insert(words.end(), {helper, kc, static_cast<uint32_t>(row.size())});
        words.insert(words.end(), row.begin(), row.end());
    }
    if (words.empty())
        xcb_delete_property(c, root, borrowedKeysAtom);
    else
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, root, borrowedKeysAtom, XCB_ATOM_CARDINAL, 32,
                            static_cast<uint32_t>(words.size()), words.data());
    xcb_ungrab_server(c);
    xcb_flush(c);
}
