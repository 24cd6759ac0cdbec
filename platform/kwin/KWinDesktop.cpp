#include "KWinDesktop.h"

#include "KWinConnection.h"
#include "KWinPointer.h"
#include "KWinTypist.h"
#include "plasma-window-management-client-protocol.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QGuiApplication>
#include <algorithm>
#include <unistd.h>
#include <wayland-client.h>

namespace {
// How long KWin may take to make a window active, and Qt to take in that its own window is.
constexpr int kActivationWaitMs = 1000;
// How often an activation lost to one of Keyflare's own windows is asked for again.
constexpr int kActivationAttempts = 3;
// How many times Qt's events and KWin's run before an activation is trusted to hold: a request
// of Qt's already on its way (a token asked for, then used) is answered and acted on in them.
constexpr int kSettleRounds = 3;
} // namespace

KWinDesktop::KWinDesktop(QString ownAppId)
    : m_ownAppId(std::move(ownAppId)),
      m_link(
          [this](KWinConnection& c, QString* error) {
              if (!c.open(error))
                  return false;
              c.watch([this] { m_changes.announce(); });
              return true;
          },
          [](KWinConnection& c) { return std::make_unique<KWinTypist>(c); }),
      m_pointer(std::make_unique<KWinPointer>())
{
}

KWinDesktop::~KWinDesktop() = default;

bool KWinDesktop::isAllowed()
{
    if (!m_link.ensure(&m_lastError))
        return false;
    if (!m_link.connection()->canServe()) {
        m_lastError = QStringLiteral("KWin does not let this program manage windows or type");
        return false;
    }
    return true;
}

bool KWinDesktop::isOwn(WindowId id)
{
    const PlasmaWindow* w = connection().find(id);
    return w && (w->appId == m_ownAppId || w->pid == static_cast<uint32_t>(getpid()));
}

std::vector<CandidateWindow> KWinDesktop::listWindows()
{
    std::vector<CandidateWindow> out;
    if (!isAllowed() || !connection().roundtrip())
        return out;
    // A window announced in that round trip sends its title only in answer to our request for
    // it, which one more round trip brings: a program started just before a send is found too.
    const bool announced = std::any_of(connection().windows().begin(), connection().windows().end(),
                                       [](const auto& w) { return !w->ready && !w->gone; });
    if (announced && !connection().roundtrip())
        return out;
    std::vector<const PlasmaWindow*> open;
    for (const auto& w : connection().windows()) {
        if (!w->gone && w->ready)
            open.push_back(w.get());
    }
    const QStringList& order = connection().stacking();
    std::stable_sort(open.begin(), open.end(), [&](const PlasmaWindow* a, const PlasmaWindow* b) {
        return order.indexOf(a->uuid) < order.indexOf(b->uuid);
    });
    for (const PlasmaWindow* w : open)
        out.push_back({w->id, w->title, isOwn(w->id), w->appId});
    return out;
}

std::optional<std::vector<CandidateWindow>> KWinDesktop::windows()
{
    if (!isAllowed())
        return std::nullopt;
    return listWindows();
}

WindowId KWinDesktop::activateMatch(const QString& title)
{
    const WindowId id = chooseTargetWindow(listWindows(), title);
    PlasmaWindow* target = id ? connection().find(id) : nullptr;
    if (!target) {
        if (m_lastError.isEmpty())
            m_lastError = QStringLiteral("no window is titled \"%1\"").arg(title);
        return 0;
    }
    // The first key goes out only once KWin says the window is active, and the activation
    // holds. Keyflare's own window asks to be made active whenever Qt takes in that it is
    // (Qt 6.4 does, through tokens it fetches first), which Qt learns a round trip after KWin
    // has made it so: granted after the target's, that request would take the keys. So the
    // target is asked for once Qt knows its own window active, and its requests have run.
    awaitOwnActivationTakenIn();
    for (int attempt = 0; attempt < kActivationAttempts; ++attempt) {
        org_kde_plasma_window_set_state(target->handle,
                                        ORG_KDE_PLASMA_WINDOW_MANAGEMENT_STATE_ACTIVE,
                                        ORG_KDE_PLASMA_WINDOW_MANAGEMENT_STATE_ACTIVE);
        const QDeadlineTimer deadline(kActivationWaitMs);
        while (!target->active && !target->gone && !deadline.hasExpired()) {
            if (!connection().dispatch(static_cast<int>(deadline.remainingTime())))
                break;
        }
        if (!target->active)
            break;
        settle();
        if (target->active)
            return id;
        if (!ownWindowActive())
            break; // the user chose another window
        awaitOwnActivationTakenIn();
    }
    m_lastError = QStringLiteral("KWin did not make the window active");
    return 0;
}

bool KWinDesktop::ownWindowActive()
{
    for (const auto& w : connection().windows()) {
        if (w->active && !w->gone && isOwn(w->id))
            return true;
    }
    return false;
}

void KWinDesktop::awaitOwnActivationTakenIn()
{
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()) || !ownWindowActive())
        return;
    const QDeadlineTimer deadline(kActivationWaitMs);
    while (!QGuiApplication::focusWindow() && ownWindowActive() && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        connection().dispatch(1);
    }
    settle();
}

void KWinDesktop::settle()
{
    for (int round = 0; round < kSettleRounds; ++round) {
        if (QCoreApplication::instance())
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        if (!connection().roundtrip())
            return;
    }
}

bool KWinDesktop::followsActivation() const
{
    return !m_pointer || !m_pointer->isAvailable();
}

PointedWindow KWinDesktop::windowUnderPointer()
{
    const std::vector<CandidateWindow> windows = listWindows();
    if (!followsActivation()) {
        QString uuid;
        QString caption;
        // Without an answer (a look already under way, a KWin too busy), the last one stands.
        if (!m_pointer->windowUnderPointer(&uuid, &caption))
            return m_lastPointed;
        m_lastPointed = {};
        for (const auto& w : connection().windows()) {
            if (w->uuid == uuid && !w->gone)
                m_lastPointed = {w->id, grabbedTitle(caption), isOwn(w->id)};
        }
        return m_lastPointed;
    }
    for (auto it = windows.rbegin(); it != windows.rend(); ++it) {
        if (!it->ownWindow)
            return {it->id, grabbedTitle(it->title)};
    }
    return {};
}

QRect KWinDesktop::frame(WindowId id)
{
    listWindows();
    const PlasmaWindow* w = m_link.connection() ? m_link.connection()->find(id) : nullptr;
    return w ? w->geometry : QRect();
}

Typing KWinDesktop::type(WindowId target, const std::vector<char32_t>& chars)
{
    return m_link.type(target, chars, &m_lastError);
}
