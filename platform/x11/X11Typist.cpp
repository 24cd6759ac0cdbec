#include "X11Typist.h"

#include "../HeldModifiers.h"
#include "X11Session.h"

#include <array>
#include <optional>
#include <set>

namespace {
// How often the server is asked whether a modifier is still held.
constexpr int kPollMs = 2;
// How long a receiver may take to get through a round of keys and answer the ping after them.
constexpr int kPingWaitMs = 5000;
} // namespace

X11Typist::X11Typist(X11Session& session, std::function<void()> borrowed)
    : m_session(session), m_borrowed(std::move(borrowed))
{
}

Typing X11Typist::type(WindowId targetId, const std::vector<char32_t>& chars)
{
    const auto target = static_cast<xcb_window_t>(targetId);
    X11Windows& windows = m_session.windows();
    X11Keyboard& keyboard = m_session.keyboard();
    X11BorrowedKeys& keys = m_session.keys();
    keys.adoptLeftovers();
    windows.forgetFocus(); // found anew for every target
    if (target == XCB_NONE || !windows.stillFocused(target)) {
        m_lastError = QStringLiteral("the target window does not hold the focus");
        return Typing::FocusLost;
    }

    std::optional<X11Keyboard::State> state;
    const Typing released = waitUntilReleased(
        [&]() -> std::optional<bool> {
            state = keyboard.state();
            if (!state) {
                m_lastError = QStringLiteral("cannot read the keyboard state");
                return std::nullopt;
            }
            return (state->baseMods & ~XCB_MOD_MASK_LOCK) != 0;
        },
        kPollMs, &m_lastError);
    if (released != Typing::Done)
        return released;

    // The map is the server's current one for every send, so a layout switched meanwhile is
    // honoured.
    xkb_keymap* keymap = keyboard.keymap();
    if (!keymap) {
        m_lastError = QStringLiteral("cannot read the keyboard map");
        return Typing::Unavailable;
    }
    const uint32_t group = state->group;
    // Characters the layout lacks in the group in force go on borrowed keycodes.
    std::vector<bool> lacking(chars.size());
    std::set<char32_t> missing;
    bool wide = false; // keys of four levels can be typed
    {
        const KeyPlanner layout(keymap, group, state->lockedMods);
        wide = layout.shiftsBeyondSecondLevel();
        for (size_t i = 0; i < chars.size(); ++i) {
            const std::optional<PlannedKey> key = layout.keyFor(chars[i]);
            lacking[i] = !key || keys.isBorrowed(key->keycode);
            if (lacking[i])
                missing.insert(chars[i]);
        }
    }
    // Nearly every text fits the spare keycodes at once, and every text a button holds fits
    // them on keys of four levels. A longer one is typed in rounds, each with a map of its own;
    // before a round changes the map, the receiver must have read every key of the round before.
    // A program that answers a ping has: it answers in the order of its events, after the keys
    // sent before the ping, and the next map does not exist until then.
    size_t room = KeyPacking::kGroups * static_cast<size_t>(keys.room());
    const size_t pairsNeeded = KeyPacking::pairs(missing).size();
    wide = wide && pairsNeeded > room && keyboard.fourLevelType() >= 0;
    if (wide)
        room *= KeyPacking::kWideLevels / KeyPacking::kLevels;
    std::vector<size_t> rounds{0};
    if (pairsNeeded > room) {
        std::set<char32_t> inRound;
        for (size_t i = 0; i < chars.size(); ++i) {
            if (!lacking[i] || inRound.count(chars[i]))
                continue;
            inRound.insert(chars[i]);
            if (KeyPacking::pairs(inRound).size() > room) {
                rounds.push_back(i);
                inRound = {chars[i]};
            }
        }
        if (room == 0 || !windows.answersPing(target)) {
            m_lastError = QStringLiteral("the text needs %1 characters that the keyboard layout "
                                         "lacks, more than the keyboard has room for at once, and "
                                         "the receiving program cannot confirm it has read them")
                              .arg(missing.size());
            return room == 0 ? Typing::NoFreeKeys : Typing::Untypable;
        }
    }

    Typing result = Typing::Done;
    uint8_t lockedMods = state->lockedMods;
    for (size_t r = 0; r < rounds.size() && result == Typing::Done; ++r) {
        const size_t from = rounds[r];
        const size_t to = r + 1 < rounds.size() ? rounds[r + 1] : chars.size();
        std::set<char32_t> needed;
        for (size_t i = from; i < to; ++i) {
            if (lacking[i])
                needed.insert(chars[i]);
        }
        if (r > 0 && !windows.ping(target, kPingWaitMs)) {
            m_lastError = QStringLiteral("the receiving program did not answer in time");
            result = Typing::Unavailable;
            break;
        }
        // The keys of the last send may still wait in its receiver, to be read with the map
        // this change makes: a receiver that answers a ping has read them once it answers.
        if (r == 0 && !needed.empty() && m_lastBorrower != XCB_NONE && !keys.holdsAll(needed) &&
            windows.answersPing(m_lastBorrower) && !windows.ping(m_lastBorrower, kPingWaitMs)) {
            m_lastBorrower = XCB_NONE; // told once; the next send does not wait for it again
            m_lastError = QStringLiteral("the program that received the last text has not "
                                         "read all of it yet");
            result = Typing::Busy;
            break;
        }
        if (!needed.empty()) {
            m_lastBorrower = target;
            if (!keys.borrow(needed, wide, &m_lastError)) {
                result = r > 0              ? Typing::Unavailable
                         : keys.outOfRoom() ? Typing::NoFreeKeys
                                            : Typing::Untypable;
                break;
            }
            m_borrowed();
        }
        const std::vector<char32_t> part(chars.begin() + static_cast<std::ptrdiff_t>(from),
                                         chars.begin() + static_cast<std::ptrdiff_t>(to));
        result = typeRound(target, part, needed, group, state->lockedGroup, &lockedMods);
        if (r + 1 < rounds.size())
            m_session.connection()
                .sync(); // the keys reach the receiver before the ping that follows them
    }
    if (lockedMods != state->lockedMods)
        keyboard.lockModifiers(state->lockedMods & ~lockedMods, state->lockedMods & ~lockedMods);
    m_session.connection().sync();
    if (m_session.connection().isBroken()) {
        m_lastError = QStringLiteral("the connection to the X server broke");
        return Typing::Unavailable;
    }
    return result;
}

Typing X11Typist::typeRound(xcb_window_t target, const std::vector<char32_t>& chars,
                            const std::set<char32_t>& borrowed, uint32_t group,
                            uint32_t lockedGroup, uint8_t* lockedMods)
{
    xkb_keymap* keymap = m_session.keyboard().keymap();
    if (!keymap) {
        m_lastError = QStringLiteral("cannot read the keyboard map");
        return Typing::Unavailable;
    }
    // Plan the whole round before its first key: it is typed exactly, or not at all. A borrowed
    // character is typed in the group that holds it; the group is keyboard state that travels
    // with every key, so no receiver can read a key in the wrong group.
    std::array<std::optional<KeyPlanner>, KeyPacking::kGroups> planners;
    const auto plannerFor = [&](uint32_t g) -> const KeyPlanner& {
        if (!planners[g])
            planners[g].emplace(keymap, g, *lockedMods);
        return *planners[g];
    };
    std::vector<GroupKey> plan;
    const auto planAll = [&] {
        plan.clear();
        for (char32_t c : chars) {
            const auto slot = m_session.keys().slotOf(c);
            const uint32_t g = borrowed.count(c) && slot ? slot->group : group;
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
    const uint8_t locks = *lockedMods & (XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2);
    if (!planAll()) {
        if (locks == 0)
            return Typing::Untypable;
        *lockedMods &= static_cast<uint8_t>(~locks);
        planners = {};
        if (!planAll())
            return Typing::Untypable;
        m_session.keyboard().lockModifiers(locks, 0);
    }
    return typeKeys(target, plan, group, lockedGroup, plannerFor);
}

Typing X11Typist::typeKeys(xcb_window_t target, const std::vector<GroupKey>& plan, uint32_t group,
                           uint32_t lockedGroup,
                           const std::function<const KeyPlanner&(uint32_t)>& plannerFor)
{
    X11Keyboard& keyboard = m_session.keyboard();
    uint8_t held = 0;
    uint32_t current = group;
    const auto setModifiers = [&](uint8_t want) {
        const KeyPlanner& planner = plannerFor(current);
        for (int bit = 0; bit < 8; ++bit) {
            const uint8_t m = static_cast<uint8_t>(1u << bit);
            if ((held & m) && !(want & m))
                keyboard.fakeKey(XCB_KEY_RELEASE, planner.modifierKey(bit));
        }
        for (int bit = 0; bit < 8; ++bit) {
            const uint8_t m = static_cast<uint8_t>(1u << bit);
            if (!(held & m) && (want & m))
                keyboard.fakeKey(XCB_KEY_PRESS, planner.modifierKey(bit));
        }
        held = want;
    };
    Typing result = Typing::Done;
    for (const GroupKey& key : plan) {
        // The user may move the focus while we type. Asking the server before every key sends
        // the keys queued so far and learns where the focus is once it has handled them, so a
        // change can let at most the one key sent meanwhile reach the other window.
        if (!m_session.windows().stillFocused(target)) {
            m_lastError = QStringLiteral("the focus left the target window");
            result = Typing::FocusLost;
            break;
        }
        if (key.group != current) {
            setModifiers(0);
            keyboard.lockGroup(key.group);
            current = key.group;
        }
        setModifiers(key.key.mods);
        keyboard.fakeKey(XCB_KEY_PRESS, key.key.keycode);
        keyboard.fakeKey(XCB_KEY_RELEASE, key.key.keycode);
    }
    setModifiers(0);
    if (current != group)
        keyboard.lockGroup(lockedGroup);
    return result;
}
