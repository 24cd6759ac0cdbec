// The desktop services Keyflare picks for the session it runs in, on each desktop it knows: an X
// server with a window manager, sway, KWin, and weston, which lets no program reach another's
// windows. Any text arrives exactly in real programs, on several layouts, with locks on and
// modifiers held; or nothing is typed: once the target is no longer active or gone, or where the
// desktop allows none of it, and then the platform says so.
#include "DesktopPlatform.h"
#include "GnomeUser.h"
#include "KeystrokeString.h"
#include "Receiver.h"
#include "Rows.h"
#include "TestFiles.h"
#include "TestTexts.h"
#include "WaylandUser.h"
#include "XUser.h"
#include "fake/FakeDesktop.h"
#include "gnome/GnomeShell.h"
#include "x11/X11Desktop.h"
#include "x11/X11Session.h"
#include "xkb/TextLayout.h"

#include <QDBusConnectionInterface>
#include <QDBusVirtualObject>
#include <QDir>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTest>
#include <QThread>
#include <array>
#include <atomic>
#include <csignal>
#include <linux/input-event-codes.h>
#include <thread>
#include <unistd.h>

namespace {
constexpr int kLocks = 2 | 16; // Caps Lock and Num Lock
// The receiver, the layouts, the group locked, whether Caps Lock (and Num Lock on X11) is on, the
// texts sent one after the other, the slow receiver's delay, and a modifier the user still holds
// as the send starts.
using AnyTextRows = Rows<int, QString, int, bool, QStringList, int, QString>;
} // namespace

class TestDesktop : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void typesAnyText_data();
    void typesAnyText();
    void followsALayoutSwitch();
    void typesNothingOnceTheTargetIsNoLongerActive_data();
    void typesNothingOnceTheTargetIsNoLongerActive();
    void leavesTheKeysOfARunningProgram();
    void takesOverOnlyLeftoverKeys_data();
    void takesOverOnlyLeftoverKeys();
    void survivesALostXServer();
    void waitsForAStalledXwayland();
    void activatesWithoutItsHelperWindow();
    void saysWhatItCannotReach();
    void refusesOtherCallers_data();
    void refusesOtherCallers();
    void asksBeforeAllowingACopy();
    void callsOnlyTheShell();
    void stopsWhereKeyflareWouldNot_data();
    void stopsWhereKeyflareWouldNot();

private:
    XUser& x() { return static_cast<XUser&>(*m_hand); }
    // Sets the keyboard layout and the lock keys as a user would, where the test can.
    void setKeyboard(const QString& layout, int group, bool locks);

    std::unique_ptr<Hand> m_hand = Hand::forSession();
    DesktopPlatform m_desktop{QDir::tempPath()};
    Platform m_platform = m_desktop.platform();
};

void TestDesktop::init()
{
    const QByteArray test = QTest::currentTestFunction();
    if (session() == Session::Weston && test != "saysWhatItCannotReach")
        QSKIP("this desktop lets no program reach another's windows");
    const QList<QByteArray> onX11Only = {"leavesTheKeysOfARunningProgram",
                                         "takesOverOnlyLeftoverKeys", "survivesALostXServer",
                                         "activatesWithoutItsHelperWindow"};
    if (session() != Session::X11 && onX11Only.contains(test))
        QSKIP("about the X server's own keyboard map and connection");
    if (session() == Session::Sway && test == "followsALayoutSwitch")
        QSKIP("types with a keyboard map of its own, whatever the user's layout");
}

void TestDesktop::cleanup()
{
    setKeyboard("us", 0, false);
}

void TestDesktop::setKeyboard(const QString& layout, int group, bool locks)
{
    setKeyboardLayout(layout);
    if (session() == Session::X11) {
        x().lockGroup(group);
        x().lockModifiers(kLocks, locks ? kLocks : 0);
    } else if (session() == Session::KWin) {
        selectKWinLayout(group);
        if (locks) // a tap of Caps Lock, which toggles it
            static_cast<WaylandUser&>(*m_hand).tapKey(KEY_CAPSLOCK);
    } else if (session() == Session::Gnome) {
        auto& hand = static_cast<GnomeUser&>(*m_hand);
        hand.selectInputSource(group);
        QVERIFY(QTest::qWaitFor([&] { return hand.layoutInForce() == group; }, 5000));
        if (locks)
            hand.tapKey(0xffe5); // Caps_Lock
    }
}

void TestDesktop::typesAnyText_data()
{
    AnyTextRows::columns();
    const auto row = [](const char* tag, int kind, const QString& layout, int group, bool locks,
                        const QStringList& texts, int delay = 0, const QString& held = {}) {
        AnyTextRows::row(tag, kind, layout, group, locks, texts, delay, held);
    };
    const int term = Receiver::Terminal, gtk = Receiver::Gtk, qt = Receiver::TextEdit;
    const int slow = Receiver::Slow;
    // Every character a keyboard types, those many layouts reach only through AltGr or dead
    // keys, and some they lack.
    const QString every = printableAscii() + QStringLiteral("\t@€{^`~ ") +
                          QString::fromUcs4(U"é ß € “ — Жж Ωω \U0001F600");
    // A button's whole text, every character distinct and outside the layout: more than two
    // levels a group hold, so on X11 it goes on keys of four levels.
    const QString wide = chineseText(240, QStringLiteral("Chinese: "));
    // More than even those hold at once: typed in rounds into programs that confirm they have
    // read each one, refused (nothing typed) by one that cannot.
    const QString longer = chineseText(400, wide, 0x4f00);
    if (session() == Session::Sway) {
        row("terminal, every character", term, "us", 0, false, {every});
        row("terminal, every character, de", term, "de", 0, false, {every});
        row("text edit, 146 distinct", qt, "us", 0, false, {kAnyText});
        row("terminal, 240 distinct", term, "us", 0, false, {wide});
        // More distinct characters than one keyboard map holds.
        row("terminal, 400 distinct: refused", term, "us", 0, false, {chineseText(400)});
    }
    if (session() == Session::KWin) { // foot maps no window under KWin
        row("text edit, every character", qt, "us", 0, false, {every});
        row("text edit, Caps Lock on", qt, "us", 0, true, {every});
        row("text edit, 146 distinct", qt, "us", 0, false, {kAnyText});
    }
    if (session() == Session::Gnome) { // each text with a layout of its own, typed in the shell
        row("Qt 6, every character", qt, "us", 0, false, {every});
        row("Qt 6, Caps Lock on", qt, "us", 0, true, {every});
        row("GTK 3, 146 distinct", gtk, "us", 0, false, {kAnyText});
        // An X11 program reads the keymap only when it comes to the keys.
        row("xterm, 146 distinct", term, "us", 0, false, {kAnyText});
        row("xterm, Return", term, "us", 0, false, {QStringLiteral("naïve\rab\r")});
        // Sent while the program still reads the keys of the texts before (the Return of a
        // button comes at once): their layouts stand where they stood.
        row("slow receiver, text after text, still reading", slow, "us", 0, false,
            {QStringLiteral("é ß Жж Ωω"), QStringLiteral("naïve “x”"), QStringLiteral("\r"),
             QStringLiteral("é ß\r")},
            20);
        row("xterm, text after text, two layouts", term, "us,ru", 1, false,
            {QStringLiteral("in layout"), kAnyText, QStringLiteral("é ß Жж Ωω"), wide});
        row("Qt 6, 240 distinct in two parts", qt, "us", 0, false, {wide});
        row("GTK 3, text after text, two layouts", gtk, "us,ru", 0, false,
            {QStringLiteral("in layout"), kAnyText, QStringLiteral("é ß Жж Ωω"), wide});
        const QString button = QStringLiteral("Dear Ms. O'Neil, 5€ — “now” ").repeated(8);
        row("Qt 6, long texts, then one in two parts", qt, "us", 0, false,
            {button, button, button, button, button, kAnyText});
    }
    if (session() != Session::X11)
        return;
    row("xterm, every character, de", term, "de", 0, false, {every});
    row("xterm, every character, fr", term, "fr", 0, false, {every});
    row("xterm, every character, us,de with de locked, locks", term, "us,de", 1, true, {every});
    row("xterm, de, locks", term, "de", 0, true, {kAnyText});
    row("GTK 3, de, locks", gtk, "de", 0, true, {kAnyText});
    row("GTK 3, us,de with de locked", gtk, "us,de", 1, false, {kAnyText});
    row("Qt 6, de, locks", qt, "de", 0, true, {kAnyText});
    row("Qt 6, us,de with de locked", qt, "us,de", 1, false, {kAnyText});
    row("xterm, 231 distinct, de, locks", term, "de", 0, true, {wide});
    row("Qt 6, 231 distinct, us,de with de locked", qt, "us,de", 1, false, {wide});
    row("slow receiver, 231 distinct", slow, "us", 0, false, {wide}, 5);
    row("Qt 6, more than fits at once", qt, "us", 0, false, {longer});
    row("GTK 3, more than fits at once, locks", gtk, "de", 0, true, {longer});
    row("slow receiver, more than fits at once", slow, "us", 0, false, {longer}, 2);
    row("xterm, more than fits at once: refused", term, "us", 0, false, {longer});
    // Text after text, each needing a different set of borrowed keys, some on keys of four
    // levels: each change of the map is the only one before its keys, and it waits until the
    // receiver has read the keys of the text before.
    const auto chinese = [&](char32_t from) { return chineseText(240, {}, from); };
    const QStringList texts = {
        chinese(0x4e00), kAnyText, chinese(0x5000), chinese(0x5000), QStringLiteral("é ß Жж Ωω"),
        chinese(0x4e00)};
    row("xterm, text after text", term, "us", 0, false, texts);
    row("xterm, many outside after a few", term, "us", 0, false,
        {QStringLiteral("café 5 € “x”"), QStringLiteral("Жж Ωω გ こん 안녕"), kAnyText});
    row("slow receiver, text after text, still reading", slow, "us", 0, false, texts, 2);
    // The modifier of a modified click, let go a moment later, is not mixed into the text.
    const QStringList keys = {QStringLiteral("aB1 é")};
    row("xterm, Shift held", term, "us", 0, false, keys, 0, "Shift_L");
    row("xterm, Ctrl held", term, "us", 0, false, keys, 0, "Control_L");
    row("xterm, Alt held", term, "us", 0, false, keys, 0, "Alt_L");
}

// Any text, up to far more distinct characters outside the layout than there are spare keycodes,
// arrives whole and exact, whatever reads it. On X11 the locks, the layout group and the keys are
// left as they were, and the borrowed keycodes are given back when the sender goes; where the
// text goes through the clipboard (KWin, for what the layout lacks), it holds what the user had
// put there once it is over.
void TestDesktop::typesAnyText()
{
    const auto [kind, layout, group, locks, texts, delay, held] = AnyTextRows::fetch();
    const bool x11 = session() == Session::X11;
    setKeyboard(layout, group, locks && x11);
    const QString title = uniqueTitle("kf any text") + " " + QTest::currentDataTag();
    Receiver receiver(title, QStringLiteral("100x10+20+500"), delay, Receiver::Kind(kind));
    QVERIFY(receiver.start());
    const bool gnome = session() == Session::Gnome;
    if (gnome) // what an earlier test typed into an X11 window may still stand
        GnomeShell().restoreKeymap();
    const QByteArray keymap = gnome ? xwaylandKeymap() : QByteArray();
    if (!x11 && !gnome)
        QProcess::execute("wl-copy", {"the user's own text"});
    const int spare = x11 ? x().spareKeycodes() : 0;
    const bool refused = QByteArray(QTest::currentDataTag()).endsWith("refused");
    QByteArray expected;
    {
        DesktopPlatform desktop(QDir::tempPath());
        Platform platform = desktop.platform();
        if (locks && !x11)
            setKeyboard(layout, group, true); // on
        if (!held.isEmpty()) {                // and let go of while the send waits
            x().key(held, true);
            QProcess::startDetached("xdotool", {"sleep", "0.3", "keyup", held});
        }
        for (const QString& text : texts) {
            const WindowId target = platform.activation.activate(title);
            QVERIFY(target != 0);
            QCOMPARE(platform.keys.inject(target, keystrokeString(text)) == Typing::Done, !refused);
            expected += refused ? QByteArray() : text.toUtf8();
            // A terminal cannot tell when it has read its keys: the user waits for the text.
            if (kind == Receiver::Terminal)
                QCOMPARE(receiver.waitFor(expected), expected);
        }
        if (locks && !x11)
            setKeyboard(layout, group, true); // off again
        QCOMPARE(receiver.waitFor(expected, 60000), expected);
        QCOMPARE(receiver.settle(100), expected);
        // The user's keymap, every layout of it, as it was: at once after a Wayland program's
        // keys, at the latest when Keyflare ends after an X11 program's.
        if (gnome && kind != Receiver::Terminal && kind != Receiver::Slow)
            QVERIFY(QTest::qWaitFor([&] { return xwaylandKeymap() == keymap; }, 5000));
        if (gnome) // the user's own keys at once in either case
            QCOMPARE(static_cast<GnomeUser&>(*m_hand).layoutInForce(), group);
        if (!x11 && !gnome) { // served by the keeper, also after the platform has gone
            QCOMPARE(programOutput("wl-paste", {"--no-newline"}),
                     QByteArray("the user's own text"));
            return;
        }
    }
    if (gnome) {
        QVERIFY(QTest::qWaitFor([&] { return xwaylandKeymap() == keymap; }, 5000));
        return;
    }
    if (!x11)
        return;
    const auto [lockedGroup, lockedModifiers] = x().locks();
    QCOMPARE(lockedGroup, group);
    QCOMPARE(lockedModifiers & kLocks, locks ? kLocks : 0);
    QCOMPARE(x().keysDown(), 0);
    QCOMPARE(x().spareKeycodes(), spare);
}

void TestDesktop::followsALayoutSwitch()
{
    // KWin maps no terminal; it types letters a layout lacks through the clipboard.
    const bool kwin = session() == Session::KWin;
    Receiver receiver(uniqueTitle("kf switch"), "100x10+20+500", 0,
                      kwin                          ? Receiver::TextEdit
                      : session() == Session::Gnome ? Receiver::Gtk
                                                    : Receiver::Terminal);
    QVERIFY(receiver.start());
    const QString text = "hello world, plain ascii yz;@";
    QByteArray expected;
    // Two layouts with the second in force, then the first, then another layout.
    const std::pair<const char*, int> layouts[] = {{"us,ru", 1}, {"us,ru", 0}, {"de", 0}};
    for (const auto& [layout, group] : layouts) {
        setKeyboard(QLatin1String(layout), group, false);
        const QByteArray keymap = session() == Session::Gnome ? xwaylandKeymap() : QByteArray();
        const WindowId target = m_platform.activation.activate(receiver.title());
        QCOMPARE(m_platform.keys.inject(target, text), Typing::Done);
        expected += text.toUtf8();
        QCOMPARE(receiver.waitFor(expected), expected);
        if (kwin) // still the user's, though KWin typed keysyms of another
            QCOMPARE(activeKWinLayout(), group);
        if (session() == Session::Gnome) // given back, every layout of it
            QVERIFY(QTest::qWaitFor([&] { return xwaylandKeymap() == keymap; }, 5000));
    }
}

void TestDesktop::typesNothingOnceTheTargetIsNoLongerActive_data()
{
    QTest::addColumn<int>("when");
    QTest::newRow("another window made active") << 0;
    QTest::newRow("the target closed") << 1;
    QTest::newRow("another window made active during the send") << 2;
    QTest::newRow("the target closed, then asked for again") << 3;
}

// Between the activation and the keys the user makes another window active, or the target
// closes and another window takes the focus: no key goes anywhere. Made active while the keys
// go out, the other window gets at most the one key on its way at that moment.
void TestDesktop::typesNothingOnceTheTargetIsNoLongerActive()
{
    QFETCH(int, when);
    DesktopPlatform user(QDir::tempPath()); // the user's programs start after Keyflare
    Receiver target(uniqueTitle("kf desktop target"), "40x5+20+500");
    Receiver other(uniqueTitle("kf desktop other"), "40x5+500+500");
    QVERIFY(other.start());
    QVERIFY(target.start()); // last, so that it is active already when it is activated
    // The send on a thread of its own, so that the user can act meanwhile.
    if (when == 2) {
        const QString text = QString("abcdefghij").repeated(400);
        Typing result = Typing::Done;
        std::unique_ptr<QThread> sender(QThread::create([&] {
            DesktopPlatform desktop(QDir::tempPath());
            Platform platform = desktop.platform();
            result = platform.keys.inject(platform.activation.activate(target.title()), text);
        }));
        sender->start();
        QVERIFY(QTest::qWaitFor([&] { return !target.received().isEmpty(); }, 10000));
        QVERIFY(user.platform().activation.activate(other.title()));
        QVERIFY(sender->wait(60000));
        const QByteArray stray = other.settle();
        qInfo("keys that reached the other window: %d", int(stray.size()));
        QVERIFY2(stray.size() <= 1, stray.constData());
        // A desktop that had handed every key to the target before the user's click came in
        // has typed the whole text there, rightly; on a busy machine the target may show the
        // first keys only then.
        if (result == Typing::Done)
            QCOMPARE(target.waitFor(text.toUtf8()), text.toUtf8());
        else
            QCOMPARE(result, Typing::FocusLost);
        QVERIFY(result == Typing::Done || target.received().size() < text.size());
        return;
    }
    const WindowId id = m_platform.activation.activate(target.title());
    QVERIFY(id != 0);
    const bool closed = when == 1 || when == 3;
    if (closed)
        target.close();
    else
        QVERIFY(user.platform().activation.activate(other.title()));
    const Typing result = m_platform.keys.inject(id, "abc{ENTER}");
    QVERIFY(closed ? result != Typing::Done : result == Typing::FocusLost);
    // After that failure, the window that is gone is what the next send is told of.
    if (when == 3) {
        QCOMPARE(m_platform.activation.activate(target.title()), WindowId(0));
        QVERIFY2(m_desktop.lastError().contains(target.title()), qPrintable(m_desktop.lastError()));
    }
    QCOMPARE(target.settle(), QByteArray());
    QCOMPARE(other.settle(0), QByteArray());
    if (session() == Session::X11)
        QCOMPARE(x().keysDown(), 0);
}

// The second of two programs never takes the keycodes the first borrowed while that runs, and
// says that other programs hold the free keys rather than blaming the layout. Two programs that
// borrow at the same moment, both having asked the server for its map before it answers either,
// each get keycodes of their own.
void TestDesktop::leavesTheKeysOfARunningProgram()
{
    Receiver term(uniqueTitle("kf two borrowers"));
    QVERIFY(term.start());
    {
        X11Desktop first, second;
        QCOMPARE(first.inject(first.activate(term.title()), kAnyText), Typing::Done); // all
        QCOMPARE(second.inject(second.activate(term.title()), "ŋ"), Typing::NoFreeKeys);
    }
    const int spare = x().spareKeycodes();
    std::array<X11Session, 2> programs;
    QString error;
    for (X11Session& program : programs)
        QVERIFY2(program.open(QByteArray(), &error), qPrintable(error));
    xcb_connection_t* lever = xcb_connect(nullptr, nullptr); // the test's own
    xcb_grab_server(lever);
    std::free(xcb_get_input_focus_reply(lever, xcb_get_input_focus(lever), nullptr)); // held
    const std::array<char32_t, 2> chars = {U'Ж', U'Ω'};
    std::array<std::atomic<pid_t>, 2> threads{};
    std::array<bool, 2> borrowed{};
    std::vector<std::thread> borrowing;
    for (size_t i = 0; i < 2; ++i) {
        borrowing.emplace_back([&, i] {
            threads[i] = gettid();
            QString why;
            borrowed[i] = programs[i].keys().borrow({chars[i]}, false, &why);
        });
    }
    // Both wait for the server (in poll()) once their requests are on the way.
    const auto waiting = [&](size_t i) {
        return threads[i] != 0 &&
               readFile("/proc/self/task/" + QString::number(threads[i]) + "/syscall")
                   .startsWith("7 "); // poll()
    };
    const bool bothWaiting = QTest::qWaitFor([&] { return waiting(0) && waiting(1); }, 5000);
    xcb_ungrab_server(lever);
    xcb_disconnect(lever);
    for (std::thread& t : borrowing)
        t.join();
    QVERIFY(bothWaiting);
    QVERIFY(borrowed[0] && borrowed[1]);
    const QByteArray map = programOutput("xmodmap", {"-pke"});
    QVERIFY2(map.contains("Cyrillic_ZHE") && map.contains("Greek_OMEGA"), map.constData());
    for (X11Session& program : programs)
        program.keys().giveBack();
    QCOMPARE(x().spareKeycodes(), spare);
}

void TestDesktop::takesOverOnlyLeftoverKeys_data()
{
    // The record's entry: keycode, count, symbols ("spare": the first spare keycode); "killed":
    // what a program killed after a text of 240 distinct characters left. Then what the test
    // puts on that spare keycode first.
    Rows<QString, QString>::columns();
    const auto row = [](const char* tag, const QString& entry, const QString& keys = {}) {
        Rows<QString, QString>::row(tag, entry, keys);
    };
    const QString none8 = QStringLiteral(",0,0,0,0,0,0,0,0"), none16 = none8 + none8;
    row("a leftover is taken over and given back", "spare,8,0x6d6,0x6f6,0,0,0,0,0,0",
        "Cyrillic_zhe Cyrillic_ZHE");
    row("keys of four levels are taken over and given back", "killed");
    // The server gives the dead program's window number to the next program that asks.
    row("the killed program's window number is another Keyflare's since", "killed", "again");
    // Key 38 is 'a' (a A a A on the core map).
    row("no symbol", "38,8" + none8);
    row("fewer symbols than the key holds", "38,8,0x61,0,0,0,0,0,0,0");
    row("four levels, no symbol", "38,16" + none16);
    row("four levels, the key's two", "38,16,0x61,0x41" + none16.mid(4));
}

// A program killed outright leaves its borrowed keycodes in a record on the root window, which
// the next program takes over and gives back. An entry that is malformed, or forged by another
// client, never makes it empty one of the user's keys.
void TestDesktop::takesOverOnlyLeftoverKeys()
{
    auto [entry, keys] = Rows<QString, QString>::fetch();
    const int spare = x().spareKeycodes();
    if (entry.startsWith(QLatin1String("spare"))) {
        const int keycode = x().spareKeys().value(0);
        QVERIFY(keycode > 0);
        entry.replace(QLatin1String("spare"), QString::number(keycode));
        QProcess::execute("xmodmap", {"-e", QString("keycode %1 = %2").arg(keycode).arg(keys)});
        QCOMPARE(x().spareKeycodes(), spare - 1);
    }
    Receiver term(uniqueTitle("kf leftovers"));
    QVERIFY(term.start());
    std::unique_ptr<X11Desktop> killed;
    std::vector<std::unique_ptr<X11Desktop>> others; // live while the next one types
    QByteArray expected;
    if (entry == QLatin1String("killed")) {
        killed = std::make_unique<X11Desktop>();
        const QString text = chineseText(240);
        QCOMPARE(killed->inject(killed->activate(term.title()), text), Typing::Done);
        expected = text.toUtf8();
        QCOMPARE(term.waitFor(expected), expected);
        QVERIFY(x().spareKeycodes() < spare);
        // The record's first word is the owner, a window of the program's connection.
        const QByteArray record = programOutput("xprop", {"-root", "_KEYFLARE_BORROWED_KEYS"});
        const QByteArray owner = record.mid(record.indexOf('=') + 1).split(',').value(0).trimmed();
        QCOMPARE(QProcess::execute("xkill", {"-id", owner}), 0);
        killed.reset(); // its connection gone, it can give nothing back
        // Programs start until one is given that number (the lowest free connection's).
        while (keys == QLatin1String("again") && others.size() < 50 &&
               !programOutput("xprop", {"-id", owner, "_KEYFLARE_BORROWER"}).contains('='))
            QVERIFY(others.emplace_back(std::make_unique<X11Desktop>())->isConnected());
        QVERIFY(others.size() < 50);
    } else { // owner 1 is no window of a running program
        QCOMPARE(QProcess::execute("xprop", {"-root", "-f", "_KEYFLARE_BORROWED_KEYS", "32c",
                                             "-set", "_KEYFLARE_BORROWED_KEYS", "1," + entry}),
                 0);
    }
    {
        X11Desktop desktop;
        QCOMPARE(desktop.inject(desktop.activate(term.title()), "aЖ"), Typing::Done);
        expected += "aЖ";
        QCOMPARE(term.waitFor(expected), expected);
    }
    QCOMPARE(x().spareKeycodes(), spare);
}

// The X server goes away under the backend: nothing is reached, and nothing breaks.
void TestDesktop::survivesALostXServer()
{
    X11Desktop nowhere(":6553");
    QVERIFY(!nowhere.activate("anything"));
    QVERIFY(nowhere.lastError().contains("connect"));

    QProcess server; // a server of our own, on a display it picks itself
    server.start("Xvfb", {"-displayfd", "1", "-nolisten", "tcp"});
    QVERIFY2(server.waitForReadyRead(10000), "a second X server starts");
    X11Desktop desktop(":" + server.readLine().trimmed());
    QVERIFY(QTest::qWaitFor([&] { return desktop.isConnected(); }, 10000));
    server.terminate();
    QVERIFY(server.waitForFinished(5000));
    QVERIFY(!desktop.activate("anything"));
    QCOMPARE(desktop.inject(1, "abc"), Typing::Unavailable);
    QVERIFY(desktop.windowUnderPointer().id == 0);
}

// Xwayland stops reading for a while in the middle of a text (it compiles each new keymap with a
// program of its own; a busy machine gives it no time): the keys wait for it, where a flood of
// them would fill its connection. GNOME Shell 43 then cuts Xwayland off, and every X11 window
// with it; KWin 5.27 loses the keys.
void TestDesktop::waitsForAStalledXwayland()
{
    if (session() == Session::X11 || qEnvironmentVariableIsEmpty("DISPLAY"))
        QSKIP("no Xwayland in this session");
    const bool gnome = session() == Session::Gnome;
    const QString title = uniqueTitle("kf stalled xwayland");
    // Under KWin an X client of the tests' own, and a text in the layout, which KWin 5.27 types
    // without the clipboard.
    Receiver receiver(title, QStringLiteral("100x10+20+500"), 0,
                      gnome ? Receiver::Terminal : Receiver::Slow);
    QVERIFY(receiver.start());
    const auto server = static_cast<pid_t>(xwaylandPid()); // started for it, from Plasma 6
    QVERIFY(server > 0);
    const QString text =
        (gnome ? kAnyText : QString()) + QStringLiteral("Ready, 42 ok! ").repeated(40);
    DesktopPlatform desktop(QDir::tempPath());
    Platform platform = desktop.platform();
    const WindowId target = platform.activation.activate(title);
    QVERIFY(target != 0);
    // Stopped once the first key has come through, for a second.
    std::thread stall([&] {
        if (QTest::qWaitFor([&] { return !receiver.received().isEmpty(); }, 10000)) {
            ::kill(server, SIGSTOP);
            std::this_thread::sleep_for(std::chrono::seconds(1));
            ::kill(server, SIGCONT);
        }
    });
    const Typing typed = platform.keys.inject(target, keystrokeString(text));
    stall.join();
    QCOMPARE(typed, Typing::Done);
    QCOMPARE(receiver.waitFor(text.toUtf8()), text.toUtf8());
}

// The backend stamps activation requests with a server time, which it learns from an event on a
// window of its own. Another client may destroy that window; the event then never comes.
void TestDesktop::activatesWithoutItsHelperWindow()
{
    Receiver term(uniqueTitle("kf no helper"));
    QVERIFY(term.start());
    const QList<quint32> before = x().rootChildren();
    X11Desktop desktop;
    QVERIFY(desktop.isConnected());
    for (quint32 w : x().rootChildren()) { // as a misbehaving program on the server may
        if (!before.contains(w))
            QProcess::execute("xdotool", {"windowclose", QString::number(w)});
    }
    const WindowId target = desktop.activate(term.title());
    QCOMPARE(target, WindowId(term.window()));
    QCOMPARE(desktop.inject(target, "ok"), Typing::Done);
    QCOMPARE(term.waitFor("ok"), QByteArray("ok"));
}

// A desktop that lets no program reach other windows is named in the reason, and nothing is
// reached; every other desktop gives no reason.
void TestDesktop::saysWhatItCannotReach()
{
    const QString reason = m_platform.activation.unavailableReason();
    if (session() != Session::Weston) {
        QVERIFY2(reason.isEmpty(), qPrintable(reason));
        return;
    }
    QVERIFY2(reason.contains(qEnvironmentVariable("XDG_CURRENT_DESKTOP")), qPrintable(reason));
    QCOMPARE(m_platform.activation.activate("anything"), WindowId(0));
    QCOMPARE(m_platform.keys.inject(1, "abc"), Typing::Unavailable);
    QCOMPARE(m_platform.pointer.windowUnderPointer().id, WindowId(0));
}

void TestDesktop::refusesOtherCallers_data()
{
    QTest::addColumn<QStringList>("call");
    QTest::addColumn<bool>("disguised");
    const QStringList type = {"Type", "1", "'x'", "[[0x61]]", "1000"};
    QTest::newRow("the window list") << QStringList{"Windows"} << false;
    QTest::newRow("typing") << type << false;
    // In namespaces of its own any program can mount itself over the approved file's path.
    QTest::newRow("typing, mounted over the approved path") << type << true;
}

// Any program of the session can reach the session bus: GNOME Shell's helper answers the
// Keyflare it was installed for (here the test) and refuses every other program.
void TestDesktop::refusesOtherCallers()
{
    if (session() != Session::Gnome)
        QSKIP("about Keyflare's GNOME Shell extension");
    QFETCH(QStringList, call);
    QFETCH(bool, disguised);
    call[0].prepend("org.keyflare.Shell1.");
    QStringList gdbus = {"/usr/bin/gdbus",     "call",          "--session",           "--dest",
                         "org.keyflare.Shell", "--object-path", "/org/keyflare/Shell", "--method"};
    // As the approved file: that file's path, with gdbus mounted over it.
    const QString mountOver = "mount --bind \"$0\" \"$1\" && exec \"$1\" \"${@:2}\"";
    if (disguised)
        gdbus = QStringList{"-rm",     "bash",   "-c",
                            mountOver, gdbus[0], QCoreApplication::applicationFilePath()} +
                gdbus.mid(1);
    const QString program = disguised ? "unshare" : gdbus.takeFirst();
    QProcess caller;
    caller.start(program, gdbus + call);
    QVERIFY(caller.waitForFinished(10000));
    const QByteArray error = caller.readAllStandardError();
    QVERIFY2(caller.exitCode() != 0 && error.contains("NotAllowed"), error.constData());
    QVERIFY(GnomeShell().windows().has_value()); // while the test itself is answered
}

// A copy of Keyflare that the user's extension does not answer yet is added to its list only
// when the user says so, in answer to a question that names it.
void TestDesktop::asksBeforeAllowingACopy()
{
    if (session() != Session::Gnome)
        QSKIP("about Keyflare's GNOME Shell extension");
    const QString list = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                         "/gnome-shell/extensions/keyflare@keyflare/approved-callers";
    const QByteArray self = QCoreApplication::applicationFilePath().toUtf8();
    const QByteArray lines = readFile(list);
    const auto restore = qScopeGuard([&] { writeFile(list, lines); });
    QVERIFY(lines.split('\n').contains(self));
    writeFile(list, "/usr/bin/true\n");
    for (int answer : {Dialogs::No, Dialogs::Yes}) {
        FakeDesktop ask;
        ask.answers = {answer};
        DesktopPlatform desktop(QDir::tempPath(), &ask);
        QCOMPARE(ask.messages.size(), 1);
        QVERIFY2(ask.messages[0].contains(QString::fromUtf8(self)), qPrintable(ask.messages[0]));
        QCOMPARE(readFile(list).split('\n').contains(self), answer == Dialogs::Yes);
        QCOMPARE(desktop.platform().activation.unavailableReason().isEmpty(),
                 answer == Dialogs::Yes);
    }
}

// While the screen is locked the extension is off and its name free: a program that takes it
// gets nothing from Keyflare, which calls only the shell's own connection.
void TestDesktop::callsOnlyTheShell()
{
    if (session() != Session::Gnome)
        QSKIP("about Keyflare's GNOME Shell extension");
    const auto extensions = [](const QString& method) {
        QDBusMessage m = QDBusMessage::createMethodCall("org.gnome.Shell", "/org/gnome/Shell",
                                                        "org.gnome.Shell.Extensions", method);
        m.setArguments({"keyflare@keyflare"});
        return QDBusConnection::sessionBus().call(m).type() == QDBusMessage::ReplyMessage;
    };
    QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface();
    const auto owned = [&] { return bus->isServiceRegistered("org.keyflare.Shell").value(); };
    QVERIFY(extensions("DisableExtension"));
    const auto enable = qScopeGuard([&] {
        QDBusConnection::disconnectFromBus("impostor");
        QVERIFY(extensions("EnableExtension"));
        QVERIFY(QTest::qWaitFor(owned, 10000));
    });
    QVERIFY(QTest::qWaitFor([&] { return !owned(); }, 10000));
    // Answers every call as the extension would, and counts them.
    struct Impostor : QDBusVirtualObject
    {
        int calls = 0;
        QString introspect(const QString&) const override { return {}; }
        bool handleMessage(const QDBusMessage& m, const QDBusConnection& c) override
        {
            ++calls;
            return c.send(m.createReply(m.member() == "Get" ? QVariant::fromValue(QDBusVariant(2u))
                                                            : QVariant::fromValue(quint64(0))));
        }
    } impostor;
    QDBusConnection other = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "impostor");
    QVERIFY(other.registerVirtualObject("/org/keyflare/Shell", &impostor));
    QVERIFY(other.registerService("org.keyflare.Shell"));
    GnomeShell shell;
    QVERIFY(!shell.isAvailable());
    QCOMPARE(impostor.calls, 0);
}

void TestDesktop::stopsWhereKeyflareWouldNot_data()
{
    QTest::addColumn<int>("why");
    QTest::newRow("the time agreed has passed") << 0;
    QTest::newRow("Keyflare has gone") << 1;
    QTest::newRow("the user chose other input sources") << 2;
}

// The shell types no further than Keyflare wants: not after the time both agreed on (Keyflare
// gives up then), not once Keyflare has gone, and not once the user has chosen other input
// sources, which then stay in force.
void TestDesktop::stopsWhereKeyflareWouldNot()
{
    if (session() != Session::Gnome)
        QSKIP("about Keyflare's GNOME Shell extension");
    QFETCH(int, why);
    QByteArray chosen;
    if (why == 2) { // the keymap the shell makes of them
        setKeyboardLayout("de");
        chosen = xwaylandKeymap();
        setKeyboardLayout("us");
    }
    Receiver target(uniqueTitle("kf stops"), "100x10+20+500", 0, Receiver::TextEdit);
    QVERIFY(target.start());
    const WindowId id = m_platform.activation.activate(target.title());
    QVERIFY(id != 0);
    // A long text, sent as Keyflare sends it, on a connection of its own: long enough to be under
    // way still when the user's choice comes, which a busy machine may delay by seconds. In short
    // lines: a text edit lays a line out anew for each key, and thousands of keys in one line
    // would make it, not the shell, the slow part.
    const QString text = QString("abcdefghi\r").repeated(6000);
    const QByteArray arriving = text.toUtf8().replace('\r', target.enter());
    const QList<uint> chars = text.toUcs4();
    const auto parts = TextLayout::parts({chars.begin(), chars.end()});
    TextLayout layout;
    QVERIFY(layout.build(parts));
    QDBusArgument keys;
    keys.beginArray(QMetaType::fromType<QList<uint>>());
    for (const auto& part : parts) {
        const std::vector<uint32_t> syms = TextLayout::keysyms(part);
        keys << QList<uint>(syms.begin(), syms.end());
    }
    keys.endArray();
    QDBusConnection sender = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "sender");
    QDBusMessage call =
        QDBusMessage::createMethodCall(sender.interface()->serviceOwner("org.keyflare.Shell"),
                                       "/org/keyflare/Shell", "org.keyflare.Shell1", "Type");
    call.setArguments({quint64(id), QString::fromUtf8(layout.symbols()), QVariant::fromValue(keys),
                       uint(why == 0 ? 300 : 600000)});
    QDBusPendingCall typing = sender.asyncCall(call, 600000);
    if (why != 0)
        QVERIFY(QTest::qWaitFor([&] { return !target.received().isEmpty(); }, 20000));
    if (why == 1)
        QDBusConnection::disconnectFromBus("sender");
    if (why == 2)
        setKeyboardLayout("de");
    if (why != 1) {
        QVERIFY(QTest::qWaitFor([&] { return typing.isFinished(); }, 60000));
        const QList<QVariant> reply = typing.reply().arguments();
        QCOMPARE(reply.value(1).toString(), why == 0 ? "timed-out" : "keymap-changed");
        const int count = reply.value(0).toInt();
        const QByteArray sent = arriving.left(count);
        // Thousands of keys may have passed before the shell put the user's choice in force: the
        // text edit may take a while to read them all on a busy machine.
        const QByteArray got = target.waitFor(sent).left(count);
        qsizetype at = 0;
        while (at < got.size() && at < sent.size() && got[at] == sent[at])
            ++at;
        QVERIFY2(got == sent, qPrintable(QString("%1 of %2 keys arrived as sent, then \"%3\"")
                                             .arg(at)
                                             .arg(count)
                                             .arg(QString::fromUtf8(got.mid(at, 20)))));
        // Nothing after them; where the user's keymap came in between, at most the key then under
        // way, which may have been read with the user's keymap and so is not counted.
        const QByteArray all = target.settle();
        QVERIFY2(all.size() <= count + (why == 2 ? 1 : 0),
                 qPrintable(QString("after %1 keys counted: \"%2\"")
                                .arg(count)
                                .arg(QString::fromUtf8(all.mid(count)))));
        QDBusConnection::disconnectFromBus("sender");
    } else {
        const QByteArray typed = target.settle();
        QVERIFY(typed.size() < arriving.size() && arriving.startsWith(typed));
    }
    if (why == 2)
        QVERIFY(QTest::qWaitFor([&] { return xwaylandKeymap() == chosen; }, 5000));
}

QTEST_GUILESS_MAIN(TestDesktop)
#include "tst_desktop.moc"
