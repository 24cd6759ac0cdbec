#pragma once

#include "DesktopServices.h"

#include <QString>
#include <memory>

class X11Desktop;
class WlrootsDesktop;
class KWinDesktop;
class GnomeDesktop;

// Window services for a desktop that does not let programs reach other programs' windows (a
// Wayland compositor that offers neither the wlroots protocols nor KWin's own, such as weston):
// nothing is activated or typed, and the reason names the desktop.
class UnavailableDesktop : public WindowActivation, public KeyInjection, public PointerWindows
{
public:
    explicit UnavailableDesktop(QString reason) : m_reason(std::move(reason)) {}
    WindowId activate(const QString&) override { return 0; }
    QString unavailableReason() const override { return m_reason; }
    Typing inject(WindowId, const QString&) override { return Typing::Unavailable; }
    PointedWindow windowUnderPointer() override { return {}; }

private:
    QString m_reason;
};

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
    std::unique_ptr<X11Desktop> m_x11;
    std::unique_ptr<WlrootsDesktop> m_wlroots;
    std::unique_ptr<KWinDesktop> m_kwin;
    std::unique_ptr<GnomeDesktop> m_gnome;
    std::unique_ptr<UnavailableDesktop> m_unavailable;
};
