// The real program's line beside the title, on each desktop it knows: as windows open, are
// renamed, raised and close, it names the window a click then types into, as a screen reader
// reads it, and the click proves it.
#include "DesktopPlatform.h"
#include "KeyflareProgram.h"
#include "Receiver.h"
#include "ScreenReader.h"

#include <QDir>
#include <QTest>

class TestWatching : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void namesTheWindowAClickTypesInto();

private:
    std::unique_ptr<Hand> m_hand = Hand::forSession();
};

void TestWatching::namesTheWindowAClickTypesInto()
{
    QVERIFY2(m_hand->ok(), "the desktop gives the test a pointer");
    const QString title = uniqueTitle("kf watch");
    KeyflareProgram app;
    app.putTargetAndSet(title, {"sent"});
    Receiver first(title + " one", "60x8+20+500", 0, Receiver::TextEdit);
    QVERIFY(first.start());
    QVERIFY2(app.start(), "the panel shows (under KWin after a message of the registration)");
    ScreenReader reader;
    QString line;
    // Waits until the line says that receiver receives the text (with several windows matching,
    // how many), then clicks and checks that the text came there.
    const auto step = [&](const QString& matching, Receiver& receiver) {
        const QString expected =
            QStringLiteral("%1: \u201c%2\u201d (qtreceiver)").arg(matching, receiver.title());
        const auto said = [&] {
            return (line = reader.description(app.pid(), "Receiving window")) == expected;
        };
        if (!QTest::qWaitFor(said, 10000))
            return false;
        const QByteArray text = receiver.received() + "sent" + receiver.enter();
        app.clickMacroButton(*m_hand, 1);
        return receiver.waitFor(text) == text;
    };
    const QString one = QStringLiteral("Receives the text");
    QVERIFY2(step(one, first), qPrintable(line));

    first.retitle(title + " two");
    QVERIFY2(step(one, first), qPrintable(line));

    // The first window's title begins with the second's: both match, and the topmost wins.
    Receiver second(title + " t", "60x8+20+300", 0, Receiver::TextEdit);
    QVERIFY(second.start());
    const QString two = QStringLiteral("2 windows match; the topmost receives it");
    QVERIFY2(step(two, second), qPrintable(line));
    // The user brings the first one up again.
    QVERIFY(DesktopPlatform(QDir::tempPath()).platform().activation.activate(first.title()));
    QVERIFY2(step(two, first), qPrintable(line));

    first.close();
    QVERIFY2(step(one, second), qPrintable(line));
}

QTEST_MAIN(TestWatching)
#include "tst_watching.moc"
