#include "X11CoreMap.h"

#include <algorithm>

X11CoreMap X11CoreMap::widened(int width) const
{
    X11CoreMap out;
    out.first = first;
    out.perKeycode = width;
    const auto count = static_cast<size_t>(keys());
    out.syms.assign(count * static_cast<size_t>(width), XCB_NO_SYMBOL);
    for (size_t k = 0; k < count; ++k)
        std::copy_n(syms.data() + k * static_cast<size_t>(perKeycode), std::min(perKeycode, width),
                    out.syms.data() + k * static_cast<size_t>(width));
    return out;
}

bool X11CoreMap::holds(uint8_t kc, const KeyPacking::Row& row) const
{
    for (int i = 0; i < KeyPacking::kColumns; ++i) {
        const xcb_keysym_t got = i < perKeycode ? of(kc)[i] : XCB_NO_SYMBOL;
        // The server may keep a symbol that stands on both levels of a group on the first only,
        // and may fill the columns of groups a key lacks as it likes.
        const bool folded = i % 2 == 1 && got == XCB_NO_SYMBOL && row[i] == row[i - 1];
        if (row[i] != XCB_NO_SYMBOL && got != row[i] && !folded)
            return false;
    }
    return true;
}

bool X11CoreMap::holdsOnly(uint8_t kc, const KeyPacking::Row& row) const
{
    if (!contains(kc) ||
        std::count(row.begin(), row.end(), XCB_NO_SYMBOL) == KeyPacking::kColumns ||
        !holds(kc, row))
        return false;
    // The server repeats a key's symbols in the columns of groups it lacks: those are still the
    // row's own.
    for (int i = 0; i < perKeycode; ++i) {
        const xcb_keysym_t got = of(kc)[i];
        if (got != XCB_NO_SYMBOL && std::find(row.begin(), row.end(), got) == row.end())
            return false;
    }
    return true;
}

bool X11CoreMap::isEmpty(uint8_t kc) const
{
    for (int i = 0; i < perKeycode; ++i) {
        if (of(kc)[i] != XCB_NO_SYMBOL)
            return false;
    }
    return true;
}
