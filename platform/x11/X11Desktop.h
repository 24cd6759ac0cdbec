#pragma once

#include "../Services.h"
#include "../WindowMatch.h"

#include <memory>
#include <vector>

class QTimer;
class X11Typist;
class X11Session;

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
    void scheduleRestore();

    QString m_display;
    std::unique_ptr<X11Session> m_session;
    std::unique_ptr<X11Typist> m_typist; // after m_session: it goes first
    QString m_lastError;
    std::unique_ptr<QTimer> m_restoreTimer;
};
