#include "KWinPointer.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDeadlineTimer>

namespace {
// KWin runs the script at once; an answer later than this is a KWin too busy to ask.
constexpr int kAnswerWaitMs = 500;
const QString kPluginName = QStringLiteral("keyflare-pointer");

// Plasma 6 renamed clientList to windowList; both are asked for.
const char kScript[] = R"(
(function () {
    var pos = workspace.cursorPos;
    var list = workspace.windowList ? workspace.windowList() : workspace.clientList();
    var found = null;
    for (var i = 0; i < list.length; ++i) {
        var w = list[i];
        var g = w.frameGeometry;
        if (w.minimized || !(w.normalWindow || w.dialog))
            continue;
        if (pos.x >= g.x && pos.x < g.x + g.width && pos.y >= g.y && pos.y < g.y + g.height &&
            (!found || w.stackingOrder > found.stackingOrder))
            found = w;
    }
    callDBus("%1", "/Pointer", "org.keyflare.Pointer", "pointed",
             found ? String(found.internalId) : "", found ? found.caption : "");
})();
)";
} // namespace

KWinPointer::KWinPointer()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface()->isServiceRegistered(QStringLiteral("org.kde.KWin")))
        return;
    // One name per object: a process may hold several.
    static int count = 0;
    m_service = QStringLiteral("org.keyflare.Keyflare.p%1_%2")
                    .arg(QCoreApplication::applicationPid())
                    .arg(++count);
    if (!bus.registerService(m_service) ||
        !bus.registerObject(QStringLiteral("/Pointer"), this,
                            QDBusConnection::ExportScriptableSlots))
        return;
    if (!m_script.open() ||
        m_script.write(QString::fromLatin1(kScript).arg(m_service).toUtf8()) < 0 ||
        !m_script.flush())
        return;
    m_available = true;
}

KWinPointer::~KWinPointer()
{
    if (m_available)
        QDBusConnection::sessionBus().unregisterService(m_service);
}

void KWinPointer::pointed(const QString& uuid, const QString& caption)
{
    m_answered = true;
    m_uuid = uuid;
    m_caption = caption;
}

bool KWinPointer::windowUnderPointer(QString* uuid, QString* caption)
{
    if (!m_available || m_busy)
        return false;
    m_busy = true;
    // Plain calls with a short timeout: an interface object would ask KWin to describe itself
    // first, and a busy KWin must not freeze the grabber.
    const auto scripting = [](const QString& method, const QVariantList& args) {
        QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("org.kde.KWin"), QStringLiteral("/Scripting"),
            QStringLiteral("org.kde.kwin.Scripting"), method);
        call.setArguments(args);
        return QDBusConnection::sessionBus().call(call, QDBus::Block, kAnswerWaitMs);
    };
    // A script left behind by an earlier look that KWin never finished would block the name.
    scripting(QStringLiteral("unloadScript"), {kPluginName});
    const QDBusMessage loaded =
        scripting(QStringLiteral("loadScript"), {m_script.fileName(), kPluginName});
    m_answered = false;
    if (loaded.type() == QDBusMessage::ReplyMessage && loaded.arguments().value(0).toInt() >= 0) {
        scripting(QStringLiteral("start"), {}); // runs the scripts loaded and not yet running
        const QDeadlineTimer deadline(kAnswerWaitMs);
        // All events: Qt on Wayland holds back input left out of such a wait for long after.
        // A timer does not fire again inside its own handler, and m_busy keeps others out.
        while (!m_answered && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        scripting(QStringLiteral("unloadScript"), {kPluginName});
    }
    *uuid = m_uuid;
    *caption = m_caption;
    m_busy = false;
    return m_answered;
}
