#include "XSession.h"

#include "DesktopPlatform.h"
#include "PanelGeometry.h"
#include "TestFiles.h"
#include "WaylandSession.h"
#include "x11/X11Connection.h"
#include "x11/X11Desktop.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <algorithm>
#include <qtestsupport_core.h>
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit

namespace {
const QString kPanel = QStringLiteral("Keyflare v2.3");
} // namespace

Session session()
{
    if (qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return Session::X11;
    const QByteArray desktop = qgetenv("XDG_CURRENT_DESKTOP");
    return desktop == "KDE" ? Session::KWin : desktop == "sway" ? Session::Sway : Session::Weston;
}

std::vector<CandidateWindow> sessionWindows()
{
    return session() == Session::X11 ? X11Desktop().listWindows() : waylandWindows();
}

quint32 waitForWindow(const QString& title, int ms)
{
    quint32 found = 0;
    (void)QTest::qWaitFor(
        [&] {
            for (const CandidateWindow& w : sessionWindows()) {
                if (found == 0 && w.title == title)
                    found = static_cast<quint32>(w.id);
            }
            return found != 0;
        },
        ms);
    return found;
}

bool waitForNoWindow(const QString& title, int ms)
{
    return QTest::qWaitFor([&] { return waitForWindow(title, 0) == 0; }, ms);
}

QString uniqueTitle(const QString& base)
{
    return QStringLiteral("%1 %2").arg(base).arg(QCoreApplication::applicationPid());
}

QString testHelperPath(const QString& name)
{
    return QStringLiteral(KEYFLARE_TEST_HELPERS_DIR "/") + name;
}

void Hand::click(int button)
{
    press(button);
    release(button);
}

QPoint Hand::controlCentre(const QString& title, int windowUnits, QRect units)
{
    const QRect r = windowRect(title);
    const double scale = r.width() / double(windowUnits);
    return r.topLeft() + QPoint(qRound((units.left() + units.width() / 2) * scale),
                                qRound((units.top() + units.height() / 2) * scale));
}

void Hand::clickControl(const QString& title, int windowUnits, QRect units, int button)
{
    moveTo(controlCentre(title, windowUnits, units));
    click(button);
}

std::unique_ptr<Hand> Hand::forSession()
{
    if (session() == Session::X11)
        return std::make_unique<XUser>();
    return std::make_unique<WaylandUser>();
}

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
    return clientRect(waitForWindow(title));
}

QRect XUser::clientRect(quint32 window)
{
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

void XUser::press(int button)
{
    xdotool({QStringLiteral("mousedown"), QString::number(button)});
}

void XUser::release(int button)
{
    xdotool({QStringLiteral("mouseup"), QString::number(button)});
}

void XUser::keys(const QString& keys)
{
    xdotool({QStringLiteral("key"), keys});
}

void XUser::key(const QString& key, bool down)
{
    xdotool({down ? QStringLiteral("keydown") : QStringLiteral("keyup"), key});
}

bool XUser::setLayout(const QString& layout)
{
    return QProcess::execute(QStringLiteral("setxkbmap"), {QStringLiteral("-layout"), layout}) == 0;
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

void XUser::closeWindow(quint32 window)
{
    xcb_client_message_event_t ev{};
    ev.response_type = XCB_CLIENT_MESSAGE;
    ev.format = 32;
    ev.window = window;
    ev.type = m_x->ewmh._NET_CLOSE_WINDOW;
    ev.data.data32[1] = 2; // from a pager or a user's tool
    xcb_send_event(m_x->c, 0, m_x->root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                   reinterpret_cast<const char*>(&ev));
    m_x->sync();
}

QList<quint32> XUser::rootChildren()
{
    const std::vector<xcb_window_t> kids = m_x->children(m_x->root);
    return QList<quint32>(kids.begin(), kids.end());
}

void XUser::destroyWindow(quint32 window)
{
    xcb_destroy_window(m_x->c, window);
    m_x->sync();
}

bool XUser::hasState(quint32 window, const char* state)
{
    const QByteArray atoms = m_x->property(window, m_x->ewmh._NET_WM_STATE, XCB_ATOM_ATOM);
    const auto* held = reinterpret_cast<const quint32*>(atoms.constData());
    return std::count(held, held + atoms.size() / 4, m_x->intern(state)) > 0;
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
    (void)waitForNoWindow(m_title, 3000);
}

bool Receiver::start()
{
    const bool x11 = session() == Session::X11;
    const QString out = m_dir.filePath(QStringLiteral("received"));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"),
               x11 ? QStringLiteral("xcb") : QStringLiteral("wayland"));
    env.insert(QStringLiteral("GDK_BACKEND"),
               x11 ? QStringLiteral("x11") : QStringLiteral("wayland"));
    m_process.setProcessEnvironment(env);
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    // A terminal reads raw, and appends every byte to the file as it comes: "\r" for Enter, "\t"
    // for Tab, UTF-8 for the rest. The ready file says that nothing typed from then on is cooked.
    const QStringList capture{QStringLiteral("sh"), QStringLiteral("-c"),
                              QStringLiteral("stty raw -echo -iexten cs8 && touch \"$0.ready\" && "
                                             "exec cat >>\"$0\""),
                              out};
    QString program = testHelperPath(QStringLiteral("qtreceiver"));
    QStringList args{m_title, out};
    if (m_kind == Slow) {
        program = testHelperPath(QStringLiteral("slowreceiver"));
        args << QString::number(m_delay);
    } else if (m_kind == Gtk) {
        program = QStringLiteral("/usr/bin/python3"); // with the system's GTK bindings
        args.prepend(testHelperPath(QStringLiteral("gtkreceiver.py")));
    } else if (m_kind == Terminal && x11) {
        program = QStringLiteral("xterm");
        args = QStringList{QStringLiteral("-T"), m_title} +
               QStringLiteral("-u8 -xrm XTerm*utf8Title:true -geometry %1 -e")
                   .arg(m_geometry)
                   .split(QLatin1Char(' ')) +
               capture;
    } else if (m_kind == Terminal) {
        program = QStringLiteral("foot");
        args = QStringList{QStringLiteral("--title=") + m_title} + capture;
    }
    m_process.start(program, args);
    m_window = m_process.waitForStarted(5000) ? waitForWindow(m_title, 10000) : 0;
    const QString ready = out + QStringLiteral(".ready");
    if (m_window == 0 ||
        (m_kind == Terminal && !QTest::qWaitFor([&] { return QFile::exists(ready); }, 10000))) {
        // Says why, with the program's own output, so that a failure on a busy machine explains
        // itself.
        qWarning("%s did not show \"%s\" ready to read: %s\n%s", qPrintable(program),
                 qPrintable(m_title), qPrintable(m_process.errorString()),
                 m_process.readAll().constData());
        return false;
    }
    // The desktop makes a new window active a moment after it appears; a test that activates
    // another window first would otherwise race it. On Wayland the window made active last
    // comes last in the list.
    if (x11)
        XUser().waitForFocus(m_window, 2000);
    else
        (void)QTest::qWaitFor(
            [&] {
                const auto windows = sessionWindows();
                return !windows.empty() && windows.back().id == m_window;
            },
            2000);
    return true;
}

QByteArray Receiver::received() const
{
    QFile f(m_dir.filePath(QStringLiteral("received")));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QByteArray Receiver::waitFor(const QByteArray& expected, int ms) const
{
    (void)QTest::qWaitFor([&] { return received().size() >= expected.size(); }, ms);
    return received();
}

QByteArray Receiver::settle(int ms) const
{
    QTest::qWait(ms);
    return received();
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
    env.insert(QStringLiteral("QT_QPA_PLATFORM"),
               session() == Session::X11 ? QStringLiteral("xcb") : QStringLiteral("wayland"));
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
    writeFile(m_folder + name, bytes);
}

void KeyflareProgram::putSet(const QString& name, const QStringList& texts)
{
    putFile(name + QStringLiteral(".mcs"), macroSetBytes(texts));
}

void KeyflareProgram::putTargetAndSet(const QString& target, const QStringList& texts)
{
    putFile(QStringLiteral("Keyflare.ini"), target.toUtf8() + "\r\n");
    putSet(QStringLiteral("Set"), texts);
}

QByteArray KeyflareProgram::file(const QString& name) const
{
    return readFile(m_folder + name);
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

bool KeyflareProgram::start()
{
    m_process.start(m_executable, {});
    // Under KDE Plasma a new portable copy first says that it has registered itself.
    const bool started = m_process.waitForStarted(5000) &&
                         (session() != Session::KWin || pressEnterIn(QStringLiteral("Keyflare")));
    m_window = started ? waitForWindow(kPanel, 10000) : 0;
    if (m_window == 0)
        qWarning("Keyflare did not show its panel: %s", qPrintable(m_process.errorString()));
    QTest::qWait(300); // listed is not yet ready for a click: the desktop still places it
    return m_window != 0;
}

void KeyflareProgram::clickControl(Hand& hand, QRect units, int button)
{
    // A panel just shown may not take the activation yet.
    (void)QTest::qWaitFor([&] { return desktop().activation.activate(kPanel) != 0; }, 5000);
    hand.clickControl(kPanel, PanelGeometry::kWidth, units, button);
}

void KeyflareProgram::clickMacroButton(Hand& hand, int number, int button)
{
    clickControl(hand, PanelGeometry::macroButton(number - 1), button);
}

bool KeyflareProgram::pressEnterIn(const QString& title)
{
    if (waitForWindow(title, 10000) == 0)
        return false;
    Platform keyboard = desktop();
    return keyboard.keys.inject(keyboard.activation.activate(title), QStringLiteral("{ENTER}")) ==
           Typing::Done;
}

Platform KeyflareProgram::desktop()
{
    if (!m_desktop)
        m_desktop = std::make_unique<DesktopPlatform>(QDir::tempPath());
    return m_desktop->platform();
}

bool KeyflareProgram::close()
{
    if (session() == Session::X11)
        XUser().closeWindow(m_window);
    else if (session() == Session::Sway)
        QProcess::execute(QStringLiteral("swaymsg"),
                          {QStringLiteral("[title=\"^Keyflare v2.3$\"] kill")});
    return session() == Session::X11 || session() == Session::Sway;
}

bool KeyflareProgram::waitForExit(int ms)
{
    return QTest::qWaitFor([&] { return !isRunning(); }, ms);
}

int KeyflareProgram::exitCode() const
{
    return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
}
