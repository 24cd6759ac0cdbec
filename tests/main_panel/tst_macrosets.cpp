// The macro-set commands on the panel: the catalogue, load, save, clear, delete, the questions
// about unsaved changes, and commands that arrive while another one yields.
#include "MacroButton.h"
#include "MacroSetFile.h"
#include "PanelFixture.h"
#include "ReadOnlyFolder.h"
#include "Rows.h"

#include <QDir>
#include <QFileInfo>

namespace {
// Asked about a changed set without a name.
const QString kSetQuestion =
    "The current Macro Set  has changed.\r\n\r\nDo you want to Save the changes you made?";
enum Folder
{
    Writable,
    ReadOnly,
    Full
};
enum Command
{
    SaveAs,
    DropDown,
    Clear,
    Close
};
// Runs a command as the user would start it; for Close, whether the window may close.
bool run(Sender& s, int command)
{
    if (command == SaveAs)
        return s.Command2_Click() == Sender::SaveResult::Saved;
    if (command == DropDown)
        s.Combo1_DropDown();
    else if (command == Clear)
        s.Command3_Click();
    return command != Close || s.Form_QueryUnload();
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
        row("list opened, unchanged: no question", DropDown, 0, {}, "-", 0, false, false);
        row("list opened, No clears the flag", DropDown, 1, {no}, "-", 0, false, false);
        row("list opened, Yes saves under the name trimmed", DropDown, 1, {yes}, "  mine ", 0, true,
            false);
        row("list opened, prompt left empty still clears", DropDown, 1, {yes}, "", 0, false, false);
        row("Clear, No: unchanged", Clear, 1, {no}, "-", 1, false, false);
        row("Clear, Yes, No to saving", Clear, 1, {yes, no}, "-", 0, false, false);
        row("Clear, Yes, Yes to saving", Clear, 1, {yes, yes}, "mine", 0, true, false);
        row("Clear unchanged asks only to clear", Clear, 0, {yes}, "-", 0, false, false);
        row("closing, Yes, the prompt left empty: closes", Close, 1, {yes}, "", 1, false, false);
        row("closing, No", Close, 1, {no}, "-", 1, false, false);
        row("closing, Yes saves", Close, 1, {yes}, "mine", 0, true, false);
        row("closing, Cancel keeps everything", Close, 1, {Dialogs::Cancel}, "-", 1, false, false);
        row("closing with AutoSave and a name: saved silently", Close, 1, {}, "-", 0, true, true);
        row("closing with AutoSave, no name: the prompt asks", Close, 1, {}, "mine", 0, true, true);
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
        QCOMPARE(s.text(0), command == Clear && answers.value(0) == Dialogs::Yes ? "1" : "edited");
        QCOMPARE(p.fake.inputPrompts.size(), nameGiven == "-" ? 0 : 1);
        if (flagBefore == 1 && !answers.isEmpty() &&
            (command != Clear || answers[0] == Dialogs::Yes))
            QVERIFY(p.fake.messages.contains(kSetQuestion));
    }

    void failedSaveLosesNothing_data()
    {
        FailedSaveRows::columns();
        const auto row = [](const char* tag, int command, const QList<int>& answers,
                            const QString& name = "set", int folder = ReadOnly) {
            FailedSaveRows::row(tag, command, answers, name, folder);
        };
        const int yes = Dialogs::Yes, ok = Dialogs::Ok;
        row("Save As", SaveAs, {ok});
        row("from the closing question", Close, {yes, ok});
        row("from Clear", Clear, {yes, yes, ok});
        row("from opening the list", DropDown, {yes, ok});
        row("disk full", SaveAs, {ok}, "set", Full);
        // A refused name: nothing is written anywhere.
        row("a path", SaveAs, {ok}, "../escape", Writable);
        row("backslash", SaveAs, {ok}, "a\\b", Writable);
        row("dot dot", SaveAs, {ok}, "..", Writable);
        row("hidden file", SaveAs, {ok}, ".notes", Writable);
        row("control character", SaveAs, {ok}, "a\tb", Writable);
        row("too long for the file system", SaveAs, {ok}, QString(300, QLatin1Char('n')), Writable);
    }

    // A save that fails says why, once, and loses nothing: the buttons, the changed flag, the file.
    void failedSaveLosesNothing()
    {
        const auto [command, answers, name, folder] = FailedSaveRows::fetch();
        ReadOnlyFolder dir;
        const QByteArray old = macroSetBytes({"old"});
        dir.put("set.mcs", old);
        if ((folder == ReadOnly && !dir.lock()) || (folder == Full && !dir.fill()))
            QSKIP("cannot make a read-only or full folder here");
        Panel p;
        Sender& s = p.start(dir.path());
        s.Combo1->setEditText("set");
        s.setText(0, "precious");
        s.setMacroSetChanged(1);
        p.fake.inputAnswers = {name};
        p.fake.answers = answers;
        QVERIFY(!run(s, command) || command == Clear || command == DropDown);
        QCOMPARE(p.fake.messages.size(), answers.size());
        QVERIFY(
            p.fake.messages.last().contains(folder == Writable ? name : dir.path() + "set.mcs"));
        QCOMPARE(p.fake.styles.last(), int(Dialogs::OkOnly | Dialogs::Exclamation));
        QCOMPARE(s.text(0), "precious");
        QCOMPARE(s.macroSetChanged(), 1);
        QCOMPARE(p.catalogue(), QStringList{"SET"});
        QCOMPARE(files(dir.path()), QStringList{"set.mcs"});
        QVERIFY(QDir(dir.path() + "..").entryList({"escape*"}).isEmpty());
        QCOMPARE(readFile(dir.path() + "set.mcs"), old);
    }

    void deletesSets()
    {
        Panel p;
        p.putSets({"alpha", "beta"});
        Sender& s = p.start();
        s.setText(5, "unsaved");
        s.setMacroSetChanged(1);
        p.ctrlD(s.Combo1, 1, Dialogs::No);
        QCOMPARE(files(p.file("")), QStringList({"alpha.mcs", "beta.mcs"}));
        p.ctrlD(s.Combo1, 1, Dialogs::Yes);
        QCOMPARE(p.fake.messages, QStringList(2, "DELETE macro set > beta < ?"));
        QCOMPARE(p.fake.styles.last(), Dialogs::YesNo | Dialogs::Question);
        QCOMPARE(files(p.file("")), QStringList{"alpha.mcs"});
        QCOMPARE(p.catalogue(), QStringList{"ALPHA"});
        QCOMPARE(s.text(0), "alpha");     // the first set is loaded
        QCOMPARE(s.macroSetChanged(), 1); // and the change is still remembered

        // Nothing selected (a typed name): nothing asked.
        s.Combo1->setEditText("typed");
        QTest::keyClick(s.Combo1, Qt::Key_D, Qt::ControlModifier);
        QCOMPARE(p.fake.messages.size(), 2);
        QCOMPARE(s.Combo1->currentText(), "typed"); // Ctrl+D itself is swallowed
    }

    void namesMatchFilesWithoutCase_data()
    {
        Rows<QString, QString>::columns();
        Rows<QString, QString>::row("same length", "Work", "WORK");
        Rows<QString, QString>::row("longer in capitals", "aaa straße", "AAA STRASSE");
    }

    // The first name is listed in capitals; load, save and delete still find its file. Deleting the
    // only set leaves the buttons as they are.
    void namesMatchFilesWithoutCase()
    {
        const auto [name, listed] = Rows<QString, QString>::fetch();
        Panel p;
        p.putSets({name});
        Sender& s = p.start();
        QCOMPARE(p.catalogue(), QStringList{listed});
        QCOMPARE(s.text(0), name);
        s.AutoSave->setChecked(true);
        s.setText(0, "changed");
        QCOMPARE(s.Command2_Click(), Sender::SaveResult::Saved);
        QCOMPARE(files(p.file("")), QStringList{name + ".mcs"});
        QCOMPARE(MacroSetFile::read(p.file(name + ".mcs")).first().text, "changed");
        p.ctrlD(s.Combo1, 0, Dialogs::Yes);
        QVERIFY(files(p.file("")).isEmpty());
        QCOMPARE(s.text(0), "changed");
    }

    void pickDuringLoadWaitsForIt()
    {
        Panel p;
        p.putSets({"alpha", "beta"});
        Sender& s = p.start();
        int yields = 0;
        p.fake.onYield = [&] {
            // While alpha loads, the user picks beta; then tries to save and clear.
            if (yields++ == 10) {
                s.Combo1->setCurrentIndex(1);
                s.Combo1_Click();
                QCOMPARE(s.Command2_Click(), Sender::SaveResult::Failed);
                s.Command3_Click();
            }
        };
        s.Combo1->setCurrentIndex(0);
        s.Combo1_Click();
        p.fake.onYield = nullptr;
        QCOMPARE(s.text(0), "beta");
        QCOMPARE(s.caption(47), "C48");
    }

    void saveKeepsItsSnapshot()
    {
        Panel p;
        p.putSets({"other"});
        Sender& s = p.start();
        s.Combo1->setEditText("snap");
        s.AutoSave->setChecked(true);
        s.setText(0, "as saved");
        bool acted = false;
        p.fake.onYield = [&] {
            // The user presses Clear and picks another set while the save is under way.
            if (acted || s.Combo1->count() == 0)
                return;
            acted = true;
            p.fake.answers = {Dialogs::Yes};
            s.Command3_Click();
            s.Combo1->setCurrentIndex(0);
            s.Combo1_Click();
        };
        QCOMPARE(s.Command2_Click(), Sender::SaveResult::Saved);
        p.fake.onYield = nullptr;
        QVERIFY(acted);
        QCOMPARE(MacroSetFile::read(p.file("snap.mcs")).first().text, "as saved");
        QCOMPARE(s.text(0), "other");       // the pick was loaded once the save ended
        QVERIFY(p.fake.messages.isEmpty()); // Clear did nothing while saving
    }

    void vanishedFilesLoadDefaults()
    {
        Panel p;
        p.putSets({"alpha", "beta"});
        Sender& s = p.start();
        // Replaced by a folder after the list was read: the buttons keep their defaults, silently;
        // a save says why it failed.
        QVERIFY(QFile::remove(p.file("beta.mcs")));
        QVERIFY(QDir(p.file("")).mkdir("beta.mcs"));
        s.Combo1->setCurrentIndex(1);
        s.Combo1_Click();
        QCOMPARE(s.text(0), "1");
        QCOMPARE(s.caption(0), "Number 1");
        s.AutoSave->setChecked(true);
        p.fake.answers = {Dialogs::Ok};
        QCOMPARE(s.Command2_Click(), Sender::SaveResult::Failed);
        QCOMPARE(p.fake.messages.size(), 1);
        QVERIFY(QFileInfo(p.file("beta.mcs")).isDir());
    }

    void requestedEndAsksNothing_data()
    {
        EndRows::columns();
        const auto row = [](const char* tag, const QString& name, const QString& existing,
                            const QString& savedAs, bool autoSave = true, int folder = Writable) {
            EndRows::row(tag, name, existing, autoSave, folder, savedAs);
        };
        const QString unsaved = "Unsaved macro set 2026-12-08 10-42";
        row("no name: one that says what and when", "  ", "", unsaved);
        row("that name taken: another", "", "UNSAVED macro SET 2026-12-08 10-42.mcs",
            unsaved + " (2)");
        row("a name that cannot name a set", "../x", "", unsaved);
        row("named: under its name", "mine", "mine.mcs", "mine");
        row("without AutoSave nothing is saved", "", "", "", false);
        row("read-only folder: reported", "", "", "", true, ReadOnly);
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
        if (folder == ReadOnly && !dir.lock())
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
            QCOMPARE(failures.size(), folder == ReadOnly ? 2 : 0);
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
