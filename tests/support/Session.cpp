#include "Session.h"

#include "GnomeUser.h"
#include "TestFiles.h"
#include "WaylandUser.h"
#include "XUser.h"
#include "gnome/GnomeShell.h"
#include "kwin/KWinDesktop.h"
#include "wlroots/WlrootsDesktop.h"
#include "x11/X11Desktop.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <algorithm>
#include <qtestsupport_core.h>
#include <xkbcommon/xkbcommon.h>

Session session()
{
    // A desktop test that finds no desktop fails, rather than passing what it never ran.
    if (qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qFatal("no desktop to test in (neither DISPLAY nor WAYLAND_DISPLAY is set): run the test "
               "through scripts/with-xvfb.sh, or ./test.sh");
    if (qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return Session::X11;
    const QByteArray desktop = qgetenv("XDG_CURRENT_DESKTOP");
    if (desktop == "GNOME")
        return Session::Gnome;
    return desktop == "KDE" ? Session::KWin : desktop == "sway" ? Session::Sway : Session::Weston;
}

namespace {
// The windows the desktop lists, bottom to top (the active one last on Wayland).
std::vector<CandidateWindow> sessionWindows()
{
    if (session() == Session::X11)
        return X11Desktop().listWindows();
    if (session() == Session::Gnome) { // the test may call Keyflare's extension
        std::vector<CandidateWindow> out;
        for (const GnomeShell::Window& w :
             GnomeShell().windows().value_or(std::vector<GnomeShell::Window>{}))
            out.push_back({w.id, w.title, w.own, w.program});
        return out;
    }
    WlrootsDesktop wlroots{QString()};
    return wlroots.isSupported() ? wlroots.listWindows() : KWinDesktop{QString()}.listWindows();
}
} // namespace

WindowId waitForWindow(const QString& title, int ms)
{
    WindowId found = 0;
    (void)QTest::qWaitFor(
        [&] {
            for (const CandidateWindow& w : sessionWindows()) {
                if (found == 0 && w.title == title)
                    found = w.id;
            }
            return found != 0;
        },
        ms);
    return found;
}

void waitUntilActive(WindowId window, int ms)
{
    if (session() == Session::X11) {
        (void)XUser().waitForFocus(static_cast<quint32>(window), ms);
        return;
    }
    // On Wayland the window made active last comes last in the list.
    (void)QTest::qWaitFor(
        [&] {
            const auto windows = sessionWindows();
            return !windows.empty() && windows.back().id == window;
        },
        ms);
}

bool waitForNoWindow(const QString& title, int ms)
{
    return QTest::qWaitFor([&] { return waitForWindow(title, 0) == 0; }, ms);
}

namespace {
// Asks KWin's keyboard service; the answer's first argument, or an invalid value.
QVariant askKWinLayouts(const QString& method, const QVariantList& arguments = {})
{
    QDBusMessage call = QDBusMessage::createMethodCall("org.kde.keyboard", "/Layouts",
                                                       "org.kde.KeyboardLayouts", method);
    call.setArguments(arguments);
    return QDBusConnection::sessionBus().call(call).arguments().value(0);
}

bool kwinServesLayouts()
{
    return QDBusConnection::sessionBus().interface()->isServiceRegistered("org.kde.keyboard");
}

// The layouts KWin has in force ("us,de"), or nothing where its keyboard service is off the bus:
// KWin 5 takes it off while a single layout is in force.
QString kwinLayouts()
{
    const QVariant list = askKWinLayouts("getLayoutsList");
    if (!list.canConvert<QDBusArgument>())
        return {};
    const QDBusArgument array = list.value<QDBusArgument>();
    QStringList names;
    for (array.beginArray(); !array.atEnd();) {
        QString name, variant, description;
        array.beginStructure();
        array >> name >> variant >> description;
        array.endStructure();
        names << name;
    }
    array.endArray();
    return names.join(',');
}

QString kxkbrcPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + "/kxkbrc";
}

// The layouts as Plasma's settings write them.
QByteArray kxkbrc(const QString& layouts)
{
    return "[Layout]\nLayoutList=" + layouts.toUtf8() + "\nUse=true\n";
}

// Writes the layouts as Plasma's settings do, and waits until KWin has them in force.
void putKWinLayouts(const QString& layouts)
{
    writeFile(kxkbrcPath(), kxkbrc(layouts));
    // KWin 5.27 and 6.3 reload on Plasma 5's signal, 6.7 only on word of the changed keys, which
    // Plasma 6's settings send.
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.send(QDBusMessage::createSignal("/Layouts", "org.kde.keyboard", "reloadConfig"));
    QDBusMessage changed =
        QDBusMessage::createSignal("/kxkbrc", "org.kde.kconfig.notify", "ConfigChanged");
    qDBusRegisterMetaType<QByteArrayList>();
    QDBusArgument keys;
    keys.beginMap(QMetaType::fromType<QString>(), QMetaType::fromType<QByteArrayList>());
    keys.beginMapEntry();
    keys << QStringLiteral("Layout") << QByteArrayList{"LayoutList", "Use"};
    keys.endMapEntry();
    keys.endMap();
    changed << QVariant::fromValue(keys);
    bus.send(changed);
    const bool single = !layouts.contains(QLatin1Char(','));
    const auto inForce = [&] {
        const QString listed = kwinLayouts();
        return listed == layouts || (single && listed.isEmpty() && !kwinServesLayouts());
    };
    if (!QTest::qWaitFor(inForce, 10000))
        qWarning("KWin did not put the layouts %s in force", qPrintable(layouts));
}

// The lines that name the layouts' groups in a keymap as the X server's tool writes it
// ("name[group1]=\"German\";"), from the descriptions that the layouts' symbols give.
QList<QByteArray> groupLines(const QString& layout)
{
    QList<QByteArray> lines;
    xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    if (!context)
        return lines;
    const QByteArray layouts = layout.toUtf8();
    const xkb_rule_names names{"evdev", nullptr, layouts.constData(), nullptr, nullptr};
    if (xkb_keymap* keymap =
            xkb_keymap_new_from_names(context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS)) {
        for (xkb_layout_index_t i = 0; i < xkb_keymap_num_layouts(keymap); ++i)
            lines << "name[group" + QByteArray::number(i + 1) + "]=\"" +
                         xkb_keymap_layout_get_name(keymap, i) + "\";";
        xkb_keymap_unref(keymap);
    }
    xkb_context_unref(context);
    return lines;
}
} // namespace

void selectKWinLayout(int index)
{
    askKWinLayouts("setLayout", {QVariant::fromValue(uint(index))});
    (void)QTest::qWaitFor([&] { return activeKWinLayout() == index; }, 5000);
}

int activeKWinLayout()
{
    return askKWinLayouts("getLayout").toInt();
}

void setKeyboardLayout(const QString& layout)
{
    if (session() == Session::KWin) {
        // A change from one single layout to another would show nowhere on KWin 5, which lists
        // neither: it goes through two.
        if (!layout.contains(QLatin1Char(',')) && !kwinServesLayouts() &&
            readFile(kxkbrcPath()) != kxkbrc(layout))
            putKWinLayouts(layout + (layout == "us" ? ",de" : ",us"));
        putKWinLayouts(layout);
        selectKWinLayout(0);
    }
    if (session() == Session::Gnome) { // as GNOME's settings write it
        QStringList sources;
        for (const QString& name : layout.split(','))
            sources << "('xkb', '" + name + "')";
        QProcess::execute("gsettings", {"set", "org.gnome.desktop.input-sources", "sources",
                                        "[" + sources.join(", ") + "]"});
        // In force once the programs' keymap has each layout's group in the order given (the
        // shell may add a group after them). Its own name says nothing: the shell leaves it
        // unnamed.
        const QList<QByteArray> groups = groupLines(layout);
        const auto inForce = [&] {
            const QByteArray keymap = xwaylandKeymap();
            return std::all_of(groups.begin(), groups.end(),
                               [&](const QByteArray& line) { return keymap.contains(line); });
        };
        if (groups.isEmpty() || !QTest::qWaitFor(inForce, 10000))
            qWarning("GNOME Shell did not put the layouts %s in force", qPrintable(layout));
    }
    if (session() == Session::X11)
        QProcess::execute("setxkbmap", {"-layout", layout});
    else if (session() == Session::Sway)
        QProcess::execute("swaymsg", {"input type:keyboard xkb_layout " + layout});
}

QByteArray xwaylandKeymap()
{
    return programOutput("xkbcomp", {"-xkb", qEnvironmentVariable("DISPLAY"), "-"});
}

qint64 xwaylandPid()
{
    // Started as "Xwayland :N ...".
    const QByteArray display = qgetenv("DISPLAY");
    const QStringList processes = QDir("/proc").entryList(QDir::Dirs);
    for (const QString& pid : processes) {
        QFile file("/proc/" + pid + "/cmdline");
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QList<QByteArray> args = file.readAll().split('\0');
        if (args.size() > 1 && args[0].endsWith("Xwayland") && args[1] == display)
            return pid.toLongLong();
    }
    return 0;
}

QByteArray programOutput(const QString& program, const QStringList& args, int ms)
{
    QProcess p;
    p.start(program, args);
    p.waitForFinished(ms);
    return p.readAllStandardOutput();
}

QString uniqueTitle(const QString& base)
{
    return base + " " + QString::number(QCoreApplication::applicationPid());
}

void Hand::click(int button)
{
    this->button(button, true);
    this->button(button, false);
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
    moveOver(title, controlCentre(title, windowUnits, units));
    click(button);
}

std::unique_ptr<Hand> Hand::forSession()
{
    if (session() == Session::X11)
        return std::make_unique<XUser>();
    if (session() == Session::Gnome)
        return std::make_unique<GnomeUser>();
    return std::make_unique<WaylandUser>();
}
