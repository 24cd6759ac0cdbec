// The target titles on the main panel: loading at start-up, Ctrl+D, and saving at closing.
#include "DropDownComboBox.h"
#include "ReadOnlyFolder.h"
#include "Sender.h"
#include "fake/FakeDesktop.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

namespace {
QByteArray seventyTitles(int from = 1, int to = 70)
{
    QByteArray out;
    for (int i = from; i <= to; ++i)
        out += "Title " + QByteArray::number(i) + "\r\n";
    return out;
}
QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}
const QString kQuestion = QStringLiteral(
    "The Application Title list has changed.\r\n\r\nDo you want to Save these changes?");
enum Edit
{
    None,
    RemoveFirst,
    RemoveFirstAddOne
};
} // namespace

class TestTitleList : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void loadsTitlesAtStartUp();
    void savesAtClosing_data();
    void savesAtClosing();
    void savedListAsksNoMore();
    void readOnlyFolderKeepsWindowOpen();
    void ctrlDNeedsASelection();

private:
    std::unique_ptr<Sender> start(FakeDesktop& fake, const QString& folder)
    {
        fake.folderPath = folder;
        m_platform = std::make_unique<Platform>(fake.platform());
        auto s = std::make_unique<Sender>(*m_platform);
        s->Form_Load();
        return s;
    }
    static void removeSelected(Sender& s, FakeDesktop& fake, int index)
    {
        s.ProgTitle->setCurrentIndex(index);
        fake.answers.prepend(Dialogs::Yes);
        QTest::keyClick(s.ProgTitle, Qt::Key_D, Qt::ControlModifier);
    }
    std::unique_ptr<Platform> m_platform;
};

void TestTitleList::loadsTitlesAtStartUp()
{
    QTemporaryDir dir;
    QFile f(dir.filePath("Keyflare.ini"));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(seventyTitles());
    f.close();
    FakeDesktop fake;
    auto s = start(fake, dir.path() + "/");
    QCOMPARE(s->ProgTitle->count(), 64);
    QCOMPARE(s->ProgTitle->currentText(), QStringLiteral("Title 1"));
    QCOMPARE(s->savedTitleCount(), 64);
    QVERIFY(!s->titleListChanged());
}

void TestTitleList::savesAtClosing_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("edit");
    QTest::addColumn<bool>("autoSave");
    QTest::addColumn<int>("answer"); // 0: no question expected
    QTest::addColumn<bool>("closes");
    QTest::addColumn<QByteArray>("written");
    const QByteArray seventy = seventyTitles();
    QTest::newRow("unchanged asks nothing")
        << seventy << int(None) << false << 0 << true << seventy;
    QTest::newRow("removal then Yes writes the rest")
        << seventy << int(RemoveFirst) << false << int(Dialogs::Yes) << true
        << seventyTitles(2, 64);
    QTest::newRow("removing the only title writes an empty file")
        << QByteArray("Solo\r\n") << int(RemoveFirst) << false << int(Dialogs::Yes) << true
        << QByteArray();
    QTest::newRow("one removed, one added: asks and saves")
        << QByteArray("A\r\nB\r\n") << int(RemoveFirstAddOne) << false << int(Dialogs::Yes) << true
        << QByteArray("B\r\nNew one\r\n");
    QTest::newRow("No writes nothing")
        << seventy << int(RemoveFirst) << false << int(Dialogs::No) << true << seventy;
    QTest::newRow("Cancel keeps the window open")
        << seventy << int(RemoveFirst) << false << int(Dialogs::Cancel) << false << seventy;
    QTest::newRow("AutoSave writes without asking")
        << QByteArray("A\r\nB\r\n") << int(RemoveFirst) << true << 0 << true << QByteArray("B\r\n");
}

void TestTitleList::savesAtClosing()
{
    QFETCH(QByteArray, file);
    QFETCH(int, edit);
    QFETCH(bool, autoSave);
    QFETCH(int, answer);
    QFETCH(bool, closes);
    QFETCH(QByteArray, written);
    QTemporaryDir dir;
    const QString path = dir.filePath("Keyflare.ini");
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(file);
    f.close();
    FakeDesktop fake;
    auto s = start(fake, dir.path() + "/");
    s->AutoSave->setChecked(autoSave);
    if (edit != None)
        removeSelected(*s, fake, 0);
    if (edit == RemoveFirstAddOne)
        s->targetTitles().add(QStringLiteral("New one"));
    fake.messages.clear();
    if (answer != 0)
        fake.answers = {answer};
    // A changed macro set must not be asked about once the close is cancelled.
    s->setMacroSetChanged(answer == Dialogs::Cancel ? 1 : 0);

    QCOMPARE(s->Form_QueryUnload(), closes);
    QCOMPARE(fake.messages, answer != 0 ? QStringList{kQuestion} : QStringList{});
    if (answer != 0)
        QCOMPARE(fake.styles.last(), int(Dialogs::YesNoCancel));
    QCOMPARE(readAll(path), written);
    QVERIFY(fake.unexpected.isEmpty());
}

void TestTitleList::savedListAsksNoMore()
{
    QTemporaryDir dir;
    FakeDesktop fake;
    auto s = start(fake, dir.path() + "/");
    s->targetTitles().add(QStringLiteral("Grabbed"));
    fake.answers = {Dialogs::Yes};
    QVERIFY(s->Form_QueryUnload());
    QCOMPARE(readAll(dir.filePath("Keyflare.ini")), QByteArray("Grabbed\r\n"));
    QVERIFY(s->Form_QueryUnload());
    QCOMPARE(fake.messages.size(), 1);
    QVERIFY(fake.unexpected.isEmpty());
}

void TestTitleList::readOnlyFolderKeepsWindowOpen()
{
    ReadOnlyFolder folder;
    folder.put("Keyflare.ini", "A\r\nB\r\n");
    if (!folder.lock())
        QSKIP("cannot make a read-only folder here");
    FakeDesktop fake;
    auto s = start(fake, folder.path());
    removeSelected(*s, fake, 0);
    fake.answers = {Dialogs::Yes, Dialogs::Ok};
    QVERIFY(!s->Form_QueryUnload());
    QCOMPARE(fake.messages.size(), 3);
    QVERIFY(fake.messages.last().contains(folder.path() + "Keyflare.ini"));
    QCOMPARE(fake.styles.last(), int(Dialogs::OkOnly | Dialogs::Exclamation));
    QCOMPARE(readAll(folder.path() + "Keyflare.ini"), QByteArray("A\r\nB\r\n"));
    QVERIFY(s->titleListChanged()); // still unsaved: the next close asks again
}

void TestTitleList::ctrlDNeedsASelection()
{
    QTemporaryDir dir;
    QFile f(dir.filePath("Keyflare.ini"));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("A\r\nB\r\n");
    f.close();
    FakeDesktop fake;
    auto s = start(fake, dir.path() + "/");
    QLineEdit* edit = s->ProgTitle->lineEdit();
    edit->setText(QStringLiteral("typed"));
    QTest::keyClick(s->ProgTitle, Qt::Key_D, Qt::ControlModifier);
    QVERIFY(fake.messages.isEmpty());
    QCOMPARE(s->ProgTitle->count(), 2);
    QCOMPARE(edit->text(), QStringLiteral("typed")); // Ctrl+D itself is swallowed
    QTest::keyClicks(s->ProgTitle, QStringLiteral("xy"));
    QCOMPARE(edit->text(), QStringLiteral("typedxy"));

    s->ProgTitle->setCurrentIndex(1);
    fake.answers = {Dialogs::No};
    QTest::keyClick(s->ProgTitle, Qt::Key_D, Qt::ControlModifier);
    QCOMPARE(fake.messages, QStringList{QStringLiteral("Are you sure you want to remove B?")});
    QCOMPARE(fake.styles, QList<int>{Dialogs::YesNo | Dialogs::Question});
    QCOMPARE(s->ProgTitle->count(), 2);
}

QTEST_MAIN(TestTitleList)
#include "tst_titlelist.moc"
