// Typing fidelity on a real X server: every character arrives exactly on several layouts, with
// locks on and modifiers held, into a fast and into a slow receiver; or nothing is typed.
#include "KeystrokeString.h"
#include "TestTexts.h"
#include "XSession.h"
#include "x11/X11Desktop.h"

#include <QTest>
#include <QThread>
#include <thread>
#include <xkbcommon/xkbcommon-keysyms.h>

class TestTyping : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanup();
    void ignoresHeldModifiers_data();
    void ignoresHeldModifiers();
    void followsALayoutSwitch();
    void typesAnyTextIntoEveryReceiver_data();
    void typesAnyTextIntoEveryReceiver();
    void typesTextAfterText_data();
    void typesTextAfterText();

private:
    XUser m_user;
};

void TestTyping::initTestCase()
{
    if (qEnvironmentVariableIsEmpty("DISPLAY") || !m_user.ok())
        QSKIP("needs an X server: run through ./test.sh");
}

void TestTyping::cleanup()
{
    m_user.lockModifiers(0xff, 0);
    m_user.setLayout(QStringLiteral("us"));
    m_user.lockGroup(0);
}

void TestTyping::ignoresHeldModifiers_data()
{
    QTest::addColumn<uint>("keysym");
    QTest::newRow("Shift") << uint(XKB_KEY_Shift_L);
    QTest::newRow("Ctrl") << uint(XKB_KEY_Control_L);
    QTest::newRow("Alt") << uint(XKB_KEY_Alt_L);
}

void TestTyping::ignoresHeldModifiers()
{
    QFETCH(uint, keysym);
    const QString title = uniqueTitle("kf held") + " " + QTest::currentDataTag();
    Receiver term(title);
    QVERIFY(term.start(m_user));
    X11Desktop desktop;
    const WindowId target = desktop.activate(title);
    QVERIFY2(target != 0, qPrintable(desktop.lastError()));
    // The user still holds the modifier of a modified click and lets go a moment later.
    m_user.key(keysym, true);
    std::thread releaser([keysym] {
        QThread::msleep(300);
        XUser other;
        other.key(keysym, false);
    });
    const bool typed = desktop.inject(target, QStringLiteral("aB1 é")) == Typing::Done;
    releaser.join();
    QVERIFY2(typed, qPrintable(desktop.lastError()));
    QCOMPARE(term.waitFor("aB1 é"), QByteArray("aB1 é"));
    QCOMPARE(m_user.keysDown(), 0);
}

void TestTyping::followsALayoutSwitch()
{
    Receiver term(uniqueTitle("kf switch"));
    QVERIFY(term.start(m_user));
    X11Desktop desktop;
    WindowId target = desktop.activate(uniqueTitle("kf switch"));
    QCOMPARE(desktop.inject(target, QStringLiteral("yz@;")), Typing::Done);
    QVERIFY(m_user.setLayout(QStringLiteral("de")));
    target = desktop.activate(uniqueTitle("kf switch"));
    QVERIFY2(desktop.inject(target, QStringLiteral("yz@;")) == Typing::Done,
             qPrintable(desktop.lastError()));
    QCOMPARE(term.waitFor("yz@;yz@;"), QByteArray("yz@;yz@;"));
}

void TestTyping::typesAnyTextIntoEveryReceiver_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("delay");
    QTest::addColumn<QString>("layout");
    QTest::addColumn<int>("group");
    QTest::addColumn<bool>("locks"); // Caps Lock and Num Lock on
    QTest::addColumn<QString>("text");
    const int xterm = Receiver::Terminal, gtk = Receiver::Gtk, qt = Receiver::TextEdit;
    // Every character a keyboard types, those many layouts reach only through AltGr or dead
    // keys, and some they lack.
    const QString every = printableAscii() + QStringLiteral("\t@€{^`~ ") +
                          QString::fromUcs4(U"é ß € “ — Жж Ωω \U0001F600");
    QTest::newRow("xterm, every character, us") << xterm << 0 << "us" << 0 << false << every;
    QTest::newRow("xterm, every character, de") << xterm << 0 << "de" << 0 << false << every;
    QTest::newRow("xterm, every character, fr") << xterm << 0 << "fr" << 0 << false << every;
    QTest::newRow("xterm, every character, us,de with us locked")
        << xterm << 0 << "us,de" << 0 << false << every;
    QTest::newRow("xterm, every character, us,de with de locked, locks")
        << xterm << 0 << "us,de" << 1 << true << every;
    QTest::newRow("xterm, us") << xterm << 0 << "us" << 0 << false << kAnyText;
    QTest::newRow("xterm, de, locks") << xterm << 0 << "de" << 0 << true << kAnyText;
    QTest::newRow("slow receiver, 5 ms a key")
        << int(Receiver::Slow) << 5 << "us" << 0 << false << kAnyText;
    QTest::newRow("GTK 3, us") << gtk << 0 << "us" << 0 << false << kAnyText;
    QTest::newRow("GTK 3, de, locks") << gtk << 0 << "de" << 0 << true << kAnyText;
    QTest::newRow("GTK 3, us,de with de locked") << gtk << 0 << "us,de" << 1 << false << kAnyText;
    QTest::newRow("Qt 6, us") << qt << 0 << "us" << 0 << false << kAnyText;
    QTest::newRow("Qt 6, de, locks") << qt << 0 << "de" << 0 << true << kAnyText;
    QTest::newRow("Qt 6, us,de with de locked") << qt << 0 << "us,de" << 1 << false << kAnyText;
    // A button's whole text, every character distinct and outside the layout: more than two
    // levels a group hold, so it goes on keys of four levels.
    const QString wide = chineseText(240, QStringLiteral("Chinese: "));
    QTest::newRow("xterm, 231 distinct") << xterm << 0 << "us" << 0 << false << wide;
    QTest::newRow("xterm, 231 distinct, de, locks") << xterm << 0 << "de" << 0 << true << wide;
    QTest::newRow("Qt 6, 231 distinct, us,de with de locked")
        << qt << 0 << "us,de" << 1 << false << wide;
    QTest::newRow("slow receiver, 231 distinct")
        << int(Receiver::Slow) << 5 << "us" << 0 << false << wide;
    // More than even those hold at once: typed in rounds into programs that confirm they have
    // read each one, refused (nothing typed) by one that cannot.
    QString longer = wide;
    for (char32_t c = 0x4f00; longer.size() < 400; ++c)
        longer += QString::fromUcs4(&c, 1);
    QTest::newRow("GTK 3, more than fits at once") << gtk << 0 << "us" << 0 << false << longer;
    QTest::newRow("Qt 6, more than fits at once") << qt << 0 << "us" << 0 << false << longer;
    QTest::newRow("GTK 3, more than fits at once, locks")
        << gtk << 0 << "de" << 0 << true << longer;
    QTest::newRow("slow receiver, more than fits at once")
        << int(Receiver::Slow) << 2 << "us" << 0 << false << longer;
    QTest::newRow("xterm, more than fits at once: refused")
        << xterm << 0 << "us" << 0 << false << longer;
}

// Any text, up to far more distinct characters outside the layout than there are spare keycodes,
// arrives whole and exact, whatever reads it, leaving the locks, the layout group and the keys as
// they were; the borrowed keycodes are given back when the sender goes.
void TestTyping::typesAnyTextIntoEveryReceiver()
{
    QFETCH(int, kind);
    QFETCH(int, delay);
    QFETCH(QString, layout);
    QFETCH(int, group);
    QFETCH(bool, locks);
    QFETCH(QString, text);
    QVERIFY(m_user.setLayout(layout));
    m_user.lockGroup(group);
    const int lockMask = 2 | 16; // Caps Lock and Num Lock
    if (locks)
        m_user.lockModifiers(lockMask, lockMask);
    const QString title = uniqueTitle("kf any text") + " " + QTest::currentDataTag();
    Receiver receiver(title, QStringLiteral("100x10+20+500"), delay, Receiver::Kind(kind));
    QVERIFY(receiver.start(m_user));
    const int spare = m_user.spareKeycodes();
    const bool refused = QByteArray(QTest::currentDataTag()).endsWith("refused");
    const QByteArray expected = refused ? QByteArray() : text.toUtf8();
    {
        X11Desktop desktop;
        const WindowId target = desktop.activate(title);
        const Typing typed = desktop.inject(target, keystrokeString(text));
        QVERIFY2((typed == Typing::Done) != refused, qPrintable(desktop.lastError()));
        QCOMPARE(receiver.waitFor(expected), expected);
        QCOMPARE(receiver.settle(100), expected);
    }
    QCOMPARE(m_user.lockedModifiers() & lockMask, locks ? lockMask : 0);
    QCOMPARE(m_user.lockedGroup(), group);
    QCOMPARE(m_user.keysDown(), 0);
    QCOMPARE(m_user.spareKeycodes(), spare);
}

void TestTyping::typesTextAfterText_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("delay");
    QTest::addColumn<bool>("waits"); // for each text to arrive before sending the next
    QTest::newRow("xterm") << int(Receiver::Terminal) << 0 << true;
    QTest::newRow("slow receiver, still reading the text before")
        << int(Receiver::Slow) << 2 << false;
}

// One desktop types text after text, each needing a different set of borrowed keys, some on
// keys of four levels: each change of the map is the only one before its keys, and it waits
// until the receiver has read the keys of the text before; every text arrives whole.
void TestTyping::typesTextAfterText()
{
    QFETCH(int, kind);
    QFETCH(int, delay);
    QFETCH(bool, waits);
    const auto chinese = [](char32_t from) {
        return chineseText(240, QStringLiteral("Chinese: "), from);
    };
    const QString texts[] = {
        chinese(0x4e00), kAnyText, chinese(0x5000), chinese(0x5000), QStringLiteral("é ß Жж Ωω"),
        chinese(0x4e00)};
    const QString title = uniqueTitle("kf text after text") + " " + QTest::currentDataTag();
    Receiver receiver(title, QStringLiteral("100x10+20+500"), delay, Receiver::Kind(kind));
    QVERIFY(receiver.start(m_user));
    const int spare = m_user.spareKeycodes();
    QByteArray expected;
    {
        X11Desktop desktop;
        for (const QString& text : texts) {
            QVERIFY2(desktop.inject(desktop.activate(title), keystrokeString(text)) == Typing::Done,
                     qPrintable(desktop.lastError()));
            expected += text.toUtf8();
            if (waits)
                QCOMPARE(receiver.waitFor(expected), expected);
        }
        QCOMPARE(receiver.waitFor(expected, 60000), expected);
        QCOMPARE(receiver.settle(100), expected);
    }
    QCOMPARE(m_user.spareKeycodes(), spare);
}

QTEST_GUILESS_MAIN(TestTyping)
#include "tst_typing.moc"
