#pragma once

#include <QString>

// Keyflare's GNOME Shell extension as a user has it: installed in their own extensions folder,
// enabled, and answering the copies of Keyflare it lists (its "approved-callers" file).
namespace GnomeExtension {

QString uuid();
// The user's own copy of the extension.
QString userFolder();
// True when the user has turned GNOME Shell's extensions off.
bool extensionsTurnedOff();
// Installs the form of the extension that the running GNOME Shell loads, from the folder beside
// an executable in exeDir (or the installed data under dataDir), approves executable, and
// enables it for the next login; false, with the reason, when it cannot.
bool install(const QString& exeDir, const QString& dataDir, const QString& executable,
             QString* error);
// Adds executable to the callers the user's copy answers; false when the user has no copy of
// their own, or it cannot be written.
bool approve(const QString& executable);

} // namespace GnomeExtension
