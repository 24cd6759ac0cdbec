#include "XUser.h"

#include "x11/X11Connection.h"
#include "x11/X11Desktop.h"

#include <QProcess>
#include <algorithm>
#include <qtestsupport_core.h>
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit

XUser::XUser() : m_x(std::make_unique<X11Connection>())
{
    QString error;
    m_ok = m_x->open(QByteArray(), &error);
}

XUser::~XUser() = default;

bool XUser::waitForFocus(quint32 window, int ms)
{
    return QTest::qWaitFor([&] { return m_x->focusIsIn(window); }, ms);
}

bool XUser::typeInto(const QString& title, const QString& keys)
{
    X11Desktop typist;
    const Typing result = typist.inject(typist.activate(title), keys);
    if (result != Typing::Done)
        qWarning("typing into \"%s\" failed: %s", qPrintable(title),
                 qPrintable(typist.lastError()));
    return result == Typing::Done;
}

QRect XUser::windowRect(const QString& title)
{
    const quint32 window = waitForWindow(title);
    xcb_connection_t* c = m_x->c;
    Reply<xcb_get_geometry_reply_t> g(
        xcb_get_geometry_reply(c, xcb_get_geometry(c, window), nullptr));
    Reply<xcb_translate_coordinates_reply_t> t(xcb_translate_coordinates_reply(
        c, xcb_translate_coordinates(c, window, m_x->root, 0, 0), nullptr));
    return g && t ? QRect(t->dst_x, t->dst_y, g->width, g->height) : QRect();
}

bool XUser::xdotool(const QStringList& args)
{
    const bool done = QProcess::execute(QStringLiteral("xdotool"), args) == 0;
    QTest::qWait(30);
    return done;
}

void XUser::moveTo(QPoint p)
{
    xdotool({QStringLiteral("mousemove"), QString::number(p.x()), QString::number(p.y())});
}

void XUser::button(int button, bool down)
{
    xdotool(
        {down ? QStringLiteral("mousedown") : QStringLiteral("mouseup"), QString::number(button)});
}

void XUser::keys(const QString& keys)
{
    xdotool({QStringLiteral("key"), keys});
}

void XUser::key(const QString& key, bool down)
{
    xdotool({down ? QStringLiteral("keydown") : QStringLiteral("keyup"), key});
}

void XUser::lockGroup(int group)
{
    m_x->lockGroup(static_cast<uint32_t>(group));
    m_x->sync();
}

void XUser::lockModifiers(int affect, int values)
{
    m_x->lockModifiers(static_cast<uint8_t>(affect), static_cast<uint8_t>(values));
}

QPair<int, int> XUser::locks()
{
    Reply<xcb_xkb_get_state_reply_t> s(xcb_xkb_get_state_reply(
        m_x->c, xcb_xkb_get_state(m_x->c, XCB_XKB_ID_USE_CORE_KBD), nullptr));
    return s ? qMakePair(int(s->lockedGroup), int(s->lockedMods)) : qMakePair(-1, -1);
}

int XUser::keysDown()
{
    Reply<xcb_query_keymap_reply_t> r(
        xcb_query_keymap_reply(m_x->c, xcb_query_keymap(m_x->c), nullptr));
    int down = 0;
    for (int i = 0; r && i < 32; ++i)
        down += __builtin_popcount(r->keys[i]);
    return down;
}

int XUser::spareKeycodes()
{
    X11Connection::CoreMap map;
    const int keys = m_x->readCoreMap(&map) ? int(map.syms.size()) / map.perKeycode : 0;
    int spare = 0;
    for (int kc = map.first; kc < map.first + keys; ++kc)
        spare += X11Connection::isEmpty(map, static_cast<uint8_t>(kc)) ? 1 : 0;
    return spare;
}

QList<quint32> XUser::rootChildren()
{
    const std::vector<xcb_window_t> kids = m_x->children(m_x->root);
    return QList<quint32>(kids.begin(), kids.end());
}

bool XUser::hasState(quint32 window, const char* state)
{
    const QByteArray atoms = m_x->property(window, m_x->ewmh._NET_WM_STATE, XCB_ATOM_ATOM);
    const auto* held = reinterpret_cast<const quint32*>(atoms.constData());
    return std::count(held, held + atoms.size() / 4, m_x->intern(state)) > 0;
}
