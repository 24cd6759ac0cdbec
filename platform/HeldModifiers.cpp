#include "HeldModifiers.h"

#include <QDeadlineTimer>
#include <QGuiApplication>
#include <QThread>

namespace {
// A Shift, Ctrl or Alt still held from the click would change every key typed.
constexpr int kModifierWaitMs = 2000;
} // namespace

Typing waitForReleasedModifiers()
{
    constexpr Qt::KeyboardModifiers held =
        Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier;
    QString unused;
    return waitUntilReleased(
        [] {
            QCoreApplication::processEvents();
            return std::optional<bool>(QGuiApplication::focusWindow() &&
                                       (QGuiApplication::queryKeyboardModifiers() & held));
        },
        2, &unused);
}

Typing waitUntilReleased(const std::function<std::optional<bool>()>& held, int pollMs,
                         QString* error)
{
    const QDeadlineTimer deadline(kModifierWaitMs);
    for (;;) {
        const std::optional<bool> down = held();
        if (!down)
            return Typing::Unavailable;
        if (!*down)
            return Typing::Done;
        if (deadline.hasExpired()) {
            *error = QStringLiteral("a modifier key is still held");
            return Typing::ModifiersHeld;
        }
        QThread::msleep(pollMs);
    }
}
