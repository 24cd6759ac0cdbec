// The real program as a native Wayland window under KDE Plasma's compositor (a headless KWin):
// on its first start a portable copy registers itself with Plasma, and says so; then a pointer
// clicks its macro buttons, and the text arrives in a real Qt text edit byte for byte.
#include "PanelGeometry.h"
#include "TestTexts.h"
#include "WaylandSession.h"
#include "XSession.h"
#include "kwin/KWinDesktop.h"

#include <QTest>

namespace {
namespace P = PanelGeometry;
const QString kPanel = QStringLiteral("Keyflare v2.3");

// Answers the message box titled "Keyflare" with Enter; false when none comes.
bool pressEnterInMessageBox()
{
    if (waitForWaylandWindow(QStringLiteral("Keyflare")) == 0)
        return false;
    KWinDesktop keyboard{QString()};
    return keyboard.inject(keyboard.activate(QStringLiteral("Keyflare")),
                           QStringLiteral("{ENTER}")) == Typing::Done;
}
// Starts a new portable copy: it registers itself with Plasma, says so (Enter answers), then
// shows the panel.
bool startNewCopy(KeyflareProgram& app)
{
    if (!app.startOnWayland(QStringLiteral("Keyflare")) || !pressEnterInMessageBox() ||
        waitForWaylandWindow(kPanel) == 0)
        return false;
    QTest::qWait(300); // listed is not yet ready for a click
    return true;
}
} // namespace

class TestPlasma : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void registersItselfThenSends();
    void reportsMissingTargetAndTypesNothing();
    void grabsATitleByPointing();

private:
    // Brings the panel to the front first, as a user would: the target, made active by the
    // send before, may cover it.
    void clickButton(int number)
    {
        KWinDesktop kwin{QString()};
        // A panel just shown may not take the activation yet.
        QTRY_VERIFY_WITH_TIMEOUT(kwin.activate(kPanel) != 0, 5000);
        m_user.clickControl(kPanel, P::kWidth, P::macroButton(number - 1));
    }
    WaylandUser m_user;
};

void TestPlasma::initTestCase()
{
    if (qgetenv("XDG_CURRENT_DESKTOP") != "KDE")
        QSKIP("needs KWin: run through ./test.sh");
    QVERIFY2(m_user.ok(), "KWin gives the test fake input");
}

void TestPlasma::registersItselfThenSends()
{
    const QString title = uniqueTitle("kf-plasma-target");
    Receiver edit(title, QString(), 0, Receiver::TextEdit);
    QVERIFY(edit.startOnWayland());
    KeyflareProgram app;
    app.putTargetAndSet(title, {QStringLiteral("Hello, Plasma! 42 {x}"), kAnyText});
    // The first start registers this copy with Plasma, and says where, before the panel shows.
    QVERIFY2(startNewCopy(app), "a message tells of the registration");
    clickButton(1);
    // "+Return" is ticked on a first start: the text edit takes Enter as a new line.
    QByteArray expected = "Hello, Plasma! 42 {x}\n";
    QCOMPARE(edit.waitFor(expected), expected);
    // Characters the layout lacks arrive through the clipboard.
    clickButton(2);
    expected += kAnyText.toUtf8() + "\n";
    QCOMPARE(edit.waitFor(expected), expected);
}

void TestPlasma::reportsMissingTargetAndTypesNothing()
{
    const QString title = uniqueTitle("kf-plasma-bystander");
    Receiver bystander(title, QString(), 0, Receiver::TextEdit);
    QVERIFY(bystander.startOnWayland());
    KeyflareProgram app;
    app.putTargetAndSet(uniqueTitle("kf-plasma-missing"), {QStringLiteral("never typed")});
    QVERIFY(startNewCopy(app));
    clickButton(1);
    QVERIFY2(pressEnterInMessageBox(), "a message says the window was not found");
    QCOMPARE(bystander.settle(300), QByteArray());
}

// As on X11: the grabber shows the title of the window under the pointer, and Enter takes it.
void TestPlasma::grabsATitleByPointing()
{
    const QString title = uniqueTitle("kf-plasma-pointed Жёлтый");
    Receiver edit(title, QString(), 0, Receiver::TextEdit);
    QVERIFY(edit.startOnWayland());
    KeyflareProgram app;
    app.putTargetAndSet(QString(), {QStringLiteral("grabbed")});
    QVERIFY(startNewCopy(app));
    m_user.clickControl(kPanel, P::kWidth, P::kGrabTitle);
    QVERIFY(waitForWaylandWindow(QStringLiteral("Keyflare")) != 0);
    // A corner of it: the grabber opens in the middle of the screen, over the text edit.
    m_user.moveTo(m_user.windowRect(title).topLeft() + QPoint(10, 10));
    QTest::qWait(1000); // the grabber looks four times a second; slower under the sanitizers
    QVERIFY(pressEnterInMessageBox()); // the grabber, titled "Keyflare" too
    QVERIFY(waitForWaylandWindow(kPanel) != 0);
    QTest::qWait(300); // listed is not yet ready for a click
    clickButton(1);
    QCOMPARE(edit.waitFor("grabbed\n"), QByteArray("grabbed\n"));
}

QTEST_MAIN(TestPlasma)
#include "tst_plasma.moc"
