#include "DesktopPlatform.h"

#include "wlroots/WlrootsDesktop.h"
#include "x11/X11Desktop.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QGuiApplication>

namespace {
// The application id the compositor knows Keyflare's windows by, as Qt gives it to them.
QString ownAppId()
{
    QString name = QGuiApplication::desktopFileName();
    if (name.endsWith(QLatin1String(".desktop")))
        name.chop(8);
    return name.isEmpty() ? QFileInfo(QCoreApplication::applicationFilePath()).baseName() : name;
}
} // namespace

DesktopPlatform::DesktopPlatform(const QString& installedBinDir) : m_folder(installedBinDir)
{
    // The session decides, not Qt's platform plugin: in a Wayland session an X11 connection
    // (XWayland) would see only the few programs that run under it.
    const bool wayland =
        !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") || qgetenv("XDG_SESSION_TYPE") == "wayland";
    if (wayland) {
        auto wlroots = std::make_unique<WlrootsDesktop>(ownAppId());
        if (wlroots->isSupported())
            m_wlroots = std::move(wlroots);
        else
            m_unavailable = std::make_unique<UnavailableDesktop>(unavailableHere());
    } else {
        m_x11 = std::make_unique<X11Desktop>();
    }
}

QString DesktopPlatform::unavailableHere()
{
    const QString desktop =
        qEnvironmentVariable("XDG_CURRENT_DESKTOP").split(QLatin1Char(':')).first();
    return QStringLiteral("This desktop (%1) does not let programs type into other windows yet, "
                          "so Keyflare cannot reach any window here.\r\n\r\nKeyflare types "
                          "on X11 desktops and on Wayland desktops built on wlroots (sway, "
                          "Hyprland, river, labwc, Wayfire).")
        .arg(desktop.isEmpty() ? QStringLiteral("Wayland") : desktop);
}

DesktopPlatform::~DesktopPlatform() = default;

Platform DesktopPlatform::platform()
{
    if (m_x11)
        return {m_settings, m_folder, m_events, *m_x11, *m_x11, m_topmost, *m_x11, m_dialogs};
    if (m_wlroots)
        return {m_settings, m_folder,  m_events,   *m_wlroots,
                *m_wlroots, m_topmost, *m_wlroots, m_dialogs};
    return {m_settings,     m_folder,  m_events,       *m_unavailable,
            *m_unavailable, m_topmost, *m_unavailable, m_dialogs};
}
