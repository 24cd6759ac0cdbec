#include "GnomeSetup.h"

#include "../UnavailableDesktop.h"
#include "GnomeDesktop.h"
#include "GnomeExtension.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QThread>

namespace {
// How long GNOME Shell may take to start an extension just enabled.
constexpr int kAttempts = 30;
constexpr int kRetryMs = 100;

const QString kLogout = QStringLiteral("GNOME Shell loads it at the next login: log out and back "
                                       "in once, then start Keyflare again.");

// The extension of this Keyflare, for a user who does not have it yet, installed where they
// agree; what they are told either way.
QString offerInstall(const QString& exeDir, const QString& installedData, const QString& executable,
                     Dialogs& ask)
{
    const int answer = ask.message(
        QStringLiteral("GNOME lets programs reach other windows only through an extension "
                       "of GNOME Shell. Keyflare brings its own, which answers Keyflare "
                       "alone.\r\n\r\nInstall and enable Keyflare's extension now? ") +
            kLogout,
        Dialogs::YesNo | Dialogs::Question);
    QString error;
    if (answer == Dialogs::Yes &&
        GnomeExtension::install(exeDir, installedData, executable, &error))
        return QStringLiteral("Keyflare's GNOME Shell extension is installed and enabled. ") +
               kLogout;
    return error.isEmpty()
               ? QStringLiteral("Keyflare reaches other windows on GNOME only through "
                                "its GNOME Shell extension, which is not installed. "
                                "Start Keyflare again to install it.")
               : QStringLiteral("Keyflare could not install its GNOME Shell extension: %1.")
                     .arg(error);
}

// Why the extension does not serve this copy, with what was done about it: a copy the shell
// does not load is replaced, and a user without one is offered it.
QString whyNotServed(GnomeDesktop& gnome, int major, bool ownCopy, const QString& installedData,
                     Dialogs& ask)
{
    const QString executable =
        QFileInfo(QCoreApplication::applicationFilePath()).canonicalFilePath();
    const QString exeDir = QCoreApplication::applicationDirPath();
    if (gnome.isStale() && !ownCopy) {
        // The package was updated: the shell runs the extension it loaded at login.
        return QStringLiteral("GNOME Shell runs the extension of another release of Keyflare, "
                              "which this one cannot use. ") +
               kLogout;
    }
    if (gnome.refusedUs())
        return QStringLiteral("Keyflare's GNOME Shell extension answers only the copies of "
                              "Keyflare it was installed for, and not this one (%1).")
            .arg(executable);
    if (GnomeExtension::extensionsTurnedOff())
        return QStringLiteral("GNOME Shell's extensions are turned off, and Keyflare reaches "
                              "other windows on GNOME only through its extension. Turn them on "
                              "in the Extensions app, then start Keyflare again.");
    if (ownCopy && (gnome.isStale() || !GnomeExtension::userCopyLoads(major))) {
        // A copy installed by another release of Keyflare, or under an older release of GNOME
        // Shell, which this one does not load.
        QString error;
        return GnomeExtension::install(exeDir, installedData, executable, &error)
                   ? QStringLiteral("Keyflare has put the form of its GNOME Shell extension "
                                    "that GNOME %1 loads and this Keyflare uses in place of "
                                    "the one it found. ")
                             .arg(major) +
                         kLogout
                   : QStringLiteral("Keyflare could not install its GNOME Shell extension: %1.")
                         .arg(error);
    }
    if (ownCopy || GnomeExtension::enableForAllUsers(exeDir, major, executable))
        return QStringLiteral("Keyflare's GNOME Shell extension is installed but not running. ") +
               kLogout + QStringLiteral(" While the screen is locked, GNOME runs no extension.");
    return offerInstall(exeDir, installedData, executable, ask);
}
} // namespace

std::unique_ptr<DesktopBackend> GnomeSetup::backend(const QString& installedData, Dialogs& ask)
{
    auto gnome = std::make_unique<GnomeDesktop>();
    const QString executable =
        QFileInfo(QCoreApplication::applicationFilePath()).canonicalFilePath();
    const QString exeDir = QCoreApplication::applicationDirPath();
    // A release newer than any this Keyflare knows may have changed what the extension relies
    // on: nothing is typed there, and the user learns why.
    const int major = GnomeExtension::runningShellMajor();
    const QString unsupported = GnomeExtension::unsupportedRelease(major);
    if (!unsupported.isEmpty())
        return std::make_unique<UnavailableDesktop>(unsupported);
    const bool ownCopy =
        QFileInfo::exists(GnomeExtension::userFolder() + QStringLiteral("/extension.js"));
    // The package's extension, in the form this release loads, is enabled for the user; the
    // shell runs it at once where it knew it at login.
    if (!ownCopy && !gnome->isAvailable() &&
        GnomeExtension::enableForAllUsers(exeDir, major, executable)) {
        for (int attempt = 0; attempt < kAttempts && !gnome->isAvailable(); ++attempt)
            QThread::msleep(kRetryMs);
    }
    // The user's extension answers the copies of Keyflare it lists: a new copy is added only
    // when the user says so.
    const QString approved = GnomeExtension::userFolder() + QStringLiteral("/approved-callers");
    if (!gnome->isAvailable() && gnome->refusedUs() && QFileInfo::exists(approved) &&
        ask.message(QStringLiteral("Keyflare's GNOME Shell extension types only for the copies "
                                   "of Keyflare you allow, and not yet for this one:\r\n\r\n"
                                   "%1\r\n\r\nAllow this copy to type into other windows? "
                                   "Removing its line from %2 takes the permission back.")
                        .arg(executable, approved),
                    Dialogs::YesNo | Dialogs::Question) == Dialogs::Yes)
        (void)GnomeExtension::approve(executable);
    if (gnome->isAvailable())
        return gnome;
    return std::make_unique<UnavailableDesktop>(
        whyNotServed(*gnome, major, ownCopy, installedData, ask));
}
