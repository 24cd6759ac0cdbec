// The platform's pure logic: keystroke strings, window matching, grabbed titles, titles in
// COMPOUND_TEXT, where the program keeps its files, how a copy is named to KWin, and the signals
// that ask the program to end. Which key types which character is tst_keyplanning's part, and
// typing into real programs tst_desktop's.
#include "DesktopServices.h"
#include "KeystrokeString.h"
#include "Rows.h"
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
        out += s.kind == KeyStroke::Enter ? "<E>"
               : s.kind == KeyStroke::Tab ? "<T>"
                                          : QString::fromUcs4(&s.codePoint, 1);
    return out;
}
// The function a row checks: parseKeystrokeString(), its strokes described ("-" when refused);
// grabbedTitle(); decodeCompoundText(), of bytes; ExecutableFolder::choose(), of the executable's
// folder and the install prefix's bin folder; and KWinPermission::desktopEntry(), its Exec line
// (empty: refused).
constexpr int kKeys = 0, kGrabbedTitle = 1, kCompoundText = 2, kProgramFolder = 3, kKWinEntry = 4;
// The function, the text, bytes or texts it is given, and what it makes of them.
using TextRows = Rows<int, QVariant, QString>;
// The titles, bottom to top (ids 1, 2, ...), the target, and the id expected (0: none).
using MatchRows = Rows<QStringList, QString, int>;
// The signal (0: the session manager's Quit event), and when: 0 before the loop, seen by a
// yield; 1 before it, unseen; 2 while it runs.
using EndRows = Rows<int, int>;
} // namespace

class TestPlatform : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // What escaping makes of any text is the fuzzer's part; here the key names and what is refused.
    // A grabbed title keeps 99 characters; one outside the Basic Multilingual Plane counts once
    // and is never cut in half. A copy outside the install prefix keeps its files beside it.
    // KWin finds the copy by the first word of the desktop file's command, split as a shell would
    // but with no escapes undone: the path is quoted whole, and one it would read otherwise is
    // refused.
    void convertsTexts_data()
    {
        TextRows::columns();
        const auto row = TextRows::row;
        row("key names in any case", kKeys, "a{ENTER}{tab}", "a<E><T>");
        row("the TAB character is the Tab key", kKeys, "a\tb", "a<T>b");
        row("bare plus", kKeys, "a+b", "-");
        row("bare brace", kKeys, "{", "-");
        row("unterminated", kKeys, "{ENTER", "-");
        row("unknown key", kKeys, "{F5}", "-");
        row("bare closing", kKeys, "}", "-");
        row("lone surrogate", kKeys, QString(QChar(0xD800)), "-");
        const QString a98 = QString(98, QLatin1Char('a'));
        const QString smile = QString::fromUcs4(U"\U0001F600");
        row("short", kGrabbedTitle, "xterm", "xterm");
        row("99 kept whole", kGrabbedTitle, a98 + "b", a98 + "b");
        row("the 100th goes", kGrabbedTitle, a98 + "bc", a98 + "b");
        row("a pair as the 99th", kGrabbedTitle, a98 + smile + "c", a98 + smile);
        row("pairs before", kGrabbedTitle, smile.repeated(100), smile.repeated(99));
        row("Latin-1 by default", kCompoundText, QByteArray("caf\xe9"), "café");
        // What Xlib writes for "kf Жёлтый éclair 日本".
        row("as Xlib writes it", kCompoundText,
            QByteArray("kf \x1b-L\xb6\xf1\xdb\xe2\xeb\xd9 \x1b-A\xe9"
                       "clair \x1b$(BF|K\\"),
            "kf Жёлтый éclair 日本");
        row("UTF-8 segment", kCompoundText, QByteArray("a\x1b%G\xe2\x82\xac\x1b%@b"), "a€b");
        row("unknown set", kCompoundText, QByteArray("\x1b-Z\xe9"), QString(QChar(0xfffd)));
        row("cut pair", kCompoundText, QByteArray("\x1b$(BF"), QString(QChar(0xfffd)));
        const QString tmp = QDir::tempPath(), data = "/home/u/.local/share/Keyflare/";
        row("portable copy", kProgramFolder, QStringList{tmp, "/usr/local/bin"}, tmp + "/");
        row("installed copy", kProgramFolder, QStringList{tmp, tmp}, data);
        row("system folder", kProgramFolder, QStringList{"/usr/bin", "/opt/kf/bin"}, data);
        row("root folder keeps one slash", kProgramFolder, QStringList{"/", "/usr/bin"}, "/");
        for (const char* path :
             {"/opt/kf/keyflare", "/home/a b/it's (1) & #2/keyflare", "/home/Юля/keyflare"})
            row(path, kKWinEntry, path, "Exec=\"" + QString(path) + "\"\n");
        for (const char* bad : {"\"", "`", "$", "\\", "%", "\n", "\r", "\t"})
            row(bad, kKWinEntry, "/home/a" + QString(bad) + "b/keyflare", "");
    }

    void convertsTexts()
    {
        const auto [function, in, out] = TextRows::fetch();
        if (function == kGrabbedTitle) {
            QCOMPARE(grabbedTitle(in.toString()), out);
        } else if (function == kCompoundText) {
            QCOMPARE(decodeCompoundText(in.toByteArray()), out);
        } else if (function == kKWinEntry) {
            const std::optional<QByteArray> entry = KWinPermission::desktopEntry(in.toString());
            QCOMPARE(entry.has_value(), !out.isEmpty());
            if (entry) {
                QVERIFY2(entry->contains("\n" + out.toUtf8()), entry->constData());
                QCOMPARE(entry->count('\n'), 7); // no line the path could have added
            }
        } else if (function == kProgramFolder) {
            const QStringList f = in.toStringList(); // the executable's folder, the prefix's bin
            QCOMPARE(ExecutableFolder::choose(f[0], f[1], "/home/u/.local/share/Keyflare"), out);
        } else {
            QString error;
            const auto got = parseKeystrokeString(in.toString(), &error);
            QCOMPARE(got ? describe(*got) : "-", out);
            QCOMPARE(error.isEmpty(), got.has_value());
        }
    }

    void choosesTargetWindow_data()
    {
        MatchRows::columns();
        const auto row = MatchRows::row;
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

    void choosesTargetWindow()
    {
        const auto [titles, target, expected] = MatchRows::fetch();
        std::vector<CandidateWindow> windows;
        for (int i = 0; i < titles.size(); ++i)
            windows.push_back({static_cast<quint32>(i + 1), titles[i], false, QString()});
        QCOMPARE(static_cast<int>(chooseTargetWindow(windows, target)), expected);

        // Keyflare's own windows never receive its keys, however well they match.
        for (CandidateWindow& w : windows)
            w.ownWindow = true;
        QCOMPARE(chooseTargetWindow(windows, target), 0u);
    }

    void leavesTheLoopWhenAskedToEnd_data()
    {
        EndRows::columns();
        EndRows::row("SIGTERM during the start-up, seen by a yield", SIGTERM, 0);
        EndRows::row("SIGHUP before the loop, not seen yet", SIGHUP, 1);
        EndRows::row("SIGINT while the loop runs", SIGINT, 2);
        EndRows::row("an X session manager's Quit event at logout", 0, 2);
    }

    // Asked to end by the session, a closed terminal or Ctrl+C, the program leaves its event loop,
    // whenever the request came.
    void leavesTheLoopWhenAskedToEnd()
    {
        const auto [signal, when] = EndRows::fetch();
        TerminationSignals terminations;
        if (when < 2)
            std::raise(signal);
        if (when == 0) // as the panel's start-up lets events through
            QVERIFY(QTest::qWaitFor([&] { return terminations.requested(); }, 5000));
        else if (when == 2 && signal != 0)
            QTimer::singleShot(0, [sig = signal] { std::raise(sig); });
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
};

QTEST_GUILESS_MAIN(TestPlatform)
#include "tst_platform.moc"
