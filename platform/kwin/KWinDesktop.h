#pragma once

#include "../DesktopLink.h"
#include "../TypingBackend.h"
#include "../WindowMatch.h"

#include <QRect>
#include <QString>
#include <memory>
#include <vector>

class KWinTypist;
class KWinPointer;
class KWinConnection;

// The window services of KDE Plasma's compositor, KWin: windows through its window management,
// keys through its fake input, typed by the keys of the layout in force. KWin offers both only
// to programs that a desktop file names (see KWinPermission).
class KWinDesktop : public TypingBackend
{
public:
    // ownAppId: the application id of Keyflare's own windows, which never receive its keys.
    explicit KWinDesktop(QString ownAppId);
    ~KWinDesktop() override;

    // True when KWin lets this program manage windows and type.
    bool isAllowed();
    // The window under the pointer, as KWin's scripting finds it; where that does not answer,
    // the topmost window other than Keyflare's own (the one last made active).
    PointedWindow windowUnderPointer() override;
    bool followsActivation() const override;

    // The windows that may receive keystrokes, bottom to top, with their titles.
    std::vector<CandidateWindow> listWindows();
    // Those windows, watched for changes; none where KWin does not let Keyflare list them.
    std::optional<std::vector<CandidateWindow>> windows() override;
    // Where the window stands on the desktop (its frame); empty when unknown.
    QRect frame(WindowId id);

private:
    WindowId activateMatch(const QString& title) override;
    bool canType() override { return isAllowed(); }
    Typing type(WindowId target, const std::vector<char32_t>& chars) override;
    // The open connection; only where isAllowed() or listWindows() found one.
    KWinConnection& connection() { return *m_link.connection(); }
    bool isOwn(WindowId id);
    bool ownWindowActive();
    // Waits until Qt has taken in that Keyflare's own window, which KWin says is active, is, and
    // has made the requests that follow.
    void awaitOwnActivationTakenIn();
    // Runs Qt's events and KWin's a few times over, so that requests under way are acted on.
    void settle();

    QString m_ownAppId;
    DesktopLink<KWinConnection, KWinTypist> m_link;
    std::unique_ptr<KWinPointer> m_pointer;
    PointedWindow m_lastPointed;
};
