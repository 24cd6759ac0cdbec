#include "WlrootsDesktop.h"

#include "../HeldModifiers.h"
#include "../KeystrokeString.h"
#include "WlrootsConnection.h"
#include "WlrootsTypist.h"
#include "wlr-foreign-toplevel-management-unstable-v1-client-protocol.h"

#include <QDeadlineTimer>
#include <algorithm>
#include <wayland-client.h>

namespace {
// How long the compositor may take to make a window active; it takes about 2 ms on an idle one.
constexpr int kActivationWaitMs = 1000;
} // namespace

WlrootsDesktop::WlrootsDesktop(QString ownAppId) : m_ownAppId(std::move(ownAppId))
{
}

WlrootsDesktop::~WlrootsDesktop() = default;

bool WlrootsDesktop::ensureConnection()
{
    if (m_connection && !m_connection->isBroken())
        return true;
    // A broken connection (the compositor restarted, say) is replaced on the next use, with a
    // keyboard of its own.
    m_typist.reset();
    m_connection = std::make_unique<WlrootsConnection>();
    if (!m_connection->open(&m_lastError)) {
        m_connection.reset();
        return false;
    }
    m_typist = std::make_unique<WlrootsTypist>(*m_connection);
    return true;
}

bool WlrootsDesktop::isSupported()
{
    if (!ensureConnection())
        return false;
    if (!m_connection->canServe()) {
        m_lastError = QStringLiteral("the compositor offers no window management or virtual "
                                     "keyboard to programs");
        return false;
    }
    return true;
}

std::vector<CandidateWindow> WlrootsDesktop::listWindows()
{
    std::vector<CandidateWindow> out;
    if (!isSupported() || !m_connection->dispatch(0))
        return out;
    std::vector<const Toplevel*> open;
    for (const auto& t : m_connection->windows()) {
        if (!t->closed)
            open.push_back(t.get());
    }
    std::stable_sort(open.begin(), open.end(), [](const Toplevel* a, const Toplevel* b) {
        return a->activeSince < b->activeSince;
    });
    for (const Toplevel* t : open)
        out.push_back({t->id, t->title, t->appId == m_ownAppId});
    return out;
}

WindowId WlrootsDesktop::activate(const QString& title)
{
    const WindowId id = chooseTargetWindow(listWindows(), title);
    Toplevel* target = id ? m_connection->find(id) : nullptr;
    if (!target) {
        if (m_lastError.isEmpty())
            m_lastError = QStringLiteral("no window is titled \"%1\"").arg(title);
        return 0;
    }
    // The first key goes out only once the compositor says the window is active. The request
    // leaves at once: kept in the buffer while the window is active already, it would go out with
    // the next round trip and take the focus back from a window the user has chosen since.
    m_connection->activate(*target);
    const QDeadlineTimer deadline(kActivationWaitMs);
    while (!target->activated && !target->closed && !deadline.hasExpired()) {
        if (!m_connection->dispatch(static_cast<int>(deadline.remainingTime())))
            break;
    }
    if (!target->activated) {
        m_lastError = QStringLiteral("the compositor did not make the window active");
        return 0;
    }
    return id;
}

PointedWindow WlrootsDesktop::windowUnderPointer()
{
    const std::vector<CandidateWindow> windows = listWindows();
    for (auto it = windows.rbegin(); it != windows.rend(); ++it) {
        if (!it->ownWindow && m_connection->find(it->id)->activeSince > 0)
            return {it->id, grabbedTitle(it->title)};
    }
    return {};
}

bool WlrootsDesktop::prepareKeyboard()
{
    return isSupported() && m_typist->prepareKeyboard();
}

Typing WlrootsDesktop::inject(WindowId target, const QString& keys)
{
    const auto strokes = parseKeystrokeString(keys, &m_lastError);
    if (!strokes)
        return Typing::Untypable;
    if (!isSupported())
        return Typing::Unavailable;
    std::vector<char32_t> chars;
    for (const KeyStroke& s : *strokes)
        chars.push_back(s.character());
    const Typing result = m_typist->type(target, chars);
    if (result != Typing::Done)
        m_lastError = m_typist->lastError();
    return result;
}

Typing WlrootsDesktop::awaitReleasedModifiers()
{
    return waitForReleasedModifiers();
}
