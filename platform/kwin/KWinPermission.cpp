#include "KWinPermission.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>

namespace KWinPermission {

QByteArray desktopEntry(const QString& executable)
{
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Keyflare (" +
           QDir(executable).dirName().toUtf8() +
           ")\n"
           "Comment=Lets this copy of Keyflare type into other windows under KDE Plasma\n"
           "Exec=" +
           executable.toUtf8() +
           "\n"
           "NoDisplay=true\n"
           "X-KDE-Wayland-Interfaces=org_kde_kwin_fake_input,org_kde_plasma_window_management,"
           "org_kde_kwin_keystate\n";
}

QString arrange(const QString& executable, const QString& applicationsFolder, QString* error)
{
    // One file per copy, named after its path, so that copies in several places each have theirs.
    const QString name =
        QStringLiteral("keyflare-%1.desktop")
            .arg(QString::fromLatin1(
                QCryptographicHash::hash(executable.toUtf8(), QCryptographicHash::Sha1)
                    .toHex()
                    .left(12)));
    const QString path = QDir(applicationsFolder).filePath(name);
    const QByteArray entry = desktopEntry(executable);
    QFile existing(path);
    if (existing.open(QIODevice::ReadOnly) && existing.readAll() == entry)
        return QString();
    QSaveFile file(path);
    if (!QDir().mkpath(applicationsFolder) || !file.open(QIODevice::WriteOnly) ||
        file.write(entry) != entry.size() || !file.commit()) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return QString();
    }
    return path;
}

void refreshServiceCache()
{
    for (const char* tool : {"kbuildsycoca6", "kbuildsycoca5"}) {
        const QString program = QStandardPaths::findExecutable(QString::fromLatin1(tool));
        if (!program.isEmpty()) {
            QProcess::execute(program, {});
            return;
        }
    }
}

} // namespace KWinPermission
