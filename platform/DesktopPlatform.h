#pragma once

#include "DesktopServices.h"

#include <QString>
#include <memory>

// The real services of the desktop Keyflare runs on, chosen by the kind of session.
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
    // KDE Plasma: KWin's services, once KWin allows them to this program.
    void useKWin();
    // GNOME Shell: Keyflare's own extension, once the user has it and it answers this program.
    void useGnome();

    QtSettingsStore m_settings;
    ExecutableFolder m_folder;
    QString m_installedData; // where an installed copy's data lives
    QtEventLoop m_events;
    QtDialogs m_dialogs;
    Dialogs& m_ask;
    QtTopmostBand m_topmost;
    std::unique_ptr<DesktopBackend> m_backend;
};
