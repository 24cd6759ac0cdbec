#pragma once

#include <QObject>

// Tells whoever watches a desktop's windows that they changed.
class WindowChanges : public QObject
{
    Q_OBJECT
public Q_SLOTS:
    // Emits changed() once the event loop runs again, once for any number of calls until then: a
    // desktop tells of changes while it is being read, and a burst (a program opening several
    // windows) is listed once.
    void announce();

Q_SIGNALS:
    // Windows opened, closed, were renamed or restacked, or the desktop began or ceased to tell.
    void changed();

private:
    bool m_pending = false;
};
