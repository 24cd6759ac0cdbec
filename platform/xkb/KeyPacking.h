#pragma once

#include <array>
#include <cstdint>
#include <set>
#include <vector>

// Characters the keyboard layout lacks, laid out on spare keycodes: each keycode holds four groups
// of two levels, so one keyboard map carries eight characters per spare keycode and a whole text
// is typed with one change of the map, the group and Shift choosing among them. A letter shares
// its group with its capital, as on any layout, so that Shift and Caps Lock act on it as every
// toolkit expects when both are wanted; other characters go two to a group.
namespace KeyPacking {

constexpr int kGroups = 4;
constexpr int kLevels = 2;
// A keycode's symbols in the core keyboard map: group 1 level 1, group 1 level 2, group 2 ...
constexpr int kColumns = kGroups * kLevels;

using Pair = std::array<uint32_t, kLevels>; // the keysyms of one group
using Row = std::array<uint32_t, kColumns>;

// The groups that hold chars (a character without a keysym of its own is left out).
std::vector<Pair> pairs(const std::set<char32_t>& chars);
// The rows of as many keycodes as pairs fill, four pairs to a row; unused groups hold no symbol.
std::vector<Row> rows(const std::vector<Pair>& pairs);

// A text with more characters than that goes on keys of four levels, set through XKB (the core
// map knows two levels a group): each group holds a second pair on the third and fourth levels,
// reached with the third-level shift, so a keycode carries sixteen characters.
constexpr int kWideLevels = 4;
using WideRow = std::array<uint32_t, kGroups * kWideLevels>; // group 1 levels 1 to 4, group 2 ...
std::vector<WideRow> wideRows(const std::vector<Pair>& pairs);
// How many groups of row hold a symbol: the groups a key gets.
int groupsUsed(const WideRow& row);

} // namespace KeyPacking
