#include "KeyPlanner.h"

#include <memory>
#include <vector>
#include <xkbcommon/xkbcommon.h>

namespace {

struct StateDeleter
{
    void operator()(xkb_state* s) const { xkb_state_unref(s); }
};
using StatePtr = std::unique_ptr<xkb_state, StateDeleter>;

bool isLevelShift(xkb_keysym_t sym)
{
    return sym == XKB_KEY_Shift_L || sym == XKB_KEY_Shift_R || sym == XKB_KEY_ISO_Level3_Shift ||
           sym == XKB_KEY_ISO_Level5_Shift;
}

bool isKeypad(xkb_keysym_t sym)
{
    return sym >= XKB_KEY_KP_Space && sym <= XKB_KEY_KP_Equal;
}

int bitCount(unsigned v)
{
    return __builtin_popcount(v);
}

} // namespace

KeyPlanner::KeyPlanner(xkb_keymap* keymap, uint32_t group, uint8_t lockedMods)
{
    findModifierKeys(keymap, group, lockedMods);
    findCharacters(keymap, group, lockedMods);
}

std::optional<PlannedKey> KeyPlanner::keyFor(char32_t c) const
{
    const auto it = m_keys.find(c);
    if (it == m_keys.end())
        return std::nullopt;
    return it->second;
}

void KeyPlanner::findModifierKeys(xkb_keymap* keymap, uint32_t group, uint8_t lockedMods)
{
    // Which real modifier a key sets is its action's business, not its name's: press each
    // level-shifting key in a scratch state and see what comes out.
    for (xkb_keycode_t kc = xkb_keymap_min_keycode(keymap);
         kc <= xkb_keymap_max_keycode(keymap) && kc < 256; ++kc) {
        StatePtr state(xkb_state_new(keymap));
        if (!state)
            return;
        xkb_state_update_mask(state.get(), 0, 0, lockedMods, 0, 0, group);
        if (!isLevelShift(xkb_state_key_get_one_sym(state.get(), kc)))
            continue;
        xkb_state_update_key(state.get(), kc, XKB_KEY_DOWN);
        const xkb_mod_mask_t set = xkb_state_serialize_mods(state.get(), XKB_STATE_MODS_DEPRESSED);
        for (int bit = 0; bit < 8; ++bit) {
            // Lock and Control never level a character here; see the class comment.
            if (bit == 1 || bit == 2 || !(set & (1u << bit)) || m_modifierKeys[bit] != 0)
                continue;
            m_modifierKeys[bit] = static_cast<uint8_t>(kc);
            m_usableMods |= static_cast<uint8_t>(1u << bit);
        }
    }
}

void KeyPlanner::findCharacters(xkb_keymap* keymap, uint32_t group, uint8_t lockedMods)
{
    std::vector<uint8_t> combos;
    for (unsigned m = 0; m < 256; ++m) {
        if ((m & ~static_cast<unsigned>(m_usableMods)) == 0)
            combos.push_back(static_cast<uint8_t>(m));
    }
    StatePtr state(xkb_state_new(keymap));
    if (!state)
        return;
    for (const uint8_t mods : combos) {
        xkb_state_update_mask(state.get(), mods, 0, lockedMods, 0, 0, group);
        for (xkb_keycode_t kc = xkb_keymap_min_keycode(keymap);
             kc <= xkb_keymap_max_keycode(keymap) && kc < 256; ++kc) {
            const xkb_keysym_t sym = xkb_state_key_get_one_sym(state.get(), kc);
            if (sym == XKB_KEY_NoSymbol || isKeypad(sym) || isLevelShift(sym))
                continue;
            const char32_t c = xkb_state_key_get_utf32(state.get(), kc);
            if (c == 0)
                continue;
            const PlannedKey candidate{static_cast<uint8_t>(kc), mods};
            auto it = m_keys.find(c);
            if (it == m_keys.end()) {
                m_keys.emplace(c, candidate);
            } else if (bitCount(mods) < bitCount(it->second.mods)) {
                it->second = candidate;
            }
        }
    }
}
