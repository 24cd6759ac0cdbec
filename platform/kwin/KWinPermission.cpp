#include "KWinPermission.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <algorithm>

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
    QString program;
    for (const char* tool : {"kbuildsycoca6", "kbuildsycoca5"}) {
        if (program.isEmpty())
            program = QStandardPaths::findExecutable(QString::fromLatin1(tool));
    }
    if (program.isEmpty())
        return;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    QTemporaryDir ownMenu;
    if (!menuFolder(environment, ownMenu.path()))
        return;
    QProcess rebuild;
    rebuild.setProcessEnvironment(environment);
    rebuild.setStandardOutputFile(QProcess::nullDevice());
    rebuild.setStandardErrorFile(QProcess::nullDevice());
    rebuild.start(program, {});
    if (!rebuild.waitForFinished(kCacheRebuildMs))
        rebuild.kill();
    rebuild.waitForFinished(1000);
}

bool menuFolder(QProcessEnvironment& environment, const QString& spareFolder)
{
    // Where the menu specification looks for menus: the user's configuration, then the system's.
    const QString home = environment.value(QStringLiteral("HOME"), QDir::homePath());
    QStringList folders = {
        environment.value(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config"))};
    const QString system = environment.value(QStringLiteral("XDG_CONFIG_DIRS"));
    folders += (system.isEmpty() ? QStringLiteral("/etc/xdg") : system)
                   .split(QLatin1Char(':'), Qt::SkipEmptyParts);
    const auto found = [&](const QString& prefix) {
        return std::any_of(folders.begin(), folders.end(), [&](const QString& folder) {
            return QFileInfo::exists(folder + QStringLiteral("/menus/") + prefix +
                                     QStringLiteral("applications.menu"));
        });
    };
    if (found(environment.value(QStringLiteral("XDG_MENU_PREFIX"))))
        return true;
    // Started from a terminal or a script that lacks the session's prefix: Plasma's menu.
    if (found(QStringLiteral("plasma-"))) {
        environment.insert(QStringLiteral("XDG_MENU_PREFIX"), QStringLiteral("plasma-"));
        return true;
    }
    // No menu at all: one that holds every application, in a folder only the rebuild reads.
    QSaveFile menu(spareFolder + QStringLiteral("/menus/applications.menu"));
    if (spareFolder.isEmpty() || !QDir().mkpath(spareFolder + QStringLiteral("/menus")) ||
        !menu.open(QIODevice::WriteOnly))
        return false;
    menu.write("<Menu><Name>Applications</Name><DefaultAppDirs/><DefaultDirectoryDirs/>"
               "<Include><All/></Include></Menu>\n");
    if (!menu.commit())
        return false;
    environment.remove(QStringLiteral("XDG_MENU_PREFIX"));
    environment.insert(QStringLiteral("XDG_CONFIG_DIRS"),
                       (QStringList{spareFolder} + folders.mid(1)).join(QLatin1Char(':')));
    return true;
}

} // namespace KWinPermission
