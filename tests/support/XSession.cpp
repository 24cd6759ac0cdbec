#include "XSession.h"

#include "PanelGeometry.h"
#include "x11/X11Desktop.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QThread>
#include <cstdlib>
#include <cstring>
#include <xcb/xcb.h>
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit
#include <xcb/xtest.h>

namespace {
void pause(int ms)
{
    QCoreApplication::processEvents();
    QThread::msleep(static_cast<unsigned long>(ms));
}
} // namespace

QString uniqueTitle(const QString& base)
{
    return QStringLiteral("%1 %2").arg(base).arg(QCoreApplication::applicationPid());
}

QString testHelperPath(const QString& name)
{
    return QStringLiteral(KEYFLARE_TEST_HELPERS_DIR "/") + name;
}

XUser::XUser()
{
    int screen = 0;
    m_c = xcb_connect(nullptr, &screen);
    if (xcb_connection_has_error(m_c))
        return;
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(m_c));
    for (int i = 0; i < screen && it.rem; ++i)
        xcb_screen_next(&it);
    m_root = it.data->root;
    // XKB requests are ignored until the client has announced the extension.
    std::free(xcb_xkb_use_extension_reply(m_c, xcb_xkb_use_extension(m_c, 1, 0), nullptr));
}

XUser::~XUser()
{
    xcb_disconnect(m_c);
}

bool XUser::ok() const
{
    return m_c && !xcb_connection_has_error(m_c) && m_root != 0;
}

quint32 XUser::waitForWindow(const QString& title, int ms, quint32 except)
{
    X11Desktop desktop;
    const QDeadlineTimer deadline(ms);
    do {
        for (const CandidateWindow& w : desktop.listWindows()) {
            if (w.title == title && w.id != except)
                return w.id;
        }
        pause(20);
    } while (!deadline.hasExpired());
    return 0;
}

bool XUser::waitForNoWindow(const QString& title, int ms)
{
    X11Desktop desktop;
    const QDeadlineTimer deadline(ms);
    do {
        bool found = false;
        for (const CandidateWindow& w : desktop.listWindows())
            found = found || w.title == title;
        if (!found)
            return true;
        pause(20);
    } while (!deadline.hasExpired());
    return false;
}

bool XUser::waitForFocus(quint32 window, int ms)
{
    const QDeadlineTimer deadline(ms);
    do {
        xcb_get_input_focus_reply_t* f =
            xcb_get_input_focus_reply(m_c, xcb_get_input_focus(m_c), nullptr);
        xcb_window_t w = f ? f->focus : 0;
        std::free(f);
        for (int depth = 0; depth < 32 && w > 1; ++depth) {
            if (w == window)
                return true;
            xcb_query_tree_reply_t* t = xcb_query_tree_reply(m_c, xcb_query_tree(m_c, w), nullptr);
            w = t && t->parent != m_root ? t->parent : 0;
            std::free(t);
        }
        pause(10);
    } while (!deadline.hasExpired());
    return false;
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

QRect XUser::clientRect(quint32 window)
{
    xcb_get_geometry_reply_t* g =
        xcb_get_geometry_reply(m_c, xcb_get_geometry(m_c, window), nullptr);
    xcb_translate_coordinates_reply_t* t = xcb_translate_coordinates_reply(
        m_c, xcb_translate_coordinates(m_c, window, m_root, 0, 0), nullptr);
    QRect r;
    if (g && t)
        r = QRect(t->dst_x, t->dst_y, g->width, g->height);
    std::free(g);
    std::free(t);
    return r;
}

void XUser::moveTo(QPoint p)
{
    xcb_test_fake_input(m_c, XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, m_root,
                        static_cast<int16_t>(p.x()), static_cast<int16_t>(p.y()), 0);
    sync();
    pause(30);
}

void XUser::press(int button)
{
    xcb_test_fake_input(m_c, XCB_BUTTON_PRESS, static_cast<uint8_t>(button), XCB_CURRENT_TIME,
                        XCB_NONE, 0, 0, 0);
    sync();
    pause(30);
}

void XUser::release(int button)
{
    xcb_test_fake_input(m_c, XCB_BUTTON_RELEASE, static_cast<uint8_t>(button), XCB_CURRENT_TIME,
                        XCB_NONE, 0, 0, 0);
    sync();
    pause(30);
}

void XUser::click(int button)
{
    press(button);
    release(button);
}

void XUser::key(quint32 keysym, bool down)
{
    const xcb_setup_t* setup = xcb_get_setup(m_c);
    const int count = setup->max_keycode - setup->min_keycode + 1;
    xcb_get_keyboard_mapping_reply_t* map = xcb_get_keyboard_mapping_reply(
        m_c, xcb_get_keyboard_mapping(m_c, setup->min_keycode, static_cast<uint8_t>(count)),
        nullptr);
    if (!map)
        return;
    const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(map);
    for (int i = 0; i < count; ++i) {
        if (syms[i * map->keysyms_per_keycode] == keysym) {
            xcb_test_fake_input(m_c, down ? XCB_KEY_PRESS : XCB_KEY_RELEASE,
                                static_cast<uint8_t>(setup->min_keycode + i), XCB_CURRENT_TIME,
                                XCB_NONE, 0, 0, 0);
            break;
        }
    }
    std::free(map);
    sync();
}

void XUser::tap(quint32 keysym)
{
    key(keysym, true);
    key(keysym, false);
    pause(20);
}

void XUser::chord(quint32 modifier, quint32 keysym)
{
    key(modifier, true);
    tap(keysym);
    key(modifier, false);
}

QPoint XUser::controlCentre(quint32 window, int windowUnits, QRect units)
{
    const QRect r = clientRect(window);
    const double scale = r.width() / double(windowUnits);
    return r.topLeft() + QPoint(qRound((units.left() + units.width() / 2) * scale),
                                qRound((units.top() + units.height() / 2) * scale));
}

void XUser::clickControl(quint32 window, int windowUnits, QRect units, int button)
{
    moveTo(controlCentre(window, windowUnits, units));
    click(button);
}

void XUser::sync()
{
    std::free(xcb_get_input_focus_reply(m_c, xcb_get_input_focus(m_c), nullptr));
}

Receiver::Receiver(QString title, QString geometry, int delay, Kind kind)
    : m_title(std::move(title)), m_geometry(std::move(geometry)), m_delay(delay), m_kind(kind)
{
}

Receiver::~Receiver()
{
    close();
}

void Receiver::close()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.kill();
    m_process.waitForFinished(2000);
    // The next window may get the same id; until the window manager has let go of this one, it
    // could mistake the new window for the old one and drop it.
    X11Desktop desktop;
    const QDeadlineTimer deadline(3000);
    for (bool listed = true; listed && !deadline.hasExpired(); pause(10)) {
        listed = false;
        for (const CandidateWindow& w : desktop.listWindows())
            listed = listed || w.id == m_window;
    }
}

namespace {
// Starts a program and waits for its window; when either fails, says why, with the program's own
// output, so that a failure on a busy machine explains itself.
quint32 startWithWindow(QProcess& process, const QString& program, const QStringList& args,
                        XUser& user, const QString& title)
{
    if (process.processChannelMode() == QProcess::SeparateChannels)
        process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, args);
    const quint32 window = process.waitForStarted(5000) ? user.waitForWindow(title, 10000) : 0;
    if (window == 0)
        qWarning("%s did not show \"%s\": %s\n%s", qPrintable(program), qPrintable(title),
                 qPrintable(process.errorString()), process.readAll().constData());
    return window;
}
} // namespace

bool Receiver::start(XUser& user)
{
    const QString out = m_dir.filePath(QStringLiteral("received"));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("GDK_BACKEND"), QStringLiteral("x11"));
    m_process.setProcessEnvironment(env);
    if (m_kind != XTerm) {
        const QString program = m_kind == Slow ? testHelperPath(QStringLiteral("slowreceiver"))
                                : m_kind == Qt ? testHelperPath(QStringLiteral("qtreceiver"))
                                               : QStringLiteral("/usr/bin/python3");
        QStringList args{m_title, out};
        if (m_kind == Slow)
            args << QString::number(m_delay);
        if (m_kind == Gtk)
            args.prepend(testHelperPath(QStringLiteral("gtkreceiver.py")));
        m_window = startWithWindow(m_process, program, args, user, m_title);
        if (m_window)
            user.waitForFocus(m_window, 2000); // as for an xterm, below
        return m_window != 0;
    }
    m_window = startWithWindow(m_process, QStringLiteral("xterm"),
                               {QStringLiteral("-u8"), QStringLiteral("-xrm"),
                                QStringLiteral("XTerm*utf8Title: true"), QStringLiteral("-T"),
                                m_title, QStringLiteral("-geometry"), m_geometry,
                                QStringLiteral("-e"), testHelperPath(QStringLiteral("ttycapture")),
                                out, QString::number(m_delay)},
                               user, m_title);
    if (!waitUntilReady())
        return false;
    // The window manager gives a new window the focus a moment after it appears; a test that
    // activates another window first would otherwise race it.
    user.waitForFocus(m_window, 2000);
    return true;
}

bool Receiver::waitUntilReady()
{
    const QString ready = m_dir.filePath(QStringLiteral("received.ready"));
    const QDeadlineTimer deadline(10000);
    while (m_window && !QFile::exists(ready) && !deadline.hasExpired())
        pause(20);
    if (m_window == 0 || !QFile::exists(ready)) {
        qWarning("the terminal \"%s\" was never made raw: %s", qPrintable(m_title),
                 m_process.readAll().constData());
        return false;
    }
    return true;
}

QByteArray Receiver::received() const
{
    QFile f(m_dir.filePath(QStringLiteral("received")));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QByteArray Receiver::waitFor(const QByteArray& expected, int ms) const
{
    const QDeadlineTimer deadline(ms);
    QByteArray got = received();
    while (got.size() < expected.size() && !deadline.hasExpired()) {
        pause(10);
        got = received();
    }
    return got;
}

QByteArray Receiver::settle(int ms) const
{
    pause(ms);
    return received();
}

quint32 XUser::atom(const char* name)
{
    xcb_intern_atom_reply_t* r = xcb_intern_atom_reply(
        m_c, xcb_intern_atom(m_c, 0, static_cast<uint16_t>(strlen(name)), name), nullptr);
    const quint32 a = r ? r->atom : 0;
    std::free(r);
    return a;
}

void XUser::closeWindow(quint32 window)
{
    xcb_client_message_event_t ev{};
    ev.response_type = XCB_CLIENT_MESSAGE;
    ev.format = 32;
    ev.window = window;
    ev.type = atom("_NET_CLOSE_WINDOW");
    ev.data.data32[1] = 2; // from a pager or a user's tool
    xcb_send_event(m_c, 0, m_root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                   reinterpret_cast<const char*>(&ev));
    sync();
}

QList<quint32> XUser::rootChildren()
{
    QList<quint32> out;
    xcb_query_tree_reply_t* t = xcb_query_tree_reply(m_c, xcb_query_tree(m_c, m_root), nullptr);
    if (t) {
        const xcb_window_t* kids = xcb_query_tree_children(t);
        out = QList<quint32>(kids, kids + xcb_query_tree_children_length(t));
    }
    std::free(t);
    return out;
}

void XUser::destroyWindow(quint32 window)
{
    xcb_destroy_window(m_c, window);
    sync();
}

bool XUser::hasState(quint32 window, const char* state)
{
    const quint32 wanted = atom(state);
    xcb_get_property_reply_t* r = xcb_get_property_reply(
        m_c, xcb_get_property(m_c, 0, window, atom("_NET_WM_STATE"), XCB_ATOM_ATOM, 0, 64),
        nullptr);
    bool found = false;
    if (r) {
        const auto* atoms = static_cast<const quint32*>(xcb_get_property_value(r));
        for (int i = 0; i < xcb_get_property_value_length(r) / 4; ++i)
            found = found || atoms[i] == wanted;
    }
    std::free(r);
    return found;
}

KeyflareProgram::KeyflareProgram() : KeyflareProgram(QString())
{
}

KeyflareProgram::KeyflareProgram(const QString& installedExecutable)
{
    if (installedExecutable.isEmpty()) {
        m_folder = m_dir.filePath(QStringLiteral("bin")) + QLatin1Char('/');
        m_executable = m_folder + QStringLiteral("keyflare");
        QDir(m_dir.path()).mkpath(QStringLiteral("bin"));
        QFile::copy(QStringLiteral(KEYFLARE_BINARY), m_executable);
    } else {
        m_executable = installedExecutable;
        m_folder = m_dir.filePath(QStringLiteral("data/Keyflare")) + QLatin1Char('/');
        QDir(m_dir.path()).mkpath(QStringLiteral("data/Keyflare"));
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir.filePath(QStringLiteral("config")));
    // An installed copy keeps its files in the data folder; a portable one only registers itself
    // with the desktop there (KDE Plasma), where the desktop looks.
    if (!installedExecutable.isEmpty())
        env.insert(QStringLiteral("XDG_DATA_HOME"), m_dir.filePath(QStringLiteral("data")));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.remove(QStringLiteral("QT_SCALE_FACTOR"));
    m_process.setProcessEnvironment(env);
    m_process.setProcessChannelMode(QProcess::ForwardedChannels);
}

KeyflareProgram::~KeyflareProgram()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(3000);
    }
}

void KeyflareProgram::putFile(const QString& name, const QByteArray& bytes)
{
    QFile f(m_folder + name);
    if (f.open(QIODevice::WriteOnly))
        f.write(bytes);
}

void KeyflareProgram::putTargetAndSet(const QString& target, const QStringList& texts)
{
    putFile(QStringLiteral("Keyflare.ini"), target.toUtf8() + "\r\n");
    QByteArray set = "[Keyflare 1.07]\r\n";
    for (int k = 0; k < 48; ++k)
        set +=
            "C\r\n" + (k < texts.size() ? texts[k].toUtf8() : QByteArray::number(k + 1)) + "\r\n";
    putFile(QStringLiteral("Set.mcs"), set);
}

QByteArray KeyflareProgram::file(const QString& name) const
{
    QFile f(m_folder + name);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

static QString settingsPath(const QTemporaryDir& dir)
{
    return dir.filePath(QStringLiteral("config/Keyflare/Keyflare.conf"));
}

void KeyflareProgram::storeSettings(const QMap<QString, QString>& values)
{
    QSettings s(settingsPath(m_dir), QSettings::IniFormat);
    for (auto it = values.begin(); it != values.end(); ++it)
        s.setValue(QStringLiteral("Settings/") + it.key(), it.value());
}

QString KeyflareProgram::storedSetting(const QString& key) const
{
    QSettings s(settingsPath(m_dir), QSettings::IniFormat);
    return s.value(QStringLiteral("Settings/") + key).toString();
}

bool KeyflareProgram::start(XUser& user)
{
    m_window = startWithWindow(m_process, m_executable, {}, user, QStringLiteral("Keyflare v2.3"));
    pause(200); // lets the window manager finish placing and focusing it
    return m_window != 0;
}

void KeyflareProgram::clickControl(XUser& user, QRect units, int button)
{
    user.clickControl(m_window, PanelGeometry::kWidth, units, button);
}

void KeyflareProgram::clickMacroButton(XUser& user, int number, int button)
{
    clickControl(user, PanelGeometry::macroButton(number - 1), button);
}

bool KeyflareProgram::waitForExit(int ms)
{
    return m_process.waitForFinished(ms);
}

int KeyflareProgram::exitCode() const
{
    return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
}

bool XUser::setLayout(const QString& layout)
{
    return QProcess::execute(QStringLiteral("setxkbmap"), {QStringLiteral("-layout"), layout}) == 0;
}

void XUser::lockGroup(int group)
{
    xcb_xkb_latch_lock_state(m_c, XCB_XKB_ID_USE_CORE_KBD, 0, 0, 1, static_cast<uint8_t>(group), 0,
                             0, 0);
    sync();
}

void XUser::lockModifiers(int affect, int values)
{
    xcb_xkb_latch_lock_state(m_c, XCB_XKB_ID_USE_CORE_KBD, static_cast<uint8_t>(affect),
                             static_cast<uint8_t>(values), 0, 0, 0, 0, 0);
    sync();
}

static xcb_xkb_get_state_reply_t* keyboardState(xcb_connection_t* c)
{
    return xcb_xkb_get_state_reply(c, xcb_xkb_get_state(c, XCB_XKB_ID_USE_CORE_KBD), nullptr);
}

int XUser::lockedGroup()
{
    xcb_xkb_get_state_reply_t* s = keyboardState(m_c);
    const int g = s ? s->lockedGroup : -1;
    std::free(s);
    return g;
}

int XUser::lockedModifiers()
{
    xcb_xkb_get_state_reply_t* s = keyboardState(m_c);
    const int m = s ? s->lockedMods : -1;
    std::free(s);
    return m;
}

int XUser::keysDown()
{
    xcb_query_keymap_reply_t* r = xcb_query_keymap_reply(m_c, xcb_query_keymap(m_c), nullptr);
    int down = 0;
    for (int i = 0; r && i < 32; ++i)
        down += __builtin_popcount(r->keys[i]);
    std::free(r);
    return down;
}

int XUser::spareKeycodes()
{
    const xcb_setup_t* setup = xcb_get_setup(m_c);
    const int count = setup->max_keycode - setup->min_keycode + 1;
    xcb_get_keyboard_mapping_reply_t* map = xcb_get_keyboard_mapping_reply(
        m_c, xcb_get_keyboard_mapping(m_c, setup->min_keycode, static_cast<uint8_t>(count)),
        nullptr);
    int spare = 0;
    const xcb_keysym_t* syms = map ? xcb_get_keyboard_mapping_keysyms(map) : nullptr;
    for (int i = 0; map && i < count; ++i) {
        bool empty = true;
        for (int j = 0; j < map->keysyms_per_keycode; ++j)
            empty = empty && syms[i * map->keysyms_per_keycode + j] == 0;
        spare += empty ? 1 : 0;
    }
    std::free(map);
    return spare;
}
