#include "WindowChanges.h"

#include <QTimer>

void WindowChanges::announce()
{
    if (m_pending)
        return;
    m_pending = true;
    QTimer::singleShot(0, this, [this] {
        m_pending = false;
        Q_EMIT changed();
    });
}
