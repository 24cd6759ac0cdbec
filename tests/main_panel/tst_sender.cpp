// The main panel on the recording fake: stored settings, sending, re-entry, the target titles.
#include "MacroButton.h"
#include "PanelFixture.h"
#include "ReadOnlyFolder.h"
#include "Rows.h"

#include <QGuiApplication>
#include <QScreen>

Q_DECLARE_METATYPE(Typing)

namespace {
const QString kTitleQuestion =
    "The Application Title list has changed.\r\n\r\nDo you want to Save these changes?";
// The title, the text, +Return, +Tab, and the keystroke strings injected.
using SendRows = Rows<QString, QString, bool, bool, QStringList>;
// Whether the window exists, the injection that fails (-1: none), how, and the message's start
// and a part of what follows that tells the cause.
using FailureRows = Rows<bool, int, Typing, QString, QString>;
// The title list file; the title added after removing the first ("-": nothing removed);
// AutoSave; the answer to the question (0: not asked); the file after; and whether the folder is
// read-only (Yes then fails, and the window stays open).
using TitleRows = Rows<QByteArray, QString, bool, int, QByteArray, bool>;
} // namespace

class TestSender : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // Only the value 1 ticks a box, a position off every screen moves to the corner of the first,
    // On Top is in force before the window is first shown, and a minimized window stores the
    // toggles but not where it stands while minimized.
    void keepsSettings()
    {
        Panel p;
        p.fake.settings = {{"On Top", "1"},
                           {"CrgReturn", " 1 "},
                           {"AutoSav", "yes"},
                           {"Left", "-150000"},
                           {"Top", "-150000"}};
        Sender& s = p.start();
        QCOMPARE(
            QList<bool>({s.OnTop->isChecked(), s.CarageRt->isChecked(), s.AutoSave->isChecked()}),
            QList<bool>({true, true, false}));
        QCOMPARE(s.pos(), QGuiApplication::primaryScreen()->availableGeometry().topLeft());
        QCOMPARE(p.fake.topmostCalls.size(), 1);
        s.show();
        s.showMinimized();
        s.close();
        QCOMPARE(p.fake.settingsWrites, QStringList({"On Top=1", "CrgReturn=1", "AutoSav=0"}));
    }

    void sends_data()
    {
        SendRows::columns();
        const auto row = SendRows::row;
        row("escaped, title with its blanks", "  Notes  ", "50% {x}", false, false,
            {"50{%} {{}x{}}"});
        row("+Tab", "Notes", "a", false, true, {"a", "{TAB}"});
        row("both, Enter first", "Notes", "a", true, true, {"a", "{ENTER}", "{TAB}"});
        row("blank title sends nothing", "   ", "a", true, false, {});
        row("empty text sends nothing", "Notes", "", true, false, {});
    }

    void sends()
    {
        const auto [title, text, enter, tab, injected] = SendRows::fetch();
        Panel p;
        p.fake.windowTitles = {title};
        Sender& s = p.start();
        s.ProgTitle->setEditText(title);
        s.setText(4, text);
        {
            const QSignalBlocker a(s.CarageRt), b(s.Tabky); // both may be ticked in a stored state
            s.CarageRt->setChecked(enter);
            s.Tabky->setChecked(tab);
        }
        s.Command1_MouseUp(4, MacroButton::Left);
        QCOMPARE(p.fake.activated, injected.isEmpty() ? QStringList{} : QStringList{title});
        QCOMPARE(p.fake.injected, injected);
        QVERIFY(!s.isBusy());
    }

    void reportsFailedSend_data()
    {
        FailureRows::columns();
        const auto row = FailureRows::row;
        // Only a window that cannot be found or reached is blamed on the target; each other cause
        // says what happened and what the user can do.
        const QString blamed = "Unable to communicate with Notes ";
        const QString nothing = "Nothing was typed into Notes : ";
        const QString stopped = "Typing into Notes  stopped: ";
        row("no window", false, -1, Typing::Done, blamed, "");
        row("desktop fails", true, 0, Typing::Unavailable, blamed, "");
        row("focus lost at Enter", true, 1, Typing::FocusLost, stopped, "another window took");
        row("modifier held", true, 0, Typing::ModifiersHeld, nothing, "Alt key is held down.");
        row("untypable", true, 0, Typing::Untypable, nothing, "the keyboard layout cannot type.");
        row("receiver busy", true, 0, Typing::Busy, nothing, "is still reading it.");
        row("no free keys", true, 0, Typing::NoFreeKeys, nothing, "programs hold every free key");
        row("clipboard secret", true, 0, Typing::ClipboardSecret, nothing, "holds a password");
        row("clipboard not kept", true, 0, Typing::ClipboardFailed, nothing, "could not keep the");
        row("not pasted", true, 1, Typing::PasteMissing, stopped, "the window did not paste");
        row("copied meanwhile", true, 1, Typing::ClipboardTaken, stopped, "was copied to the");
        row("layout switched", true, 1, Typing::LayoutSwitched, stopped, "layout was switched.");
        // A desktop that lets no program reach other windows says so, whatever the title.
        row("desktop reaches no window", true, -1, Typing::Done,
            "This desktop lets no program type", "");
    }

    void reportsFailedSend()
    {
        const auto [windowExists, failInjectionAt, failure, start, cause] = FailureRows::fetch();
        Panel p;
        if (windowExists)
            p.fake.windowTitles = {"Notes - Editor"};
        if (start.startsWith("This desktop"))
            p.fake.unavailable = "This desktop lets no program type.";
        p.fake.failInjectionAt = failInjectionAt;
        p.fake.injectionFailure = failure;
        p.fake.answers = {Dialogs::Ok};
        Sender& s = p.start();
        s.ProgTitle->setEditText("Notes ");
        s.Command1_MouseUp(0, MacroButton::Left);
        QCOMPARE(p.fake.injected.size(), failInjectionAt + 1); // nothing after the failure
        QCOMPARE(p.fake.messages.size(), 1);
        const QString& message = p.fake.messages[0];
        QVERIFY2(message.startsWith(start) && message.contains(cause), qPrintable(message));
        QCOMPARE(p.fake.styles, QList<int>{Dialogs::OkOnly});

        // The panel is not left busy: the next release sends again.
        p.fake.windowTitles = {"Notes - Editor"};
        p.fake.unavailable.clear();
        p.fake.failInjectionAt = -1;
        p.fake.injected.clear();
        s.Command1_MouseUp(0, MacroButton::Left);
        QCOMPARE(p.fake.injected, QStringList({"1", "{ENTER}"}));
    }

    // While a send yields, releases over buttons do nothing, and a Clear meanwhile does not change
    // the text being sent.
    void ignoresReleasesWhileBusy()
    {
        Panel p;
        p.fake.windowTitles = {"Notes"};
        Sender& s = p.start();
        s.ProgTitle->setEditText("Notes");
        s.setText(0, "original");
        int editorOpened = 0;
        s.setEditorOpener([&](int) { ++editorOpened; });
        bool acted = false;
        p.fake.onYield = [&] {
            if (!s.isBusy() || acted)
                return;
            acted = true;
            s.Command1_MouseUp(1, MacroButton::Left);
            s.Command1_MouseUp(2, MacroButton::Right);
            p.fake.answers = {Dialogs::Yes};
            s.Command3_Click();
        };
        s.Command1_MouseUp(0, MacroButton::Left);
        p.fake.onYield = nullptr;
        QVERIFY(acted);
        QCOMPARE(p.fake.injected, QStringList({"original", "{ENTER}"}));
        QCOMPARE(editorOpened, 0);
        QCOMPARE(s.text(0), "1"); // cleared meanwhile
    }

    void savesTitlesAtClosing_data()
    {
        TitleRows::columns();
        const auto row = TitleRows::row;
        const int yes = Dialogs::Yes;
        QByteArray seventy;
        for (int i = 1; i <= 70; ++i)
            seventy += "T" + QByteArray::number(i) + "\r\n";
        const QByteArray rest = seventy.mid(4, seventy.indexOf("T65") - 4); // T2..T64
        row("unchanged asks nothing", seventy, "-", false, 0, seventy, false);
        row("the first 64 are loaded; Yes writes the rest", seventy, "", false, yes, rest, false);
        row("the only title removed: an empty file", "Solo\r\n", "", false, yes, "", false);
        row("one removed, one added: same count, still asks", "A\r\nB\r\n", "New", false, yes,
            "B\r\nNew\r\n", false);
        row("No writes nothing", seventy, "", false, Dialogs::No, seventy, false);
        row("Cancel keeps the window open", seventy, "", false, Dialogs::Cancel, seventy, false);
        row("AutoSave writes without asking", "A\r\nB\r\n", "", true, 0, "B\r\n", false);
        row("read-only folder: Yes fails, the window stays open", "A\r\nB\r\n", "", false, yes,
            "A\r\nB\r\n", true);
    }

    void savesTitlesAtClosing()
    {
        const auto [file, added, autoSave, answer, written, readOnly] = TitleRows::fetch();
        ReadOnlyFolder folder;
        folder.put("Keyflare.ini", file);
        if (readOnly && !folder.lock())
            QSKIP("cannot make a read-only folder here");
        Panel p;
        Sender& s = p.start(folder.path());
        QCOMPARE(s.ProgTitle->currentText(), QString::fromLatin1(file.left(file.indexOf('\r'))));
        s.AutoSave->setChecked(autoSave);
        if (added != "-")
            p.ctrlD(s.ProgTitle, 0, Dialogs::Yes);
        if (!added.isEmpty() && added != "-")
            s.targetTitles().add(added);
        p.fake.messages.clear();
        if (answer != 0)
            p.fake.answers = {answer, Dialogs::Ok}; // Ok: the message of a failed save
        // A changed macro set must not be asked about once the close is cancelled.
        s.setMacroSetChanged(answer == Dialogs::Cancel ? 1 : 0);
        QCOMPARE(s.Form_QueryUnload(), answer != Dialogs::Cancel && !readOnly);
        QCOMPARE(p.fake.messages.size(), answer == 0 ? 0 : readOnly ? 2 : 1);
        QCOMPARE(p.fake.messages.value(0), answer != 0 ? kTitleQuestion : QString());
        QCOMPARE(readFile(p.file("Keyflare.ini")), written);
        if (readOnly) { // says where, and the next close asks again
            QVERIFY(p.fake.messages.value(1).contains(folder.path() + "Keyflare.ini"));
            QCOMPARE(p.fake.styles.last(), int(Dialogs::OkOnly | Dialogs::Exclamation));
            QVERIFY(s.titleListChanged());
        } else if (answer == Dialogs::Yes) { // saved: the next close asks no more
            QVERIFY(s.Form_QueryUnload());
            QCOMPARE(p.fake.messages.size(), 1);
        }
    }
};

QTEST_MAIN(TestSender)
#include "tst_sender.moc"
