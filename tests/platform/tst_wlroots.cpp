// Typing on a wlroots compositor (a headless sway of the test's own, without XWayland): windows
// found by title and made active, any text arriving exactly through a virtual keyboard.
#include "KeystrokeString.h"
#include "XSession.h"
#include "wlroots/WlrootsDesktop.h"

#include <QTest>

namespace {
// 238 characters, 146 of them distinct and outside any Latin layout.
const QString kAnyText =
    QStringLiteral("Привет, мир! Съешь же ещё этих мягких французских булок, да выпей чаю. "
                   "Ελληνικά: ζωή, φως, θάλασσα, ψυχή. "
                   "中文：你好世界，今天天气很好，我们去公园散步吧。春夏秋冬，山川草木，花鸟风月。"
                   "日本語：こんにちは、カタカナとひらがなを書く。한국어: 안녕하세요 반갑습니다. "
                   "ไทย: สวัสดีครับ ขอบคุณ ★☆♠♣♥♦€£¥§¶ 😀 Ready, 42 ok!!");
QString printableAscii()
{
    QString s;
    for (char c = 0x20; c < 0x7f; ++c)
        s += QLatin1Char(c);
    return s;
}
QString chinese(int count)
{
    QString t;
    for (char32_t c = 0x4e00; t.size() < count; ++c)
        t += QString::fromUcs4(&c, 1);
    return t;
}
} // namespace

class TestWlroots : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void typesAnyText_data();
    void typesAnyText();
    void refusesWhatItCannotDo();
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
    QTest::newRow("foot, 146 distinct outside the layout")
        << foot << keystrokeString(kAnyText) << kAnyText.toUtf8();
    QTest::newRow("foot, 240 distinct") << foot << chinese(240) << chinese(240).toUtf8();
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

void TestWlroots::refusesWhatItCannotDo()
{
    const QString title = uniqueTitle("kf wayland refused");
    Receiver receiver(title, QString(), 0, Receiver::Foot);
    QVERIFY(receiver.startOnWayland());
    WlrootsDesktop desktop{QString()};
    // No window of that title: nothing is activated.
    QCOMPARE(desktop.activate(QStringLiteral("no such window here")), WindowId(0));
    // More distinct characters than one keyboard map holds: nothing is typed.
    const WindowId target = desktop.activate(title);
    QVERIFY(target != 0);
    QCOMPARE(desktop.inject(target, chinese(400)), Typing::Untypable);
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
