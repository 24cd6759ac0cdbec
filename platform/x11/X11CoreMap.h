#pragma once

#include "../xkb/KeyPacking.h"

#include <cstddef>
#include <cstdint>
#include <vector>
#include <xcb/xcb.h>

// The core keysym table of an X server (keycode by keycode, the same number of keysyms each), in
// which spare keycodes are found and borrowed ones checked.
struct X11CoreMap
{
    uint8_t first = 0;
    int perKeycode = 0;
    std::vector<xcb_keysym_t> syms;

    int keys() const { return perKeycode ? static_cast<int>(syms.size()) / perKeycode : 0; }
    const xcb_keysym_t* of(uint8_t kc) const
    {
        return syms.data() + static_cast<size_t>(kc - first) * static_cast<size_t>(perKeycode);
    }
    xcb_keysym_t* at(uint8_t kc)
    {
        return syms.data() + static_cast<size_t>(kc - first) * static_cast<size_t>(perKeycode);
    }
    // The same map with width keysyms per keycode.
    X11CoreMap widened(int width) const;
    // True when kc lies inside the map.
    bool contains(int kc) const { return kc >= first && kc < first + keys(); }
    // True when keycode kc still holds row.
    bool holds(uint8_t kc, const KeyPacking::Row& row) const;
    // True when keycode kc holds row, at least one symbol, and no symbol that row lacks.
    bool holdsOnly(uint8_t kc, const KeyPacking::Row& row) const;
    bool isEmpty(uint8_t kc) const;
};
