#include "X11Desktop.h"

#include "../KeystrokeString.h"
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

X11Desktop::X11Desktop(const QString& display) : m_display(display)
{
}

X11Desktop::~X11Desktop()
{
    if (m_session && !m_session->connection().isBroken())
        m_session->keys().giveBack();
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
            if (m_session && !m_session->connection().isBroken())
                m_session->keys().giveBack();
        });
    }
    m_restoreTimer->start(kRestoreAfterMs);
}

bool X11Desktop::ensureConnection()
{
    if (m_session && !m_session->connection().isBroken())
        return true;
    // A broken connection (the server restarted, say) is replaced on the next use.
    m_typist.reset();
    m_session = std::make_unique<X11Session>();
    if (!m_session->open(m_display.toLocal8Bit(), &m_lastError)) {
        m_session.reset();
        return false;
    }
    m_typist = std::make_unique<X11Typist>(*m_session, [this] { scheduleRestore(); });
    return true;
}

Typing X11Desktop::inject(WindowId target, const QString& keys)
{
    const auto strokes = parseKeystrokeString(keys, &m_lastError);
    if (!strokes)
        return Typing::Untypable;
    if (!ensureConnection())
        return Typing::Unavailable;
    const Typing result = m_typist->type(static_cast<xcb_window_t>(target), *strokes);
    if (result != Typing::Done)
        m_lastError = m_typist->lastError();
    return result;
}

bool X11Desktop::isConnected()
{
    return ensureConnection();
}

QString X11Desktop::lastError() const
{
    return m_lastError;
}

std::vector<CandidateWindow> X11Desktop::listWindows()
{
    std::vector<CandidateWindow> out;
    if (!ensureConnection())
        return out;
    X11Windows& windows = m_session->windows();
    for (xcb_window_t w : windows.clientWindows())
        out.push_back({w, m_session->connection().title(w), windows.isOwnWindow(w)});
    return out;
}

WindowId X11Desktop::activate(const QString& title)
{
    if (!ensureConnection())
        return 0;
    const xcb_window_t w = chooseTargetWindow(listWindows(), title);
    if (w == XCB_NONE) {
        m_lastError = QStringLiteral("no window has the title \"%1\"").arg(title);
        return 0;
    }
    X11Connection& x = m_session->connection();
    X11Windows& windows = m_session->windows();
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
    if (!ensureConnection())
        return {};
    X11Connection& x = m_session->connection();
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
