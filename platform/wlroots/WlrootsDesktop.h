#pragma once

#include "../DesktopLink.h"
#include "../TypingBackend.h"
#include "../WindowMatch.h"

#include <QString>
#include <memory>
#include <vector>

class WlrootsTypist;
struct WlrootsConnection;

// The window services of a Wayland compositor of the wlroots family (sway, Hyprland, river,
// labwc, Wayfire): windows through foreign-toplevel management, keys through a virtual keyboard
// with a keyboard map made for each text, so any character arrives whatever the layout.
class WlrootsDesktop : public TypingBackend
{
public:
    // ownAppId: the application id of Keyflare's own windows, which never receive its keys.
    explicit WlrootsDesktop(QString ownAppId);
    ~WlrootsDesktop() override;

    // True when the compositor offers window management and a virtual keyboard.
    bool isSupported();
    // No protocol tells the window under the pointer: this is the window most recently made
    // active, by a click or otherwise, other than Keyflare's own.
    PointedWindow windowUnderPointer() override;
    bool followsActivation() const override { return true; }

    // Gives the seat Keyflare's keyboard ahead of the first send, so that programs have taken it
    // up by then; false when the compositor refuses it.
    bool prepareKeyboard();
    // The windows that may receive keystrokes, least recently active first.
    std::vector<CandidateWindow> listWindows();
    // Those windows, watched for changes; none where the compositor does not list them.
    std::optional<std::vector<CandidateWindow>> windows() override;

private:
    WindowId activateMatch(const QString& title) override;
    bool canType() override { return isSupported(); }
    Typing type(WindowId target, const std::vector<char32_t>& chars) override;
    // The open connection; only where isSupported() or listWindows() found one.
    WlrootsConnection& connection() { return *m_link.connection(); }

    QString m_ownAppId;
    DesktopLink<WlrootsConnection, WlrootsTypist> m_link;
};
