#pragma once

#include <array>
#include <cstdint>

// The printable keys of a 105-key keyboard (the digit row, the three letter rows and the key
// beside the left Shift): the only keys a layout made for one text puts its characters on. Some
// programs act on the codes of Backspace, Escape, modifiers or function keys whatever they type.
struct PrintableKey
{
    uint32_t code;    // evdev key code
    const char* name; // XKB's name for it (evdev keycodes)
};

inline constexpr std::array<PrintableKey, 48> kPrintableKeys = {{
    {2, "AE01"},  {3, "AE02"},  {4, "AE03"},  {5, "AE04"},  {6, "AE05"},  {7, "AE06"},
    {8, "AE07"},  {9, "AE08"},  {10, "AE09"}, {11, "AE10"}, {12, "AE11"}, {13, "AE12"},
    {16, "AD01"}, {17, "AD02"}, {18, "AD03"}, {19, "AD04"}, {20, "AD05"}, {21, "AD06"},
    {22, "AD07"}, {23, "AD08"}, {24, "AD09"}, {25, "AD10"}, {26, "AD11"}, {27, "AD12"},
    {30, "AC01"}, {31, "AC02"}, {32, "AC03"}, {33, "AC04"}, {34, "AC05"}, {35, "AC06"},
    {36, "AC07"}, {37, "AC08"}, {38, "AC09"}, {39, "AC10"}, {40, "AC11"}, {41, "TLDE"},
    {43, "BKSL"}, {44, "AB01"}, {45, "AB02"}, {46, "AB03"}, {47, "AB04"}, {48, "AB05"},
    {49, "AB06"}, {50, "AB07"}, {51, "AB08"}, {52, "AB09"}, {53, "AB10"}, {86, "LSGT"},
}};
