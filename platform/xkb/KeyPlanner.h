#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <unordered_map>

struct xkb_keymap;

// How one character is typed: hold the real modifiers in mods, then press and release keycode.
struct PlannedKey
{
    uint8_t keycode = 0;
    uint8_t mods = 0; // X real modifier mask (Shift, Lock, Control, Mod1 ... Mod5)

    bool operator==(const PlannedKey& o) const { return keycode == o.keycode && mods == o.mods; }
};

// What a keyboard map can type in one group, worked out by asking xkbcommon what each key gives
// under each usable modifier combination. The receiver interprets our keys with the same map and
// the same locked state, so a character found here arrives as that character, also with Caps Lock
// or Num Lock on. Only level-shifting modifiers are used (Shift, the third and fifth level), never
// Control, Alt or the lock modifiers, and never keypad keys.
class KeyPlanner
{
public:
    KeyPlanner(xkb_keymap* keymap, uint32_t group, uint8_t lockedMods);

    // The way to type code point c (U+0009 is Tab, U+000D is Enter), or nothing.
    std::optional<PlannedKey> keyFor(char32_t c) const;
    // The key that sets modifier bit (0 Shift ... 7 Mod5) while held, or 0 when there is none.
    uint8_t modifierKey(int bit) const { return m_modifierKeys.at(static_cast<size_t>(bit)); }
    // True when a key shifts to the third level or beyond (AltGr, ISO_Level3_Shift).
    bool shiftsBeyondSecondLevel() const { return (m_usableMods & ~1u) != 0; }

private:
    void findModifierKeys(xkb_keymap* keymap, uint32_t group, uint8_t lockedMods);
    void findCharacters(xkb_keymap* keymap, uint32_t group, uint8_t lockedMods);

    std::array<uint8_t, 8> m_modifierKeys{};
    uint8_t m_usableMods = 0;
    std::unordered_map<char32_t, PlannedKey> m_keys;
};
