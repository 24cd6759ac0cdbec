#include "../KeystrokeString.h"
#include "../x11/KeyPlanner.h"
#include "KWinConnection.h"
#include "KWinDesktop.h"
#include "fake-input-client-protocol.h"

#include <wayland-client.h>

namespace {
// XKB numbers keys 8 above evdev, which fake input speaks.
constexpr uint32_t kXkbOffset = 8;
} // namespace

Typing KWinDesktop::inject(WindowId targetId, const QString& keys)
{
    const auto strokes = parseKeystrokeString(keys, &m_lastError);
    if (!strokes)
        return Typing::Untypable;
    if (!isAllowed())
        return Typing::Unavailable;
    // A round trip, so that a change of the active window made just before is known.
    PlasmaWindow* target = m_k->roundtrip() ? m_k->find(targetId) : nullptr;
    if (!target || !target->active) {
        m_lastError = QStringLiteral("the target window is not active");
        return Typing::FocusLost;
    }
    if (!m_k->keymap) {
        m_lastError = QStringLiteral("KWin has not told the keyboard map");
        return Typing::Unavailable;
    }
    // The whole text is planned before the first key: typed exactly, or not at all. KWin types
    // with the keys of the layout in force, with the locks as they stand.
    const KeyPlanner layout(m_k->keymap, 0, m_k->lockedMods);
    std::vector<PlannedKey> plan;
    for (const KeyStroke& s : *strokes) {
        const char32_t c = s.kind == KeyStroke::Enter ? U'\r'
                           : s.kind == KeyStroke::Tab ? U'\t'
                                                      : s.codePoint;
        const std::optional<PlannedKey> key = layout.keyFor(c);
        if (!key) {
            m_lastError = QStringLiteral("the keyboard layout cannot type U+%1")
                              .arg(static_cast<uint>(c), 4, 16, QLatin1Char('0'))
                              .toUpper();
            return Typing::Untypable;
        }
        plan.push_back(*key);
    }
    if (!m_authenticated) {
        org_kde_kwin_fake_input_authenticate(m_k->fakeInput, "Keyflare",
                                             "types the text of a macro button");
        m_authenticated = true;
    }
    const auto press = [&](uint8_t keycode, bool down) {
        org_kde_kwin_fake_input_keyboard_key(m_k->fakeInput, keycode - kXkbOffset,
                                             down ? WL_KEYBOARD_KEY_STATE_PRESSED
                                                  : WL_KEYBOARD_KEY_STATE_RELEASED);
    };
    Typing result = Typing::Done;
    size_t sent = 0;
    for (const PlannedKey& key : plan) {
        // The user may make another window active while we type; the rest must not land there.
        if (++sent % 16 == 0 && !m_k->dispatch(0)) {
            result = Typing::Unavailable;
            break;
        }
        if (!target->active) {
            m_lastError = QStringLiteral("the target window stopped being the active one");
            result = Typing::FocusLost;
            break;
        }
        for (int bit = 0; bit < 8; ++bit) {
            if (key.mods & (1u << bit))
                press(layout.modifierKey(bit), true);
        }
        press(key.keycode, true);
        press(key.keycode, false);
        for (int bit = 7; bit >= 0; --bit) {
            if (key.mods & (1u << bit))
                press(layout.modifierKey(bit), false);
        }
    }
    if (!m_k->roundtrip()) {
        m_lastError = QStringLiteral("the connection to KWin broke");
        return Typing::Unavailable;
    }
    return result;
}
