#include "X11Desktop.h"

#include "X11Session.h"
#include "X11Typist.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>
#include <QTimer>
#include <xcb/xcb.h>

namespace {

// The activation is asynchronous: the window manager moves the focus a few milliseconds after our
// request. Keys sent before it arrives would land in the wrong window.
constexpr int kFocusWaitMs = 1000;
constexpr int kPollMs = 2;
constexpr int kRestoreAfterMs = 30000;

} // namespace

X11Desktop::X11Desktop(const QString& display)
    : m_display(display),
      m_link(
          [this](X11Session& s, QString* error) {
              if (!s.open(m_display.toLocal8Bit(), error))
                  return false;
              s.watch().start([this] { m_changes.announce(); });
              return true;
          },
          [this](X11Session& s) {
              return std::make_unique<X11Typist>(s, [this] { scheduleRestore(); });
          })
{
}

X11Desktop::~X11Desktop()
{
    if (X11Session* s = m_link.connection(); s && !s->isBroken())
        s->keys().giveBack();
}

void X11Desktop::scheduleRestore()
{
    // Receivers read the map when they get to our keys, which a busy one may do seconds later;
    // the borrowed keycodes are given back once Keyflare has been idle for a while, or at exit.
    if (!QCoreApplication::instance())
        return;
    if (!m_restoreTimer) {
        m_restoreTimer = std::make_unique<QTimer>();
        m_restoreTimer->setSingleShot(true);
        QObject::connect(m_restoreTimer.get(), &QTimer::timeout, [this] {
            if (X11Session* s = m_link.connection(); s && !s->isBroken())
                s->keys().giveBack();
        });
    }
    m_restoreTimer->start(kRestoreAfterMs);
}

X11Session* X11Desktop::session()
{
    return m_link.ensure(&m_lastError) ? m_link.connection() : nullptr;
}

bool X11Desktop::canType()
{
    return session() != nullptr;
}

Typing X11Desktop::type(WindowId target, const std::vector<char32_t>& chars)
{
    return m_link.type(target, chars, &m_lastError);
}

bool X11Desktop::isConnected()
{
    return session() != nullptr;
}

std::vector<CandidateWindow> X11Desktop::listWindows()
{
    std::vector<CandidateWindow> out;
    X11Session* s = session();
    if (!s)
        return out;
    X11Windows& windows = s->windows();
    const std::vector<xcb_window_t> listed = windows.clientWindows();
    s->watch().follow(listed);
    for (xcb_window_t w : listed)
        out.push_back({w, s->connection().title(w), windows.isOwnWindow(w), windows.program(w)});
    return out;
}

std::optional<std::vector<CandidateWindow>> X11Desktop::windows()
{
    if (!session())
        return std::nullopt;
    return listWindows();
}

WindowId X11Desktop::activateMatch(const QString& title)
{
    X11Session* s = session();
    if (!s)
        return 0;
    const xcb_window_t w = chooseTargetWindow(listWindows(), title);
    if (w == XCB_NONE) {
        m_lastError = QStringLiteral("no window has the title \"%1\"").arg(title);
        return 0;
    }
    X11Connection& x = s->connection();
    X11Windows& windows = s->windows();
    const bool managed = windows.windowManagerRunning();
    const xcb_timestamp_t now = x.serverTime();
    if (managed) {
        xcb_ewmh_request_change_active_window(x.ewmh(), x.screenNumber(), w,
                                              XCB_EWMH_CLIENT_SOURCE_TYPE_OTHER, now,
                                              windows.activeWindow());
    } else {
        const uint32_t above = XCB_STACK_MODE_ABOVE;
        xcb_map_window(x.raw(), w);
        xcb_configure_window(x.raw(), w, XCB_CONFIG_WINDOW_STACK_MODE, &above);
        xcb_set_input_focus(x.raw(), XCB_INPUT_FOCUS_PARENT, w, now);
    }
    xcb_flush(x.raw());

    const QDeadlineTimer deadline(kFocusWaitMs);
    do {
        if (windows.focusIsIn(w) && (!managed || windows.activeWindow() == w))
            return w;
        QThread::msleep(kPollMs);
    } while (!deadline.hasExpired() && !x.isBroken());
    Reply<xcb_get_input_focus_reply_t> f(
        xcb_get_input_focus_reply(x.raw(), xcb_get_input_focus(x.raw()), nullptr));
    m_lastError = QStringLiteral("the window \"%1\" (0x%2) did not take the focus (focus 0x%3, "
                                 "active 0x%4)")
                      .arg(title)
                      .arg(w, 0, 16)
                      .arg(f ? f->focus : 0, 0, 16)
                      .arg(windows.activeWindow(), 0, 16);
    return 0;
}

PointedWindow X11Desktop::windowUnderPointer()
{
    X11Session* s = session();
    if (!s)
        return {};
    X11Connection& x = s->connection();
    Reply<xcb_query_pointer_reply_t> p(
        xcb_query_pointer_reply(x.raw(), xcb_query_pointer(x.raw(), x.root()), nullptr));
    if (!p || p->child == XCB_NONE)
        return {};
    // Under a reparenting window manager the top-level window is the manager's frame, with the
    // application's window somewhere below it (decorations may cover the pointer): the
    // application's window is the one that carries WM_STATE.
    xcb_window_t found = XCB_NONE;
    std::vector<xcb_window_t> level{p->child};
    for (int depth = 0; depth < 8 && found == XCB_NONE && !level.empty(); ++depth) {
        std::vector<xcb_window_t> next;
        for (xcb_window_t w : level) {
            if (x.hasProperty(w, x.wmState())) {
                found = w;
                break;
            }
            const std::vector<xcb_window_t> kids = x.children(w);
            next.insert(next.end(), kids.begin(), kids.end());
        }
        level.swap(next);
    }
    if (found == XCB_NONE)
        found = p->child;
    return {found, grabbedTitle(x.title(found))};
}
