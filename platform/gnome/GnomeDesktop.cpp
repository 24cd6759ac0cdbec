#include "GnomeDesktop.h"

#include "../HeldModifiers.h"
#include "../WindowMatch.h"
#include "../xkb/TextLayout.h"
#include "ShellNames.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusServiceWatcher>

namespace {
// How often the shell is asked whether a modifier is still held.
constexpr int kPollMs = 20;

// Why the shell stopped typing, in words.
QString stopReason(const QString& outcome)
{
    if (outcome == QLatin1String(ShellOutcome::keymapChanged))
        return QStringLiteral("the keyboard layout was changed during the send");
    if (outcome == QLatin1String(ShellOutcome::timedOut))
        return QStringLiteral("the desktop took the keys in too slowly");
    if (outcome == QLatin1String(ShellOutcome::xServerSilent))
        return QStringLiteral("the X server of the window (Xwayland) did not answer");
    return outcome;
}

// The shell's windows as the title match weighs them.
std::vector<CandidateWindow> candidates(const std::vector<GnomeShell::Window>& listed)
{
    std::vector<CandidateWindow> out;
    for (const GnomeShell::Window& w : listed)
        out.push_back({w.id, w.title, w.own, w.program});
    return out;
}
} // namespace

GnomeDesktop::GnomeDesktop()
{
    if (QCoreApplication::instance()) {
        m_extensionWatch = std::make_unique<QDBusServiceWatcher>(
            QLatin1String(ShellBus::name), QDBusConnection::sessionBus(),
            QDBusServiceWatcher::WatchForOwnerChange);
        QObject::connect(m_extensionWatch.get(), &QDBusServiceWatcher::serviceOwnerChanged,
                         &m_changes, &WindowChanges::announce);
    }
}

GnomeDesktop::~GnomeDesktop()
{
    // An X11 program may still be about to read the last text's keys; Keyflare's end is the
    // latest moment to give the user's keymap back, as on X11.
    if (m_typed)
        m_shell.restoreKeymap();
}

bool GnomeDesktop::isAvailable()
{
    const bool available = m_shell.isAvailable();
    if (!available)
        m_lastError = m_shell.lastError();
    return available;
}

std::optional<std::vector<CandidateWindow>> GnomeDesktop::windows()
{
    const QString owner = m_shell.owner();
    if (owner.isEmpty())
        return std::nullopt;
    // A shell met for the first time is checked (its extension may be older than this
    // Keyflare, and list windows otherwise) and asked for word of changes.
    if (owner != m_watchedOwner) {
        if (!isAvailable() || !m_shell.watchWindows(&m_changes, SLOT(announce())))
            return std::nullopt;
        m_watchedOwner = owner;
    }
    const auto listed = m_shell.windows();
    if (!listed)
        return std::nullopt;
    return candidates(*listed);
}

WindowId GnomeDesktop::activateMatch(const QString& title)
{
    const auto windows = m_shell.windows();
    if (!windows) {
        m_lastError = m_shell.lastError();
        return 0;
    }
    const WindowId id = chooseTargetWindow(candidates(*windows), title);
    if (id == 0) {
        m_lastError = QStringLiteral("no window has the title \"%1\"").arg(title);
        return 0;
    }
    if (!m_shell.activate(id)) {
        m_lastError = QStringLiteral("the window \"%1\" did not take the focus").arg(title);
        return 0;
    }
    return id;
}

Typing GnomeDesktop::type(WindowId target, const std::vector<char32_t>& chars)
{
    // The shell sees every keyboard, Keyflare's windows only their own focus.
    const Typing released = waitUntilReleased(
        [&]() -> std::optional<bool> {
            const auto held = m_shell.heldModifiers();
            if (!held) {
                m_lastError = m_shell.lastError();
                return std::nullopt;
            }
            return *held != 0;
        },
        kPollMs, &m_lastError);
    if (released != Typing::Done)
        return released;
    // Every part is laid out before the first key: a text is typed whole, or not at all.
    const auto parts = TextLayout::parts(chars);
    TextLayout layout;
    if (!layout.build(parts)) {
        m_lastError = QStringLiteral("the text holds a character that has no key symbol");
        return Typing::Untypable;
    }
    std::vector<std::vector<uint32_t>> keysyms;
    for (const auto& part : parts)
        keysyms.push_back(TextLayout::keysyms(part));
    m_remappedUs = 0;
    m_typed = true;
    const auto typed = m_shell.type(target, layout.symbols(), keysyms);
    if (!typed) {
        m_lastError = m_shell.lastError();
        return Typing::Unavailable;
    }
    m_remappedUs = typed->remappedUs;
    if (typed->outcome == QLatin1String(ShellOutcome::done) && typed->count == chars.size())
        return Typing::Done;
    m_lastError = QStringLiteral("GNOME Shell typed %1 of %2 keys: %3")
                      .arg(typed->count)
                      .arg(chars.size())
                      .arg(stopReason(typed->outcome));
    if (typed->outcome == QLatin1String(ShellOutcome::focusLost))
        return Typing::FocusLost;
    if (typed->outcome == QLatin1String(ShellOutcome::busy))
        return typed->count == 0 ? Typing::Busy : Typing::Unavailable;
    return Typing::Unavailable;
}

PointedWindow GnomeDesktop::windowUnderPointer()
{
    const auto w = m_shell.windowUnderPointer();
    if (!w)
        return {};
    return {w->id, grabbedTitle(w->title), w->own};
}
