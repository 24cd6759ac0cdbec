#pragma once

#include "../Services.h"

#include <QString>
#include <memory>

// A start under GNOME Shell, where Keyflare reaches other windows only through its own shell
// extension: enabling the installed one, asking before a copy is approved or the extension is
// installed, and telling the user what is missing and what to do.
namespace GnomeSetup {

// GNOME's backend once the extension runs and answers this copy; where it does not, a backend
// that says why and types nothing. installedData: where an installed copy's data lives. ask
// answers the questions.
std::unique_ptr<DesktopBackend> backend(const QString& installedData, Dialogs& ask);

} // namespace GnomeSetup
