#include "GnomeUser.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QTest>

namespace {
constexpr uint kControlL = 0xffe3;

QDBusMessage ask(const QString& method, const QVariantList& args)
{
    QDBusMessage m = QDBusMessage::createMethodCall(
        QStringLiteral("org.keyflare.TestHand"), QStringLiteral("/org/keyflare/TestHand"),
        QStringLiteral("org.keyflare.TestHand"), method);
    m.setArguments(args);
    // Answered once the shell has taken the event in: what comes after it comes after.
    return QDBusConnection::sessionBus().call(m, QDBus::Block, 5000);
}
} // namespace

QRect GnomeUser::windowRect(const QString& title)
{
    (void)waitForWindow(title);
    const QDBusMessage reply = ask(QStringLiteral("WindowRect"), {title});
    if (reply.arguments().isEmpty())
        return {};
    int x = 0, y = 0, w = 0, h = 0;
    const QDBusArgument arg = reply.arguments().first().value<QDBusArgument>();
    arg.beginStructure();
    arg >> x >> y >> w >> h;
    arg.endStructure();
    return QRect(x, y, w, h);
}

void GnomeUser::moveTo(QPoint p)
{
    ask(QStringLiteral("MoveTo"), {p.x(), p.y()});
}

void GnomeUser::moveOver(const QString& title, QPoint p)
{
    // Moved once more each time, a pixel aside and back, until the shell has looked again.
    int nudge = 0;
    (void)QTest::qWaitFor(
        [&] {
            moveTo(p + QPoint(nudge, 0));
            nudge = nudge == 0 ? 1 : 0;
            return ask(QStringLiteral("PointerOver"), {title}).arguments().value(0).toBool();
        },
        5000);
    moveTo(p);
}

void GnomeUser::button(int button, bool down)
{
    // Clutter numbers the buttons as the tests do: 1 left, 2 middle, 3 right.
    ask(QStringLiteral("Button"), {uint(button), down});
}

void GnomeUser::ctrl(bool down)
{
    ask(QStringLiteral("Key"), {kControlL, down});
}

void GnomeUser::tapKey(uint keysym)
{
    ask(QStringLiteral("Key"), {keysym, true});
    ask(QStringLiteral("Key"), {keysym, false});
}

void GnomeUser::selectInputSource(int index)
{
    ask(QStringLiteral("SelectInputSource"), {uint(index)});
}

int GnomeUser::layoutInForce()
{
    const QDBusMessage reply = ask(QStringLiteral("LayoutInForce"), {});
    return reply.arguments().isEmpty() ? -1 : reply.arguments().first().toInt();
}
