// The real program as a native Wayland window on a wlroots compositor (a headless sway without
// XWayland): a pointer clicks its macro buttons, and the text arrives in a real foot terminal
// byte for byte, or a message says why nothing was typed.
#include "PanelGeometry.h"
#include "TestTexts.h"
#include "WaylandSession.h"
#include "XSession.h"
#include "wlroots/WlrootsDesktop.h"

#include <QProcess>
#include <QTest>

namespace {
namespace P = PanelGeometry;
const QString kPanel = QStringLiteral("Keyflare v2.3");

} // namespace

class TestWayland : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void sendsClickedButtonsToTarget_data();
    void sendsClickedButtonsToTarget();
    void reportsMissingTargetAndTypesNothing();
    void grabsTheTitleOfTheWindowMadeActive();
    void keepsTheStoredPositionOnClose();

private:
    void clickButton(int number)
    {
        m_user.clickControl(kPanel, P::kWidth, P::macroButton(number - 1));
    }
    WaylandUser m_user;
};

void TestWayland::initTestCase()
{
    if (qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        QSKIP("needs a wlroots compositor: run through ./test.sh");
    QVERIFY2(m_user.ok(), "the compositor gives the test a virtual pointer");
}

void TestWayland::sendsClickedButtonsToTarget_data()
{
    QTest::addColumn<QString>("layout");
    QTest::newRow("us") << "us";
    QTest::newRow("de") << "de";
}

void TestWayland::sendsClickedButtonsToTarget()
{
    QFETCH(QString, layout);
    QProcess::execute(QStringLiteral("swaymsg"),
                      {QStringLiteral("input type:keyboard xkb_layout ") + layout});
    const QString title = uniqueTitle("kf-wayland-target") + " " + layout;
    Receiver term(title, QString(), 0, Receiver::Terminal);
    QVERIFY(term.startOnWayland());
    KeyflareProgram app;
    app.putTargetAndSet(title, {kAnyText, QStringLiteral("+5 {ä}")});
    QVERIFY(app.startOnWayland());

    // "+Return" is ticked on a first start.
    clickButton(1);
    const QByteArray first = kAnyText.toUtf8() + "\r";
    QCOMPARE(term.waitFor(first), first);
    // Without "+Return", the text alone.
    m_user.clickControl(kPanel, P::kWidth, P::kReturn);
    clickButton(2);
    QCOMPARE(term.waitFor(first + "+5 {ä}"), first + "+5 {ä}");
    QCOMPARE(term.settle(), first + "+5 {ä}");
}

void TestWayland::reportsMissingTargetAndTypesNothing()
{
    Receiver bystander(uniqueTitle("kf-wayland-bystander"), QString(), 0, Receiver::Terminal);
    QVERIFY(bystander.startOnWayland());
    KeyflareProgram app;
    app.putTargetAndSet(uniqueTitle("kf-wayland-missing"), {QStringLiteral("never typed")});
    QVERIFY(app.startOnWayland());
    clickButton(1);
    // The message box, titled "Keyflare"; Enter closes it.
    QVERIFY(waitForWaylandWindow(QStringLiteral("Keyflare")) != 0);
    WlrootsDesktop keyboard{QString()};
    QVERIFY(keyboard.inject(keyboard.activate(QStringLiteral("Keyflare")),
                            QStringLiteral("{ENTER}")) == Typing::Done);
    QCOMPARE(bystander.settle(300), QByteArray());
}

// No protocol tells the window under the pointer: the grabber shows the window the user last
// made active, here by a click; back in the grabber, Enter takes its title.
void TestWayland::grabsTheTitleOfTheWindowMadeActive()
{
    Receiver wanted(uniqueTitle("kf-wayland-wanted Жёлтый"), QString(), 0, Receiver::Terminal);
    Receiver other(uniqueTitle("kf-wayland-other"), QString(), 0, Receiver::Terminal);
    QVERIFY(wanted.startOnWayland());
    QVERIFY(other.startOnWayland());
    KeyflareProgram app;
    app.putTargetAndSet(QString(), {QStringLiteral("grabbed")});
    QVERIFY(app.startOnWayland());
    m_user.clickControl(kPanel, P::kWidth, P::kGrabTitle);
    QVERIFY(waitForWaylandWindow(QStringLiteral("Keyflare")) != 0);
    m_user.moveTo(m_user.windowRect(wanted.title()).topLeft() + QPoint(20, 20));
    m_user.click();
    QTest::qWait(1000); // the grabber looks four times a second; slower under the sanitizers
    WlrootsDesktop keyboard{QString()};
    QVERIFY(keyboard.inject(keyboard.activate(QStringLiteral("Keyflare")),
                            QStringLiteral("{ENTER}")) == Typing::Done);
    // The panel is back, with the title taken as its target.
    QVERIFY(waitForWaylandWindow(kPanel) != 0);
    QTest::qWait(300); // listed is not yet ready for a click
    clickButton(1);
    QCOMPARE(wanted.waitFor("grabbed\r"), QByteArray("grabbed\r"));
    QCOMPARE(other.settle(0), QByteArray());
}

// A Wayland program is not told where its window stands: closing stores the toggles, and the
// position stored on another desktop stays as it was.
void TestWayland::keepsTheStoredPositionOnClose()
{
    KeyflareProgram app;
    app.putTargetAndSet(QStringLiteral("anything"), {});
    app.storeSettings({{QStringLiteral("Top"), QStringLiteral("3000")},
                       {QStringLiteral("Left"), QStringLiteral("4500")}});
    QVERIFY(app.startOnWayland());
    m_user.clickControl(kPanel, P::kWidth, P::kReturn);
    QProcess::execute(QStringLiteral("swaymsg"),
                      {QStringLiteral("[title=\"^Keyflare v2.3$\"] kill")});
    QTRY_VERIFY_WITH_TIMEOUT(!app.isRunning(), 10000);
    QCOMPARE(app.storedSetting(QStringLiteral("CrgReturn")), QStringLiteral("0"));
    QCOMPARE(app.storedSetting(QStringLiteral("Top")), QStringLiteral("3000"));
    QCOMPARE(app.storedSetting(QStringLiteral("Left")), QStringLiteral("4500"));
}

QTEST_MAIN(TestWayland)
#include "tst_wayland.moc"
