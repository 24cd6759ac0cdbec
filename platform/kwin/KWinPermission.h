#pragma once

#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>
#include <optional>

// KWin offers fake input and window management only to programs that a desktop file names by
// the absolute path of their executable. The installed package ships such a file; a copy run
// from anywhere else writes one for itself in the user's applications folder.
namespace KWinPermission {

// The desktop entry that lets the program at executable (an absolute path) use what it needs;
// nullopt when the path holds a character that KWin could not match (a quote, a backslash, ...).
std::optional<QByteArray> desktopEntry(const QString& executable);
// Writes that entry into applicationsFolder unless a file there says it already. Returns the
// file's path when it was written now; empty when nothing was needed, or on failure with error.
QString arrange(const QString& executable, const QString& applicationsFolder, QString* error);
// Tells KDE's service cache of the new file, so that KWin finds it for the next connection;
// waits a bounded time. KF6's rebuild (kbuildsycoca6, else KF5's) takes up applications only
// when it finds an applications menu, which a Plasma login names with XDG_MENU_PREFIX.
void refreshServiceCache();
// Makes environment name an applications menu for the rebuild: the one its XDG_MENU_PREFIX
// names, else Plasma's, else one written into spareFolder; false when none can be had.
bool menuFolder(QProcessEnvironment& environment, const QString& spareFolder);

} // namespace KWinPermission
