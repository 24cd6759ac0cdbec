#pragma once

#include "../Services.h"
#include "../WindowMatch.h"
#include "../xkb/KeyPlanner.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <vector>

class QTimer;
struct X11Connection;
struct KeyStroke;
class KeyPlanner;

// The window manager services on an X11 server, through a connection of Keyflare's own (Qt's
// connection stays Qt's). Keys go in through XTEST, so receivers see them as real typing.
class X11Desktop : public WindowActivation, public KeyInjection, public PointerWindows
{
public:
    // display: an X display name, or empty for $DISPLAY.
    explicit X11Desktop(const QString& display = QString());
    ~X11Desktop() override;

    WindowId activate(const QString& title) override;
    Typing inject(WindowId target, const QString& keys) override;
    PointedWindow windowUnderPointer() override;

    // False when the X server cannot be reached; every service then fails.
    bool isConnected();
    // The windows that may receive keystrokes, bottom to top, with their titles.
    std::vector<CandidateWindow> listWindows();
    // Why the last call failed, for diagnostics.
    QString lastError() const;

private:
    bool ensureConnection();
    Typing typeStrokes(uint32_t target, const std::vector<KeyStroke>& strokes);
    // A planned key and the keyboard group it is typed in.
    struct GroupKey
    {
        PlannedKey key;
        uint32_t group;
    };
    Typing typeKeys(uint32_t target, const std::vector<GroupKey>& plan, uint32_t group,
                    uint32_t lockedGroup,
                    const std::function<const KeyPlanner&(uint32_t)>& plannerFor);
    Typing typeRound(uint32_t target, const std::vector<char32_t>& chars,
                     const std::set<char32_t>& borrowed, uint32_t group, uint32_t lockedGroup,
                     uint8_t* lockedMods);
    bool isBorrowedKey(uint8_t keycode) const;
    void scheduleRestore();

    QString m_display;
    std::unique_ptr<X11Connection> m_x;
    QString m_lastError;
    std::unique_ptr<QTimer> m_restoreTimer;
    uint32_t m_lastBorrower = 0; // the window that got the last keys typed on borrowed keycodes
};
