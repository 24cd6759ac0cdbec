#pragma once

#include "Services.h"

#include <functional>
#include <optional>

// Waits up to two seconds until the user holds no Shift, Ctrl, Alt or Super key, as Keyflare's
// own windows see the keyboard, letting their events run meanwhile; ModifiersHeld when one is
// still held. A Wayland program is told the keyboard's state only while one of its windows has
// the keyboard focus, as the panel has while the user clicks it: where none has it, nothing is
// known or waited for.
Typing waitForReleasedModifiers();

// Asks held() every pollMs for up to two seconds until it answers false: Done then, ModifiersHeld
// when a modifier is still held, Unavailable when held() cannot tell (no answer). For a backend
// that reads the keyboard of the whole desktop.
Typing waitUntilReleased(const std::function<std::optional<bool>()>& held, int pollMs,
                         QString* error);
