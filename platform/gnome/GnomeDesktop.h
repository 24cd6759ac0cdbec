#pragma once

#include "../TypingBackend.h"
#include "GnomeShell.h"

#include <QString>

// The window services of GNOME Shell on Wayland, through Keyflare's own shell extension: GNOME
// offers programs no protocol for them. Each text is typed with layouts made for it, which the
// extension puts in force beside the user's while it types (and, after a text into an X11
// window, which may read its keys later, for a while after).
class GnomeDesktop : public TypingBackend
{
public:
    GnomeDesktop() = default;
    ~GnomeDesktop() override;

    // True when the extension runs and answers this copy of Keyflare.
    bool isAvailable();
    bool refusedUs() const { return m_shell.refusedUs(); }
    bool isStale() const { return m_shell.isStale(); }

    PointedWindow windowUnderPointer() override;

    // How long the last text kept the user's own keys remapped, in microseconds.
    uint32_t lastRemappedUs() const { return m_remappedUs; }

private:
    WindowId activateMatch(const QString& title) override;
    // Waits until no modifier is held on any keyboard, as the shell sees them, then has the
    // shell type chars with layouts made for them.
    Typing type(WindowId target, const std::vector<char32_t>& chars) override;

    GnomeShell m_shell;
    uint32_t m_remappedUs = 0;
    bool m_typed = false;
};
