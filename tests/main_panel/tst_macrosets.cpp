// Macro-set commands on the main panel: the catalogue, load, save, clear, delete, and the
// questions about unsaved changes, on the recording fake with a real program folder.
#include "DropDownComboBox.h"
#include "MacroButton.h"
#include "MacroSetFile.h"
#include "ReadOnlyFolder.h"
#include "Sender.h"
#include "fake/FakeDesktop.h"

#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

namespace {
QString question(const QString& name)
{
    return QStringLiteral("The current Macro Set %1 has changed.\r\n\r\nDo you want to Save the "
                          "changes you made?")
        .arg(name);
}
const QString kPrompt = QStringLiteral("\r\n\r\n\r\nEnter a name for this Macro-Set.");

void writeSet(const QString& path, const QString& firstText)
{
    QVector<MacroSlot> slots;
    for (int k = 1; k <= 48; ++k)
        slots.append({QStringLiteral("C%1").arg(k), k == 1 ? firstText : QString::number(k)});
    QString error;
    QVERIFY(MacroSetFile::write(path, slots, &error));
}

enum Command
{
    DropDown,
    Clear,
    Close
};
} // namespace

class TestMacroSets : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void loadsFirstSetAtStartUp();
    void changedFlagTable_data();
    void changedFlagTable();
    void autoSaveUsesTheName_data();
    void autoSaveUsesTheName();
    void cancelAtClosingKeepsEverything();
    void saveTrimsTheName();
    void refusesNames_data();
    void refusesNames();
    void failedSaveLosesNothing_data();
    void failedSaveLosesNothing();
    void deletesSets();
    void pickingShowsFirstButtonSet();
    void namesMatchFilesWithoutCase_data();
    void namesMatchFilesWithoutCase();
    void pickDuringLoadWaitsForIt();
    void saveKeepsItsSnapshot();
    void tooLongNameFailsClearly();
    void vanishedFilesLoadDefaults();

private:
    Sender& start(const QString& folder = QString())
    {
        m_fake.folderPath = folder.isEmpty() ? m_dir->path() + "/" : folder;
        m_sender = std::make_unique<Sender>(*m_platform);
        m_sender->Form_Load();
        return *m_sender;
    }
    QString file(const QString& name) const { return m_dir->filePath(name + ".mcs"); }
    QStringList catalogue() const
    {
        QStringList out;
        for (int i = 0; i < m_sender->Combo1->count(); ++i)
            out << m_sender->Combo1->itemText(i);
        return out;
    }
    FakeDesktop m_fake;
    std::unique_ptr<Platform> m_platform = std::make_unique<Platform>(m_fake.platform());
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<Sender> m_sender;
};

void TestMacroSets::init()
{
    m_sender.reset();
    m_dir = std::make_unique<QTemporaryDir>();
    m_fake.messages.clear();
    m_fake.styles.clear();
    m_fake.inputPrompts.clear();
    m_fake.answers.clear();
    m_fake.inputAnswers.clear();
    m_fake.unexpected.clear();
}

void TestMacroSets::loadsFirstSetAtStartUp()
{
    writeSet(file("zeta"), "from zeta");
    writeSet(file("alpha"), "from alpha");
    Sender& s = start();
    QCOMPARE(catalogue(), QStringList({"ALPHA", "zeta"}));
    QCOMPARE(s.Combo1->currentText(), QStringLiteral("ALPHA"));
    QCOMPARE(s.text(0), QStringLiteral("from alpha"));
    QCOMPARE(s.caption(47), QStringLiteral("C48"));
    QCOMPARE(s.macroSetChanged(), 0);
    QVERIFY(m_fake.messages.isEmpty());
}

void TestMacroSets::changedFlagTable_data()
{
    QTest::addColumn<int>("command");
    QTest::addColumn<int>("flagBefore");
    QTest::addColumn<QList<int>>("answers");
    QTest::addColumn<QString>("nameGiven"); // answer to the name prompt; "-" when not asked
    QTest::addColumn<int>("flagAfter");
    QTest::addColumn<bool>("saved");
    QTest::newRow("list opened, unchanged: no question")
        << int(DropDown) << 0 << QList<int>{} << "-" << 0 << false;
    QTest::newRow("list opened, No clears the flag")
        << int(DropDown) << 1 << QList<int>{Dialogs::No} << "-" << 0 << false;
    QTest::newRow("list opened, Yes saves")
        << int(DropDown) << 1 << QList<int>{Dialogs::Yes} << "mine" << 0 << true;
    QTest::newRow("list opened, prompt left empty still clears")
        << int(DropDown) << 1 << QList<int>{Dialogs::Yes} << "" << 0 << false;
    QTest::newRow("Clear, No: unchanged")
        << int(Clear) << 1 << QList<int>{Dialogs::No} << "-" << 1 << false;
    QTest::newRow("Clear, Yes, No to saving")
        << int(Clear) << 1 << QList<int>{Dialogs::Yes, Dialogs::No} << "-" << 0 << false;
    QTest::newRow("Clear, Yes, Yes to saving")
        << int(Clear) << 1 << QList<int>{Dialogs::Yes, Dialogs::Yes} << "mine" << 0 << true;
    QTest::newRow("Clear unchanged asks only to clear")
        << int(Clear) << 0 << QList<int>{Dialogs::Yes} << "-" << 0 << false;
    QTest::newRow("closing, Yes with the prompt left empty still closes")
        << int(Close) << 1 << QList<int>{Dialogs::Yes} << "" << 1 << false;
    QTest::newRow("closing, No") << int(Close) << 1 << QList<int>{Dialogs::No} << "-" << 1 << false;
    QTest::newRow("closing, Yes saves")
        << int(Close) << 1 << QList<int>{Dialogs::Yes} << "mine" << 0 << true;
}

void TestMacroSets::changedFlagTable()
{
    QFETCH(int, command);
    QFETCH(int, flagBefore);
    QFETCH(QList<int>, answers);
    QFETCH(QString, nameGiven);
    QFETCH(int, flagAfter);
    QFETCH(bool, saved);
    Sender& s = start();
    s.setText(0, QStringLiteral("edited"));
    s.setMacroSetChanged(flagBefore);
    m_fake.answers = answers;
    if (nameGiven != "-")
        m_fake.inputAnswers = {nameGiven};
    switch (command) {
    case DropDown:
        s.Combo1_DropDown();
        break;
    case Clear:
        s.Command3_Click();
        break;
    case Close:
        QVERIFY(s.Form_QueryUnload());
        break;
    }
    QCOMPARE(s.macroSetChanged(), flagAfter);
    QCOMPARE(QFile::exists(file("mine")), saved);
    if (saved)
        QCOMPARE(MacroSetFile::read(file("mine")).first().text, QStringLiteral("edited"));
    QCOMPARE(m_fake.inputPrompts.size(), nameGiven == "-" ? 0 : 1);
    if (flagBefore == 1 && !answers.isEmpty() &&
        (command != Clear || answers.first() == Dialogs::Yes))
        QVERIFY(m_fake.messages.contains(question(QString())));
    QVERIFY2(m_fake.unexpected.isEmpty(), qPrintable(m_fake.unexpected.join('|')));
}

void TestMacroSets::autoSaveUsesTheName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("prompted");
    QTest::newRow("with a name: silent") << "work" << false;
    QTest::newRow("without a name: the prompt still asks") << "" << true;
}

void TestMacroSets::autoSaveUsesTheName()
{
    QFETCH(QString, name);
    QFETCH(bool, prompted);
    Sender& s = start();
    s.AutoSave->setChecked(true);
    s.Combo1->setEditText(name);
    s.setText(0, QStringLiteral("auto"));
    s.setMacroSetChanged(1);
    if (prompted)
        m_fake.inputAnswers = {"asked"};
    QVERIFY(s.Form_QueryUnload());
    QVERIFY(m_fake.messages.isEmpty());
    QCOMPARE(m_fake.inputPrompts.size(), prompted ? 1 : 0);
    QCOMPARE(MacroSetFile::read(file(prompted ? "asked" : name)).first().text,
             QStringLiteral("auto"));
}

void TestMacroSets::cancelAtClosingKeepsEverything()
{
    Sender& s = start();
    s.Combo1->setEditText("kept");
    s.setText(3, QStringLiteral("unsaved"));
    s.setMacroSetChanged(1);
    m_fake.answers = {Dialogs::Cancel};
    QVERIFY(!s.Form_QueryUnload());
    QCOMPARE(m_fake.messages, QStringList{question("kept")});
    QCOMPARE(m_fake.styles, QList<int>{Dialogs::YesNoCancel});
    QCOMPARE(s.text(3), QStringLiteral("unsaved"));
    QCOMPARE(s.macroSetChanged(), 1);
    QVERIFY(QDir(m_dir->path()).entryList(QDir::Files).isEmpty());
}

void TestMacroSets::saveTrimsTheName()
{
    writeSet(file("other"), "x");
    Sender& s = start();
    s.setMacroSetChanged(1);
    s.Combo1->setEditText("  offered  ");
    m_fake.inputAnswers = {"  My Set  "};
    QCOMPARE(s.Command2_Click(), Sender::SaveResult::Saved);
    QCOMPARE(m_fake.inputPrompts, QStringList{kPrompt});
    QVERIFY(QFile::exists(file("My Set")));
    QCOMPARE(catalogue(), QStringList({"MY SET", "other"}));
    QCOMPARE(s.Combo1->currentText(), QStringLiteral("My Set"));
    QCOMPARE(s.macroSetChanged(), 0);
}

void TestMacroSets::refusesNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("a path") << "../escape";
    QTest::newRow("backslash") << "a\\b";
    QTest::newRow("dot dot") << "..";
    QTest::newRow("hidden file") << ".notes";
    QTest::newRow("control character") << "a\tb";
}

void TestMacroSets::refusesNames()
{
    QFETCH(QString, name);
    Sender& s = start();
    s.setMacroSetChanged(1);
    m_fake.inputAnswers = {name};
    m_fake.answers = {Dialogs::Ok};
    QCOMPARE(s.Command2_Click(), Sender::SaveResult::Failed);
    QCOMPARE(m_fake.messages.size(), 1);
    QCOMPARE(s.macroSetChanged(), 1);
    QVERIFY(QDir(m_dir->path()).entryList(QDir::Files).isEmpty());
    QVERIFY(QDir(m_dir->path() + "/..").entryList({"escape*"}).isEmpty());
}

void TestMacroSets::failedSaveLosesNothing_data()
{
    QTest::addColumn<int>("command");
    QTest::newRow("Save As") << -1;
    QTest::newRow("from the closing question") << int(Close);
    QTest::newRow("from Clear") << int(Clear);
    QTest::newRow("from opening the list") << int(DropDown);
}

void TestMacroSets::failedSaveLosesNothing()
{
    QFETCH(int, command);
    ReadOnlyFolder folder;
    QByteArray old = "[Keyflare 1.07]\r\n";
    for (int k = 1; k <= 48; ++k)
        old += "old\r\nold\r\n";
    folder.put("set.mcs", old);
    if (!folder.lock())
        QSKIP("cannot make a read-only folder here");
    Sender& s = start(folder.path());
    s.Combo1->setEditText("set");
    s.setText(0, QStringLiteral("precious"));
    s.setMacroSetChanged(1);
    m_fake.inputAnswers = {"set"};
    switch (command) {
    case -1:
        m_fake.answers = {Dialogs::Ok};
        QCOMPARE(s.Command2_Click(), Sender::SaveResult::Failed);
        break;
    case Close:
        m_fake.answers = {Dialogs::Yes, Dialogs::Ok};
        QVERIFY(!s.Form_QueryUnload());
        break;
    case Clear:
        m_fake.answers = {Dialogs::Yes, Dialogs::Yes, Dialogs::Ok};
        s.Command3_Click();
        break;
    case DropDown:
        m_fake.answers = {Dialogs::Yes, Dialogs::Ok};
        s.Combo1_DropDown();
        break;
    }
    QVERIFY(m_fake.messages.last().contains(folder.path() + "set.mcs"));
    QCOMPARE(m_fake.styles.last(), int(Dialogs::OkOnly | Dialogs::Exclamation));
    QCOMPARE(s.text(0), QStringLiteral("precious"));
    QCOMPARE(s.macroSetChanged(), 1);
    QCOMPARE(catalogue(), QStringList{"SET"});
    QFile f(folder.path() + "set.mcs");
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), old);
    QVERIFY(m_fake.unexpected.isEmpty());
}

void TestMacroSets::deletesSets()
{
    writeSet(file("alpha"), "A");
    writeSet(file("beta"), "B");
    Sender& s = start();
    s.setText(5, QStringLiteral("unsaved"));
    s.setMacroSetChanged(1);
    s.Combo1->setCurrentIndex(1);
    m_fake.answers = {Dialogs::Yes};
    QTest::keyClick(s.Combo1, Qt::Key_D, Qt::ControlModifier);
    QCOMPARE(m_fake.messages, QStringList{"DELETE macro set > beta < ?"});
    QCOMPARE(m_fake.styles, QList<int>{Dialogs::YesNo | Dialogs::Question});
    QVERIFY(!QFile::exists(file("beta")));
    QCOMPARE(catalogue(), QStringList{"ALPHA"});
    QCOMPARE(s.text(0), QStringLiteral("A")); // the first set is loaded
    QCOMPARE(s.macroSetChanged(), 1);         // and the change is still remembered

    // Deleting the only set leaves the buttons as they are.
    s.setText(0, QStringLiteral("kept"));
    m_fake.answers = {Dialogs::Yes};
    QTest::keyClick(s.Combo1, Qt::Key_D, Qt::ControlModifier);
    QVERIFY(catalogue().isEmpty());
    QCOMPARE(s.text(0), QStringLiteral("kept"));
    QVERIFY(!QFile::exists(file("alpha")));

    // Nothing selected (a typed name): nothing asked.
    s.Combo1->setEditText("typed");
    QTest::keyClick(s.Combo1, Qt::Key_D, Qt::ControlModifier);
    QCOMPARE(m_fake.messages.size(), 2);
}

void TestMacroSets::pickingShowsFirstButtonSet()
{
    writeSet(file("alpha"), "A");
    writeSet(file("beta"), "B");
    Sender& s = start();
    s.show();
    QVERIFY(QTest::qWaitForWindowExposed(&s));
    s.Option2->click();
    QVERIFY(s.Command1[0]->isHidden());
    s.Combo1->setCurrentIndex(1);
    Q_EMIT s.Combo1->picked(1);
    QCOMPARE(s.text(0), QStringLiteral("B"));
    QVERIFY(s.Option1->isChecked());
    QVERIFY(!s.Command1[0]->isHidden());
    QVERIFY(s.Command1[24]->isHidden());
}

void TestMacroSets::namesMatchFilesWithoutCase_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("listed");
    QTest::newRow("same length") << "Work"
                                 << "WORK";
    QTest::newRow("longer in capitals") << "aaa straße"
                                        << "AAA STRASSE";
}

// The first name is listed in capitals; load, save and delete still find its file.
void TestMacroSets::namesMatchFilesWithoutCase()
{
    QFETCH(QString, name);
    QFETCH(QString, listed);
    writeSet(file(name), "set text");
    Sender& s = start();
    QCOMPARE(catalogue(), QStringList{listed});
    QCOMPARE(s.text(0), QStringLiteral("set text"));
    s.AutoSave->setChecked(true);
    s.setText(0, QStringLiteral("changed"));
    QCOMPARE(s.Command2_Click(), Sender::SaveResult::Saved);
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), QStringList{name + ".mcs"});
    QCOMPARE(MacroSetFile::read(file(name)).first().text, QStringLiteral("changed"));
    s.Combo1->setCurrentIndex(0);
    m_fake.answers = {Dialogs::Yes};
    QTest::keyClick(s.Combo1, Qt::Key_D, Qt::ControlModifier);
    QVERIFY(QDir(m_dir->path()).entryList(QDir::Files).isEmpty());
}

void TestMacroSets::pickDuringLoadWaitsForIt()
{
    writeSet(file("alpha"), "A");
    writeSet(file("beta"), "B");
    Sender& s = start();
    int picks = 0;
    m_fake.onYield = [&] {
        // While alpha loads, the user picks beta; then tries to save and clear.
        if (picks++ == 10) {
            s.Combo1->setCurrentIndex(1);
            s.Combo1_Click();
            QCOMPARE(s.Command2_Click(), Sender::SaveResult::Failed);
            s.Command3_Click();
        }
    };
    s.Combo1->setCurrentIndex(0);
    s.Combo1_Click();
    m_fake.onYield = nullptr;
    QCOMPARE(s.text(0), QStringLiteral("B"));
    QCOMPARE(s.caption(47), QStringLiteral("C48"));
    QVERIFY(m_fake.messages.isEmpty());
    QVERIFY(m_fake.inputPrompts.isEmpty());
}

void TestMacroSets::saveKeepsItsSnapshot()
{
    writeSet(file("other"), "other");
    Sender& s = start();
    s.Combo1->setEditText("snap");
    s.AutoSave->setChecked(true);
    s.setText(0, QStringLiteral("as saved"));
    bool acted = false;
    m_fake.onYield = [&] {
        // The user presses Clear and picks another set while the save is under way.
        if (acted || s.Combo1->count() == 0)
            return;
        acted = true;
        m_fake.answers = {Dialogs::Yes};
        s.Command3_Click();
        s.Combo1->setCurrentIndex(0);
        s.Combo1_Click();
    };
    QCOMPARE(s.Command2_Click(), Sender::SaveResult::Saved);
    m_fake.onYield = nullptr;
    QVERIFY(acted);
    QCOMPARE(MacroSetFile::read(file("snap")).first().text, QStringLiteral("as saved"));
    QCOMPARE(s.text(0), QStringLiteral("other")); // the pick was loaded once the save ended
    QVERIFY(m_fake.messages.isEmpty());           // Clear did nothing while saving
}

void TestMacroSets::tooLongNameFailsClearly()
{
    Sender& s = start();
    s.setMacroSetChanged(1);
    m_fake.inputAnswers = {QString(300, QLatin1Char('n'))};
    m_fake.answers = {Dialogs::Ok};
    QCOMPARE(s.Command2_Click(), Sender::SaveResult::Failed);
    QCOMPARE(m_fake.messages.size(), 1);
    QVERIFY(m_fake.messages.first().contains(QStringLiteral("could not be saved")));
    QCOMPARE(s.macroSetChanged(), 1);
    QVERIFY(QDir(m_dir->path()).entryList(QDir::Files).isEmpty());
}

void TestMacroSets::vanishedFilesLoadDefaults()
{
    writeSet(file("alpha"), "A");
    writeSet(file("beta"), "B");
    writeSet(file("gamma"), "G");
    Sender& s = start();
    // Deleted after the list was read: the buttons keep their defaults, silently.
    QVERIFY(QFile::remove(file("beta")));
    s.Combo1->setCurrentIndex(1);
    s.Combo1_Click();
    QCOMPARE(s.text(0), QStringLiteral("1"));
    QCOMPARE(s.caption(0), QStringLiteral("Number 1"));
    // Replaced by a folder of the same name: the same on loading, a message on saving.
    QVERIFY(QFile::remove(file("gamma")));
    QVERIFY(QDir(m_dir->path()).mkdir("gamma.mcs"));
    s.Combo1->setCurrentIndex(2);
    s.Combo1_Click();
    QCOMPARE(s.text(0), QStringLiteral("1"));
    QVERIFY(m_fake.messages.isEmpty());
    s.AutoSave->setChecked(true);
    m_fake.answers = {Dialogs::Ok};
    QCOMPARE(s.Command2_Click(), Sender::SaveResult::Failed);
    QCOMPARE(m_fake.messages.size(), 1);
    QVERIFY(QFileInfo(file("gamma")).isDir());
}

QTEST_MAIN(TestMacroSets)
#include "tst_macrosets.moc"
