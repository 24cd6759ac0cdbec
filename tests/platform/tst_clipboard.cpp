// The clipboard belongs to the user. Where KWin maps a character the layout lacks itself (fake
// input 6, Plasma 6.5 on), Keyflare never touches it: a secret that any read would empty stays.
// Elsewhere KDE Plasma pastes such characters through it: whatever it held comes back (also
// after Keyflare has ended), a secret is never touched, a copy the user makes meanwhile wins, and
// a window that does not paste never gets the user's own contents.
#include "DesktopPlatform.h"
#include "Receiver.h"
#include "Session.h"
#include "TestFiles.h"
#include "kwin/KWinClipboard.h"
#include "kwin/KWinConnection.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <unistd.h>

namespace {
QByteArray paste(const QStringList& args = {})
{
    return programOutput("wl-paste", QStringList{"--no-newline"} + args, 5000);
}

void copy(const QByteArray& bytes, const QStringList& args = {})
{
    QProcess p;
    p.start("wl-copy", args);
    p.write(bytes);
    p.closeWriteChannel();
    p.waitForFinished(5000);
}

// True once no clipboard keeper of this process's is left running.
bool keeperGone()
{
    const QStringList args = {"-P", QString::number(getpid()), "-r", "R,S,D", "keyflare-clipbo"};
    return QTest::qWaitFor([&] { return programOutput("pgrep", args, 5000).isEmpty(); }, 10000);
}
} // namespace

class TestClipboard : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void keepsTheUsersClipboard_data();
    void keepsTheUsersClipboard();

private:
    bool m_pastes = true; // this KWin types what the layout lacks through the clipboard
};

void TestClipboard::initTestCase()
{
    if (session() != Session::KWin)
        QSKIP("only KDE Plasma may type through the clipboard");
    KWinConnection kwin;
    QString error;
    QVERIFY2(kwin.open(&error) && kwin.canServe(), qPrintable(error));
    m_pastes = kwin.fakeInputVersion() < 6;
    qInfo("fake input version %u: checks the %s", kwin.fakeInputVersion(),
          m_pastes ? "paste path" : "keysym path, which leaves the clipboard alone");
}

void TestClipboard::keepsTheUsersClipboard_data()
{
    QTest::addColumn<int>("kind");
    QTest::newRow("over 64 KiB, three sends, then the end") << 0;
    QTest::newRow("marked secret") << 1;
    QTest::newRow("copied during a send") << 2;
    QTest::newRow("a window that does not paste") << 3;
    // The keeper on its own, on every KWin: it speaks the data control the desktop offers
    // (wlroots' up to 6.3, the standard one alone on 6.7).
    QTest::newRow("Keyflare killed between a lend and its paste") << 5;
    QTest::newRow("a second Keyflare while a text waits for its paste") << 6;
    QTest::newRow("a text waiting for its paste replaced") << 7;
    QTest::newRow("an answer that comes late") << 8;
    QTest::newRow("malformed lines") << 9;
}

void TestClipboard::keepsTheUsersClipboard()
{
    QFETCH(int, kind);
    if (!m_pastes && (kind == 2 || kind == 3))
        QSKIP("about pasting, which this KWin does not need");
    const QString keeperPath = QCoreApplication::applicationDirPath() + "/keyflare-clipboard";
    const QByteArray users = QByteArray("the user's own text, ").repeated(kind == 0 ? 10000 : 1);
    copy(users);
    // A clipboard manager reads every new selection: its read is not the target's paste. (It
    // would empty a paste-once secret.)
    QProcess manager;
    manager.setStandardOutputFile(QProcess::nullDevice());
    if (kind != 1)
        manager.start("wl-paste", {"--watch", "cat"});
    const QString title = uniqueTitle("kf clipboard") + " " + QTest::currentDataTag();
    Receiver receiver(title, {}, 0, kind == 3 ? Receiver::TextEditNoPaste : Receiver::TextEdit);
    QVERIFY(receiver.start());
    auto desktop = std::make_unique<DesktopPlatform>(QDir::tempPath());
    Platform platform = desktop->platform();
    const auto send = [&](const QString& text) {
        return platform.keys.inject(platform.activation.activate(title), text);
    };
    if (kind == 0) {
        QByteArray expected;
        for (const QString text : {"café", "Жж é", "€ — “x”"}) {
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
        const QStringList hint = {"--type", "x-kde-passwordManagerHint"};
        copy("secret", QStringList{"--paste-once"} + hint);
        // Refused where it would be pasted; typed without a read of it where KWin maps keysyms.
        QCOMPARE(send("café"), m_pastes ? Typing::ClipboardSecret : Typing::Done);
        QCOMPARE(receiver.settle(), m_pastes ? QByteArray() : QByteArray("café"));
        QCOMPARE(paste(hint), QByteArray("secret"));
    } else if (kind == 2) { // the send on a thread of its own, so that the user can copy meanwhile
        const QString text = QString("é-").repeated(100);
        Typing result = Typing::Done;
        desktop.reset();
        std::unique_ptr<QThread> sender(QThread::create([&] {
            DesktopPlatform own(QDir::tempPath());
            Platform p = own.platform();
            result = p.keys.inject(p.activation.activate(title), text);
        }));
        sender->start();
        QVERIFY(QTest::qWaitFor([&] { return receiver.received().size() > 6; }, 15000));
        // Both selections: a text lent stays in one the user left alone until its paste.
        copy("copied meanwhile");
        copy("copied meanwhile", {"--primary"});
        QVERIFY(sender->wait(60000));
        QCOMPARE(paste(), QByteArray("copied meanwhile"));
        // The copy takes effect when the copying program gets to it: usually during the send,
        // which then stops; on a busy desktop perhaps only after its last paste.
        if (result != Typing::ClipboardTaken) {
            QCOMPARE(result, Typing::Done);
            QCOMPARE(receiver.waitFor(text.toUtf8()), text.toUtf8());
        }
    } else if (kind >= 5 && kind <= 7) {
        // The target pastes when told: a client of the compositor, as a Wayland window's program
        // is, that becomes wl-paste.
        QProcess target;
        target.start("python3", {"-c", "import os, socket, sys\n"
                                       "s = socket.socket(socket.AF_UNIX)\n"
                                       "s.connect(os.environ['XDG_RUNTIME_DIR'] + '/' + "
                                       "os.environ['WAYLAND_DISPLAY'])\n"
                                       "print(flush=True)\n"
                                       "sys.stdin.readline()\n"
                                       "os.execvp('wl-paste', ['wl-paste', '--no-newline'])"});
        QVERIFY(target.waitForReadyRead(5000));
        target.readAll();
        auto first = std::make_unique<KWinClipboard>(keeperPath);
        QCOMPARE(first->save(), KWinClipboard::Saved::Yes);
        QCOMPARE(first->lend("MACRO-TEXT", pid_t(target.processId())), KWinClipboard::Paste::Done);
        QCOMPARE(paste({"--primary"}), QByteArray("MACRO-TEXT"));
        // Marked secret, so that clipboard managers keep none of it.
        QCOMPARE(paste({"--type", "x-kde-passwordManagerHint"}), QByteArray("secret"));
        if (kind == 5)
            first.reset(); // its line closes as when Keyflare is killed
        else
            first->restore(false); // no paste came: the text stays lent until it does
        if (kind == 6) {           // another Keyflare never takes the text lent for the user's
            KWinClipboard second(keeperPath);
            QCOMPARE(second.save(), KWinClipboard::Saved::Failed);
            QVERIFY2(second.lastError().contains("earlier Keyflare"),
                     qPrintable(second.lastError()));
        }
        QCOMPARE(paste(), QByteArray("MACRO-TEXT"));
        if (kind == 7) { // the user copies: nothing is left to give back, and the keeper ends
            first.reset();
            copy("copied");
            copy("copied", {"--primary"});
            QVERIFY(keeperGone());
            QCOMPARE(paste(), QByteArray("copied"));
        } else {
            target.write("\n");
            QVERIFY(target.waitForFinished(5000));
            QCOMPARE(target.readAllStandardOutput(), QByteArray("MACRO-TEXT"));
            QVERIFY(QTest::qWaitFor([&] { return paste() == users; }, 5000));
            KWinClipboard next(keeperPath); // lent with no target, given back at once
            QCOMPARE(next.save(), KWinClipboard::Saved::Yes);
            QCOMPARE(next.lend("next", 0), KWinClipboard::Paste::Done);
            next.restore(true);
            QCOMPARE(paste(), users);
        }
    } else if (kind == 8) {
        // A stand-in keeper answers the first lend only with the next command's answer.
        QTemporaryDir folder;
        const QString script = folder.filePath("late-keeper");
        writeFile(script,
                  "#!/bin/bash\necho '0 READY'\n"
                  "while read -r command sequence rest; do case $command in\n"
                  "SAVE) echo \"$sequence SAVED\" ;;\n"
                  "LEND) read -r -N \"${rest##* }\" _\n"
                  "  if [ -z \"$lent\" ]; then late=$sequence lent=1;"
                  " else echo \"$sequence LENT\"; fi ;;\n"
                  "*) [ -n \"$late\" ] && echo \"$late LENT\"; late=; echo \"$sequence DONE\" ;;\n"
                  "esac; done\n");
        QFile::setPermissions(script, QFile::ReadOwner | QFile::ExeOwner);
        KWinClipboard late(script);
        QCOMPARE(late.save(), KWinClipboard::Saved::Yes);
        QCOMPARE(late.lend("x", 0), KWinClipboard::Paste::TimedOut);
        late.restore(false);
        QCOMPARE(late.save(), KWinClipboard::Saved::Yes);
        QCOMPARE(late.lend("x", 0), KWinClipboard::Paste::Done);
    } else if (kind == 9) { // refused line by line; the keeper goes on
        QProcess keeper;
        keeper.start(keeperPath);
        QVERIFY(keeper.waitForReadyRead(5000));
        QCOMPARE(keeper.readLine(), QByteArray("0 READY\n"));
        keeper.write("OWN 0\nGIVE 0 5\nGIVE 0 99999999999999999999 1\n"
                     "GIVE 0 18446744073709551615 2\nLEND 1 2\nSAVE 3\n");
        QVERIFY(QTest::qWaitFor([&] { return keeper.canReadLine(); }, 10000));
        QCOMPARE(keeper.readLine(), QByteArray("3 SAVED\n"));
        keeper.closeWriteChannel();
        QVERIFY(keeper.waitForFinished(10000));
        QCOMPARE(keeper.exitStatus(), QProcess::NormalExit);
    } else {
        QCOMPARE(send("a é"), Typing::PasteMissing);
        // The text stays on offer, so that a late paste brings it and not the user's own.
        QCOMPARE(paste(), QByteArray("é"));
        QCOMPARE(receiver.settle(), QByteArray("a "));
        // The next text pasted gives the user's contents back.
        Receiver next(title + " next", {}, 0, Receiver::TextEdit);
        QVERIFY(next.start());
        QCOMPARE(platform.keys.inject(platform.activation.activate(next.title()), "é"),
                 Typing::Done);
        QCOMPARE(next.waitFor("é"), QByteArray("é"));
        QCOMPARE(paste(), users);
    }
    manager.kill();
    manager.waitForFinished(3000);
}

QTEST_GUILESS_MAIN(TestClipboard)
#include "tst_clipboard.moc"
