#include "KeyflareProgram.h"

#include "DesktopPlatform.h"
#include "PanelGeometry.h"
#include "TestFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <qtestsupport_core.h>

namespace {
// The grabber looks every 250 ms; a coarse timer may fire up to 5% late.
constexpr int kGrabberLookMs = 300;
const QString kPanel = QStringLiteral("Keyflare v2.3");
} // namespace

KeyflareProgram::KeyflareProgram(const QString& installedExecutable)
{
    // A folder name with a space, as users' folders have: the desktop file of KDE Plasma must
    // name the copy all the same.
    const bool portable = installedExecutable.isEmpty();
    m_folder = m_dir.filePath(portable ? "my tools/" : "data/Keyflare/");
    m_executable = portable ? m_folder + "keyflare" : installedExecutable;
    QDir().mkpath(m_folder);
    if (portable) { // the program and its keeper, as built
        for (const char* name : {"keyflare", "keyflare-clipboard"})
            QFile::copy(QFileInfo(KEYFLARE_BINARY).dir().filePath(name), m_folder + name);
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // The session's settings (GNOME's dconf) stay the session's: a program that read its own
    // empty copy would write the list of enabled extensions back without the others.
    const QString sessionConfig = env.value("XDG_CONFIG_HOME");
    QDir(m_dir.path()).mkpath("config");
    if (session() == Session::Gnome && !sessionConfig.isEmpty())
        QFile::link(sessionConfig + "/dconf", m_dir.filePath("config/dconf"));
    env.insert("XDG_CONFIG_HOME", m_dir.filePath("config"));
    // An installed copy keeps its files in the data folder; a portable one only registers itself
    // with the desktop there (KDE Plasma), where the desktop looks.
    if (!portable)
        env.insert("XDG_DATA_HOME", m_dir.filePath("data"));
    env.insert("QT_QPA_PLATFORM", session() == Session::X11 ? "xcb" : "wayland");
    // Its widgets are read as a screen reader reads them.
    env.insert("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1");
    env.remove("QT_SCALE_FACTOR");
    // Started as from a terminal or a script, without the session's menu prefix: a portable copy
    // under KDE Plasma registers itself all the same.
    env.remove("XDG_MENU_PREFIX");
    m_process.setProcessEnvironment(env);
    m_process.setProcessChannelMode(QProcess::ForwardedChannels);
}

KeyflareProgram::~KeyflareProgram()
{
    if (isRunning() && !terminate())
        m_process.kill();
    m_process.waitForFinished(3000);
}

bool KeyflareProgram::terminate()
{
    m_process.terminate();
    return waitForExit(5000);
}

void KeyflareProgram::putTargetAndSet(const QString& target, const QStringList& texts)
{
    putFile("Keyflare.ini", target.toUtf8() + "\r\n");
    putSet("Set", texts);
}

void KeyflareProgram::storeSettings(const QMap<QString, QString>& values)
{
    QSettings s(m_dir.filePath("config/Keyflare/Keyflare.conf"), QSettings::IniFormat);
    for (auto it = values.begin(); it != values.end(); ++it)
        s.setValue("Settings/" + it.key(), it.value());
}

QString KeyflareProgram::storedSetting(const QString& key) const
{
    return QSettings(m_dir.filePath("config/Keyflare/Keyflare.conf"), QSettings::IniFormat)
        .value("Settings/" + key)
        .toString();
}

bool KeyflareProgram::start()
{
    m_process.start(m_executable, {});
    // Under KDE Plasma a new portable copy first says that it has registered itself, under GNOME
    // it asks to be allowed (Enter answers Yes); the installed one is answered by the extension
    // installed beside it (GNOME).
    const bool portable = m_executable.startsWith(m_dir.path());
    const bool registers = session() == Session::KWin || (session() == Session::Gnome && portable);
    const bool started = m_process.waitForStarted(5000) && (!registers || pressEnterIn("Keyflare"));
    m_window = started ? waitForWindow(kPanel, 10000) : 0;
    if (m_window == 0) {
        qWarning("Keyflare did not show its panel: %s", qPrintable(m_process.errorString()));
        return false;
    }
    waitUntilActive(m_window);
    return true;
}

bool KeyflareProgram::waitUntilIdle(int ms)
{
    // The main thread blocked in poll() (7) or ppoll() (271) waits for events; it is idle when it
    // is found there every time over a short while (a round trip waits there too, but briefly).
    const QString path = "/proc/" + QString::number(m_process.processId()) + "/syscall";
    int seen = 0;
    const auto waiting = [&] {
        const QByteArray call = readFile(path).split(' ').value(0);
        return (seen = call == "7" || call == "271" ? seen + 1 : 0) >= 5;
    };
    return QTest::qWaitFor(waiting, ms);
}

bool KeyflareProgram::waitForLook()
{
    // A timer that came due while Keyflare was busy fires as soon as its event loop runs again:
    // once a look's period has passed and the loop is found waiting, the look has been taken.
    QTest::qWait(kGrabberLookMs);
    return waitUntilIdle();
}

bool KeyflareProgram::waitUntilPlaced(Hand& hand)
{
    // A panel just listed may not have its place yet: the desktop places it after listing it.
    QRect last;
    (void)QTest::qWaitFor(
        [&] {
            const QRect now = hand.windowRect(kPanel);
            const bool placed = !now.isEmpty() && now == last;
            last = now;
            return placed;
        },
        5000);
    return waitUntilIdle();
}

void KeyflareProgram::clickControl(Hand& hand, QRect units, int button)
{
    (void)waitUntilPlaced(hand);
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
    // A message box just shown may pass the focus on to its parent and back once more (GNOME):
    // a press that found the focus gone typed nothing, and is made again.
    return QTest::qWaitFor(
        [&] {
            if (waitForWindow(title, 0) == 0) // gone: the last press took, whatever it said
                return true;
            const WindowId box = keyboard.activation.activate(title);
            return box != 0 && keyboard.keys.inject(box, "{ENTER}") == Typing::Done;
        },
        10000);
}

Platform KeyflareProgram::desktop()
{
    if (!m_desktop)
        m_desktop = std::make_unique<DesktopPlatform>(QDir::tempPath());
    return m_desktop->platform();
}

bool KeyflareProgram::close()
{
    if (session() == Session::X11) // a request to the window manager, as from the close box
        QProcess::execute("wmctrl", {"-i", "-c", QString::number(m_window)});
    else if (session() == Session::Sway)
        QProcess::execute("swaymsg", {"[title=\"^Keyflare v2.3$\"] kill"});
    return session() == Session::X11 || session() == Session::Sway;
}

int KeyflareProgram::exitCode() const
{
    return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
}
