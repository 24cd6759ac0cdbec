// The macro-set commands on the panel: the catalogue, load, save, clear, delete, the questions
// about unsaved changes, and commands that arrive while another one yields.
#include "MacroSetFile.h"
#include "PanelFixture.h"
#include "ReadOnlyFolder.h"
#include "Rows.h"

#include <QDir>

namespace {
// Asked about a changed set without a name.
const QString kSetQuestion =
    "The current Macro Set  has changed.\r\n\r\nDo you want to Save the changes you made?";
// The folder the files are kept in; kReplaced: the set's file is replaced by a folder after the
// list was read.
constexpr int kWritable = 0, kReadOnly = 1, kFull = 2, kReplaced = 3;
// The commands that may save a set.
constexpr int kSaveAs = 0, kDropDown = 1, kClear = 2, kClose = 3;
// Runs a command as the user would start it; for Close, whether the window may close.
bool run(Sender& s, int command)
{
    if (command == kSaveAs)
        return s.Command2_Click() == Sender::SaveResult::Saved;
    if (command == kDropDown)
        s.Combo1_DropDown();
    else if (command == kClear)
        s.Command3_Click();
    return command != kClose || s.Form_QueryUnload();
}
QStringList files(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot);
}
// The command, the changed flag before, the answers, the name given at the prompt ("-": not
// asked), the flag after, whether "mine" was saved, and AutoSave (ticked with the name "mine" in
// the box unless the prompt asks).
using FlagRows = Rows<int, int, QList<int>, QString, int, bool, bool>;
// The command, the answers, the name given at the prompt, and the folder.
using FailedSaveRows = Rows<int, QList<int>, QString, int>;
// The name in the set box, a set file there before, AutoSave, the folder, and the name the set
// is saved under (empty: none).
using EndRows = Rows<QString, QString, bool, int, QString>;
} // namespace

class TestMacroSets : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void changedFlagTable_data()
    {
        FlagRows::columns();
        const auto row = FlagRows::row;
        const int yes = Dialogs::Yes, no = Dialogs::No;
        row("list opened, unchanged: no question", kDropDown, 0, {}, "-", 0, false, false);
        row("list opened, No clears the flag", kDropDown, 1, {no}, "-", 0, false, false);
        row("list opened, Yes saves under the name trimmed", kDropDown, 1, {yes}, "  mine ", 0,
            true, false);
        row("list opened, empty prompt still clears", kDropDown, 1, {yes}, "", 0, false, false);
        row("Clear, No: unchanged", kClear, 1, {no}, "-", 1, false, false);
        row("Clear, Yes, No to saving", kClear, 1, {yes, no}, "-", 0, false, false);
        row("Clear, Yes, Yes to saving", kClear, 1, {yes, yes}, "mine", 0, true, false);
        row("Clear unchanged asks only to clear", kClear, 0, {yes}, "-", 0, false, false);
        row("closing, Yes, the prompt left empty: closes", kClose, 1, {yes}, "", 1, false, false);
        row("closing, No", kClose, 1, {no}, "-", 1, false, false);
        row("closing, Yes saves", kClose, 1, {yes}, "mine", 0, true, false);
        row("closing, Cancel keeps everything", kClose, 1, {Dialogs::Cancel}, "-", 1, false, false);
        row("closing with AutoSave and a name: saved silently", kClose, 1, {}, "-", 0, true, true);
        row("closing with AutoSave, no name: the prompt asks", kClose, 1, {}, "mine", 0, true,
            true);
    }

    void changedFlagTable()
    {
        const auto [command, flagBefore, answers, nameGiven, flagAfter, saved, autoSave] =
            FlagRows::fetch();
        Panel p;
        Sender& s = p.start();
        s.AutoSave->setChecked(autoSave);
        if (autoSave && nameGiven == "-")
            s.Combo1->setEditText("mine");
        s.setText(0, "edited");
        s.setMacroSetChanged(flagBefore);
        p.fake.answers = answers;
        if (nameGiven != "-")
            p.fake.inputAnswers = {nameGiven};
        const bool cancelled = answers == QList<int>{int(Dialogs::Cancel)};
        QCOMPARE(run(s, command), !cancelled);
        QCOMPARE(s.macroSetChanged(), flagAfter);
        QCOMPARE(QFile::exists(p.file("mine.mcs")), saved);
        if (saved) // byte for byte: the other buttons as a fresh panel has them
            QCOMPARE(readFile(p.file("mine.mcs")), macroSetBytes({"edited"}, "Number "));
        QCOMPARE(s.text(0), command == kClear && answers.value(0) == Dialogs::Yes ? "1" : "edited");
        QCOMPARE(p.fake.inputPrompts.size(), nameGiven == "-" ? 0 : 1);
        if (flagBefore == 1 && !answers.isEmpty() &&
            (command != kClear || answers[0] == Dialogs::Yes))
            QVERIFY(p.fake.messages.contains(kSetQuestion));
    }

    void failedSaveLosesNothing_data()
    {
        FailedSaveRows::columns();
        const auto row = [](const char* tag, int command, const QList<int>& answers,
                            const QString& name = "set", int folder = kReadOnly) {
            FailedSaveRows::row(tag, command, answers, name, folder);
        };
        const int yes = Dialogs::Yes, ok = Dialogs::Ok;
        row("Save As", kSaveAs, {ok});
        row("from the closing question", kClose, {yes, ok});
        row("from Clear", kClear, {yes, yes, ok});
        row("from opening the list", kDropDown, {yes, ok});
        row("disk full", kSaveAs, {ok}, "set", kFull);
        row("the file replaced by a folder", kSaveAs, {ok}, "set", kReplaced);
        // A refused name: nothing is written anywhere.
        row("a path", kSaveAs, {ok}, "../escape", kWritable);
        row("backslash", kSaveAs, {ok}, "a\\b", kWritable);
        row("dot dot", kSaveAs, {ok}, "..", kWritable);
        row("hidden file", kSaveAs, {ok}, ".notes", kWritable);
        row("control character", kSaveAs, {ok}, "a\tb", kWritable);
        row("too long for the file system", kSaveAs, {ok}, QString(300, QLatin1Char('n')),
            kWritable);
    }

    // A save that fails says why, once, and loses nothing: the buttons, the changed flag, the file.
    // The set then loads; one whose file is gone gives the buttons their defaults, silently.
    void failedSaveLosesNothing()
    {
        const auto [command, answers, name, folder] = FailedSaveRows::fetch();
        ReadOnlyFolder dir;
        const QByteArray old = macroSetBytes({"old"});
        dir.put("set.mcs", old);
        if ((folder == kReadOnly && !dir.lock()) || (folder == kFull && !dir.fill()))
            QSKIP("cannot make a read-only or full folder here");
        Panel p;
        Sender& s = p.start(dir.path());
        if (folder == kReplaced)
            QVERIFY(QFile::remove(dir.path() + "set.mcs") && QDir(dir.path()).mkdir("set.mcs"));
        s.Combo1->setEditText("set");
        s.setText(0, "precious");
        s.setMacroSetChanged(1);
        p.fake.inputAnswers = {name};
        p.fake.answers = answers;
        QVERIFY(!run(s, command) || command == kClear || command == kDropDown);
        QCOMPARE(p.fake.messages.size(), answers.size());
        QVERIFY(
            p.fake.messages.last().contains(folder == kWritable ? name : dir.path() + "set.mcs"));
        QCOMPARE(p.fake.styles.last(), int(Dialogs::OkOnly | Dialogs::Exclamation));
        QCOMPARE(s.text(0), "precious");
        QCOMPARE(s.macroSetChanged(), 1);
        QCOMPARE(p.catalogue(), QStringList{"SET"});
        QCOMPARE(files(dir.path()), QStringList{"set.mcs"});
        QVERIFY(QDir(dir.path() + "..").entryList({"escape*"}).isEmpty());
        QCOMPARE(readFile(dir.path() + "set.mcs"), folder == kReplaced ? "<missing>" : old);
        s.Combo1->setCurrentIndex(0);
        s.Combo1_Click();
        QCOMPARE(s.text(0), folder == kReplaced ? "1" : "old");
        QCOMPARE(s.caption(0), folder == kReplaced ? "Number 1" : "C1");
        QCOMPARE(p.fake.messages.size(), answers.size());
    }

    void deletesSets_data()
    {
        Rows<QStringList, QStringList>::columns();
        Rows<QStringList, QStringList>::row("of two", {"alpha", "beta"}, {"ALPHA", "beta"});
        Rows<QStringList, QStringList>::row("same length", {"Work"}, {"WORK"});
        Rows<QStringList, QStringList>::row("longer in capitals", {"aaa straße"}, {"AAA STRASSE"});
    }

    // The first name is listed in capitals; load, save and delete still find its file. Ctrl+D
    // deletes the set picked after a question and loads the first one left; deleting the only set
    // leaves the buttons as they are. A change not yet saved is still remembered.
    void deletesSets()
    {
        const auto [names, listed] = Rows<QStringList, QStringList>::fetch();
        Panel p;
        p.putSets(names);
        Sender& s = p.start();
        QCOMPARE(p.catalogue(), listed);
        QCOMPARE(s.text(0), names[0]);
        s.AutoSave->setChecked(true);
        s.setText(0, "changed");
        QCOMPARE(s.Command2_Click(), Sender::SaveResult::Saved);
        QStringList sets;
        for (const QString& name : names)
            sets << name + ".mcs";
        QCOMPARE(files(p.file("")), sets);
        QCOMPARE(MacroSetFile::read(p.file(sets[0])).first().text, "changed");
        s.setText(5, "unsaved");
        s.setMacroSetChanged(1);
        const int last = int(names.size()) - 1;
        p.ctrlD(s.Combo1, last, Dialogs::No);
        QCOMPARE(files(p.file("")), sets);
        p.ctrlD(s.Combo1, last, Dialogs::Yes);
        QCOMPARE(p.fake.messages, QStringList(2, "DELETE macro set > " + listed.last() + " < ?"));
        QCOMPARE(p.fake.styles.last(), Dialogs::YesNo | Dialogs::Question);
        QCOMPARE(files(p.file("")), sets.mid(0, last));
        QCOMPARE(p.catalogue(), listed.mid(0, last));
        QCOMPARE(s.text(5), last > 0 ? "6" : "unsaved"); // the first set left is loaded
        QCOMPARE(s.macroSetChanged(), 1);

        // Nothing selected (a typed name): nothing asked.
        s.Combo1->setEditText("typed");
        QTest::keyClick(s.Combo1, Qt::Key_D, Qt::ControlModifier);
        QCOMPARE(p.fake.messages.size(), 2);
        QCOMPARE(s.Combo1->currentText(), "typed"); // Ctrl+D itself is swallowed
    }

    void commandsWaitForALoadOrSave_data()
    {
        Rows<bool>::columns();
        Rows<bool>::row("a set picked while another loads", false);
        Rows<bool>::row("a set picked while the set is saved", true);
    }

    // A set picked while a load or a save runs is loaded once that has ended; a save meanwhile
    // fails and a Clear does nothing. The save keeps what the buttons held when it began.
    void commandsWaitForALoadOrSave()
    {
        const auto [saving] = Rows<bool>::fetch();
        Panel p;
        p.putSets({"alpha", "beta"});
        Sender& s = p.start();
        s.Combo1->setEditText("snap");
        s.AutoSave->setChecked(true);
        s.setText(0, "as saved");
        bool acted = false;
        p.fake.onYield = [&] {
            if (acted)
                return;
            acted = true;
            p.fake.answers = {Dialogs::Yes}; // a Clear that ran would clear
            s.Combo1->setCurrentIndex(1);
            s.Combo1_Click();
            QCOMPARE(s.Command2_Click(), Sender::SaveResult::Failed);
            s.Command3_Click();
        };
        if (saving) {
            QCOMPARE(s.Command2_Click(), Sender::SaveResult::Saved);
        } else {
            s.Combo1->setCurrentIndex(0);
            s.Combo1_Click();
        }
        p.fake.onYield = nullptr;
        QVERIFY(acted);
        QCOMPARE(MacroSetFile::read(p.file("snap.mcs")).value(0).text,
                 saving ? "as saved" : QString());
        QCOMPARE(s.text(0), "beta");
        QCOMPARE(s.caption(47), "C48");
        QVERIFY(p.fake.messages.isEmpty());
    }

    void requestedEndAsksNothing_data()
    {
        EndRows::columns();
        const auto row = [](const char* tag, const QString& name, const QString& existing,
                            const QString& savedAs, bool autoSave = true, int folder = kWritable) {
            EndRows::row(tag, name, existing, autoSave, folder, savedAs);
        };
        const QString unsaved = "Unsaved macro set 2026-12-08 10-42";
        row("no name: one that says what and when", "  ", "", unsaved);
        row("that name taken: another", "", "UNSAVED macro SET 2026-12-08 10-42.mcs",
            unsaved + " (2)");
        row("a name that cannot name a set", "../x", "", unsaved);
        row("named: under its name", "mine", "mine.mcs", "mine");
        row("without AutoSave nothing is saved", "", "", "", false);
        row("read-only folder: reported", "", "", "", true, kReadOnly);
    }

    // Asked to end by the session, the panel asks nothing: with AutoSave ticked it saves the
    // changed titles and set (one without a name under a name of its own, which the next start
    // mentions once) and tells what could not be saved.
    void requestedEndAsksNothing()
    {
        const auto [name, existing, autoSave, folder, savedAs] = EndRows::fetch();
        ReadOnlyFolder dir;
        const QByteArray old = macroSetBytes({"old"});
        if (!existing.isEmpty())
            dir.put(existing, old);
        if (folder == kReadOnly && !dir.lock())
            QSKIP("cannot make a read-only folder here");
        const qsizetype sets = files(dir.path()).filter(".mcs").size();
        QMap<QString, QString> settings;
        {
            Panel p;
            Sender& s = p.start(dir.path());
            s.AutoSave->setChecked(autoSave);
            s.Combo1->setEditText(name);
            s.setText(0, "precious");
            s.setMacroSetChanged(1);
            s.targetTitles().add("Notes");
            const QStringList failures =
                s.saveOnRequestedEnd(QDateTime({2026, 12, 8}, {10, 42, 59}));
            QCOMPARE(p.fake.messages + p.fake.inputPrompts, QStringList());
            QCOMPARE(failures.size(), folder == kReadOnly ? 2 : 0);
            for (const QString& failure : failures)
                QVERIFY2(failure.contains(dir.path()), qPrintable(failure));
            settings = p.fake.settings;
        }
        QCOMPARE(files(dir.path()).filter(".mcs").size(), sets + savedAs.startsWith("Unsaved"));
        if (!savedAs.isEmpty())
            QCOMPARE(MacroSetFile::read(dir.path() + savedAs + ".mcs").first().text, "precious");
        if (!existing.isEmpty() && savedAs != "mine")
            QCOMPARE(readFile(dir.path() + existing), old);
        // The next start says where a set without a name went, once.
        for (const bool says : {savedAs.startsWith("Unsaved"), false}) {
            Panel next;
            next.fake.settings = settings;
            next.fake.answers = {Dialogs::Ok};
            next.start(dir.path());
            QCOMPARE(next.fake.messages.size(), says ? 1 : 0);
            if (says)
                QVERIFY(next.fake.messages[0].contains("\"" + savedAs + "\""));
            next.fake.answers.clear();
            settings = next.fake.settings;
        }
    }
};

QTEST_MAIN(TestMacroSets)
#include "tst_macrosets.moc"
