#pragma once

#include "../Services.h"
#include "../xkb/KeyPlanner.h"

#include <QString>
#include <cstdint>
#include <functional>
#include <set>
#include <vector>
#include <xcb/xcb.h>

class X11Session;

// Types into the focused window of an X server through XTEST, so receivers see real typing: each
// character by the key of the layout in force that gives it, and what the layout lacks on
// keycodes borrowed for the send.
class X11Typist
{
public:
    // borrowed: called after keycodes were borrowed, to have them given back once idle.
    X11Typist(X11Session& session, std::function<void()> borrowed);
    X11Typist(const X11Typist&) = delete;
    X11Typist& operator=(const X11Typist&) = delete;

    // Types chars (U+000D is Return, U+0009 Tab) into target while it holds the focus: exactly,
    // or (refused) not at all.
    Typing type(WindowId target, const std::vector<char32_t>& chars);
    QString lastError() const { return m_lastError; }

private:
    // A planned key and the keyboard group it is typed in.
    struct GroupKey
    {
        PlannedKey key;
        uint32_t group;
    };
    Typing typeKeys(xcb_window_t target, const std::vector<GroupKey>& plan, uint32_t group,
                    uint32_t lockedGroup,
                    const std::function<const KeyPlanner&(uint32_t)>& plannerFor);
    Typing typeRound(xcb_window_t target, const std::vector<char32_t>& chars,
                     const std::set<char32_t>& borrowed, uint32_t group, uint32_t lockedGroup,
                     uint8_t* lockedMods);

    X11Session& m_session;
    std::function<void()> m_borrowed;
    QString m_lastError;
    xcb_window_t m_lastBorrower = XCB_NONE; // the window that got the last keys typed on
                                            // borrowed keycodes
};
