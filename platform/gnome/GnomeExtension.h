#pragma once

#include <QString>

// Keyflare's GNOME Shell extension as a user has it: installed in their own extensions folder,
// enabled, and answering the copies of Keyflare it lists (its "approved-callers" file).
namespace GnomeExtension {

QString uuid();
// The name of the extension installed for all users in form: a shell loads only the one whose
// releases include its own, so each form is an extension of its own.
QString systemUuid(const QString& form);
// The user's own copy of the extension.
QString userFolder();
// The running GNOME Shell's major release, as the shell tells it; 0 when it cannot be learnt.
int runningShellMajor();
// The form of the extension GNOME Shell release major loads ("legacy" or "module"); empty when
// this Keyflare does not support that release.
QString formFor(int major);
// What a user of GNOME Shell release major is told when this Keyflare does not support it yet;
// empty for a supported or unknown release.
QString unsupportedRelease(int major);
// Enables the extension installed for all users beside the executable in exeDir, in the form
// that release major loads, when it answers executable; false when there is none such or it
// cannot be enabled.
bool enableForAllUsers(const QString& exeDir, int major, const QString& executable);
// True when the user's own copy is the form that release major loads.
bool userCopyLoads(int major);
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
