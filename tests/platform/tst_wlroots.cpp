// Typing on a wlroots compositor (a headless sway of the test's own, without XWayland): windows
// found by title and made active, any text arriving exactly through a virtual keyboard.
#include "KeystrokeString.h"
#include "TestTexts.h"
#include "XSession.h"
#include "wlroots/WlrootsDesktop.h"

#include <QTest>

class TestWlroots : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void typesAnyText_data();
    void typesAnyText();
    void refusesTooManyCharacters();
    void typesNothingOnceTheTargetIsNoLongerActive();
};

void TestWlroots::initTestCase()
{
    if (qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        QSKIP("needs a wlroots compositor: run through ./test.sh");
    QVERIFY2(WlrootsDesktop(QString()).isSupported(), "the compositor lacks the protocols");
}

void TestWlroots::typesAnyText_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QByteArray>("expected");
    const int foot = Receiver::Foot;
    const QString ascii = printableAscii() + "\t";
    QTest::newRow("foot, every printable ASCII character, Tab and Enter")
        << foot << keystrokeString(ascii) + "{ENTER}" << ascii.toUtf8() + "\r";
    QTest::newRow("foot, 240 distinct") << foot << chineseText(240) << chineseText(240).toUtf8();
    QTest::newRow("Qt 6, 146 distinct outside the layout")
        << int(Receiver::QtWayland) << keystrokeString(kAnyText) << kAnyText.toUtf8();
}

void TestWlroots::typesAnyText()
{
    QFETCH(int, kind);
    QFETCH(QString, keys);
    QFETCH(QByteArray, expected);
    const QString title = uniqueTitle("kf wayland") + " " + QTest::currentDataTag();
    Receiver receiver(title, QString(), 0, Receiver::Kind(kind));
    QVERIFY(receiver.startOnWayland());
    WlrootsDesktop desktop{QString()};
    const WindowId target = desktop.activate(title);
    QVERIFY2(target != 0, qPrintable(desktop.lastError()));
    QVERIFY2(desktop.inject(target, keys) == Typing::Done, qPrintable(desktop.lastError()));
    QCOMPARE(receiver.waitFor(expected), expected);
    QCOMPARE(receiver.settle(100), expected);
}

void TestWlroots::refusesTooManyCharacters()
{
    const QString title = uniqueTitle("kf wayland refused");
    Receiver receiver(title, QString(), 0, Receiver::Foot);
    QVERIFY(receiver.startOnWayland());
    WlrootsDesktop desktop{QString()};
    // More distinct characters than one keyboard map holds: nothing is typed.
    const WindowId target = desktop.activate(title);
    QVERIFY(target != 0);
    QCOMPARE(desktop.inject(target, chineseText(400)), Typing::Untypable);
    QCOMPARE(receiver.settle(200), QByteArray());
}

void TestWlroots::typesNothingOnceTheTargetIsNoLongerActive()
{
    Receiver target(uniqueTitle("kf wayland target"), QString(), 0, Receiver::Foot);
    Receiver other(uniqueTitle("kf wayland other"), QString(), 0, Receiver::Foot);
    QVERIFY(target.startOnWayland());
    QVERIFY(other.startOnWayland());
    WlrootsDesktop desktop{QString()};
    const WindowId id = desktop.activate(uniqueTitle("kf wayland target"));
    QVERIFY(id != 0);
    WlrootsDesktop user{QString()}; // the user makes another window active before the keys go out
    QVERIFY(user.activate(uniqueTitle("kf wayland other")));
    QCOMPARE(desktop.inject(id, QStringLiteral("abc")), Typing::FocusLost);
    QCOMPARE(target.settle(), QByteArray());
    QCOMPARE(other.settle(0), QByteArray());
}

QTEST_GUILESS_MAIN(TestWlroots)
#include "tst_wlroots.moc"
