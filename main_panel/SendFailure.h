#pragma once

#include "Services.h"

// What the panel tells the user when a send to title failed: reached is whether the window was
// found and took the focus. Each cause names what the user can do about it; only a window that
// cannot be found or reached is blamed on the target.
QString sendFailureMessage(const QString& title, bool reached, Typing result);
