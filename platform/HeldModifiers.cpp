#include "HeldModifiers.h"

#include <QDeadlineTimer>
#include <QGuiApplication>
#include <QThread>

bool waitForReleasedModifiers(int ms)
{
    constexpr Qt::KeyboardModifiers held =
        Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier;
    const QDeadlineTimer deadline(ms);
    for (;;) {
        QCoreApplication::processEvents();
        if (!QGuiApplication::focusWindow() || !(QGuiApplication::queryKeyboardModifiers() & held))
            return true;
        if (deadline.hasExpired())
            return false;
        QThread::msleep(2);
    }
}
