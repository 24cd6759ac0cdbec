// Typing under KDE Plasma's compositor (a headless KWin of the test's own): windows found by
// title and made active, text typed by the keys of the layout in force through fake input.
#include "KeystrokeString.h"
#include "TestTexts.h"
#include "WaylandSession.h"
#include "XSession.h"
#include "kwin/KWinDesktop.h"

#include <QProcess>
#include <QTest>
#include <linux/input-event-codes.h>

namespace {
// Runs a program while events are handled: the clipboard given back is served from this very
// process, as Keyflare serves it from its event loop.
QByteArray run(const QString& program, const QStringList& args)
{
    QProcess p;
    p.start(program, args);
    for (int i = 0; i < 500 && !p.waitForFinished(10); ++i)
        QCoreApplication::processEvents();
    return p.readAllStandardOutput();
}
} // namespace

class TestKWin : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void typesAnyText_data();
    void typesAnyText();
    void typesNothingOnceTheTargetIsNoLongerActive();
};

void TestKWin::initTestCase()
{
    if (qgetenv("XDG_CURRENT_DESKTOP") != "KDE")
        QSKIP("needs KWin: run through ./test.sh");
    KWinDesktop desktop{QString()};
    QVERIFY2(desktop.isAllowed(), qPrintable(desktop.lastError()));
}

void TestKWin::typesAnyText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("capsLock");
    const QString ascii = printableAscii() + QStringLiteral("\tend");
    QTest::newRow("the layout's characters, Tab") << ascii << false;
    QTest::newRow("the same with Caps Lock on") << ascii << true;
    QTest::newRow("146 distinct outside the layout") << kAnyText << false;
}

// The text arrives exactly; what the layout lacks comes through the clipboard, which holds what
// the user had put there once the send is over.
void TestKWin::typesAnyText()
{
    QFETCH(QString, text);
    QFETCH(bool, capsLock);
    const QString title = uniqueTitle("kf kwin") + " " + QTest::currentDataTag();
    Receiver receiver(title, QString(), 0, Receiver::QtWayland);
    QVERIFY(receiver.startOnWayland());
    QProcess::execute(QStringLiteral("wl-copy"), {QStringLiteral("the user's own text")});
    WaylandUser user;
    if (capsLock)
        user.tapKey(KEY_CAPSLOCK);
    KWinDesktop desktop{QString()};
    const WindowId target = desktop.activate(title);
    QVERIFY2(target != 0, qPrintable(desktop.lastError()));
    const Typing typed = desktop.inject(target, keystrokeString(text) + "{ENTER}");
    if (capsLock)
        user.tapKey(KEY_CAPSLOCK);
    QVERIFY2(typed == Typing::Done, qPrintable(desktop.lastError()));
    // The text edit takes Tab as a character and Enter as a new line.
    const QByteArray expected = text.toUtf8() + "\n";
    QCOMPARE(receiver.waitFor(expected), expected);
    QCOMPARE(run(QStringLiteral("wl-paste"), {QStringLiteral("--no-newline")}),
             QByteArray("the user's own text"));
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
