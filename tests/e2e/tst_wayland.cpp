// The real program as a native Wayland window, on a wlroots compositor (a headless sway without
// XWayland) and under KDE Plasma's compositor (a headless KWin, where a portable copy first
// registers itself, and says so): a pointer clicks its macro buttons, and the text arrives in a
// real program byte for byte (foot on sway; a Qt text edit on KWin, where foot shows no window),
// or a message says why nothing was typed.
#include "DesktopPlatform.h"
#include "PanelGeometry.h"
#include "TestTexts.h"
#include "WaylandSession.h"
#include "XSession.h"

#include <QDir>
#include <QProcess>
#include <QTest>

namespace {
namespace P = PanelGeometry;
const QString kPanel = QStringLiteral("Keyflare v2.3");

bool onKWin()
{
    return qgetenv("XDG_CURRENT_DESKTOP") == "KDE";
}
} // namespace

class TestWayland : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void sendsClickedButtonsToTarget_data();
    void sendsClickedButtonsToTarget();
    void reportsMissingTargetAndTypesNothing();
    void grabsATitle();
    void keepsTheStoredPositionOnClose();

private:
    // The receiver the compositor shows, and what it records for Enter.
    Receiver::Kind m_kind = onKWin() ? Receiver::TextEdit : Receiver::Terminal;
    QByteArray m_enter = onKWin() ? "\n" : "\r";

    // Starts the program; a new copy under KWin first says that it has registered itself.
    bool start(KeyflareProgram& app)
    {
        if (!onKWin())
            return app.startOnWayland();
        if (!app.startOnWayland(QStringLiteral("Keyflare")) ||
            !pressEnterIn(QStringLiteral("Keyflare")) || waitForWaylandWindow(kPanel) == 0)
            return false;
        QTest::qWait(300); // listed is not yet ready for a click
        return true;
    }
    // Answers the window titled title (a message box, the grabber) with Enter.
    bool pressEnterIn(const QString& title)
    {
        if (waitForWaylandWindow(title) == 0)
            return false;
        Platform keyboard = m_desktop.platform();
        return keyboard.keys.inject(keyboard.activation.activate(title),
                                    QStringLiteral("{ENTER}")) == Typing::Done;
    }
    // Brings the panel to the front first, as a user would: the target, made active by the send
    // before, may cover it.
    void clickControl(QRect units)
    {
        // A panel just shown may not take the activation yet.
        QTRY_VERIFY_WITH_TIMEOUT(m_desktop.platform().activation.activate(kPanel) != 0, 5000);
        m_user.clickControl(kPanel, P::kWidth, units);
    }
    void clickButton(int number) { clickControl(P::macroButton(number - 1)); }

    DesktopPlatform m_desktop{QDir::tempPath()};
    WaylandUser m_user;
};

void TestWayland::initTestCase()
{
    if (qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        QSKIP("needs sway or KWin: run through ./test.sh");
    QVERIFY2(m_user.ok(), "the compositor gives the test a pointer");
}

void TestWayland::sendsClickedButtonsToTarget_data()
{
    QTest::addColumn<QString>("layout");
    QTest::newRow("us") << "us";
    if (!onKWin())
        QTest::newRow("de") << "de";
}

void TestWayland::sendsClickedButtonsToTarget()
{
    QFETCH(QString, layout);
    if (!onKWin())
        QProcess::execute(QStringLiteral("swaymsg"),
                          {QStringLiteral("input type:keyboard xkb_layout ") + layout});
    const QString title = uniqueTitle("kf-wayland-target") + " " + layout;
    Receiver target(title, QString(), 0, m_kind);
    QVERIFY(target.startOnWayland());
    KeyflareProgram app;
    app.putTargetAndSet(title, {kAnyText, QStringLiteral("+5 {ä}")});
    QVERIFY2(start(app), "the panel shows (under KWin after a message of the registration)");

    // "+Return" is ticked on a first start.
    clickButton(1);
    const QByteArray first = kAnyText.toUtf8() + m_enter;
    QCOMPARE(target.waitFor(first), first);
    // Without "+Return", the text alone.
    clickControl(P::kReturn);
    clickButton(2);
    QCOMPARE(target.waitFor(first + "+5 {ä}"), first + "+5 {ä}");
    QCOMPARE(target.settle(), first + "+5 {ä}");
}

void TestWayland::reportsMissingTargetAndTypesNothing()
{
    Receiver bystander(uniqueTitle("kf-wayland-bystander"), QString(), 0, m_kind);
    QVERIFY(bystander.startOnWayland());
    KeyflareProgram app;
    app.putTargetAndSet(uniqueTitle("kf-wayland-missing"), {QStringLiteral("never typed")});
    QVERIFY(start(app));
    clickButton(1);
    QVERIFY2(pressEnterIn(QStringLiteral("Keyflare")), "a message says the window was not found");
    QCOMPARE(bystander.settle(300), QByteArray());
}

// The grabber shows the title of the window under the pointer where the desktop tells it (KWin),
// else of the window the user made active last; here the pointer clicks it, which does both.
// Back in the grabber, Enter takes the title.
void TestWayland::grabsATitle()
{
    Receiver other(uniqueTitle("kf-wayland-other"), QString(), 0, m_kind);
    Receiver wanted(uniqueTitle("kf-wayland-wanted Жёлтый"), QString(), 0, m_kind);
    QVERIFY(other.startOnWayland());
    QVERIFY(wanted.startOnWayland());
    KeyflareProgram app;
    app.putTargetAndSet(QString(), {QStringLiteral("grabbed")});
    QVERIFY(start(app));
    clickControl(P::kGrabTitle);
    QVERIFY(waitForWaylandWindow(QStringLiteral("Keyflare")) != 0);
    // A corner of it: under KWin the grabber opens in the middle of the screen, over it.
    m_user.moveTo(m_user.windowRect(wanted.title()).topLeft() + QPoint(20, 20));
    m_user.click();
    QTest::qWait(1000); // the grabber looks four times a second; slower under the sanitizers
    QVERIFY(pressEnterIn(QStringLiteral("Keyflare")));
    // The panel is back, with the title taken as its target.
    QVERIFY(waitForWaylandWindow(kPanel) != 0);
    QTest::qWait(300); // listed is not yet ready for a click
    clickButton(1);
    QCOMPARE(wanted.waitFor("grabbed" + m_enter), "grabbed" + m_enter);
    QCOMPARE(other.settle(0), QByteArray());
}

// A Wayland program is not told where its window stands: closing stores the toggles, and the
// position stored on another desktop stays as it was.
void TestWayland::keepsTheStoredPositionOnClose()
{
    if (onKWin())
        QSKIP("closing another program's window from outside needs sway's own tool");
    KeyflareProgram app;
    app.putTargetAndSet(QStringLiteral("anything"), {});
    app.storeSettings({{QStringLiteral("Top"), QStringLiteral("3000")},
                       {QStringLiteral("Left"), QStringLiteral("4500")}});
    QVERIFY(start(app));
    clickControl(P::kReturn);
    QProcess::execute(QStringLiteral("swaymsg"),
                      {QStringLiteral("[title=\"^Keyflare v2.3$\"] kill")});
    QTRY_VERIFY_WITH_TIMEOUT(!app.isRunning(), 10000);
    QCOMPARE(app.storedSetting(QStringLiteral("CrgReturn")), QStringLiteral("0"));
    QCOMPARE(app.storedSetting(QStringLiteral("Top")), QStringLiteral("3000"));
    QCOMPARE(app.storedSetting(QStringLiteral("Left")), QStringLiteral("4500"));
}

QTEST_MAIN(TestWayland)
#include "tst_wayland.moc"
