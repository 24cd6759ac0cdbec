#include "DesktopPlatform.h"

#include "UnavailableDesktop.h"
#include "gnome/GnomeDesktop.h"
#include "gnome/GnomeExtension.h"
#include "kwin/KWinDesktop.h"
#include "kwin/KWinPermission.h"
#include "wlroots/WlrootsDesktop.h"
#include "x11/X11Desktop.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QStandardPaths>
#include <QThread>

namespace {
// How long a first start under KDE Plasma waits for KWin to take up the copy's desktop file.
constexpr int kKWinAttempts = 5;
constexpr int kKWinRetryMs = 1000;
// How long GNOME Shell may take to start an extension just enabled.
constexpr int kGnomeAttempts = 30;
constexpr int kGnomeRetryMs = 100;

// The application id the compositor knows Keyflare's windows by, as Qt gives it to them.
QString ownAppId()
{
    QString name = QGuiApplication::desktopFileName();
    if (name.endsWith(QLatin1String(".desktop")))
        name.chop(8);
    return name.isEmpty() ? QFileInfo(QCoreApplication::applicationFilePath()).baseName() : name;
}
} // namespace

DesktopPlatform::DesktopPlatform(const QString& installedBinDir, Dialogs* ask)
    : m_folder(installedBinDir),
      m_installedData(QDir::cleanPath(installedBinDir + QStringLiteral("/../share/keyflare"))),
      m_ask(ask ? *ask : m_dialogs)
{
    // The session decides, not Qt's platform plugin: in a Wayland session an X11 connection
    // (XWayland) would see only the few programs that run under it.
    const bool wayland =
        !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") || qgetenv("XDG_SESSION_TYPE") == "wayland";
    const QStringList desktops =
        qEnvironmentVariable("XDG_CURRENT_DESKTOP").split(QLatin1Char(':'));
    if (wayland && desktops.contains(QLatin1String("KDE"))) {
        useKWin();
    } else if (wayland && desktops.contains(QLatin1String("GNOME"))) {
        useGnome();
    } else if (wayland) {
        auto wlroots = std::make_unique<WlrootsDesktop>(ownAppId());
        if (wlroots->isSupported()) {
            wlroots->prepareKeyboard();
            m_backend = std::move(wlroots);
        } else {
            m_backend = std::make_unique<UnavailableDesktop>(unavailableHere());
        }
    } else {
        m_backend = std::make_unique<X11Desktop>();
    }
}

void DesktopPlatform::useKWin()
{
    auto kwin = std::make_unique<KWinDesktop>(ownAppId());
    QString written;
    QString error;
    if (!kwin->isAllowed()) {
        // KWin lets a program type only when a desktop file names it: this copy writes its own,
        // and asks again on a new connection.
        const QString applications =
            QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
            QStringLiteral("/applications");
        written =
            KWinPermission::arrange(QCoreApplication::applicationFilePath(), applications, &error);
        if (!written.isEmpty()) {
            KWinPermission::refreshServiceCache();
            // KWin reads the new file once its service cache notices it, a moment later.
            for (int attempt = 0; attempt < kKWinAttempts && !kwin->isAllowed(); ++attempt) {
                QThread::msleep(kKWinRetryMs);
                kwin = std::make_unique<KWinDesktop>(ownAppId());
            }
        }
    }
    if (kwin->isAllowed()) {
        m_backend = std::move(kwin);
        if (!written.isEmpty())
            m_ask.message(QStringLiteral("Keyflare has registered this copy with KDE Plasma, "
                                         "so that it may type into other windows:\r\n\r\n"
                                         "%1\r\n\r\nDelete that file to take the "
                                         "permission back.")
                              .arg(written),
                          Dialogs::OkOnly);
        return;
    }
    m_backend = std::make_unique<UnavailableDesktop>(
        error.isEmpty()
            ? QStringLiteral("KDE Plasma does not let Keyflare type into other windows yet. "
                             "Plasma allows it only to programs that a desktop file names, and "
                             "it has not taken up the one for this copy of Keyflare.\r\n\r\n"
                             "Log out and back in, then start Keyflare again.")
            : QStringLiteral("KDE Plasma lets only programs that a desktop file names type into "
                             "other windows, and Keyflare could not write one: %1.")
                  .arg(error));
}

void DesktopPlatform::useGnome()
{
    auto gnome = std::make_unique<GnomeDesktop>();
    const QString executable =
        QFileInfo(QCoreApplication::applicationFilePath()).canonicalFilePath();
    const QString exeDir = QCoreApplication::applicationDirPath();
    // A release newer than any this Keyflare knows may have changed what the extension relies
    // on: nothing is typed there, and the user learns why.
    const int major = GnomeExtension::runningShellMajor();
    const QString unsupported = GnomeExtension::unsupportedRelease(major);
    if (!unsupported.isEmpty()) {
        m_backend = std::make_unique<UnavailableDesktop>(unsupported);
        return;
    }
    const bool ownCopy =
        QFileInfo::exists(GnomeExtension::userFolder() + QStringLiteral("/extension.js"));
    // The package's extension, in the form this release loads, is enabled for the user; the
    // shell runs it at once where it knew it at login.
    if (!ownCopy && !gnome->isAvailable() &&
        GnomeExtension::enableForAllUsers(exeDir, major, executable)) {
        for (int attempt = 0; attempt < kGnomeAttempts && !gnome->isAvailable(); ++attempt)
            QThread::msleep(kGnomeRetryMs);
    }
    // The user's extension answers the copies of Keyflare it lists: a new copy is added only
    // when the user says so.
    const QString approved = GnomeExtension::userFolder() + QStringLiteral("/approved-callers");
    if (!gnome->isAvailable() && gnome->refusedUs() && QFileInfo::exists(approved) &&
        m_ask.message(QStringLiteral("Keyflare's GNOME Shell extension types only for the copies "
                                     "of Keyflare you allow, and not yet for this one:\r\n\r\n"
                                     "%1\r\n\r\nAllow this copy to type into other windows? "
                                     "Removing its line from %2 takes the permission back.")
                          .arg(executable, approved),
                      Dialogs::YesNo | Dialogs::Question) == Dialogs::Yes)
        (void)GnomeExtension::approve(executable);
    if (gnome->isAvailable()) {
        m_backend = std::move(gnome);
        return;
    }
    const QString logout =
        QStringLiteral("GNOME Shell loads it at the next login: log out and back "
                       "in once, then start Keyflare again.");
    QString reason;
    if (gnome->isStale() && !ownCopy) {
        // The package was updated: the shell runs the extension it loaded at login.
        reason = QStringLiteral("GNOME Shell runs the extension of another release of Keyflare, "
                                "which this one cannot use. ") +
                 logout;
    } else if (gnome->refusedUs()) {
        reason = QStringLiteral("Keyflare's GNOME Shell extension answers only the copies of "
                                "Keyflare it was installed for, and not this one (%1).")
                     .arg(executable);
    } else if (GnomeExtension::extensionsTurnedOff()) {
        reason = QStringLiteral("GNOME Shell's extensions are turned off, and Keyflare reaches "
                                "other windows on GNOME only through its extension. Turn them on "
                                "in the Extensions app, then start Keyflare again.");
    } else if (ownCopy && (gnome->isStale() || !GnomeExtension::userCopyLoads(major))) {
        // A copy installed by another release of Keyflare, or under an older release of GNOME
        // Shell, which this one does not load.
        QString error;
        reason = GnomeExtension::install(exeDir, m_installedData, executable, &error)
                     ? QStringLiteral("Keyflare has put the form of its GNOME Shell extension "
                                      "that GNOME %1 loads and this Keyflare uses in place of "
                                      "the one it found. ")
                               .arg(major) +
                           logout
                     : QStringLiteral("Keyflare could not install its GNOME Shell extension: "
                                      "%1.")
                           .arg(error);
    } else if (ownCopy || GnomeExtension::enableForAllUsers(exeDir, major, executable)) {
        reason = QStringLiteral("Keyflare's GNOME Shell extension is installed but not running. ") +
                 logout + QStringLiteral(" While the screen is locked, GNOME runs no extension.");
    } else {
        const int answer = m_ask.message(
            QStringLiteral("GNOME lets programs reach other windows only through an extension "
                           "of GNOME Shell. Keyflare brings its own, which answers Keyflare "
                           "alone.\r\n\r\nInstall and enable Keyflare's extension now? ") +
                logout,
            Dialogs::YesNo | Dialogs::Question);
        QString error;
        if (answer == Dialogs::Yes &&
            GnomeExtension::install(exeDir, m_installedData, executable, &error)) {
            reason = QStringLiteral("Keyflare's GNOME Shell extension is installed and enabled. ") +
                     logout;
        } else {
            reason = error.isEmpty()
                         ? QStringLiteral("Keyflare reaches other windows on GNOME only through "
                                          "its GNOME Shell extension, which is not installed. "
                                          "Start Keyflare again to install it.")
                         : QStringLiteral("Keyflare could not install its GNOME Shell extension: "
                                          "%1.")
                               .arg(error);
        }
    }
    m_backend = std::make_unique<UnavailableDesktop>(reason);
}

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

DesktopPlatform::~DesktopPlatform() = default;

Platform DesktopPlatform::platform()
{
    return {m_settings, m_folder,  m_events,   *m_backend,
            *m_backend, m_topmost, *m_backend, m_ask};
}
