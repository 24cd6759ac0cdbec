// KDE Plasma pastes what the keyboard layout lacks through the clipboard, which belongs to the
// user: whatever it held comes back (also after Keyflare has ended), a secret is never touched,
// a copy the user makes meanwhile wins, and a window that does not paste never gets the user's
// own contents.
#include "DesktopPlatform.h"
#include "Receiver.h"
#include "Session.h"

#include <QDir>
#include <QTest>
#include <QThread>
#include <unistd.h>

namespace {
QByteArray paste(const QStringList& args = {})
{
    QProcess p;
    p.start(QStringLiteral("wl-paste"), QStringList{QStringLiteral("--no-newline")} + args);
    p.waitForFinished(5000);
    return p.readAllStandardOutput();
}

void copy(const QByteArray& bytes, const QStringList& args = {})
{
    QProcess p;
    p.start(QStringLiteral("wl-copy"), args);
    p.write(bytes);
    p.closeWriteChannel();
    p.waitForFinished(5000);
}

// True once no clipboard keeper of this process's is left running.
bool keeperGone()
{
    return QTest::qWaitFor(
        [] {
            QProcess p;
            p.start(QStringLiteral("pgrep"),
                    {QStringLiteral("-P"), QString::number(getpid()), QStringLiteral("-r"),
                     QStringLiteral("R,S,D"), QStringLiteral("keyflare-clipbo")});
            p.waitForFinished(5000);
            return p.readAllStandardOutput().isEmpty();
        },
        10000);
}
} // namespace

class TestClipboard : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void keepsTheUsersClipboard_data();
    void keepsTheUsersClipboard();
};

void TestClipboard::init()
{
    if (session() != Session::KWin)
        QSKIP("only KDE Plasma types through the clipboard");
}

void TestClipboard::keepsTheUsersClipboard_data()
{
    QTest::addColumn<int>("kind");
    QTest::newRow("over 64 KiB, three sends, then the end") << 0;
    QTest::newRow("marked secret") << 1;
    QTest::newRow("copied during a send") << 2;
    QTest::newRow("a window that does not paste") << 3;
}

void TestClipboard::keepsTheUsersClipboard()
{
    QFETCH(int, kind);
    const QByteArray users = QByteArray("the user's own text, ").repeated(kind == 0 ? 10000 : 1);
    copy(users);
    // A clipboard manager reads every new selection: its read is not the target's paste. (It
    // would empty a paste-once secret.)
    QProcess manager;
    manager.setStandardOutputFile(QProcess::nullDevice());
    if (kind != 1)
        manager.start(QStringLiteral("wl-paste"),
                      {QStringLiteral("--watch"), QStringLiteral("cat")});
    const QString title = uniqueTitle("kf clipboard") + QLatin1Char(' ') + QTest::currentDataTag();
    Receiver receiver(title, {}, 0, kind == 3 ? Receiver::TextEditNoPaste : Receiver::TextEdit);
    QVERIFY(receiver.start());
    auto desktop = std::make_unique<DesktopPlatform>(QDir::tempPath());
    Platform platform = desktop->platform();
    const auto send = [&](const QString& text) {
        return platform.keys.inject(platform.activation.activate(title), text);
    };
    if (kind == 0) {
        QByteArray expected;
        for (const QString& text :
             {QStringLiteral("café"), QStringLiteral("Жж é"), QStringLiteral("€ — “x”")}) {
            QCOMPARE(send(text), Typing::Done);
            expected += text.toUtf8();
            QCOMPARE(receiver.waitFor(expected), expected);
            QCOMPARE(paste(), users);
        }
        desktop.reset(); // Keyflare ends: the clipboard still holds what the user put there
        QCOMPARE(paste(), users);
        copy("next"); // another program takes it: nothing is left to keep
        QVERIFY(keeperGone());
    } else if (kind == 1) { // a paste-once secret: any read of it empties the clipboard
        const QStringList hint = {QStringLiteral("--type"),
                                  QStringLiteral("x-kde-passwordManagerHint")};
        copy("secret", QStringList{QStringLiteral("--paste-once")} + hint);
        QCOMPARE(send(QStringLiteral("café")), Typing::ClipboardSecret);
        QCOMPARE(receiver.settle(), QByteArray());
        QCOMPARE(paste(hint), QByteArray("secret"));
    } else if (kind == 2) { // the send on a thread of its own, so that the user can copy meanwhile
        const QString text = QStringLiteral("é-").repeated(100);
        Typing result = Typing::Done;
        desktop.reset();
        std::unique_ptr<QThread> sender(QThread::create([&] {
            DesktopPlatform own(QDir::tempPath());
            Platform p = own.platform();
            result = p.keys.inject(p.activation.activate(title), text);
        }));
        sender->start();
        QVERIFY(QTest::qWaitFor([&] { return receiver.received().size() > 6; }, 15000));
        copy("copied meanwhile");
        QVERIFY(sender->wait(60000));
        QCOMPARE(paste(), QByteArray("copied meanwhile"));
        // The copy takes effect when the copying program gets to it: usually during the send,
        // which then stops; on a busy desktop perhaps only after its last paste.
        if (result != Typing::ClipboardTaken) {
            QCOMPARE(result, Typing::Done);
            QCOMPARE(receiver.waitFor(text.toUtf8()), text.toUtf8());
        }
    } else {
        QCOMPARE(send(QStringLiteral("a é")), Typing::PasteMissing);
        // The text stays on offer, so that a late paste brings it and not the user's own.
        QCOMPARE(paste(), QByteArray("é"));
        QCOMPARE(receiver.settle(), QByteArray("a "));
        // The next text pasted gives the user's contents back.
        Receiver next(title + QStringLiteral(" next"), {}, 0, Receiver::TextEdit);
        QVERIFY(next.start());
        QCOMPARE(
            platform.keys.inject(platform.activation.activate(next.title()), QStringLiteral("é")),
            Typing::Done);
        QCOMPARE(next.waitFor("é"), QByteArray("é"));
        QCOMPARE(paste(), users);
    }
    manager.kill();
    manager.waitForFinished(3000);
}

QTEST_GUILESS_MAIN(TestClipboard)
#include "tst_clipboard.moc"
