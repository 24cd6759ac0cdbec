#pragma once

#include "../Services.h"
#include "../WindowMatch.h"

#include <QString>
#include <memory>
#include <vector>

class WlrootsTypist;
struct WlrootsConnection;

// The window services of a Wayland compositor of the wlroots family (sway, Hyprland, river,
// labwc, Wayfire): windows through foreign-toplevel management, keys through a virtual keyboard
// with a keyboard map made for each text, so any character arrives whatever the layout.
class WlrootsDesktop : public WindowActivation, public KeyInjection, public PointerWindows
{
public:
    // ownAppId: the application id of Keyflare's own windows, which never receive its keys.
    explicit WlrootsDesktop(QString ownAppId);
    ~WlrootsDesktop() override;

    // True when the compositor offers window management and a virtual keyboard.
    bool isSupported();
    WindowId activate(const QString& title) override;
    Typing inject(WindowId target, const QString& keys) override;
    // Watches the keyboard through Keyflare's own focused window: the compositor tells the held
    // modifiers to no other program.
    Typing awaitReleasedModifiers() override;
    // No protocol tells the window under the pointer: this is the window most recently made
    // active, by a click or otherwise, other than Keyflare's own.
    PointedWindow windowUnderPointer() override;
    bool followsActivation() const override { return true; }

    // Gives the seat Keyflare's keyboard ahead of the first send, so that programs have taken it
    // up by then; false when the compositor refuses it.
    bool prepareKeyboard();
    // The windows that may receive keystrokes, least recently active first.
    std::vector<CandidateWindow> listWindows();
    QString lastError() const { return m_lastError; }

private:
    bool ensureConnection();

    QString m_ownAppId;
    std::unique_ptr<WlrootsConnection> m_connection;
    std::unique_ptr<WlrootsTypist> m_typist; // after m_connection: it goes first
    QString m_lastError;
};
