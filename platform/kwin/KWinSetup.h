#pragma once

#include "../Services.h"

#include <QString>
#include <memory>

// A start under KDE Plasma. KWin serves only programs that a desktop file names: a copy run from
// anywhere else writes one for itself, waits for KWin to take it up, and says so once.
namespace KWinSetup {

// KWin's backend once KWin allows this copy (ownAppId: the application id of its windows); where
// it does not, a backend that says why and types nothing. ask hears of a new registration.
std::unique_ptr<DesktopBackend> backend(const QString& ownAppId, Dialogs& ask);

} // namespace KWinSetup
