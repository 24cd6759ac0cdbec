#pragma once

#include "../DesktopLink.h"
#include "../TypingBackend.h"
#include "../WindowMatch.h"

#include <memory>
#include <vector>

class QTimer;
class X11Session;
class X11Typist;

// The window manager services on an X11 server, through a connection of Keyflare's own (Qt's
// connection stays Qt's). Keys go in through XTEST, so receivers see them as real typing.
class X11Desktop : public TypingBackend
{
public:
    // display: an X display name, or empty for $DISPLAY.
    explicit X11Desktop(const QString& display = QString());
    ~X11Desktop() override;

    // Nothing to wait for here: the typist reads the whole server's keyboard before each text.
    Typing awaitReleasedModifiers() override { return Typing::Done; }
    PointedWindow windowUnderPointer() override;

    // False when the X server cannot be reached; every service then fails.
    bool isConnected();
    // The windows that may receive keystrokes, bottom to top, with their titles.
    std::vector<CandidateWindow> listWindows();
    // Those windows, watched for changes; none where the server cannot be reached.
    std::optional<std::vector<CandidateWindow>> windows() override;

private:
    WindowId activateMatch(const QString& title) override;
    bool canType() override;
    Typing type(WindowId target, const std::vector<char32_t>& chars) override;
    // The open session, or null where the server cannot be reached.
    X11Session* session();
    void scheduleRestore();

    QString m_display;
    DesktopLink<X11Session, X11Typist> m_link;
    std::unique_ptr<QTimer> m_restoreTimer;
};
