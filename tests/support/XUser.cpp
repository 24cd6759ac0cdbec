#include "XUser.h"

#include "x11/X11Connection.h"
#include "x11/X11Desktop.h"

#include <QProcess>
#include <qtestsupport_core.h>
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit

namespace {
// Waits until the server has handled every request sent before.
void sync(xcb_connection_t* c)
{
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
}
} // namespace

XUser::XUser() : m_c(xcb_connect(nullptr, nullptr))
{
    m_ok = !xcb_connection_has_error(m_c);
    if (!m_ok)
        return;
    m_root = xcb_setup_roots_iterator(xcb_get_setup(m_c)).data->root;
    Reply<xcb_xkb_use_extension_reply_t> xkb(
        xcb_xkb_use_extension_reply(m_c, xcb_xkb_use_extension(m_c, 1, 0), nullptr));
    m_ok = xkb && xkb->supported;
}

XUser::~XUser()
{
    xcb_disconnect(m_c);
}

bool XUser::waitForFocus(quint32 window, int ms)
{
    const auto focusIsIn = [&] {
        Reply<xcb_get_input_focus_reply_t> focus(
            xcb_get_input_focus_reply(m_c, xcb_get_input_focus(m_c), nullptr));
        for (xcb_window_t w = focus ? focus->focus : XCB_NONE; w != XCB_NONE && w != m_root;) {
            if (w == window)
                return true;
            Reply<xcb_query_tree_reply_t> tree(
                xcb_query_tree_reply(m_c, xcb_query_tree(m_c, w), nullptr));
            w = tree ? tree->parent : XCB_NONE;
        }
        return false;
    };
    return QTest::qWaitFor(focusIsIn, ms);
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
    const auto window = static_cast<xcb_window_t>(waitForWindow(title));
    Reply<xcb_get_geometry_reply_t> g(
        xcb_get_geometry_reply(m_c, xcb_get_geometry(m_c, window), nullptr));
    Reply<xcb_translate_coordinates_reply_t> t(xcb_translate_coordinates_reply(
        m_c, xcb_translate_coordinates(m_c, window, m_root, 0, 0), nullptr));
    return g && t ? QRect(t->dst_x, t->dst_y, g->width, g->height) : QRect();
}

bool XUser::xdotool(const QStringList& args)
{
    // xdotool's events are in the server's queue when it ends, ahead of anything sent later.
    return QProcess::execute("xdotool", args) == 0;
}

void XUser::moveTo(QPoint p)
{
    xdotool({"mousemove", QString::number(p.x()), QString::number(p.y())});
}

void XUser::button(int button, bool down)
{
    xdotool({down ? "mousedown" : "mouseup", QString::number(button)});
}

void XUser::lockGroup(int group)
{
    xcb_xkb_latch_lock_state(m_c, XCB_XKB_ID_USE_CORE_KBD, 0, 0, 1, static_cast<uint8_t>(group), 0,
                             0, 0);
    sync(m_c);
}

void XUser::lockModifiers(int affect, int values)
{
    xcb_xkb_latch_lock_state(m_c, XCB_XKB_ID_USE_CORE_KBD, static_cast<uint8_t>(affect),
                             static_cast<uint8_t>(values), 0, 0, 0, 0, 0);
    sync(m_c);
}

QPair<int, int> XUser::locks()
{
    Reply<xcb_xkb_get_state_reply_t> s(
        xcb_xkb_get_state_reply(m_c, xcb_xkb_get_state(m_c, XCB_XKB_ID_USE_CORE_KBD), nullptr));
    return s ? qMakePair(int(s->lockedGroup), int(s->lockedMods)) : qMakePair(-1, -1);
}

int XUser::keysDown()
{
    Reply<xcb_query_keymap_reply_t> r(xcb_query_keymap_reply(m_c, xcb_query_keymap(m_c), nullptr));
    int down = 0;
    for (int i = 0; r && i < 32; ++i)
        down += __builtin_popcount(r->keys[i]);
    return down;
}

QList<int> XUser::spareKeys()
{
    // As the server's own tool lists the map: a keycode with nothing after "=" has no symbol.
    const QByteArray map = programOutput("xmodmap", {"-pke"});
    if (!map.startsWith("keycode"))
        qFatal("xmodmap cannot list the keyboard map"); // a check that cannot look must not pass
    QList<int> spare;
    for (const QByteArray& line : map.split('\n')) {
        const qsizetype equals = line.indexOf('=');
        if (line.startsWith("keycode") && equals > 0 && line.mid(equals + 1).trimmed().isEmpty())
            spare << line.mid(7, equals - 7).trimmed().toInt();
    }
    return spare;
}

QList<quint32> XUser::rootChildren()
{
    Reply<xcb_query_tree_reply_t> tree(
        xcb_query_tree_reply(m_c, xcb_query_tree(m_c, m_root), nullptr));
    if (!tree)
        return {};
    const xcb_window_t* kids = xcb_query_tree_children(tree.get());
    return QList<quint32>(kids, kids + xcb_query_tree_children_length(tree.get()));
}

bool XUser::hasState(quint32 window, const char* state)
{
    // As the server's own tool lists them: "_NET_WM_STATE(ATOM) = A, B".
    const QByteArray states =
        programOutput("xprop", {"-id", QString::number(window), "_NET_WM_STATE"});
    return (", " + states.mid(states.indexOf('=') + 1).trimmed() + ",")
        .contains(", " + QByteArray(state) + ",");
}
