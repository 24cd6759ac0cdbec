// Typing under KDE Plasma's compositor (a headless KWin of the test's own): windows found by
// title and made active, text typed by the keys of the layout in force through fake input.
#include "KeystrokeString.h"
#include "XSession.h"
#include "kwin/KWinDesktop.h"

#include <QTest>

class TestKWin : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void typesTheLayoutsCharacters();
    void refusesWhatItCannotDo();
    void typesNothingOnceTheTargetIsNoLongerActive();
};

void TestKWin::initTestCase()
{
    if (qgetenv("XDG_CURRENT_DESKTOP") != "KDE")
        QSKIP("needs KWin: run through ./test.sh");
    KWinDesktop desktop{QString()};
    QVERIFY2(desktop.isAllowed(), qPrintable(desktop.lastError()));
}

void TestKWin::typesTheLayoutsCharacters()
{
    QString text;
    for (char c = 0x20; c < 0x7f; ++c)
        text += QLatin1Char(c);
    text += QStringLiteral("\tend");
    const QString title = uniqueTitle("kf kwin");
    Receiver receiver(title, QString(), 0, Receiver::QtWayland);
    QVERIFY(receiver.startOnWayland());
    KWinDesktop desktop{QString()};
    const WindowId target = desktop.activate(title);
    QVERIFY2(target != 0, qPrintable(desktop.lastError()));
    QVERIFY2(desktop.inject(target, keystrokeString(text) + "{ENTER}") == Typing::Done,
             qPrintable(desktop.lastError()));
    // The text edit takes Tab as a character and Enter as a new line.
    const QByteArray expected = text.toUtf8() + "\n";
    QCOMPARE(receiver.waitFor(expected), expected);
}

void TestKWin::refusesWhatItCannotDo()
{
    const QString title = uniqueTitle("kf kwin refused");
    Receiver receiver(title, QString(), 0, Receiver::QtWayland);
    QVERIFY(receiver.startOnWayland());
    KWinDesktop desktop{QString()};
    QCOMPARE(desktop.activate(QStringLiteral("no such window here")), WindowId(0));
    const WindowId target = desktop.activate(title);
    QVERIFY(target != 0);
    QCOMPARE(desktop.inject(target, QStringLiteral("abc Жж")), Typing::Untypable);
    QCOMPARE(receiver.settle(300), QByteArray());
}

void TestKWin::typesNothingOnceTheTargetIsNoLongerActive()
{
    Receiver target(uniqueTitle("kf kwin target"), QString(), 0, Receiver::QtWayland);
    Receiver other(uniqueTitle("kf kwin other"), QString(), 0, Receiver::QtWayland);
    QVERIFY(target.startOnWayland());
    QVERIFY(other.startOnWayland());
    KWinDesktop desktop{QString()};
    const WindowId id = desktop.activate(uniqueTitle("kf kwin target"));
    QVERIFY(id != 0);
    KWinDesktop user{QString()}; // the user makes another window active before the keys go out
    QVERIFY(user.activate(uniqueTitle("kf kwin other")));
    QCOMPARE(desktop.inject(id, QStringLiteral("abc")), Typing::FocusLost);
    QCOMPARE(target.settle(), QByteArray());
    QCOMPARE(other.settle(0), QByteArray());
}

QTEST_GUILESS_MAIN(TestKWin)
#include "tst_kwin.moc"
