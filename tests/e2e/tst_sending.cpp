// The real program on each desktop it knows: an X server with a window manager, sway (without
// XWayland), and KWin and GNOME Shell, where a portable copy first registers itself with KWin and
// says so, or asks to be added to the callers of Keyflare's shell extension. A pointer clicks its
// controls, and the text arrives in a real program byte for byte (a terminal read raw: xterm on X11
// and, through Xwayland, on GNOME; foot on sway; under KWin, where foot shows no window, a Qt text
// edit), or a message says why nothing was typed. The keyboard's part in the editor, the title list
// and the set box is played through XTEST.
#include "EditorGeometry.h"
#include "KeyflareProgram.h"
#include "KeystrokeString.h"
#include "PanelGeometry.h"
#include "Receiver.h"
#include "TestTexts.h"
#include "XUser.h"
#include "x11/X11Desktop.h"

#include <QTest>
#include <QTimer>
#include <optional>

namespace {
namespace P = PanelGeometry;
const QString kPanel = QStringLiteral("Keyflare v2.3");
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
} // namespace

class TestSending : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanup();
    void sendsADayOfTextsIntoOneWindow();
    void storesSettingsOnClose();
    void reportsMissingTargetThenGrabsATitle();
    void editsAButtonAndSendsIt();
    void keepsTitlesAndTypedTextStaysTyped();

private:
    bool onX11() const { return session() == Session::X11; }
    XUser& x() { return static_cast<XUser&>(*m_hand); }
    std::unique_ptr<Hand> m_hand = Hand::forSession();
};

void TestSending::cleanup()
{
    setKeyboardLayout("us");
}

void TestSending::initTestCase()
{
    QVERIFY2(m_hand->ok(), "the desktop gives the test a pointer");
}

// A day of use: one window receives text after text, inside the layout and outside it, up to
// a button's worth of characters outside it, with a layout switch on the way and a Ctrl still
// held over one click; each arrives exactly, whatever the sends before it left behind. Then the
// program ends abruptly, and the next one types all of it again; ended as at logout, it leaves
// the keyboard as it found it.
void TestSending::sendsADayOfTextsIntoOneWindow()
{
    const QString title = uniqueTitle("kf-e2e-target");
    const int spare = onX11() ? x().spareKeycodes() : 0;
    Receiver target(title, "60x8+20+500");
    QVERIFY(target.start());
    const QStringList texts = {"Grüße aus Köln: café, crème brûlée, 5 € “quoted” — naïve",
                               "Привет Ελλάδα გამარჯობა こんにちは 안녕하세요",
                               "Señor Müller: ¿sí? ¡Olé! 10 £ « déjà vu » ½ © +5 {ä}", kAnyText,
                               "plain: 50% (net) [x] {y} a+b=c ~^ yz@;"};
    auto app = std::make_unique<KeyflareProgram>();
    app->putTargetAndSet(title, texts);
    QVERIFY2(app->start(), "the panel shows (under KWin after a message of the registration)");

    // Another program has borrowed a key too; it gives it back once this one is gone.
    QByteArray expected;
    std::optional<X11Desktop> other;
    if (onX11()) {
        other.emplace();
        QCOMPARE(other->inject(other->activate(title), "Ж"), Typing::Done);
        expected += "Ж";
    }
    const auto send = [&](int button) {
        app->clickMacroButton(*m_hand, button);
        expected +=
            (button <= texts.size() ? texts[button - 1] : QString::number(button)).toUtf8() +
            target.enter(); // "+Return" is ticked on a first start
        return target.waitFor(expected) == expected;
    };
    for (int button : {1, 2, 3, 4, 5})
        QVERIFY2(send(button), target.received().right(400).constData());
    // In GNOME two layouts, which the text's layouts then stand beside; in KWin two with the
    // second in force, which stays so whatever KWin switches to for a keysym.
    const bool kwin = session() == Session::KWin;
    setKeyboardLayout(session() == Session::Gnome ? "de,ru" : kwin ? "us,de" : "de");
    if (kwin)
        selectKWinLayout(1);
    // In GNOME each text has layouts of their own beside the user's, which an X11 window may
    // read a while after the keys: they go at the latest when Keyflare ends.
    const QByteArray keymap = session() == Session::Gnome ? xwaylandKeymap() : QByteArray();
    // The user's Ctrl, let go of a moment after the click, is not mixed into the keys.
    m_hand->ctrl(true);
    QTimer::singleShot(600, [&] { m_hand->ctrl(false); });
    QVERIFY2(send(5), target.received().constData());
    for (int button : {4, 2, 1})
        QVERIFY2(send(button), target.received().right(400).constData());
    // The second button set; the middle button sends nothing.
    app->clickControl(*m_hand, kSet2);
    QVERIFY2(send(30), target.received().right(400).constData());
    app->clickMacroButton(*m_hand, 26, 2);
    QCOMPARE(target.settle(), expected);

    QVERIFY(app->kill());
    QVERIFY(waitForNoWindow(kPanel)); // the server has seen it go
    other.reset();
    app = std::make_unique<KeyflareProgram>();
    app->putTargetAndSet(title, texts);
    QVERIFY(app->start());
    for (int button : {1, 4})
        QVERIFY2(send(button), target.received().right(400).constData());
    // Ended as at logout, it gives back the keys it borrowed, those of the program before too.
    QVERIFY(app->terminate());
    QCOMPARE(onX11() ? x().spareKeycodes() : 0, spare);
    if (session() == Session::Gnome)
        QVERIFY(QTest::qWaitFor([&] { return xwaylandKeymap() == keymap; }, 5000));
    if (kwin)
        QCOMPARE(activeKWinLayout(), 1);
}

// Closing stores the toggles. The next run on X11 opens where this one stood; a Wayland program
// is not told where its window stands, so the position stored on another desktop stays.
void TestSending::storesSettingsOnClose()
{
    if (session() == Session::KWin || session() == Session::Gnome)
        QSKIP("the desktop gives the test no way to close another program's window");
    KeyflareProgram app;
    app.storeSettings({{"Left", "4500"}, {"Top", "3000"}, {"On Top", "1"}});
    QVERIFY(app.start());
    QVERIFY(!onX11() || x().hasState(app.window(), "_NET_WM_STATE_ABOVE"));
    const QRect before = m_hand->windowRect(kPanel);
    app.clickControl(*m_hand, P::kOnTop);
    app.clickControl(*m_hand, P::kReturn);
    if (onX11())
        QTRY_VERIFY(!x().hasState(app.window(), "_NET_WM_STATE_ABOVE"));
    QVERIFY(app.close());
    QVERIFY(app.waitForExit());
    QCOMPARE(app.exitCode(), 0);
    QCOMPARE(app.storedSetting("On Top"), "0");
    QCOMPARE(app.storedSetting("CrgReturn"), "0");
    QCOMPARE(app.storedSetting("AutoSav"), "0");
    if (!onX11()) {
        QCOMPARE(app.storedSetting("Left"), "4500");
        QCOMPARE(app.storedSetting("Top"), "3000");
        return;
    }
    KeyflareProgram next;
    next.storeSettings({{"Left", app.storedSetting("Left")}, {"Top", app.storedSetting("Top")}});
    QVERIFY(next.start());
    QCOMPARE(m_hand->windowRect(kPanel).topLeft(), before.topLeft());
}

// The target title finds no window: a message says so, and nothing is typed. The user grabs the
// right title instead. The grabber shows the title of the window under the pointer where the
// desktop tells it (over the title bar on X11; KWin), else of the window the user made active
// last: here the pointer clicks it, which does both. Enter takes the title, and the panel, not
// left busy by the failed send, sends to that window. Ended by the session with AutoSave ticked,
// the grabber open again, it keeps the grabbed title.
void TestSending::reportsMissingTargetThenGrabsATitle()
{
    // 120 characters, some beyond Windows-1252: the grabber keeps the first 99, which find the
    // window by its beginning.
    QString title = uniqueTitle("kf-e2e-grab") + " Жёлтый éclair ";
    while (title.size() < 120)
        title += QLatin1Char(title.size() % 10 == 0 ? '|' : 'x');
    Receiver other(uniqueTitle("kf-e2e-other"), "60x8+20+500");
    Receiver wanted(title, "60x8+300+500");
    QVERIFY(other.start());
    QVERIFY(wanted.start());
    KeyflareProgram app;
    const QString missing = uniqueTitle("kf-e2e-missing");
    app.putTargetAndSet(missing, {"grabbed"});
    app.storeSettings({{"AutoSav", "1"}});
    QVERIFY(app.start());
    app.clickMacroButton(*m_hand, 1);
    QVERIFY2(app.pressEnterIn("Keyflare"), "a message says why");
    QVERIFY(waitForNoWindow("Keyflare"));

    const QRect inside = m_hand->windowRect(title);
    app.clickControl(*m_hand, P::kGrabTitle);
    QVERIFY(waitForWindow("Keyflare") != 0);
    if (onX11()) {
        m_hand->moveTo(QPoint(inside.center().x(), inside.top() - 8));
    } else {
        // A corner of it: under KWin the grabber opens in the middle of the screen, over it.
        m_hand->moveTo(inside.topLeft() + QPoint(20, 20));
        m_hand->click();
    }
    QVERIFY(app.waitForLook());
    QVERIFY(app.pressEnterIn("Keyflare"));
    QVERIFY(waitForNoWindow("Keyflare"));
    app.clickMacroButton(*m_hand, 1);
    QCOMPARE(wanted.waitFor("grabbed" + wanted.enter()), "grabbed" + wanted.enter());
    QCOMPARE(other.settle(0), QByteArray());
    // Asked to end by the session while the grabber is open again, with AutoSave ticked: what
    // closing saves is saved, unasked.
    app.clickControl(*m_hand, P::kGrabTitle);
    QVERIFY(waitForWindow("Keyflare") != 0);
    QVERIFY(app.terminate());
    QCOMPARE(QString::fromUtf8(app.file("Keyflare.ini")),
             missing + "\r\n" + title.left(99) + "\r\n");
    QCOMPARE(app.storedSetting("CrgReturn"), "1");
}

// The right button opens the editor. A press on its selector with a change pending asks once and
// moves one button on; a text applied there is what that button sends. (What the session's end
// saves of an edited set is the panel's tests' part; that it saves, the grabbing test's.)
void TestSending::editsAButtonAndSendsIt()
{
    if (!onX11())
        QSKIP("the keyboard's part is played on X11");
    Receiver term(uniqueTitle("kf-e2e-edited"), "60x8+20+500");
    QVERIFY(term.start());
    KeyflareProgram app;
    app.putFile("Keyflare.ini", uniqueTitle("kf-e2e-edited").toUtf8() + "\r\n");
    QVERIFY(app.start());
    app.clickMacroButton(x(), 1, 3);
    const QString editor = "Keyflare Button Manager";
    QVERIFY(x().waitForFocus(waitForWindow(editor)));
    x().keys("x"); // into the caption: a pending change

    x().clickControl(editor, EditorGeometry::kWidth, kSelectorDown);
    QVERIFY(waitForWindow("Keyflare") != 0);
    QTest::qWait(1200); // past the selector's auto-repeat delay
    x().keys("n");      // No: drop the change
    QVERIFY2(waitForNoWindow("Keyflare", 1500), "asked only once");

    x().clickControl(editor, EditorGeometry::kWidth, EditorGeometry::kText);
    x().keys("ctrl+a");
    const QString text = "Hi {x} 50% +[y]~ (ok)";
    QVERIFY(x().typeInto(editor, keystrokeString(text)));
    // The access keys: Alt+A applies, Alt+C closes.
    x().keys("alt+a");
    x().keys("alt+c");
    QVERIFY(waitForNoWindow(editor));
    QVERIFY(waitForWindow(kPanel) == app.window());
    app.clickMacroButton(x(), 2);
    const QByteArray expected = text.toUtf8() + "\r";
    QCOMPARE(term.waitFor(expected), expected);
}

// The first title in the list, trimmed, is the target from the start; Ctrl+D removes the title
// shown after a question. Typing into the two combo boxes and leaving them neither loads a set
// nor completes a title; a set picked from the list is loaded. Closing asks whether to save the
// changed list.
void TestSending::keepsTitlesAndTypedTextStaysTyped()
{
    if (!onX11())
        QSKIP("the keyboard's part is played on X11");
    const QString prefix = uniqueTitle("kf-e2e-typed");
    Receiver term(prefix + " - now", "60x8+20+500");
    QVERIFY(term.start());
    KeyflareProgram app;
    app.putFile("Keyflare.ini",
                ("  " + term.title() + "  \r\n\r\n" + prefix + " - stale\r\n").toUtf8());
    app.putSet("Alpha", {"alpha"});
    // Characters outside the layout too: the program borrows keys for them.
    const QString beta = "50% {second} set — Жж Ωμέγα 中文 😀";
    app.putSet("Beta", {beta});
    QVERIFY(app.start());
    app.clickMacroButton(x(), 7);
    QByteArray expected = "7\r";
    QCOMPARE(term.waitFor(expected), expected);

    app.clickControl(x(), P::kTitleBox);
    x().keys("ctrl+d");
    QVERIFY(app.pressEnterIn("Keyflare"));
    QVERIFY(waitForNoWindow("Keyflare"));

    app.clickControl(x(), kSetText);
    x().keys("ctrl+a");
    QVERIFY(x().typeInto(kPanel, "Be"));
    x().keys("Tab");
    app.clickControl(x(), P::kTitleBox);
    x().keys("ctrl+a");
    QVERIFY(x().typeInto(kPanel, prefix));
    x().keys("Tab");
    // Still the first set, sent to the window that the typed prefix finds.
    app.clickMacroButton(x(), 1);
    expected += "alpha\r";
    QCOMPARE(term.waitFor(expected), expected);

    app.clickControl(x(), kSetArrow);
    x().keys("Down");
    x().keys("Return");
    // The pick loads the set, letting events through on the way; a click meanwhile would send
    // what stands on the button at that moment.
    QVERIFY(app.waitUntilIdle());
    app.clickMacroButton(x(), 1);
    expected += beta.toUtf8() + "\r";
    QCOMPARE(term.waitFor(expected), expected);

    QVERIFY(app.close());
    QVERIFY(app.pressEnterIn("Keyflare")); // Yes, save the changed list
    QVERIFY(app.waitForExit());
    QCOMPARE(app.file("Keyflare.ini"), (prefix + " - stale\r\n").toUtf8());
}

QTEST_GUILESS_MAIN(TestSending)
#include "tst_sending.moc"
