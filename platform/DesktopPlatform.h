#pragma once

#include "DesktopServices.h"

#include <QString>
#include <memory>

// The real services of the desktop Keyflare runs on: the backend is chosen by the kind of
// session, after the onboarding KDE Plasma and GNOME need.
class DesktopPlatform
{
public:
    // installedBinDir: where an installed copy's executable lives. ask: where messages go and
    // questions are answered (a test's); by default, message boxes.
    explicit DesktopPlatform(const QString& installedBinDir, Dialogs* ask = nullptr);
    ~DesktopPlatform();
    DesktopPlatform(const DesktopPlatform&) = delete;
    DesktopPlatform& operator=(const DesktopPlatform&) = delete;

    Platform platform();
    // Why the backend's last activation or typing request failed, for diagnostics.
    QString lastError() const { return m_backend->lastError(); }
    // What a user is told where no window of another program can be reached.
    static QString unavailableHere();

private:
    QtSettingsStore m_settings;
    ExecutableFolder m_folder;
    QtEventLoop m_events;
    QtDialogs m_dialogs;
    Dialogs& m_ask;
    QtTopmostBand m_topmost;
    std::unique_ptr<DesktopBackend> m_backend;
};
