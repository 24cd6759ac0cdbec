// The desktop services Keyflare picks for the session it runs in, on each desktop it knows: an X
// server with a window manager, sway, KWin, and weston, which lets no program reach another's
// windows. A window is found by its title and made active, a text arrives in a real program
// exactly, and nothing is typed once the target is no longer active; or, where the desktop
// allows none of it, the platform says so and reaches nothing.
#include "DesktopPlatform.h"
#include "KeystrokeString.h"
#include "TestTexts.h"
#include "WaylandSession.h"
#include "XSession.h"

#include <QDir>
#include <QProcess>
#include <QTest>
#include <linux/input-event-codes.h>

Q_DECLARE_METATYPE(Typing)

namespace {
enum Session
{
    X11,
    Sway,
    KWin,
    Unsupported
};

Session session()
{
    if (qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return X11;
    const QByteArray desktop = qgetenv("XDG_CURRENT_DESKTOP");
    return desktop == "KDE" ? KWin : desktop == "sway" ? Sway : Unsupported;
}

// Caps Lock as a user switches it, where the test can: the X server's lock, KWin's fake keyboard.
void toggleCapsLock(bool on)
{
    if (session() == X11)
        XUser().lockModifiers(2, on ? 2 : 0);
    else
        WaylandUser().tapKey(KEY_CAPSLOCK);
}

// Runs a program while events are handled: a clipboard given back is served from this very
// process, as Keyflare serves it from its event loop.
QByteArray run(const QString& program, const QStringList& args)
{
    QProcess p;
    p.start(program, args);
    (void)QTest::qWaitFor([&] { return p.waitForFinished(10); }, 5000);
    return p.readAllStandardOutput();
}
} // namespace

class TestDesktop : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void typesAnyText_data();
    void typesAnyText();
    void typesNothingOnceTheTargetIsNoLongerActive();
    void saysWhatItCannotReach();

private:
    DesktopPlatform m_desktop{QDir::tempPath()};
    Platform m_platform = m_desktop.platform();
};

void TestDesktop::init()
{
    if (session() == X11 && qEnvironmentVariableIsEmpty("DISPLAY"))
        QSKIP("needs a desktop: run through ./test.sh");
    if (session() == Unsupported &&
        QTest::currentTestFunction() != QByteArray("saysWhatItCannotReach"))
        QSKIP("this desktop lets no program reach another's windows");
}

void TestDesktop::typesAnyText_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<bool>("capsLock");
    QTest::addColumn<QString>("text");
    QTest::addColumn<Typing>("result");
    const int terminal = Receiver::Terminal, edit = Receiver::TextEdit;
    const QString ascii = printableAscii() + QStringLiteral("\tend");
    // foot maps no window under KWin.
    if (session() != KWin)
        QTest::newRow("terminal, printable ASCII, Tab")
            << terminal << false << ascii << Typing::Done;
    QTest::newRow("text edit, printable ASCII, Tab") << edit << false << ascii << Typing::Done;
    if (session() != Sway) // a virtual pointer brings no keyboard of its own
        QTest::newRow("text edit, Caps Lock on") << edit << true << ascii << Typing::Done;
    QTest::newRow("text edit, 146 distinct outside the layout")
        << edit << false << kAnyText << Typing::Done;
    if (session() == Sway) {
        QTest::newRow("terminal, 240 distinct")
            << terminal << false << chineseText(240) << Typing::Done;
        // More distinct characters than one keyboard map holds: nothing is typed.
        QTest::newRow("terminal, 400 distinct: refused")
            << terminal << false << chineseText(400) << Typing::Untypable;
    }
}

// The text arrives exactly, and Enter after it. Where the text goes through the clipboard (KWin,
// for what the layout lacks), the clipboard holds what the user had put there once it is over.
void TestDesktop::typesAnyText()
{
    QFETCH(int, kind);
    QFETCH(bool, capsLock);
    QFETCH(QString, text);
    QFETCH(Typing, result);
    const QString title = uniqueTitle("kf desktop") + " " + QTest::currentDataTag();
    Receiver receiver(title, QStringLiteral("100x10+20+500"), 0, Receiver::Kind(kind));
    QVERIFY(receiver.start());
    if (session() != X11)
        QProcess::execute(QStringLiteral("wl-copy"), {QStringLiteral("the user's own text")});
    if (capsLock)
        toggleCapsLock(true);
    const WindowId target = m_platform.activation.activate(title);
    const Typing typed = m_platform.keys.inject(target, keystrokeString(text) + "{ENTER}");
    if (capsLock)
        toggleCapsLock(false);
    QVERIFY(target != 0);
    QCOMPARE(typed, result);
    const QByteArray expected = result != Typing::Done       ? QByteArray()
                                : kind == Receiver::Terminal ? text.toUtf8() + "\r"
                                                             : text.toUtf8() + "\n";
    QCOMPARE(receiver.waitFor(expected), expected);
    QCOMPARE(receiver.settle(100), expected);
    if (session() != X11)
        QCOMPARE(run(QStringLiteral("wl-paste"), {QStringLiteral("--no-newline")}),
                 QByteArray("the user's own text"));
}

void TestDesktop::typesNothingOnceTheTargetIsNoLongerActive()
{
    const Receiver::Kind kind = session() == KWin ? Receiver::TextEdit : Receiver::Terminal;
    Receiver target(uniqueTitle("kf desktop target"), QStringLiteral("40x5+20+500"), 0, kind);
    Receiver other(uniqueTitle("kf desktop other"), QStringLiteral("40x5+500+500"), 0, kind);
    QVERIFY(target.start());
    QVERIFY(other.start());
    const WindowId id = m_platform.activation.activate(target.title());
    QVERIFY(id != 0);
    DesktopPlatform user(QDir::tempPath()); // another window made active before the keys go out
    QVERIFY(user.platform().activation.activate(other.title()));
    QCOMPARE(m_platform.keys.inject(id, QStringLiteral("abc")), Typing::FocusLost);
    QCOMPARE(target.settle(), QByteArray());
    QCOMPARE(other.settle(0), QByteArray());
    if (session() == X11)
        QCOMPARE(XUser().keysDown(), 0);
}

// A desktop that lets no program reach other windows is named in the reason, and nothing is
// reached; every other desktop gives no reason.
void TestDesktop::saysWhatItCannotReach()
{
    const QString reason = m_platform.activation.unavailableReason();
    if (session() != Unsupported) {
        QVERIFY2(reason.isEmpty(), qPrintable(reason));
        return;
    }
    QVERIFY2(reason.contains(qEnvironmentVariable("XDG_CURRENT_DESKTOP")), qPrintable(reason));
    QCOMPARE(m_platform.activation.activate(QStringLiteral("anything")), WindowId(0));
    QCOMPARE(m_platform.keys.inject(1, QStringLiteral("abc")), Typing::Unavailable);
    QCOMPARE(m_platform.pointer.windowUnderPointer().id, WindowId(0));
}

QTEST_GUILESS_MAIN(TestDesktop)
#include "tst_desktop.moc"
