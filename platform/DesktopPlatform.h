#pragma once

#include "DesktopServices.h"

#include <memory>

class X11Desktop;
class WlrootsDesktop;

// Window services for a desktop whose window system Keyflare cannot drive yet (a Wayland
// compositor without the wlroots protocols, for now): every activation fails, so a send reports
// that it could not reach the target.
class UnavailableDesktop : public WindowActivation, public KeyInjection, public PointerWindows
{
public:
    WindowId activate(const QString&) override { return 0; }
    Typing inject(WindowId, const QString&) override { return Typing::Unavailable; }
    PointedWindow windowUnderPointer() override { return {}; }
};

// The real services of the desktop Keyflare runs on, chosen by the kind of session.
class DesktopPlatform
{
public:
    // installedBinDir: where an installed copy's executable lives.
    explicit DesktopPlatform(const QString& installedBinDir);
    ~DesktopPlatform();
    DesktopPlatform(const DesktopPlatform&) = delete;
    DesktopPlatform& operator=(const DesktopPlatform&) = delete;

    Platform platform();

private:
    QtSettingsStore m_settings;
    ExecutableFolder m_folder;
    QtEventLoop m_events;
    QtDialogs m_dialogs;
    QtTopmostBand m_topmost;
    std::unique_ptr<X11Desktop> m_x11;
    std::unique_ptr<WlrootsDesktop> m_wlroots;
    UnavailableDesktop m_unavailable;
};
