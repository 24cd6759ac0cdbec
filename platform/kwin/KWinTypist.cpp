#include "KWinTypist.h"

#include "../xkb/KeyPlanner.h"
#include "../xwayland/XwaylandPace.h"
#include "KWinClipboard.h"
#include "KWinConnection.h"
#include "KWinLayout.h"
#include "fake-input-client-protocol.h"

#include <QCoreApplication>
#include <algorithm>
#include <utility>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

namespace {
// XKB numbers keys 8 above evdev, which fake input speaks.
constexpr uint32_t kXkbOffset = 8;
// The version of fake input from which KWin types a keysym, mapping one the layout lacks itself.
constexpr uint32_t kKeysymVersion = ORG_KDE_KWIN_FAKE_INPUT_KEYBOARD_KEYSYM_SINCE_VERSION;
// How long a program may take to hand over the clipboard, or to ask for the text lent: on a busy
// desktop a receiver may need seconds, and the X11 backend gives one as long to read its keys.
constexpr int kClipboardWaitMs = 5000;

// The key that gives keysym on the first level of the first group, or 0.
uint8_t keycodeOf(xkb_keymap* keymap, xkb_keysym_t keysym)
{
    for (xkb_keycode_t kc = xkb_keymap_min_keycode(keymap);
         kc <= xkb_keymap_max_keycode(keymap) && kc < 256; ++kc) {
        const xkb_keysym_t* syms = nullptr;
        if (xkb_keymap_key_get_syms_by_level(keymap, kc, 0, 0, &syms) == 1 && syms[0] == keysym)
            return static_cast<uint8_t>(kc);
    }
    return 0;
}
} // namespace

KWinTypist::KWinTypist(KWinConnection& connection) : m_connection(&connection)
{
}

KWinTypist::~KWinTypist() = default;

Typing KWinTypist::type(WindowId targetId, const std::vector<char32_t>& chars)
{
    // A round trip, so that a change of the active window made just before is known.
    PlasmaWindow* target = m_connection->roundtrip() ? m_connection->find(targetId) : nullptr;
    if (!target || !target->active) {
        m_lastError = QStringLiteral("the target window is not active");
        return Typing::FocusLost;
    }
    xkb_keymap* const keymap = m_connection->keymap();
    if (!keymap) {
        m_lastError = QStringLiteral("KWin has not told the keyboard map");
        return Typing::Unavailable;
    }
    // KWin reads the keys with the layout in force for the target, which the user may switch
    // at any time; with one layout there is nothing to ask.
    const bool severalLayouts = xkb_keymap_num_layouts(keymap) > 1;
    const auto layoutInForce = [&]() -> std::optional<uint32_t> {
        if (!severalLayouts)
            return 0;
        const std::optional<uint32_t> index = KWinLayout::active();
        if (index && *index < xkb_keymap_num_layouts(keymap))
            return index;
        return std::nullopt;
    };
    const std::optional<uint32_t> group = layoutInForce();
    if (!group) {
        m_lastError = QStringLiteral("KWin does not tell which keyboard layout is in force");
        return Typing::Unavailable;
    }
    // The whole text is planned before the first key: typed exactly, or not at all. KWin types
    // with the keys of the layout in force, with the locks as they stand. What the layout lacks
    // goes as a keysym where KWin maps one itself (fake input 6, Plasma 6.5 on), else is
    // pasted, each run of such characters at once, through the clipboard lent for it.
    const KeyPlanner layout(keymap, *group, m_connection->lockedMods());
    const bool keysyms = m_connection->fakeInputVersion() >= kKeysymVersion;
    struct Step
    {
        PlannedKey key;
        xkb_keysym_t keysym = XKB_KEY_NoSymbol;
        QString paste;
    };
    std::vector<Step> plan;
    for (const char32_t c : chars) {
        if (const std::optional<PlannedKey> key = layout.keyFor(c)) {
            plan.push_back({*key, XKB_KEY_NoSymbol, QString()});
        } else if (keysyms) {
            plan.push_back({{}, xkb_utf32_to_keysym(c), QString()});
            if (plan.back().keysym == XKB_KEY_NoSymbol) {
                m_lastError = QStringLiteral("the text holds a character no key can give");
                return Typing::Untypable;
            }
        } else {
            if (plan.empty() || plan.back().paste.isEmpty())
                plan.push_back({{}, XKB_KEY_NoSymbol, QString()});
            plan.back().paste += QString::fromUcs4(&c, 1);
        }
    }
    const bool pastes =
        std::any_of(plan.begin(), plan.end(), [](const Step& s) { return !s.paste.isEmpty(); });
    const uint8_t insert = keycodeOf(keymap, XKB_KEY_Insert);
    if (pastes) {
        if (insert == 0 || layout.modifierKey(0) == 0) {
            m_lastError = QStringLiteral("the keyboard map has no Shift+Insert to paste with");
            return Typing::ClipboardFailed;
        }
        if (!m_clipboard)
            m_clipboard = std::make_unique<KWinClipboard>(QCoreApplication::applicationDirPath() +
                                                          QStringLiteral("/keyflare-clipboard"));
        // The user's clipboard is kept first, whole, so that it can be given back; a program
        // that does not hand it over keeps the text from being typed rather than its clipboard
        // lost, and a secret is not touched at all.
        const KWinClipboard::Saved saved = m_clipboard->save();
        if (saved != KWinClipboard::Saved::Yes) {
            m_lastError = m_clipboard->lastError();
            return saved == KWinClipboard::Saved::Secret ? Typing::ClipboardSecret
                                                         : Typing::ClipboardFailed;
        }
    }
    if (!m_authenticated) {
        org_kde_kwin_fake_input_authenticate(m_connection->fakeInput(), "Keyflare",
                                             "types the text of a macro button");
        m_authenticated = true;
    }
    const auto press = [&](uint8_t keycode, bool down) {
        org_kde_kwin_fake_input_keyboard_key(m_connection->fakeInput(), keycode - kXkbOffset,
                                             down ? WL_KEYBOARD_KEY_STATE_PRESSED
                                                  : WL_KEYBOARD_KEY_STATE_RELEASED);
    };
    const auto typeKey = [&](const PlannedKey& key) {
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
    };
    // KWin (fake input 6) switches to the layout that holds a keysym it types and stays there:
    // the user's layout is put back in force before the next key, and at the end. Any other
    // switch is the user's.
    bool keysymSent = false;
    const auto layoutKept = [&] {
        const bool afterKeysym = std::exchange(keysymSent, false);
        const std::optional<uint32_t> now = layoutInForce();
        return now == group || (afterKeysym && now && KWinLayout::select(*group));
    };
    // An X11 program's keys go through Xwayland, which each waits for.
    XwaylandPace xwayland;
    const bool paced = xwayland.serves(target->pid);
    Typing result = Typing::Done;
    bool pasteOutstanding = false;
    for (const Step& step : plan) {
        // The user may make another window active while we type. A round trip before every key
        // sends the keys so far and learns what KWin did before it handled them, so a change
        // can let at most the one key sent meanwhile reach the other window.
        if (!m_connection->roundtrip()) {
            result = Typing::Unavailable;
            break;
        }
        if (!target->active) {
            m_lastError = QStringLiteral("the target window stopped being the active one");
            result = Typing::FocusLost;
            break;
        }
        if (paced && !xwayland.roundTrip()) {
            m_lastError = QStringLiteral("Xwayland, the X server of the window, did not answer");
            result = Typing::Unavailable;
            break;
        }
        if (severalLayouts && !layoutKept()) {
            m_lastError = QStringLiteral("the keyboard layout was switched");
            result = Typing::LayoutSwitched;
            break;
        }
        if (step.keysym != XKB_KEY_NoSymbol) {
            // KWin puts the keysym on a spare key of a map of its own for that one key, and
            // gives the target its map back before it handles the next request.
            org_kde_kwin_fake_input_keyboard_keysym(m_connection->fakeInput(), step.keysym,
                                                    WL_KEYBOARD_KEY_STATE_PRESSED);
            org_kde_kwin_fake_input_keyboard_keysym(m_connection->fakeInput(), step.keysym,
                                                    WL_KEYBOARD_KEY_STATE_RELEASED);
            keysymSent = true;
            continue;
        }
        if (step.paste.isEmpty()) {
            typeKey(step.key);
            continue;
        }
        // Shift+Insert pastes the clipboard in text fields and the primary selection in
        // terminals: both hold the text. The keys after it wait until the target itself has
        // read all of it (a clipboard manager may read it first), so that they arrive after it.
        KWinClipboard::Paste paste = m_clipboard->lend(step.paste, static_cast<pid_t>(target->pid));
        if (paste == KWinClipboard::Paste::Done) {
            pasteOutstanding = true;
            typeKey({insert, 1});
            paste = m_connection->roundtrip() ? m_clipboard->waitForPaste(kClipboardWaitMs)
                                              : KWinClipboard::Paste::TimedOut;
        }
        if (paste == KWinClipboard::Paste::Taken) {
            m_lastError = QStringLiteral("something else was copied during the send");
            result = Typing::ClipboardTaken;
            break;
        }
        if (paste == KWinClipboard::Paste::TimedOut) {
            m_lastError = QStringLiteral("the receiving program did not paste");
            result = Typing::PasteMissing;
            break;
        }
        pasteOutstanding = false;
    }
    if (pastes)
        m_clipboard->restore(!pasteOutstanding);
    if (!m_connection->roundtrip()) {
        m_lastError = QStringLiteral("the connection to KWin broke");
        return Typing::Unavailable;
    }
    if (severalLayouts && keysymSent)
        (void)layoutKept();
    return result;
}
