#include "../KeystrokeString.h"
#include "KeyPlanner.h"
#include "X11Connection.h"
#include "X11Desktop.h"

#include <QDeadlineTimer>
#include <QThread>
#include <array>
#include <optional>
#include <set>
// xkb.h names a field "explicit", a C++ keyword.
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit
#include <xcb/xtest.h>

namespace {
// A Shift, Ctrl or Alt still held from the click would change every key typed.
constexpr int kModifierWaitMs = 2000;
constexpr int kPollMs = 2;
} // namespace

Typing X11Desktop::inject(WindowId target, const QString& keys)
{
    const auto strokes = parseKeystrokeString(keys, &m_lastError);
    if (!strokes)
        return Typing::Untypable;
    if (!ensureConnection())
        return Typing::Unavailable;
    return typeStrokes(static_cast<xcb_window_t>(target), *strokes);
}

Typing X11Desktop::typeStrokes(xcb_window_t target, const std::vector<KeyStroke>& strokes)
{
    X11Connection& x = *m_x;
    if (target == XCB_NONE || !x.focusIsIn(target)) {
        m_lastError = QStringLiteral("the target window does not hold the focus");
        return Typing::FocusLost;
    }
    x.watchFocus(target);

    Reply<xcb_xkb_get_state_reply_t> state;
    const QDeadlineTimer deadline(kModifierWaitMs);
    for (;;) {
        state.reset(
            xcb_xkb_get_state_reply(x.c, xcb_xkb_get_state(x.c, XCB_XKB_ID_USE_CORE_KBD), nullptr));
        if (!state) {
            m_lastError = QStringLiteral("cannot read the keyboard state");
            return Typing::Unavailable;
        }
        if ((state->baseMods & ~XCB_MOD_MASK_LOCK) == 0)
            break;
        if (deadline.hasExpired()) {
            m_lastError = QStringLiteral("a modifier key is still held");
            return Typing::ModifiersHeld;
        }
        QThread::msleep(kPollMs);
    }

    std::vector<char32_t> chars;
    chars.reserve(strokes.size());
    for (const KeyStroke& s : strokes)
        chars.push_back(s.kind == KeyStroke::Enter ? U'\r'
                        : s.kind == KeyStroke::Tab ? U'\t'
                                                   : s.codePoint);

    // The map is the server's current one for every send, so a layout switched meanwhile is
    // honoured.
    xkb_keymap* keymap = x.keymap();
    if (!keymap) {
        m_lastError = QStringLiteral("cannot read the keyboard map");
        return Typing::Unavailable;
    }
    const uint32_t group = state->group;
    // Characters the layout lacks in the group in force: all of them go on borrowed keycodes,
    // with one change of the map before the first key.
    std::set<char32_t> missing;
    {
        const KeyPlanner layout(keymap, group, state->lockedMods);
        for (char32_t c : chars) {
            const std::optional<PlannedKey> key = layout.keyFor(c);
            if (!key || isBorrowedKey(key->keycode))
                missing.insert(c);
        }
    }
    if (!missing.empty()) {
        if (!x.borrow(missing, &m_lastError))
            return Typing::Untypable;
        scheduleRestore();
        keymap = x.keymap();
        if (!keymap) {
            m_lastError = QStringLiteral("cannot read the keyboard map");
            return Typing::Unavailable;
        }
    }

    // Plan the whole text before the first key: output is exact or refused, never partial. A
    // borrowed character is typed in the group that holds it; the group is keyboard state that
    // travels with every key, so no receiver can read a key in the wrong group.
    std::array<std::optional<KeyPlanner>, KeyPacking::kGroups> planners;
    uint8_t lockedMods = state->lockedMods;
    const auto plannerFor = [&](uint32_t g) -> const KeyPlanner& {
        if (!planners[g])
            planners[g].emplace(keymap, g, lockedMods);
        return *planners[g];
    };
    std::vector<GroupKey> plan;
    const auto planAll = [&] {
        plan.clear();
        for (char32_t c : chars) {
            const auto slot = x.borrowed.find(c);
            const uint32_t g =
                missing.count(c) && slot != x.borrowed.end() ? slot->second.group : group;
            const std::optional<PlannedKey> key = plannerFor(g).keyFor(c);
            if (!key) {
                m_lastError = QStringLiteral("the keyboard layout cannot type U+%1")
                                  .arg(static_cast<uint>(c), 4, 16, QLatin1Char('0'))
                                  .toUpper();
                return false;
            }
            plan.push_back({*key, g});
        }
        return true;
    };
    // Caps Lock may turn a borrowed letter into its capital, which no key level undoes; such a
    // text is typed with the locks off, and they are put back afterwards.
    const uint8_t locks = state->lockedMods & (XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2);
    bool unlock = false;
    if (!planAll()) {
        if (locks == 0)
            return Typing::Untypable;
        lockedMods &= static_cast<uint8_t>(~locks);
        planners = {};
        if (!planAll())
            return Typing::Untypable;
        unlock = true;
        x.lockModifiers(locks, 0);
    }

    const Typing result = typeKeys(target, plan, group, state->lockedGroup, plannerFor);
    if (unlock)
        x.lockModifiers(locks, locks);
    x.sync();
    if (xcb_connection_has_error(x.c)) {
        m_lastError = QStringLiteral("the connection to the X server broke");
        return Typing::Unavailable;
    }
    return result;
}

bool X11Desktop::isBorrowedKey(uint8_t keycode) const
{
    return m_x->borrowedRows.count(keycode) != 0;
}

Typing X11Desktop::typeKeys(xcb_window_t target, const std::vector<GroupKey>& plan, uint32_t group,
                            uint32_t lockedGroup,
                            const std::function<const KeyPlanner&(uint32_t)>& plannerFor)
{
    X11Connection& x = *m_x;
    uint8_t held = 0;
    uint32_t current = group;
    const auto setModifiers = [&](uint8_t want) {
        const KeyPlanner& planner = plannerFor(current);
        for (int bit = 0; bit < 8; ++bit) {
            const uint8_t m = static_cast<uint8_t>(1u << bit);
            if ((held & m) && !(want & m))
                x.fakeKey(XCB_KEY_RELEASE, planner.modifierKey(bit));
        }
        for (int bit = 0; bit < 8; ++bit) {
            const uint8_t m = static_cast<uint8_t>(1u << bit);
            if (!(held & m) && (want & m))
                x.fakeKey(XCB_KEY_PRESS, planner.modifierKey(bit));
        }
        held = want;
    };
    Typing result = Typing::Done;
    size_t sent = 0;
    for (const GroupKey& key : plan) {
        // Sent in batches, so that the server works on the keys (and tells of a focus change)
        // while the rest are still being queued.
        if (++sent % 32 == 0)
            xcb_flush(x.c);
        // The user may move the focus while we type; the rest must not land elsewhere. The
        // server tells of a focus change by an event, which costs no round trip to look for.
        x.pumpEvents();
        if (x.focusLeft) {
            if (!x.focusIsIn(target)) {
                m_lastError = QStringLiteral("the focus left the target window");
                result = Typing::FocusLost;
                break;
            }
            x.focusLeft = false; // it went and came back, or it was never really gone
        }
        if (key.group != current) {
            setModifiers(0);
            x.lockGroup(key.group);
            current = key.group;
        }
        setModifiers(key.key.mods);
        x.fakeKey(XCB_KEY_PRESS, key.key.keycode);
        x.fakeKey(XCB_KEY_RELEASE, key.key.keycode);
    }
    setModifiers(0);
    if (current != group)
        x.lockGroup(lockedGroup);
    return result;
}
