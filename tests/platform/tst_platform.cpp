// The platform's pure logic: keystroke strings, window matching, grabbed titles, titles in
// COMPOUND_TEXT, where the program keeps its files, how a copy is named to KWin, and the signals
// that ask the program to end. Which key types which character is tst_keyplanning's part, and
// typing into real programs tst_desktop's.
#include "DesktopServices.h"
#include "KeystrokeString.h"
#include "TerminationSignals.h"
#include "WindowMatch.h"
#include "kwin/KWinPermission.h"
#include "x11/CompoundText.h"

#include <QDir>
#include <QTest>
#include <QTimer>
#include <csignal>

namespace {
// Strokes as text: characters as themselves, Enter as "<E>", the Tab key as "<T>".
QString describe(const std::vector<KeyStroke>& strokes)
{
    QString out;
    for (const KeyStroke& s : strokes)
        out += s.kind == KeyStroke::Enter ? QStringLiteral("<E>")
               : s.kind == KeyStroke::Tab ? QStringLiteral("<T>")
                                          : QString::fromUcs4(&s.codePoint, 1);
    return out;
}
} // namespace

class TestPlatform : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void parsesKeystrokeStrings_data();
    void parsesKeystrokeStrings();
    void choosesTargetWindow_data();
    void choosesTargetWindow();
    void cutsAGrabbedTitle_data();
    void cutsAGrabbedTitle();
    void decodesCompoundText_data();
    void decodesCompoundText();
    void choosesProgramFolder_data();
    void choosesProgramFolder();
    void namesTheCopyForKWin_data();
    void namesTheCopyForKWin();
    void leavesTheLoopWhenAskedToEnd_data();
    void leavesTheLoopWhenAskedToEnd();
};

// What escaping makes of any text is the fuzzer's part; here the key names and what is refused.
void TestPlatform::parsesKeystrokeStrings_data()
{
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QString>("strokes"); // "-" when refused
    const auto row = [](const char* tag, const QString& keys, const QString& strokes) {
        QTest::newRow(tag) << keys << strokes;
    };
    row("key names in any case", "a{ENTER}{tab}", "a<E><T>");
    row("the TAB character is the Tab key", "a\tb", "a<T>b");
    row("bare plus", "a+b", "-");
    row("bare brace", "{", "-");
    row("unterminated", "{ENTER", "-");
    row("unknown key", "{F5}", "-");
    row("bare closing", "}", "-");
    row("lone surrogate", QString(QChar(0xD800)), "-");
}

void TestPlatform::parsesKeystrokeStrings()
{
    QFETCH(QString, keys);
    QFETCH(QString, strokes);
    QString error;
    const auto got = parseKeystrokeString(keys, &error);
    QCOMPARE(got ? describe(*got) : QStringLiteral("-"), strokes);
    QCOMPARE(error.isEmpty(), got.has_value());
}

void TestPlatform::choosesTargetWindow_data()
{
    QTest::addColumn<QStringList>("titles"); // bottom to top; ids are 1, 2, ...
    QTest::addColumn<QString>("target");
    QTest::addColumn<int>("expected");
    const auto row = [](const char* tag, const QStringList& titles, const QString& target,
                        int expected) { QTest::newRow(tag) << titles << target << expected; };
    const QStringList editors = {"notes - Editor", "Notes", "NOTES"};
    row("exact beats case", editors, "Notes", 2);
    row("case beats prefix", editors, "notes", 3);
    row("prefix", editors, "notes - ed", 1);
    row("topmost of equals", {"xterm", "xterm"}, "xterm", 2);
    row("pattern characters are literal", {"Report (1) [draft].txt", "Report 1 d.txt"},
        "Report (1) [draft]", 1);
    row("dot is no wildcard", {"aXb"}, "a.b", 0);
    row("no match", editors, "Mail", 0);
    row("empty target", editors, "", 0);
    row("non-ASCII case", {"ÉTÉ Übersicht"}, "été über", 1);
}

void TestPlatform::choosesTargetWindow()
{
    QFETCH(QStringList, titles);
    QFETCH(QString, target);
    QFETCH(int, expected);
    std::vector<CandidateWindow> windows;
    for (int i = 0; i < titles.size(); ++i)
        windows.push_back({static_cast<quint32>(i + 1), titles[i], false});
    QCOMPARE(static_cast<int>(chooseTargetWindow(windows, target)), expected);

    // Keyflare's own windows never receive its keys, however well they match.
    for (CandidateWindow& w : windows)
        w.ownWindow = true;
    QCOMPARE(chooseTargetWindow(windows, target), 0u);
}

// A grabbed title keeps 99 characters; one outside the Basic Multilingual Plane counts once and
// is never cut in half.
void TestPlatform::cutsAGrabbedTitle_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("kept");
    const QString a98 = QString(98, QLatin1Char('a'));
    const QString smile = QString::fromUcs4(U"\U0001F600");
    QTest::newRow("short") << "xterm"
                           << "xterm";
    QTest::newRow("99 kept whole") << a98 + "b" << a98 + "b";
    QTest::newRow("the 100th goes") << a98 + "bc" << a98 + "b";
    QTest::newRow("a pair as the 99th") << a98 + smile + "c" << a98 + smile;
    QTest::newRow("pairs before") << smile.repeated(100) << smile.repeated(99);
}

void TestPlatform::cutsAGrabbedTitle()
{
    QFETCH(QString, title);
    QFETCH(QString, kept);
    QCOMPARE(grabbedTitle(title), kept);
}

void TestPlatform::choosesProgramFolder_data()
{
    QTest::addColumn<QString>("exeDir");
    QTest::addColumn<QString>("installedBinDir");
    QTest::addColumn<QString>("expected");
    const QString tmp = QDir::tempPath();
    const auto row = [](const char* tag, const QString& exeDir, const QString& installed,
                        const QString& expected) {
        QTest::newRow(tag) << exeDir << installed << expected;
    };
    row("portable copy", tmp, "/usr/local/bin", tmp + "/");
    row("installed copy", tmp, tmp, "/home/u/.local/share/Keyflare/");
    row("system folder", "/usr/bin", "/opt/kf/bin", "/home/u/.local/share/Keyflare/");
    row("root folder keeps one slash", "/", "/usr/bin", "/");
}

void TestPlatform::choosesProgramFolder()
{
    QFETCH(QString, exeDir);
    QFETCH(QString, installedBinDir);
    QFETCH(QString, expected);
    QCOMPARE(ExecutableFolder::choose(exeDir, installedBinDir,
                                      QStringLiteral("/home/u/.local/share/Keyflare")),
             expected);
}

void TestPlatform::decodesCompoundText_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("Latin-1 by default") << QByteArray("caf\xe9") << "café";
    // What Xlib writes for "kf Жёлтый éclair 日本".
    QTest::newRow("as Xlib writes it") << QByteArray("kf \x1b-L\xb6\xf1\xdb\xe2\xeb\xd9 \x1b-A\xe9"
                                                     "clair \x1b$(BF|K\\")
                                       << "kf Жёлтый éclair 日本";
    QTest::newRow("UTF-8 segment") << QByteArray("a\x1b%G\xe2\x82\xac\x1b%@b") << "a€b";
    QTest::newRow("unknown set") << QByteArray("\x1b-Z\xe9") << QString(QChar(0xfffd));
    QTest::newRow("cut pair") << QByteArray("\x1b$(BF") << QString(QChar(0xfffd));
}

void TestPlatform::decodesCompoundText()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QCOMPARE(decodeCompoundText(bytes), text);
}

QTEST_GUILESS_MAIN(TestPlatform)
// KWin finds the copy by the first word of the desktop file's command, split as a shell would
// but with no escapes undone: the path is quoted whole, and one it would read otherwise is
// refused.
void TestPlatform::namesTheCopyForKWin_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("exec"); // empty: refused
    QTest::newRow("plain") << "/opt/kf/keyflare" << QByteArray("Exec=\"/opt/kf/keyflare\"\n");
    QTest::newRow("space and shell characters")
        << "/home/a b/it's (1) & #2/keyflare"
        << QByteArray("Exec=\"/home/a b/it's (1) & #2/keyflare\"\n");
    QTest::newRow("not Latin-1") << "/home/Юля/keyflare"
                                 << QByteArray("Exec=\"/home/Юля/keyflare\"\n");
    for (const char* bad : {"\"", "`", "$", "\\", "%", "\n", "\r", "\t"})
        QTest::newRow(bad) << QStringLiteral("/home/a%1b/keyflare").arg(QLatin1String(bad))
                           << QByteArray();
}

void TestPlatform::namesTheCopyForKWin()
{
    QFETCH(QString, path);
    QFETCH(QByteArray, exec);
    const std::optional<QByteArray> entry = KWinPermission::desktopEntry(path);
    QCOMPARE(entry.has_value(), !exec.isEmpty());
    if (entry) {
        QVERIFY2(entry->contains("\n" + exec), entry->constData());
        QCOMPARE(entry->count('\n'), 7); // no line the path could have added
    }
}

void TestPlatform::leavesTheLoopWhenAskedToEnd_data()
{
    QTest::addColumn<int>("signal");
    QTest::addColumn<int>("when"); // 0: before the loop, seen by a yield; 1: unseen; 2: in it
    QTest::newRow("SIGTERM during the start-up, seen by a yield") << SIGTERM << 0;
    QTest::newRow("SIGHUP before the loop, not seen yet") << SIGHUP << 1;
    QTest::newRow("SIGINT while the loop runs") << SIGINT << 2;
    QTest::newRow("an X session manager's Quit event at logout") << 0 << 2;
}

// Asked to end by the session, a closed terminal or Ctrl+C, the program leaves its event loop,
// whenever the request came.
void TestPlatform::leavesTheLoopWhenAskedToEnd()
{
    QFETCH(int, signal);
    QFETCH(int, when);
    TerminationSignals terminations;
    if (when < 2)
        std::raise(signal);
    if (when == 0) // as the panel's start-up lets events through
        QVERIFY(QTest::qWaitFor([&] { return terminations.requested(); }, 5000));
    else if (when == 2 && signal != 0)
        QTimer::singleShot(0, [signal] { std::raise(signal); });
    else if (when == 2) // as Qt hands on the session manager's "die"
        QTimer::singleShot(0, [] {
            QEvent quit(QEvent::Quit);
            QCoreApplication::sendEvent(QCoreApplication::instance(), &quit);
        });
    // A signal lost would leave the loop running: this ends it, as a failure.
    QTimer lost;
    connect(&lost, &QTimer::timeout, [] { QCoreApplication::exit(1); });
    lost.start(10000);
    QCOMPARE(terminations.exec(), 0);
    QVERIFY(terminations.requested());
}

#include "tst_platform.moc"
