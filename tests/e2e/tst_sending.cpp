// The real program on a real X server: the pointer clicks its macro buttons, and the text arrives
// in a real xterm byte for byte.
#include "EditorGeometry.h"
#include "GrabberGeometry.h"
#include "KeystrokeString.h"
#include "PanelGeometry.h"
#include "XSession.h"

#include <QTest>
#include <xkbcommon/xkbcommon-keysyms.h>

namespace {
namespace P = PanelGeometry;
// The parts of the set box: the text, and the arrow that opens its list.
constexpr QRect kSetArrow(P::kSetBox.right() + 1 - 240, P::kSetBox.top(), 240, P::kSetBox.height());
constexpr QRect kSetText(P::kSetBox.left(), P::kSetBox.top(), P::kSetBox.width() - 240,
                         P::kSetBox.height());
constexpr QRect kSet2 = P::kSet2InFrame.translated(P::kButtonSetFrame.topLeft());
// The lower arrow of the editor's button selector.
constexpr QRect kSelectorDown(EditorGeometry::kNumberFrame.left() +
                                  EditorGeometry::kSelectorInFrame.left(),
                              EditorGeometry::kNumberFrame.top() +
                                  EditorGeometry::kSelectorInFrame.bottom() - 60,
                              EditorGeometry::kSelectorInFrame.width(), 60);

void click(KeyflareProgram& app, XUser& user, QRect units)
{
    app.clickControl(user, units);
}
} // namespace

class TestSending : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void sendsClickedButtonsToTarget();
    void reportsMissingTargetAndTypesNothing();
    void storesTogglesAndPositionOnClose();
    void editsAButtonAndSendsIt();
    void keepsTargetTitlesInTheirFile();
    void loadsAPickedMacroSet();
    void grabsATitleByPointing();
    void typedTextStaysTyped();

private:
    // Types a target title into the panel's title box, as a user would.
    void enterTitle(KeyflareProgram& app, const QString& title)
    {
        click(app, m_user, P::kTitleBox);
        QVERIFY(m_user.typeInto(QStringLiteral("Keyflare v2.3"), title));
    }
    // Waits for a message box and answers it with a key once it holds the focus.
    // The grabber, untitled, is named after the program too: except tells it apart.
    void answerMessageBox(quint32 keysym, quint32 except = 0)
    {
        const quint32 box = m_user.waitForWindow(QStringLiteral("Keyflare"), 5000, except);
        QVERIFY2(box != 0, "a message box appears");
        QVERIFY(m_user.waitForFocus(box));
        m_user.tap(keysym);
    }
    // Opens the grabber and points at at, where it looks a moment later; the grabber, or 0.
    quint32 openGrabberAt(KeyflareProgram& app, QPoint at)
    {
        click(app, m_user, P::kGrabTitle);
        const quint32 grabber = m_user.waitForWindow(QStringLiteral("Keyflare"));
        if (!m_user.waitForFocus(grabber))
            return 0;
        m_user.moveTo(at);
        QTest::qWait(600);
        return grabber;
    }
    XUser m_user;
};

void TestSending::initTestCase()
{
    if (qEnvironmentVariableIsEmpty("DISPLAY") || !m_user.ok())
        QSKIP("needs an X server: run through ./test.sh");
}

void TestSending::sendsClickedButtonsToTarget()
{
    Receiver term(uniqueTitle("kf-e2e-target"), QStringLiteral("60x8+20+500"));
    QVERIFY(term.start(m_user));
    KeyflareProgram app;
    QVERIFY(app.start(m_user));
    enterTitle(app, uniqueTitle("kf-e2e-target"));

    // "+Return" is ticked on a first start.
    app.clickMacroButton(m_user, 5);
    QCOMPARE(term.waitFor("5\r"), QByteArray("5\r"));

    // The second button set.
    click(app, m_user, kSet2);
    app.clickMacroButton(m_user, 30);
    QCOMPARE(term.waitFor("5\r30\r"), QByteArray("5\r30\r"));

    // Without "+Return", the text alone.
    click(app, m_user, P::kReturn);
    app.clickMacroButton(m_user, 25);
    QCOMPARE(term.waitFor("5\r30\r25"), QByteArray("5\r30\r25"));

    // The middle button sends nothing.
    app.clickMacroButton(m_user, 26, 2);
    QCOMPARE(term.settle(), QByteArray("5\r30\r25"));

    // Alt+E is "Clear": it asks first; Escape answers No.
    m_user.chord(XKB_KEY_Alt_L, XKB_KEY_e);
    answerMessageBox(XKB_KEY_Escape);
    QVERIFY(m_user.waitForNoWindow(QStringLiteral("Keyflare")));
}

void TestSending::reportsMissingTargetAndTypesNothing()
{
    Receiver bystander(uniqueTitle("kf-e2e-bystander"), QStringLiteral("60x8+20+500"));
    QVERIFY(bystander.start(m_user));
    KeyflareProgram app;
    QVERIFY(app.start(m_user));
    enterTitle(app, uniqueTitle("kf-e2e-missing"));

    app.clickMacroButton(m_user, 1);
    answerMessageBox(XKB_KEY_Return); // the failure is reported in a message box
    QVERIFY(m_user.waitForNoWindow(QStringLiteral("Keyflare")));
    QCOMPARE(bystander.settle(), QByteArray());

    // The panel is usable again: the next click reports again.
    app.clickMacroButton(m_user, 2);
    QVERIFY(m_user.waitForWindow(QStringLiteral("Keyflare")) != 0);
}

void TestSending::storesTogglesAndPositionOnClose()
{
    KeyflareProgram app;
    app.storeSettings({{"Left", "3000"}, {"Top", "1500"}, {"On Top", "1"}});
    QVERIFY(app.start(m_user));
    QVERIFY(m_user.hasState(app.window(), "_NET_WM_STATE_ABOVE"));
    const QRect before = m_user.clientRect(app.window());
    click(app, m_user, P::kOnTop);
    QTRY_VERIFY(!m_user.hasState(app.window(), "_NET_WM_STATE_ABOVE"));
    m_user.closeWindow(app.window());
    QVERIFY(app.waitForExit());
    QCOMPARE(app.exitCode(), 0);
    QCOMPARE(app.storedSetting("On Top"), QStringLiteral("0"));
    QCOMPARE(app.storedSetting("CrgReturn"), QStringLiteral("1"));
    QCOMPARE(app.storedSetting("AutoSav"), QStringLiteral("0"));

    // The next run opens where this one was.
    KeyflareProgram next;
    next.storeSettings({{"Left", app.storedSetting("Left")}, {"Top", app.storedSetting("Top")}});
    QVERIFY(next.start(m_user));
    QCOMPARE(m_user.clientRect(next.window()).topLeft(), before.topLeft());
}

// The right button opens the editor. A press on its selector with a change pending asks once and
// moves one button on; a text applied there is what that button sends.
void TestSending::editsAButtonAndSendsIt()
{
    Receiver term(uniqueTitle("kf-e2e-edited"), QStringLiteral("60x8+20+500"));
    QVERIFY(term.start(m_user));
    KeyflareProgram app;
    app.putFile("Keyflare.ini", uniqueTitle("kf-e2e-edited").toUtf8() + "\r\n");
    QVERIFY(app.start(m_user));
    app.clickMacroButton(m_user, 1, 3);
    const quint32 editor = m_user.waitForWindow(QStringLiteral("Keyflare Button Manager"));
    QVERIFY(m_user.waitForFocus(editor));
    m_user.tap(XKB_KEY_x); // into the caption: a pending change

    m_user.clickControl(editor, EditorGeometry::kWidth, kSelectorDown);
    QVERIFY(m_user.waitForWindow(QStringLiteral("Keyflare")) != 0);
    QTest::qWait(1200);    // past the selector's auto-repeat delay
    m_user.tap(XKB_KEY_n); // No: drop the change
    QVERIFY2(m_user.waitForNoWindow(QStringLiteral("Keyflare"), 1500), "asked only once");

    m_user.clickControl(editor, EditorGeometry::kWidth, EditorGeometry::kText);
    m_user.chord(XKB_KEY_Control_L, XKB_KEY_a);
    const QString text = QStringLiteral("Hi {x} 50% +[y]~ (ok)");
    QVERIFY(m_user.typeInto(QStringLiteral("Keyflare Button Manager"), keystrokeString(text)));
    // The access keys: Alt+A applies, Alt+C closes.
    m_user.chord(XKB_KEY_Alt_L, XKB_KEY_a);
    m_user.chord(XKB_KEY_Alt_L, XKB_KEY_c);
    QVERIFY(m_user.waitForNoWindow(QStringLiteral("Keyflare Button Manager")));
    QVERIFY(m_user.waitForWindow(QStringLiteral("Keyflare v2.3")) == app.window());
    app.clickMacroButton(m_user, 2);
    const QByteArray expected = text.toUtf8() + "\r";
    QCOMPARE(term.waitFor(expected), expected);
}

void TestSending::keepsTargetTitlesInTheirFile()
{
    Receiver term(uniqueTitle("kf-e2e-listed"), QStringLiteral("60x8+20+500"));
    QVERIFY(term.start(m_user));
    KeyflareProgram app;
    const QByteArray listed = uniqueTitle("kf-e2e-listed").toUtf8();
    app.putFile("Keyflare.ini", "  " + listed + "  \r\n\r\nSecond title\r\n");
    QVERIFY(app.start(m_user));

    // The first title is the target from the start.
    app.clickMacroButton(m_user, 7);
    QCOMPARE(term.waitFor("7\r"), QByteArray("7\r"));

    // Ctrl+D removes the title shown, after a question answered with Enter (Yes).
    click(app, m_user, P::kTitleBox);
    m_user.chord(XKB_KEY_Control_L, XKB_KEY_d);
    answerMessageBox(XKB_KEY_Return);
    QVERIFY(m_user.waitForNoWindow(QStringLiteral("Keyflare")));

    // Closing asks whether to save the changed list; Enter answers Yes.
    m_user.closeWindow(app.window());
    answerMessageBox(XKB_KEY_Return);
    QVERIFY(app.waitForExit());
    QCOMPARE(app.file("Keyflare.ini"), QByteArray("Second title\r\n"));
}

void TestSending::loadsAPickedMacroSet()
{
    Receiver term(uniqueTitle("kf-e2e-sets"), QStringLiteral("60x8+20+500"));
    QVERIFY(term.start(m_user));
    KeyflareProgram app;
    app.putFile("Keyflare.ini", uniqueTitle("kf-e2e-sets").toUtf8() + "\r\n");
    app.putSet("first", {"from the first set"});
    // Characters outside the layout too: the program borrows keys for them.
    app.putSet("second", {"50% {second} set — Жж Ωμέγα 中文 😀"});
    QVERIFY(app.start(m_user));

    click(app, m_user, kSetArrow);
    m_user.tap(XKB_KEY_Down);
    m_user.tap(XKB_KEY_Return);
    // The pick loads the set, letting events through on the way; a click meanwhile would send
    // what stands on the button at that moment.
    QTest::qWait(500);
    app.clickMacroButton(m_user, 1);
    const QByteArray expected = "50% {second} set — Жж Ωμέγα 中文 😀\r";
    QCOMPARE(term.waitFor(expected), expected);
}

// The grabber shows the title of the window under the pointer, over its title bar or inside it,
// and Enter takes it; a title the list holds already is refused with a message. Pointing at the
// grabber's own "Cancel" keeps the title shown; Enter on a focused "Cancel" cancels.
void TestSending::grabsATitleByPointing()
{
    // 120 characters, some beyond Windows-1252: the grabber keeps the first 99.
    QString title = uniqueTitle("kf-e2e-grab") + QStringLiteral(" Жёлтый éclair ");
    while (title.size() < 120)
        title += QLatin1Char(title.size() % 10 == 0 ? '|' : 'x');
    Receiver term(title, QStringLiteral("60x8+300+500"));
    QVERIFY(term.start(m_user));
    KeyflareProgram app;
    QVERIFY(app.start(m_user));
    const QRect inside = m_user.clientRect(term.window());

    QVERIFY(openGrabberAt(app, QPoint(inside.center().x(), inside.top() - 8)));
    m_user.tap(XKB_KEY_Return);
    QVERIFY(m_user.waitForWindow(QStringLiteral("Keyflare v2.3")) != 0);
    QTest::qWait(300);

    quint32 grabber = openGrabberAt(app, inside.center());
    QVERIFY(grabber);
    m_user.moveTo(m_user.controlCentre(grabber, GrabberGeometry::kWidth, GrabberGeometry::kCancel));
    QTest::qWait(600);
    m_user.tap(XKB_KEY_Return);
    answerMessageBox(XKB_KEY_Return, grabber); // "already in your list"
    QVERIFY(m_user.waitForNoWindow(QStringLiteral("Keyflare")));
    QTest::qWait(300);

    QVERIFY(openGrabberAt(app, inside.center()));
    m_user.tap(XKB_KEY_Tab); // from the hidden default button to "Cancel"
    m_user.tap(XKB_KEY_Return);
    QVERIFY2(m_user.waitForNoWindow(QStringLiteral("Keyflare"), 1500), "no message, closed");
    QTest::qWait(300);

    // The grabbed title finds its window by its beginning.
    app.clickMacroButton(m_user, 1);
    QCOMPARE(term.waitFor("1\r"), QByteArray("1\r"));

    click(app, m_user, P::kAutoSave);
    m_user.closeWindow(app.window());
    QVERIFY(app.waitForExit());
    QCOMPARE(QString::fromUtf8(app.file("Keyflare.ini")), title.left(99) + QStringLiteral("\r\n"));
}

// Typing into the two combo boxes and leaving them neither loads a set nor completes a title.
void TestSending::typedTextStaysTyped()
{
    const QString prefix = uniqueTitle("kf-e2e-typed");
    Receiver term(prefix + QStringLiteral(" - now"), QStringLiteral("60x8+20+500"));
    QVERIFY(term.start(m_user));
    KeyflareProgram app;
    app.putFile("Keyflare.ini", (prefix + QStringLiteral(" - stale\r\n")).toUtf8());
    app.putSet("Alpha", {"alpha"});
    app.putSet("Beta", {"beta"});
    QVERIFY(app.start(m_user));

    click(app, m_user, kSetText);
    m_user.chord(XKB_KEY_Control_L, XKB_KEY_a);
    QVERIFY(m_user.typeInto(QStringLiteral("Keyflare v2.3"), QStringLiteral("Be")));
    m_user.tap(XKB_KEY_Tab);
    click(app, m_user, P::kTitleBox);
    m_user.chord(XKB_KEY_Control_L, XKB_KEY_a);
    QVERIFY(m_user.typeInto(QStringLiteral("Keyflare v2.3"), prefix));
    m_user.tap(XKB_KEY_Tab);

    // Still the first set, sent to the window that the typed prefix finds.
    app.clickMacroButton(m_user, 1);
    QCOMPARE(term.waitFor("alpha\r"), QByteArray("alpha\r"));
}

QTEST_GUILESS_MAIN(TestSending)
#include "tst_sending.moc"
