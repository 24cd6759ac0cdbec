#include "DesktopPlatform.h"

#include "UnavailableDesktop.h"
#include "gnome/GnomeSetup.h"
#include "kwin/KWinSetup.h"
#include "wlroots/WlrootsDesktop.h"
#include "x11/X11Desktop.h"

#include <QCoreApplication>
#include <QDir>
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

// A wlroots compositor's backend, where the compositor serves one.
std::unique_ptr<DesktopBackend> wlrootsOrNone()
{
    auto wlroots = std::make_unique<WlrootsDesktop>(ownAppId());
    if (!wlroots->isSupported())
        return std::make_unique<UnavailableDesktop>(DesktopPlatform::unavailableHere());
    wlroots->prepareKeyboard();
    return wlroots;
}
} // namespace

DesktopPlatform::DesktopPlatform(const QString& installedBinDir, Dialogs* ask)
    : m_folder(installedBinDir), m_ask(ask ? *ask : m_dialogs)
{
    // The session decides, not Qt's platform plugin: in a Wayland session an X11 connection
    // (XWayland) would see only the few programs that run under it.
    const bool wayland =
        !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") || qgetenv("XDG_SESSION_TYPE") == "wayland";
    const QStringList desktops =
        qEnvironmentVariable("XDG_CURRENT_DESKTOP").split(QLatin1Char(':'));
    if (wayland && desktops.contains(QLatin1String("KDE")))
        m_backend = KWinSetup::backend(ownAppId(), m_ask);
    else if (wayland && desktops.contains(QLatin1String("GNOME")))
        m_backend = GnomeSetup::backend(
            QDir::cleanPath(installedBinDir + QStringLiteral("/../share/keyflare")), m_ask);
    else if (wayland)
        m_backend = wlrootsOrNone();
    else
        m_backend = std::make_unique<X11Desktop>();
}

DesktopPlatform::~DesktopPlatform() = default;

QString DesktopPlatform::unavailableHere()
{
    const QString desktop =
        qEnvironmentVariable("XDG_CURRENT_DESKTOP").split(QLatin1Char(':')).first();
    return QStringLiteral(
               "This desktop (%1) does not let programs type into other windows yet, "
               "so Keyflare cannot reach any window here.\r\n\r\nKeyflare types "
               "on X11 desktops, on GNOME, on KDE Plasma and on Wayland desktops built on "
               "wlroots (sway, Hyprland, river, labwc, Wayfire).")
        .arg(desktop.isEmpty() ? QStringLiteral("Wayland") : desktop);
}

Platform DesktopPlatform::platform()
{
    return {m_settings, m_folder, m_events, *m_backend,
            *m_backend, m_topmost, *m_backend, *m_backend, m_ask};
}
