#pragma once

#include "Services.h"

#include <vector>

// What the backends of the desktops that type share: every activation and typing request starts
// with no error, the keystroke string is parsed once, here, and each backend is handed the
// characters to type. Held modifiers are watched through Keyflare's own window, the one place a
// Wayland compositor tells them.
class TypingBackend : public DesktopBackend
{
public:
    WindowId activate(const QString& title) final;
    Typing inject(WindowId target, const QString& keys) final;
    Typing awaitReleasedModifiers() override;
    QString lastError() const override { return m_lastError; }

protected:
    // Activates the best window matching title and returns it once it holds the focus; 0, with
    // m_lastError, when none does.
    virtual WindowId activateMatch(const QString& title) = 0;
    // True when the desktop takes keys now, opening what that needs; false, with m_lastError.
    virtual bool canType() { return true; }
    // Types chars (U+000D is Return, U+0009 Tab) into target, as inject() promises; m_lastError
    // says why a request that fails did.
    virtual Typing type(WindowId target, const std::vector<char32_t>& chars) = 0;

    QString m_lastError;
};
