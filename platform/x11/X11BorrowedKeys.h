#pragma once

#include "../xkb/KeyPacking.h"
#include "X11BorrowRecord.h"
#include "X11WideKeys.h"

#include <QString>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <vector>

class X11Connection;
class X11Keyboard;
struct X11CoreMap;

// Characters the layout lacks, put on spare keycodes for as long as receivers may still be
// reading keys typed with them: where each one stands, and what each borrowed keycode holds.
class X11BorrowedKeys
{
public:
    // Where a borrowed character stands.
    struct Slot
    {
        uint8_t keycode;
        uint8_t group;
    };

    X11BorrowedKeys(X11Connection& connection, X11Keyboard& keyboard);
    X11BorrowedKeys(const X11BorrowedKeys&) = delete;
    X11BorrowedKeys& operator=(const X11BorrowedKeys&) = delete;

    // Marks this program in the record of borrowed keycodes, which outlives it.
    void open();
    // Takes over the keycodes that programs killed outright left borrowed, where they still hold
    // what those put there: they are ours to use and to give back.
    void adoptLeftovers();
    // Puts every character in missing on a borrowed keycode, reusing what an earlier send left
    // there, all with one change of the map before the first key is typed: changing the map
    // while typing races the receivers' reading of it. False, with the reason, when the spare
    // keycodes cannot hold them or the server refuses the change.
    // With wide, keys of four levels are used when the text needs more than two a group hold.
    bool borrow(const std::set<char32_t>& missing, bool wide, QString* error);
    // The last borrow() failed for want of free keycodes.
    bool outOfRoom() const { return m_outOfRoom; }
    // True when borrow(chars) would change nothing: every one stands on a two-level key already.
    bool holdsAll(const std::set<char32_t>& chars) const;
    // How many keycodes may be borrowed: the spare ones and those borrowed already.
    int room();
    std::optional<Slot> slotOf(char32_t ch) const;
    bool isBorrowed(uint8_t keycode) const;
    // Gives the borrowed keycodes back, unless someone else has remapped them meanwhile.
    void giveBack();

private:
    bool place(const std::set<char32_t>& missing, bool wide, QString* error);
    bool placeWide(const std::vector<uint8_t>& spare, const std::vector<KeyPacking::WideRow>& rows,
                   const std::vector<uint8_t>& formerWide, QString* error);
    // Forgets the keys of four levels, for the caller to empty in its own change: the core map,
    // which the rest uses, cannot say them. Returns those that still hold what we put there.
    std::vector<uint8_t> takeBackWide();
    // Sends the keys of wanted that differ from map in one checked request; false, with the
    // reason, when the server refuses it.
    bool changeKeys(const X11CoreMap& map, const X11CoreMap& wanted, QString* error);
    void forgetKeycode(uint8_t kc);
    std::vector<X11BorrowRecord::Entry> held() const;
    void updateRecord();
    // Takes over e when its keycode lies in core and holds exactly what e says (core empty: the
    // map is unknown, and nothing is taken).
    void adopt(const X11BorrowRecord::Entry& e, const X11CoreMap& core, xkb_keymap** keys);

    X11Connection& m_x;
    X11Keyboard& m_keyboard;
    X11WideKeys m_wide;
    X11BorrowRecord m_record;
    std::map<char32_t, Slot> m_borrowed;
    std::map<uint8_t, KeyPacking::Row> m_rows;
    std::map<uint8_t, KeyPacking::WideRow> m_wideRows; // keycodes given four levels
    bool m_outOfRoom = false;
};
