// The real program as a native Wayland window under KDE Plasma's compositor (a headless KWin):
// on its first start a portable copy registers itself with Plasma, and says so; then a pointer
// clicks its macro buttons, and the text arrives in a real Qt text edit byte for byte.
#include "PanelGeometry.h"
#include "WaylandSession.h"
#include "XSession.h"
#include "kwin/KWinDesktop.h"

#include <QTest>

namespace {
namespace P = PanelGeometry;
const QString kPanel = QStringLiteral("Keyflare v2.3");

void prepare(KeyflareProgram& app, const QString& target, const QStringList& texts)
{
    app.putFile(QStringLiteral("Keyflare.ini"), target.toUtf8() + "\r\n");
    QByteArray set = "[Keyflare 1.07]\r\n";
    for (int k = 0; k < 48; ++k)
        set +=
            "C\r\n" + (k < texts.size() ? texts[k].toUtf8() : QByteArray::number(k + 1)) + "\r\n";
    app.putFile(QStringLiteral("Set.mcs"), set);
}

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
    void grabsATitleByPointing();

private:
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
    Receiver edit(title, QString(), 0, Receiver::QtWayland);
    QVERIFY(edit.startOnWayland());
    KeyflareProgram app;
    prepare(app, title, {QStringLiteral("Hello, Plasma! 42 {x}")});
    // The first start registers this copy with Plasma, and says where, before the panel shows.
    QVERIFY2(startNewCopy(app), "a message tells of the registration");
    m_user.clickControl(kPanel, P::kWidth, P::macroButton(0));
    // "+Return" is ticked on a first start: the text edit takes Enter as a new line.
    QCOMPARE(edit.waitFor("Hello, Plasma! 42 {x}\n"), QByteArray("Hello, Plasma! 42 {x}\n"));
}

// As on X11: the grabber shows the title of the window under the pointer, and Enter takes it.
void TestPlasma::grabsATitleByPointing()
{
    const QString title = uniqueTitle("kf-plasma-pointed Жёлтый");
    Receiver edit(title, QString(), 0, Receiver::QtWayland);
    QVERIFY(edit.startOnWayland());
    KeyflareProgram app;
    prepare(app, QString(), {QStringLiteral("grabbed")});
    QVERIFY(startNewCopy(app));
    m_user.clickControl(kPanel, P::kWidth, P::kGrabTitle);
    QVERIFY(waitForWaylandWindow(QStringLiteral("Keyflare")) != 0);
    // A corner of it: the grabber opens in the middle of the screen, over the text edit.
    m_user.moveTo(m_user.windowRect(title).topLeft() + QPoint(10, 10));
    QTest::qWait(600);                 // the grabber looks four times a second
    QVERIFY(pressEnterInMessageBox()); // the grabber, titled "Keyflare" too
    QVERIFY(waitForWaylandWindow(kPanel) != 0);
    QTest::qWait(300); // listed is not yet ready for a click
    m_user.clickControl(kPanel, P::kWidth, P::macroButton(0));
    QCOMPARE(edit.waitFor("grabbed\n"), QByteArray("grabbed\n"));
}

QTEST_MAIN(TestPlasma)
#include "tst_plasma.moc"
