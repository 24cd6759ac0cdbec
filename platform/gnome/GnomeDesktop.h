#pragma once

#include "../Services.h"
#include "GnomeShell.h"

#include <QString>

// The window services of GNOME Shell on Wayland, through Keyflare's own shell extension: GNOME
// offers programs no protocol for them. Each text is typed with layouts made for it, which the
// extension puts in force beside the user's while it types (and, after a text into an X11
// window, which may read its keys later, for a while after).
class GnomeDesktop : public WindowActivation, public KeyInjection, public PointerWindows
{
public:
    GnomeDesktop() = default;
    ~GnomeDesktop() override;

    // True when the extension runs and answers this copy of Keyflare.
    bool isAvailable();
    bool refusedUs() const { return m_shell.refusedUs(); }
    bool isStale() const { return m_shell.isStale(); }

    WindowId activate(const QString& title) override;
    Typing inject(WindowId target, const QString& keys) override;
    Typing awaitReleasedModifiers() override;
    PointedWindow windowUnderPointer() override;

    // Why the last call failed, for diagnostics.
    QString lastError() const { return m_lastError; }
    // How long the last text kept the user's own keys remapped, in microseconds.
    uint32_t lastRemappedUs() const { return m_remappedUs; }

private:
    GnomeShell m_shell;
    QString m_lastError;
    uint32_t m_remappedUs = 0;
    bool m_typed = false;
};
