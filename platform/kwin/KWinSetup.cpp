#include "KWinSetup.h"

#include "../UnavailableDesktop.h"
#include "KWinDesktop.h"
#include "KWinPermission.h"

#include <QCoreApplication>
#include <QStandardPaths>
#include <QThread>

namespace {
// How long a first start waits for KWin to take up the copy's desktop file.
constexpr int kAttempts = 5;
constexpr int kRetryMs = 1000;
} // namespace

std::unique_ptr<DesktopBackend> KWinSetup::backend(const QString& ownAppId, Dialogs& ask)
{
    auto kwin = std::make_unique<KWinDesktop>(ownAppId);
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
            for (int attempt = 0; attempt < kAttempts && !kwin->isAllowed(); ++attempt) {
                QThread::msleep(kRetryMs);
                kwin = std::make_unique<KWinDesktop>(ownAppId);
            }
        }
    }
    if (kwin->isAllowed()) {
        if (!written.isEmpty())
            ask.message(QStringLiteral("Keyflare has registered this copy with KDE Plasma, "
                                       "so that it may type into other windows:\r\n\r\n"
                                       "%1\r\n\r\nDelete that file to take the "
                                       "permission back.")
                            .arg(written),
                        Dialogs::OkOnly);
        return kwin;
    }
    return std::make_unique<UnavailableDesktop>(
        error.isEmpty()
            ? QStringLiteral("KDE Plasma does not let Keyflare type into other windows yet. "
                             "Plasma allows it only to programs that a desktop file names, and "
                             "it has not taken up the one for this copy of Keyflare.\r\n\r\n"
                             "Log out and back in, then start Keyflare again.")
            : QStringLiteral("KDE Plasma lets only programs that a desktop file names type into "
                             "other windows, and Keyflare could not write one: %1.")
                  .arg(error));
}
