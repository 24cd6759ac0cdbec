#pragma once

#include "../TypingBackend.h"
#include "GnomeShell.h"

#include <QString>
#include <memory>

class QDBusServiceWatcher;

// The window services of GNOME Shell on Wayland, through Keyflare's own shell extension: GNOME
// offers programs no protocol for them. Each text is typed with layouts made for it, which the
// extension puts in force beside the user's while it types (and, after a text into an X11
// window, which may read its keys later, for a while after).
class GnomeDesktop : public TypingBackend
{
public:
    GnomeDesktop();
    ~GnomeDesktop() override;

    // True when the extension runs and answers this copy of Keyflare.
    bool isAvailable();
    bool refusedUs() const { return m_shell.refusedUs(); }
    bool isStale() const { return m_shell.isStale(); }

    PointedWindow windowUnderPointer() override;
    // The windows, watched for changes; none where the extension does not answer this copy.
    std::optional<std::vector<CandidateWindow>> windows() override;

    // How long the last text kept the user's own keys remapped, in microseconds.
    uint32_t lastRemappedUs() const { return m_remappedUs; }

private:
    WindowId activateMatch(const QString& title) override;
    // Waits until no modifier is held on any keyboard, as the shell sees them, then has the
    // shell type chars with layouts made for them.
    Typing type(WindowId target, const std::vector<char32_t>& chars) override;

    GnomeShell m_shell;
    // Tells when the extension starts or stops; the shell it runs in is asked for word of window
    // changes.
    std::unique_ptr<QDBusServiceWatcher> m_extensionWatch;
    QString m_watchedOwner;
    uint32_t m_remappedUs = 0;
    bool m_typed = false;
};
