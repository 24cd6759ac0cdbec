#include "ScreenReader.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>

namespace {
const QString kConnection = QStringLiteral("keyflare-screen-reader");
const QString kAccessible = QStringLiteral("org.a11y.atspi.Accessible");

QDBusConnection accessibilityBus()
{
    const QDBusMessage reply = QDBusConnection::sessionBus().call(QDBusMessage::createMethodCall(
        "org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress"));
    return QDBusConnection::connectToBus(reply.arguments().value(0).toString(), kConnection);
}
} // namespace

ScreenReader::ScreenReader() : m_bus(accessibilityBus())
{
}

ScreenReader::~ScreenReader()
{
    QDBusConnection::disconnectFromBus(kConnection);
}

QString ScreenReader::property(const QString& path, const char* which)
{
    QDBusMessage m =
        QDBusMessage::createMethodCall(m_app, path, "org.freedesktop.DBus.Properties", "Get");
    m.setArguments({kAccessible, QString::fromLatin1(which)});
    return m_bus.call(m).arguments().value(0).value<QDBusVariant>().variant().toString();
}

QString ScreenReader::description(qint64 pid, const QString& name)
{
    // The widget found last is read again while it is still there under that name.
    if (!m_path.isEmpty() && property(m_path, "Name") == name)
        return property(m_path, "Description");
    m_path.clear();
    m_app.clear();
    QDBusConnectionInterface* bus = m_bus.interface(); // none where the bus cannot be reached
    for (const QString& n : bus ? bus->registeredServiceNames().value() : QStringList()) {
        if (n.startsWith(':') && bus->servicePid(n).value() == pid)
            m_app = n;
    }
    // Breadth first from the program's root: its windows, then their widgets.
    QStringList paths{"/org/a11y/atspi/accessible/root"};
    for (int i = 0; !m_app.isEmpty() && i < paths.size() && i < 2000; ++i) {
        if (i > 0 && property(paths[i], "Name") == name) {
            m_path = paths[i];
            return property(m_path, "Description");
        }
        const QDBusMessage reply =
            m_bus.call(QDBusMessage::createMethodCall(m_app, paths[i], kAccessible, "GetChildren"));
        const QDBusArgument children = reply.arguments().value(0).value<QDBusArgument>();
        if (reply.type() != QDBusMessage::ReplyMessage ||
            children.currentType() != QDBusArgument::ArrayType)
            continue;
        children.beginArray();
        while (!children.atEnd()) {
            QString service;
            QDBusObjectPath path;
            children.beginStructure();
            children >> service >> path;
            children.endStructure();
            paths << path.path();
        }
        children.endArray();
    }
    return {};
}
