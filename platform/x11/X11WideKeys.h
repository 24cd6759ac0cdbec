#pragma once

#include "../xkb/KeyPacking.h"

#include <QString>
#include <cstdint>
#include <map>
#include <vector>
#include <xkbcommon/xkbcommon.h>

class X11Connection;
class X11Keyboard;

// Writes keys of four levels (Shift and the third-level shift) into the X server's map. The core
// map cannot say them: it has no key types, so these go through XKB.
class X11WideKeys
{
public:
    X11WideKeys(X11Connection& connection, X11Keyboard& keyboard);

    // Gives each keycode of rows its row and empties each other keycode of emptied, in one request
    // so that receivers see one change; false, with the reason, when the server refuses it or
    // does not hold the rows after.
    bool write(const std::map<uint8_t, KeyPacking::WideRow>& rows,
               const std::vector<uint8_t>& emptied, QString* error);
    // True when keycode kc of keymap holds row.
    static bool holds(xkb_keymap* keymap, uint8_t kc, const KeyPacking::WideRow& row);
    // True when keycode kc of keymap is a key as write() makes it for row, and row holds at least
    // one symbol: four levels in each group row uses, and no symbol that row lacks.
    static bool holdsOnly(xkb_keymap* keymap, uint8_t kc, const KeyPacking::WideRow& row);

private:
    X11Connection& m_x;
    X11Keyboard& m_keyboard;
};
