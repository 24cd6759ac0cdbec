#include "KeyPacking.h"

#include <xkbcommon/xkbcommon.h>

namespace KeyPacking {

std::vector<Pair> pairs(const std::set<char32_t>& chars)
{
    std::set<uint32_t> syms;
    for (char32_t c : chars) {
        const xkb_keysym_t sym = xkb_utf32_to_keysym(c);
        if (sym != XKB_KEY_NoSymbol)
            syms.insert(sym);
    }
    std::vector<Pair> out;
    std::vector<uint32_t> rest;
    for (uint32_t sym : syms) {
        // A letter and its capital, both wanted, share a group in that order, as on any layout.
        const uint32_t upper = xkb_keysym_to_upper(sym);
        if (upper != sym && xkb_keysym_to_lower(upper) == sym && syms.count(upper))
            out.push_back({sym, upper});
        else if (!(xkb_keysym_to_lower(sym) != sym && syms.count(xkb_keysym_to_lower(sym)) &&
                   xkb_keysym_to_upper(xkb_keysym_to_lower(sym)) == sym))
            rest.push_back(sym);
    }
    // Two to a group; an odd one out stands on both levels, so Shift never changes it. A capital
    // never stands alone on a key: the server would give it its small letter on the first level.
    for (size_t i = 0; i + 1 < rest.size(); i += 2)
        out.push_back({rest[i], rest[i + 1]});
    if (rest.size() % 2 == 1) {
        const uint32_t last = rest.back();
        const uint32_t lower = xkb_keysym_to_lower(last);
        out.push_back({lower != last && xkb_keysym_to_upper(lower) == last ? lower : last, last});
    }
    return out;
}

std::vector<Row> rows(const std::vector<Pair>& pairs)
{
    std::vector<Row> out;
    for (size_t i = 0; i < pairs.size(); ++i) {
        if (i % kGroups == 0)
            out.push_back(Row{});
        out.back()[(i % kGroups) * kLevels] = pairs[i][0];
        out.back()[(i % kGroups) * kLevels + 1] = pairs[i][1];
    }
    return out;
}

std::vector<WideRow> wideRows(const std::vector<Pair>& pairs)
{
    constexpr size_t perRow = kGroups * kWideLevels / kLevels;
    std::vector<WideRow> out;
    for (size_t i = 0; i < pairs.size(); ++i) {
        if (i % perRow == 0)
            out.push_back(WideRow{});
        // The first levels of each group fill first, so that most characters need no third
        // level shift.
        const size_t slot = i % perRow;
        const size_t group = slot % kGroups;
        const size_t level = slot / kGroups * kLevels;
        out.back()[group * kWideLevels + level] = pairs[i][0];
        out.back()[group * kWideLevels + level + 1] = pairs[i][1];
    }
    return out;
}

int groupsUsed(const WideRow& row)
{
    int used = 0;
    for (int g = 0; g < kGroups; ++g) {
        for (int l = 0; l < kWideLevels; ++l) {
            if (row[static_cast<size_t>(g * kWideLevels + l)] != 0)
                used = g + 1;
        }
    }
    return used;
}

} // namespace KeyPacking
