// The line beside a target title: what it says a click would do (tests/e2e/tst_watching.cpp
// follows it on each desktop).
#include "Rows.h"
#include "TargetWording.h"

#include <QTest>

namespace {
// Windows as "title|program" (a leading "*" marks one of Keyflare's own), bottom to top.
std::vector<CandidateWindow> windowsOf(const QStringList& entries)
{
    std::vector<CandidateWindow> out;
    quint64 id = 1;
    for (QString entry : entries) {
        const bool own = entry.startsWith('*');
        const QStringList parts = entry.remove(0, own ? 1 : 0).split('|');
        out.push_back({id++, parts.value(0), own, parts.value(1)});
    }
    return out;
}
using WordingRows = Rows<QStringList, bool, QString, QString, QString>;
} // namespace

class TestTargetLine : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void wordsWhatAClickDoes_data()
    {
        WordingRows::columns();
        const auto row = WordingRows::row;
        const QStringList editors = {"notes - Editor|editor", "Notes|gedit", "mail|thunderbird"};
        row("blank title", editors, true, "  ", "", "");
        row("desktop cannot tell", {}, false, "Notes", "Windows unknown",
            "This desktop does not tell Keyflare which windows are open, so it cannot show which "
            "one would receive the text");
        row("no match", editors, true, "Calendar", "No window matches", "No window matches");
        row("one match", editors, true, "notes", "\u2192 Notes",
            "Receives the text: \u201cNotes\u201d (gedit)");
        // Only the windows of the best kind count: the exact ones, not the one it begins.
        row("several match", {"xterm|XTerm", "xterm - top|XTerm", "xterm|XTerm", "*xterm|keyflare"},
            true, "xterm", "\u2192 (2) xterm",
            "2 windows match; the topmost receives it: \u201cxterm\u201d (XTerm)");
        row("no program named", {"Report"}, true, "Rep", "\u2192 Report",
            "Receives the text: \u201cReport\u201d");
        const QString longTitle = QString("0123456789").repeated(15);
        row("title too long", {longTitle + "|editor"}, true, "0123", "\u2192 " + longTitle,
            "Receives the text: \u201c" + longTitle.left(99) + "\u2026\u201d (editor)");
        row("only Keyflare's own", {"*Notes|keyflare"}, true, "Notes", "No window matches",
            "No window matches");
    }

    void wordsWhatAClickDoes()
    {
        const auto [entries, known, title, shortText, detail] = WordingRows::fetch();
        const TargetWording w =
            describeTarget(title, known ? std::optional(windowsOf(entries)) : std::nullopt);
        QCOMPARE(w.shortText, shortText);
        QCOMPARE(w.detail, detail);
    }
};

QTEST_MAIN(TestTargetLine)
#include "tst_targetline.moc"
