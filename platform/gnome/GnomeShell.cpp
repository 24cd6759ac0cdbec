#include "GnomeShell.h"

#include "ShellNames.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusPendingCallWatcher>
#include <QDBusReply>
#include <QDBusVariant>
#include <QEventLoop>
#include <algorithm>
#include <limits>

namespace {
const QString kService = QLatin1String(ShellBus::name);
const QString kPath = QLatin1String(ShellBus::path);
const QString kInterface = QLatin1String(ShellBus::interface);
const QString kRefused = QLatin1String(ShellBus::notAllowed);
const QString kShell = QStringLiteral("org.gnome.Shell");
// The extension's interface as this Keyflare knows it (its Version property).
constexpr uint kVersion = ShellBus::version;
// Answers come in milliseconds; an activation waits up to a second for the focus.
constexpr int kAnswerMs = 3000;
// A text may take this long to type, and a tenth of a second more for each key and five seconds
// more for each of its layouts on a busy desktop; the shell stops typing once the time agreed has
// passed, and Keyflare waits for the key under way (up to five seconds) and the user's keymap
// to come back (as long again) besides, so that nothing is typed after it has given up.
constexpr int kTypeBaseMs = 10000;
constexpr int kTypePerKeyMs = 100;
constexpr int kTypePerPartMs = 5000;
constexpr int kTypeAfterMs = 12000;

GnomeShell::Window readWindow(const QDBusArgument& arg)
{
    GnomeShell::Window w;
    arg.beginStructure();
    arg >> w.id >> w.title >> w.own >> w.program;
    arg.endStructure();
    return w;
}
} // namespace

QString GnomeShell::shellOwner()
{
    if (!m_owner.isEmpty())
        return m_owner;
    m_refused = false;
    QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface();
    const QDBusReply<QString> ours = bus ? bus->serviceOwner(kService) : QDBusReply<QString>();
    const QDBusReply<QString> shell = bus ? bus->serviceOwner(kShell) : QDBusReply<QString>();
    if (!ours.isValid())
        m_lastError = QStringLiteral("Keyflare's GNOME Shell extension is not running");
    else if (!shell.isValid() || ours.value() != shell.value())
        m_lastError = QStringLiteral("the bus name of Keyflare's GNOME Shell extension is held by "
                                     "a program other than GNOME Shell");
    else
        m_owner = ours.value();
    return m_owner;
}

std::optional<QDBusMessage> GnomeShell::call(const QString& method, const QList<QVariant>& args,
                                             int timeoutMs, const QString& interface)
{
    // Sent to the shell's own connection alone: whoever holds the extension's name otherwise
    // gets nothing.
    const QString owner = shellOwner();
    if (owner.isEmpty())
        return std::nullopt;
    QDBusMessage message = QDBusMessage::createMethodCall(
        owner, kPath, interface.isEmpty() ? kInterface : interface, method);
    message.setArguments(args);
    QDBusPendingCall pending = QDBusConnection::sessionBus().asyncCall(message, timeoutMs);
    if (QCoreApplication::instance()) {
        QDBusPendingCallWatcher watcher(pending);
        QEventLoop loop;
        QObject::connect(&watcher, &QDBusPendingCallWatcher::finished, &loop, &QEventLoop::quit);
        if (!watcher.isFinished())
            loop.exec(QEventLoop::ExcludeUserInputEvents);
    } else {
        pending.waitForFinished();
    }
    const QDBusMessage reply = pending.reply();
    if (reply.type() == QDBusMessage::ErrorMessage) {
        m_refused = reply.errorName() == kRefused;
        m_lastError = reply.errorMessage();
        if (!m_refused) // the shell may have gone: its successor is looked for again
            m_owner.clear();
        return std::nullopt;
    }
    m_refused = false;
    return reply;
}

bool GnomeShell::isAvailable()
{
    m_stale = false;
    const auto version =
        call(QStringLiteral("Get"), {kInterface, QLatin1String(ShellBus::versionProperty)},
             kAnswerMs, QStringLiteral("org.freedesktop.DBus.Properties"));
    if (!version)
        return false;
    if (version->arguments().value(0).value<QDBusVariant>().variant().toUInt() != kVersion) {
        m_stale = true;
        m_lastError = QStringLiteral("the GNOME Shell extension that runs is not the one this "
                                     "Keyflare brings");
        return false;
    }
    return call(QLatin1String(ShellMethod::FocusedWindow), {}, kAnswerMs).has_value();
}

std::optional<std::vector<GnomeShell::Window>> GnomeShell::windows()
{
    const auto reply = call(QLatin1String(ShellMethod::Windows), {}, kAnswerMs);
    if (!reply || reply->arguments().isEmpty())
        return std::nullopt;
    const QDBusArgument arg = reply->arguments().first().value<QDBusArgument>();
    std::vector<Window> out;
    arg.beginArray();
    while (!arg.atEnd())
        out.push_back(readWindow(arg));
    arg.endArray();
    return out;
}

bool GnomeShell::watchWindows(QObject* receiver, const char* slot)
{
    const QString owner = shellOwner();
    // The signal is taken from the shell's connection alone.
    return !owner.isEmpty() &&
           QDBusConnection::sessionBus().connect(
               owner, kPath, kInterface, QLatin1String(ShellBus::windowsChanged), receiver, slot) &&
           call(QLatin1String(ShellMethod::WatchWindows), {}, kAnswerMs).has_value();
}

bool GnomeShell::activate(quint64 id)
{
    const auto reply =
        call(QLatin1String(ShellMethod::Activate), {QVariant::fromValue(id)}, kAnswerMs);
    return reply && !reply->arguments().isEmpty() && reply->arguments().first().toBool();
}

std::optional<GnomeShell::Window> GnomeShell::windowUnderPointer()
{
    const auto reply = call(QLatin1String(ShellMethod::WindowUnderPointer), {}, kAnswerMs);
    if (!reply || reply->arguments().size() != 3)
        return std::nullopt;
    Window w;
    w.id = reply->arguments().at(0).toULongLong();
    w.title = reply->arguments().at(1).toString();
    w.own = reply->arguments().at(2).toBool();
    return w;
}

std::optional<uint32_t> GnomeShell::heldModifiers()
{
    const auto reply = call(QLatin1String(ShellMethod::KeyboardState), {}, kAnswerMs);
    if (!reply || reply->arguments().size() != 1)
        return std::nullopt;
    return reply->arguments().at(0).toUInt();
}

uint GnomeShell::typeLimitMs(const std::vector<std::vector<uint32_t>>& parts)
{
    qint64 ms = kTypeBaseMs;
    for (const auto& part : parts)
        ms += kTypePerPartMs + qint64(kTypePerKeyMs) * qint64(part.size());
    return uint(std::min<qint64>(ms, std::numeric_limits<int>::max() - kTypeAfterMs));
}

std::optional<GnomeShell::Typed> GnomeShell::type(quint64 id, const QByteArray& symbols,
                                                  const std::vector<std::vector<uint32_t>>& parts)
{
    QDBusArgument keys;
    keys.beginArray(QMetaType::fromType<QList<uint>>());
    for (const auto& part : parts)
        keys << QList<uint>(part.begin(), part.end());
    keys.endArray();
    const uint limitMs = typeLimitMs(parts);
    const auto reply = call(QLatin1String(ShellMethod::Type),
                            {QVariant::fromValue(id), QString::fromUtf8(symbols),
                             QVariant::fromValue(keys), QVariant::fromValue(limitMs)},
                            int(limitMs) + kTypeAfterMs);
    if (!reply || reply->arguments().size() != 3)
        return std::nullopt;
    return Typed{reply->arguments().at(0).toUInt(), reply->arguments().at(1).toString(),
                 reply->arguments().at(2).toUInt()};
}

void GnomeShell::restoreKeymap()
{
    (void)call(QLatin1String(ShellMethod::RestoreKeymap), {}, kAnswerMs);
}
