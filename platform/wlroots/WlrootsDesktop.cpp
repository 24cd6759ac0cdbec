#include "WlrootsDesktop.h"

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

WlrootsDesktop::WlrootsDesktop(QString ownAppId)
    : m_ownAppId(std::move(ownAppId)),
      m_link(
          [this](WlrootsConnection& c, QString* error) {
              if (!c.open(error))
                  return false;
              c.watch([this] { m_changes.announce(); });
              return true;
          },
          [](WlrootsConnection& c) { return std::make_unique<WlrootsTypist>(c); })
{
}

WlrootsDesktop::~WlrootsDesktop() = default;

bool WlrootsDesktop::isSupported()
{
    if (!m_link.ensure(&m_lastError))
        return false;
    if (!m_link.connection()->canServe()) {
        m_lastError = QStringLiteral("the compositor offers no window management or virtual "
                                     "keyboard to programs");
        return false;
    }
    return true;
}

std::vector<CandidateWindow> WlrootsDesktop::listWindows()
{
    std::vector<CandidateWindow> out;
    if (!isSupported() || !connection().dispatch(0))
        return out;
    std::vector<const Toplevel*> open;
    for (const auto& t : connection().windows()) {
        if (!t->closed)
            open.push_back(t.get());
    }
    std::stable_sort(open.begin(), open.end(), [](const Toplevel* a, const Toplevel* b) {
        return a->activeSince < b->activeSince;
    });
    for (const Toplevel* t : open)
        out.push_back({t->id, t->title, t->appId == m_ownAppId, t->appId});
    return out;
}

std::optional<std::vector<CandidateWindow>> WlrootsDesktop::windows()
{
    if (!isSupported())
        return std::nullopt;
    return listWindows();
}

WindowId WlrootsDesktop::activateMatch(const QString& title)
{
    const WindowId id = chooseTargetWindow(listWindows(), title);
    Toplevel* target = id ? connection().find(id) : nullptr;
    if (!target) {
        if (m_lastError.isEmpty())
            m_lastError = QStringLiteral("no window is titled \"%1\"").arg(title);
        return 0;
    }
    // The first key goes out only once the compositor says the window is active. The request
    // leaves at once: kept in the buffer while the window is active already, it would go out with
    // the next round trip and take the focus back from a window the user has chosen since.
    connection().activate(*target);
    const QDeadlineTimer deadline(kActivationWaitMs);
    while (!target->activated && !target->closed && !deadline.hasExpired()) {
        if (!connection().dispatch(static_cast<int>(deadline.remainingTime())))
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
        if (!it->ownWindow && connection().find(it->id)->activeSince > 0)
            return {it->id, grabbedTitle(it->title)};
    }
    return {};
}

bool WlrootsDesktop::prepareKeyboard()
{
    return isSupported() && m_link.typist()->prepareKeyboard();
}

Typing WlrootsDesktop::type(WindowId target, const std::vector<char32_t>& chars)
{
    return m_link.type(target, chars, &m_lastError);
}
