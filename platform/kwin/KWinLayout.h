#pragma once

#include <cstdint>
#include <optional>

// Which of the user's keyboard layouts KWin applies to keys now. KWin tells the layout in force
// only to the focused program's keyboard, and the target has the focus while Keyflare types, so
// this asks KWin's keyboard service. A desktop that keeps a layout per window has switched to the
// target's by the time it is active.
namespace KWinLayout {
// The index of the layout in force, which is the group of the keyboard map; nullopt when KWin
// does not answer.
std::optional<uint32_t> active();
// Puts the layout of that index in force, as the user's layout switcher does; false when KWin
// does not do it.
bool select(uint32_t index);
} // namespace KWinLayout
