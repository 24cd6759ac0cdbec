// Typing fidelity on a real X server: every character arrives exactly on several layouts, with
// locks on and modifiers held, into a fast and into a slow receiver; or nothing is typed.
#include "KeystrokeString.h"
#include "XSession.h"
#include "x11/X11Desktop.h"

#include <QTest>
#include <QThread>
#include <thread>
#include <xkbcommon/xkbcommon-keysyms.h>

namespace {
QString printableAscii()
{
    QString s;
    for (char c = 0x20; c < 0x7f; ++c)
        s += QLatin1Char(c);
    return s;
}
// Characters many layouts reach only through AltGr or dead keys, and characters they lack.
const QString kAltGrAndDead = QStringLiteral("@€{^`~");
const QString kBeyondLayout = QString::fromUcs4(U"é ß € “ — Жж Ωω \U0001F600");
} // namespace

class TestTyping : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanup();
    void typesEveryCharacter_data();
    void typesEveryCharacter();
    void ignoresHeldModifiers_data();
    void ignoresHeldModifiers();
    void ignoresCapsAndNumLock();
    void feedsASlowReceiverExactly();
    void followsALayoutSwitch();
    void refusesWhatItCannotType();

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

void TestTyping::typesEveryCharacter_data()
{
    QTest::addColumn<QString>("layout");
    QTest::addColumn<int>("group");
    QTest::newRow("us") << "us" << 0;
    QTest::newRow("de") << "de" << 0;
    QTest::newRow("fr") << "fr" << 0;
    QTest::newRow("us,de with us locked") << "us,de" << 0;
    QTest::newRow("us,de with de locked") << "us,de" << 1;
}

void TestTyping::typesEveryCharacter()
{
    QFETCH(QString, layout);
    QFETCH(int, group);
    QVERIFY(m_user.setLayout(layout));
    m_user.lockGroup(group);
    const int spare = m_user.spareKeycodes();
    const QString text = printableAscii() + "\t" + kAltGrAndDead + " " + kBeyondLayout;
    const QByteArray expected = text.toUtf8() + "\r";
    const QString title = uniqueTitle("kf typing") + " " + QTest::currentDataTag();
    {
        Receiver term(title);
        QVERIFY(term.start(m_user));
        X11Desktop desktop;
        const WindowId target = desktop.activate(title);
        QVERIFY2(target != 0, qPrintable(desktop.lastError()));
        QVERIFY2(desktop.inject(target, keystrokeString(text) + "{ENTER}") == Typing::Done,
                 qPrintable(desktop.lastError()));
        QCOMPARE(term.waitFor(expected), expected);
        QCOMPARE(term.settle(100), expected);
        QCOMPARE(m_user.lockedGroup(), group);
        QCOMPARE(m_user.keysDown(), 0);
    }
    // The borrowed keycodes are given back when the sender goes.
    QCOMPARE(m_user.spareKeycodes(), spare);
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

void TestTyping::ignoresCapsAndNumLock()
{
    Receiver term(uniqueTitle("kf locks"));
    QVERIFY(term.start(m_user));
    const int locks = 2 | 16; // Caps Lock and Num Lock
    m_user.lockModifiers(locks, locks);
    X11Desktop desktop;
    const WindowId target = desktop.activate(uniqueTitle("kf locks"));
    QVERIFY(target != 0);
    const QString text = QStringLiteral("abc XYZ 789 éÉ ßẞ ж");
    QVERIFY2(desktop.inject(target, text) == Typing::Done, qPrintable(desktop.lastError()));
    QCOMPARE(term.waitFor(text.toUtf8()), text.toUtf8());
    QCOMPARE(m_user.lockedModifiers() & locks, locks);
    QCOMPARE(m_user.keysDown(), 0);
}

void TestTyping::feedsASlowReceiverExactly()
{
    Receiver slow(uniqueTitle("kf slow"), QString(), 5, Receiver::Slow);
    QVERIFY(slow.start(m_user));
    X11Desktop desktop;
    const WindowId target = desktop.activate(uniqueTitle("kf slow"));
    QVERIFY(target != 0);
    const QString text = QStringLiteral("Grüße, “Ωmega” — 5€ ~{x}^ ЖжЖ ok");
    QVERIFY2(desktop.inject(target, keystrokeString(text) + "{ENTER}") == Typing::Done,
             qPrintable(desktop.lastError()));
    const QByteArray expected = text.toUtf8() + "\r";
    QCOMPARE(slow.waitFor(expected), expected);
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

void TestTyping::refusesWhatItCannotType()
{
    Receiver term(uniqueTitle("kf refuse all"));
    QVERIFY(term.start(m_user));
    X11Desktop desktop;
    const WindowId target = desktop.activate(uniqueTitle("kf refuse all"));
    QVERIFY(target != 0);
    // More distinct characters missing from the layout than there are spare keycodes.
    QString text = QStringLiteral("abc ");
    for (char32_t c = 0x4e00; c < 0x4e00 + 300; ++c)
        text += QString::fromUcs4(&c, 1);
    QVERIFY(desktop.inject(target, text) != Typing::Done);
    QVERIFY(!desktop.lastError().isEmpty());
    QCOMPARE(term.settle(), QByteArray());
    QCOMPARE(m_user.keysDown(), 0);
}

QTEST_GUILESS_MAIN(TestTyping)
#include "tst_typing.moc"
