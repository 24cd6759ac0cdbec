#pragma once

#include "Services.h"

#include <QString>

// The backend of a desktop that lets Keyflare reach no other program's windows (a Wayland
// compositor that offers neither the wlroots protocols nor KWin's own, such as weston, or a KDE
// Plasma or GNOME that does not allow this copy yet): nothing is activated or typed, and the
// reason tells the user why.
class UnavailableDesktop : public DesktopBackend
{
public:
    explicit UnavailableDesktop(QString reason) : m_reason(std::move(reason)) {}
    WindowId activate(const QString&) override { return 0; }
    QString unavailableReason() const override { return m_reason; }
    Typing inject(WindowId, const QString&) override { return Typing::Unavailable; }
    PointedWindow windowUnderPointer() override { return {}; }

private:
    QString m_reason;
};
