#pragma once

#include <cstdint>
#include <functional>
#include <vector>
#include <xcb/xcb.h>

class X11Connection;

// Which keycodes each running Keyflare has borrowed, kept where the next one can read it: a
// program killed outright cannot give its keycodes back, and without the record they would stay
// taken until the layout is set again.
class X11BorrowRecord
{
public:
    // A borrowed keycode and the keysyms it was given.
    struct Entry
    {
        uint8_t keycode;
        std::vector<uint32_t> syms;
    };

    explicit X11BorrowRecord(X11Connection& connection);

    // Marks our helper window as a live borrower's; entries that a former program with the same
    // window left are then nobody's.
    void markOwner();
    // Writes held() as what we hold. With adopt, first offers it each entry of a program that is
    // gone; entries not taken over then are dropped. No other program reads or writes the record
    // meanwhile.
    void update(const std::function<std::vector<Entry>()>& held,
                const std::function<void(const Entry&)>& adopt = {});

private:
    // Replaces the record with words (none: removes it).
    void write(const std::vector<uint32_t>& words);

    X11Connection& m_x;
    xcb_atom_t m_recordAtom = XCB_NONE;
    xcb_atom_t m_ownerAtom = XCB_NONE;
};
