#include "KWinPermission.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>

namespace KWinPermission {

namespace {
// How long the rebuild of KDE's service cache may take; it takes about a second.
constexpr int kCacheRebuildMs = 15000;

// Characters that the Desktop Entry Specification escapes inside a quoted argument, or expands
// (%), which KWin does not undo when it compares the file's command with a program's path: a
// path holding one cannot be named so that KWin finds it. Control characters cannot be named at
// all.
bool nameable(const QString& path)
{
    for (const QChar c : path) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f || QStringLiteral("\"`$\\%").contains(c))
            return false;
    }
    return true;
}
} // namespace

std::optional<QByteArray> desktopEntry(const QString& executable)
{
    if (!nameable(executable))
        return std::nullopt;
    // The path quoted as one argument, so that spaces and the shell's characters stay in it.
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Keyflare (" +
           QDir(executable).dirName().toUtf8() +
           ")\n"
           "Comment=Lets this copy of Keyflare type into other windows under KDE Plasma\n"
           "Exec=\"" +
           executable.toUtf8() +
           "\"\n"
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
    const std::optional<QByteArray> entry = desktopEntry(executable);
    if (!entry) {
        *error = QStringLiteral("the path of this copy (%1) holds a character that a desktop "
                                "file cannot name (\", `, $, \\, % or a control character). "
                                "Move Keyflare into a folder whose path has none of them")
                     .arg(executable);
        return QString();
    }
    QFile existing(path);
    if (existing.open(QIODevice::ReadOnly) && existing.readAll() == *entry)
        return QString();
    QSaveFile file(path);
    if (!QDir().mkpath(applicationsFolder) || !file.open(QIODevice::WriteOnly) ||
        file.write(*entry) != entry->size() || !file.commit()) {
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
            QProcess rebuild;
            rebuild.start(program, {});
            if (!rebuild.waitForFinished(kCacheRebuildMs))
                rebuild.kill();
            rebuild.waitForFinished(1000);
            return;
        }
    }
}

} // namespace KWinPermission
