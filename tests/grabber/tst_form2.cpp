// The title grabber on the recording fake: the window under the pointer, and taking its title.
#include "Form2.h"
#include "Rows.h"
#include "TargetTitles.h"
#include "fake/FakeDesktop.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

// The title in the box when Enter is pressed, the list then, and the messages shown.
using TakeRows = Rows<QString, QStringList, QStringList>;

class TestForm2 : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void takesTheTitle_data()
    {
        TakeRows::columns();
        const QStringList start{"Notes", "Mail"};
        TakeRows::row("empty box: nothing", "", start, {});
        TakeRows::row("listed already, same case", "Mail", start,
                      {"This title is already in your list."});
        TakeRows::row("other case is new", "mail", start + QStringList{"mail"}, {});
        TakeRows::row("new title, blanks kept", " Report (1) ", start + QStringList{" Report (1) "},
                      {});
    }

    void takesTheTitle()
    {
        const auto [shown, list, messages] = TakeRows::fetch();
        FakeDesktop fake;
        TargetTitles titles;
        titles.add("Notes");
        titles.add("Mail");
        Form2 grabber(titles, fake.platform());
        grabber.Form_Load();
        grabber.show();
        grabber.Text1->setText(shown);
        fake.answers = {Dialogs::Ok};
        QTest::keyClick(grabber.Text1, Qt::Key_Return); // the default button takes ENTER
        QCOMPARE(titles.entries(), list);
        QCOMPARE(fake.messages, messages);
        if (!messages.isEmpty())
            QCOMPARE(fake.styles.first(), int(Dialogs::OkOnly | Dialogs::Exclamation));
        QVERIFY(!grabber.Timer1->isActive());
        QCOMPARE(grabber.result(), int(QDialog::Accepted));
    }

    void timerFollowsThePointer()
    {
        FakeDesktop fake;
        TargetTitles titles;
        Form2 grabber(titles, fake.platform());
        grabber.Form_Load();
        const auto pointAt = [&](WindowId id, const char* title) {
            fake.pointed = {id, QString::fromUtf8(title)};
            grabber.Timer1_Timer();
            return grabber.Text1->text();
        };
        QCOMPARE(pointAt(7, "Editor - notes.txt"), "Editor - notes.txt");
        // The same window with a new title is not read again; a window titled "Cancel" (the
        // grabber's own button) leaves the box alone.
        QCOMPARE(pointAt(7, "Editor - other.txt"), "Editor - notes.txt");
        QCOMPARE(pointAt(8, "Cancel"), "Editor - notes.txt");
        QCOMPARE(pointAt(9, ""), QString());
        // "Cancel" closes without adding.
        grabber.Text1->setText("Something");
        QTest::mouseClick(grabber.Command2, Qt::LeftButton);
        QVERIFY(titles.entries().isEmpty());
        QCOMPARE(grabber.result(), int(QDialog::Rejected));
    }

    // Where the desktop reaches no other window, the grabber does not open: a message says why.
    void saysWhyNothingCanBeGrabbed()
    {
        FakeDesktop fake;
        fake.unavailable = "This desktop lets no program type.";
        fake.answers = {Dialogs::Ok};
        TargetTitles titles;
        QWidget panel;
        Form2::open(titles, fake.platform(), &panel);
        QCOMPARE(fake.messages, QStringList{fake.unavailable});
        QVERIFY(fake.unexpected.isEmpty());
    }
};

QTEST_MAIN(TestForm2)
#include "tst_form2.moc"
