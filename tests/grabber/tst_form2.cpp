// The title grabber on the recording fake: what ENTER and "Cancel" do with the title shown, and
// how the timer follows the window under the pointer.
#include "DropDownComboBox.h"
#include "Form2.h"
#include "Sender.h"
#include "fake/FakeDesktop.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <memory>

class TestForm2 : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void takesTheTitle_data();
    void takesTheTitle();
    void cancelAddsNothing();
    void timerFollowsThePointer();
    void opensWhereThePanelStands();

private:
    std::unique_ptr<FakeDesktop> m_fake;
    std::unique_ptr<Platform> m_platform;
    std::unique_ptr<Sender> m_sender;
};

void TestForm2::init()
{
    m_fake = std::make_unique<FakeDesktop>();
    m_platform = std::make_unique<Platform>(m_fake->platform());
    QFile list(m_fake->folderPath + "Keyflare.ini");
    QVERIFY(list.open(QIODevice::WriteOnly));
    list.write("Notes\r\nMail\r\n");
    list.close();
    m_sender = std::make_unique<Sender>(*m_platform);
    m_sender->Form_Load();
    QCOMPARE(m_sender->ProgTitle->currentText(), QStringLiteral("Notes"));
}

void TestForm2::takesTheTitle_data()
{
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QStringList>("list");
    QTest::addColumn<QString>("target");
    QTest::addColumn<QStringList>("messages");
    QTest::newRow("empty box: nothing")
        << "" << QStringList{"Notes", "Mail"} << "Notes" << QStringList{};
    QTest::newRow("listed already, same case")
        << "Mail" << QStringList{"Notes", "Mail"} << "Notes"
        << QStringList{"This title is already in your list."};
    QTest::newRow("other case is new")
        << "mail" << QStringList{"Notes", "Mail", "mail"} << "mail" << QStringList{};
    QTest::newRow("new title, blanks kept")
        << " Report (1) [draft] " << QStringList{"Notes", "Mail", " Report (1) [draft] "}
        << " Report (1) [draft] " << QStringList{};
}

void TestForm2::takesTheTitle()
{
    QFETCH(QString, shown);
    QFETCH(QStringList, list);
    QFETCH(QString, target);
    QFETCH(QStringList, messages);
    Form2 grabber(m_sender->targetTitles(), *m_platform);
    grabber.Form_Load();
    grabber.show();
    grabber.Text1->setText(shown);
    m_fake->answers = {Dialogs::Ok};
    QTest::keyClick(grabber.Text1, Qt::Key_Return); // the default button takes ENTER
    QStringList entries;
    for (int i = 0; i < m_sender->ProgTitle->count(); ++i)
        entries << m_sender->ProgTitle->itemText(i);
    QCOMPARE(entries, list);
    QCOMPARE(m_sender->ProgTitle->currentText(), target);
    QCOMPARE(m_fake->messages, messages);
    if (!messages.isEmpty())
        QCOMPARE(m_fake->styles.first(), int(Dialogs::OkOnly | Dialogs::Exclamation));
    QVERIFY(!grabber.Timer1->isActive());
    QCOMPARE(grabber.result(), int(QDialog::Accepted));
    QCOMPARE(m_sender->titleListChanged(), list.size() == 3);
}

void TestForm2::cancelAddsNothing()
{
    Form2 grabber(m_sender->targetTitles(), *m_platform);
    grabber.Form_Load();
    grabber.Text1->setText("Something");
    QTest::mouseClick(grabber.Command2, Qt::LeftButton);
    QCOMPARE(m_sender->ProgTitle->count(), 2);
    QCOMPARE(m_sender->ProgTitle->currentText(), QStringLiteral("Notes"));
    QVERIFY(!grabber.Timer1->isActive());
    QCOMPARE(grabber.result(), int(QDialog::Rejected));
}

void TestForm2::timerFollowsThePointer()
{
    Form2 grabber(m_sender->targetTitles(), *m_platform);
    grabber.Form_Load();
    QVERIFY(grabber.Timer1->isActive());
    QCOMPARE(grabber.Timer1->interval(), 250);

    m_fake->pointed = {7, "Editor - notes.txt"};
    grabber.Timer1_Timer();
    QCOMPARE(grabber.Text1->text(), QStringLiteral("Editor - notes.txt"));
    // The same window with a new title is not read again.
    m_fake->pointed = {7, "Editor - other.txt"};
    grabber.Timer1_Timer();
    QCOMPARE(grabber.Text1->text(), QStringLiteral("Editor - notes.txt"));
    // A window titled "Cancel" leaves the box alone, but counts as visited.
    m_fake->pointed = {8, "Cancel"};
    grabber.Timer1_Timer();
    QCOMPARE(grabber.Text1->text(), QStringLiteral("Editor - notes.txt"));
    // Back on the first window: read again.
    m_fake->pointed = {7, "Editor - other.txt"};
    grabber.Timer1_Timer();
    QCOMPARE(grabber.Text1->text(), QStringLiteral("Editor - other.txt"));
    // A window without a title empties the box.
    m_fake->pointed = {9, ""};
    grabber.Timer1_Timer();
    QCOMPARE(grabber.Text1->text(), QString());
}

void TestForm2::opensWhereThePanelStands()
{
    m_sender->move(120, 80);
    m_sender->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_sender.get()));
    const QPoint panel = m_sender->pos();
    QPoint grabberAt;
    bool panelHidden = false;
    m_sender->setGrabberOpener([&] {
        QTimer::singleShot(50, [&] {
            auto* g = qobject_cast<Form2*>(QApplication::activeModalWidget());
            QVERIFY(g);
            grabberAt = g->pos();
            panelHidden = !m_sender->isVisible();
            g->Text1->setText("Grabbed");
            g->Command1_Click();
        });
        Form2::open(m_sender->targetTitles(), *m_platform, m_sender.get());
    });
    m_sender->Command4_Click();
    QCOMPARE(grabberAt, panel);
    QVERIFY(panelHidden);
    QVERIFY(m_sender->isVisible());
    QCOMPARE(m_sender->pos(), panel);
    QCOMPARE(m_sender->ProgTitle->currentText(), QStringLiteral("Grabbed"));
}

QTEST_MAIN(TestForm2)
#include "tst_form2.moc"
