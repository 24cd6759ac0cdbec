// The button editor on the recording fake, with scripted answers to its question.
#include "DropDownComboBox.h"
#include "Form1.h"
#include "LimitedLineEdit.h"
#include "Sender.h"
#include "fake/FakeDesktop.h"

#include <QCheckBox>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <memory>

namespace {
const QString kQuestion5 =
    QStringLiteral("The Text for this button has changed!\r\n\r\nApply Changes to Button # 5 ?");
}

class TestForm1 : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void opensOnButton_data();
    void opensOnButton();
    void typingEnablesApplyAndUndo();
    void typingBackStillAsks_data();
    void typingBackStillAsks();
    void appliesWhatDiffersAndStepsOn_data();
    void appliesWhatDiffersAndStepsOn();
    void undoRestoresThePanelsButton();
    void autoSaveAppliesSilently();
    void closeResolvesPendingChange_data();
    void closeResolvesPendingChange();
    void enterMovesOn();
    void tabButtonAppendsTab();
    void deleteKeyCountsAsEdit_data();
    void deleteKeyCountsAsEdit();
    void typingLimitsCutNothing();

private:
    Form1* open(int index)
    {
        m_editor = Form1::open(m_sender->macroSet(), *m_platform, m_sender.get(),
                               m_sender->AutoSave->isChecked(), index);
        return m_editor;
    }
    std::unique_ptr<FakeDesktop> m_fake;
    std::unique_ptr<Platform> m_platform;
    std::unique_ptr<Sender> m_sender;
    QPointer<Form1> m_editor;
};

void TestForm1::init()
{
    m_fake = std::make_unique<FakeDesktop>();
    m_platform = std::make_unique<Platform>(m_fake->platform());
    m_sender = std::make_unique<Sender>(*m_platform);
    m_sender->Form_Load();
    m_sender->move(40, 30);
    m_sender->show();
}

void TestForm1::cleanup()
{
    delete m_editor;
    m_sender.reset();
    QVERIFY2(m_fake->unexpected.isEmpty(), qPrintable(m_fake->unexpected.join(QLatin1Char('|'))));
}

void TestForm1::opensOnButton_data()
{
    QTest::addColumn<int>("index");
    QTest::newRow("button 1, no switch") << 0;
    QTest::newRow("button 25, by a switch") << 24;
}

void TestForm1::opensOnButton()
{
    QFETCH(int, index);
    m_sender->setCaption(index, QStringLiteral("Greeting"));
    m_sender->setText(index, QStringLiteral("Hello\tworld"));
    Form1* e = open(index);
    QVERIFY(!m_sender->isVisible());
    QVERIFY(e->isVisible());
    QCOMPARE(e->pos(), m_sender->pos());
    QCOMPARE(e->Text1->text(), QStringLiteral("Greeting"));
    QCOMPARE(e->Text2->text(), QStringLiteral("Hello\tworld"));
    QCOMPARE(e->Command1->text(), QStringLiteral("Greeting"));
    QCOMPARE(e->Label5->text(), QString::number(index + 1));
    QCOMPARE(e->VScroll1->value(), index);
    QVERIFY(!e->Command2->isEnabled());
    QVERIFY(!e->Command3->isEnabled());
    QVERIFY(!e->Command5->isEnabled());
    QVERIFY(m_fake->messages.isEmpty());
    QCOMPARE(m_fake->topmostCalls.size(), 1);
    QVERIFY(m_fake->topmostCalls.first().second);
}

void TestForm1::typingEnablesApplyAndUndo()
{
    Form1* e = open(4);
    QTest::keyClicks(e->Text1, QStringLiteral("!"));
    QVERIFY(e->Command2->isEnabled());
    QVERIFY(e->Command3->isEnabled());
    QCOMPARE(e->Command1->text(), QStringLiteral("Number 5!"));
    QCOMPARE(m_sender->caption(4), QStringLiteral("Number 5"));
}

void TestForm1::typingBackStillAsks_data()
{
    QTest::addColumn<int>("answer");
    QTest::newRow("Yes") << int(Dialogs::Yes);
    QTest::newRow("No") << int(Dialogs::No);
}

void TestForm1::typingBackStillAsks()
{
    QFETCH(int, answer);
    Form1* e = open(4);
    QTest::keyClicks(e->Text2, QStringLiteral("x"));
    QTest::keyClick(e->Text2, Qt::Key_Backspace);
    QCOMPARE(e->Text2->text(), QStringLiteral("5"));
    m_fake->answers = {answer};
    e->VScroll1->setValue(5);
    QCOMPARE(m_fake->messages, QStringList{kQuestion5});
    QCOMPARE(m_fake->styles, QList<int>{Dialogs::YesNo | Dialogs::Question});
    QCOMPARE(m_sender->macroSetChanged(), answer == Dialogs::Yes ? 1 : 0);
    QCOMPARE(e->Text1->text(), QStringLiteral("Number 6"));
    QCOMPARE(e->loadedButton(), 5);
    QVERIFY(!e->Command2->isEnabled());
}

void TestForm1::appliesWhatDiffersAndStepsOn_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("changed");
    QTest::newRow("text only") << 4 << "Number 5"
                               << "new" << 1;
    QTest::newRow("caption only") << 4 << "Five"
                                  << "5" << 1;
    QTest::newRow("nothing differs") << 4 << "Number 5"
                                     << "5" << 0;
    QTest::newRow("48 steps to 1") << 47 << "Last"
                                   << "48" << 1;
}

void TestForm1::appliesWhatDiffersAndStepsOn()
{
    QFETCH(int, index);
    QFETCH(QString, caption);
    QFETCH(QString, text);
    QFETCH(int, changed);
    Form1* e = open(index);
    e->Text1->setText(caption);
    e->Text2->setText(text);
    e->Command2->setEnabled(true);
    QTest::mouseClick(e->Command2, Qt::LeftButton);
    QCOMPARE(m_sender->caption(index), caption);
    QCOMPARE(m_sender->text(index), text);
    QCOMPARE(m_sender->macroSetChanged(), changed);
    const int next = (index + 1) % Sender::kButtonCount;
    QCOMPARE(e->VScroll1->value(), next);
    QCOMPARE(e->Text1->text(), m_sender->caption(next));
    QVERIFY(!e->Command2->isEnabled());
    QVERIFY(!e->Command3->isEnabled());
    QVERIFY(m_fake->messages.isEmpty());
}

void TestForm1::undoRestoresThePanelsButton()
{
    Form1* e = open(4);
    QTest::keyClicks(e->Text1, QStringLiteral("abc"));
    QTest::keyClicks(e->Text2, QStringLiteral("def"));
    QTest::mouseClick(e->Command3, Qt::LeftButton);
    QCOMPARE(e->Text1->text(), QStringLiteral("Number 5"));
    QCOMPARE(e->Text2->text(), QStringLiteral("5"));
    QCOMPARE(e->Command1->text(), QStringLiteral("Number 5"));
    QVERIFY(!e->Command2->isEnabled());
    QVERIFY(!e->Command3->isEnabled());
    e->VScroll1->setValue(5); // nothing pending: no question
    QVERIFY(m_fake->messages.isEmpty());
    QCOMPARE(m_sender->macroSetChanged(), 0);
}

void TestForm1::autoSaveAppliesSilently()
{
    m_sender->AutoSave->setChecked(true);
    Form1* e = open(4);
    QTest::keyClicks(e->Text2, QStringLiteral("a"));
    e->VScroll1->setValue(3);
    QCOMPARE(m_sender->text(4), QStringLiteral("5a"));
    QTest::keyClicks(e->Text2, QStringLiteral("b"));
    e->close();
    QCOMPARE(m_sender->text(3), QStringLiteral("4b"));
    QVERIFY(m_fake->messages.isEmpty());
    QCOMPARE(m_sender->macroSetChanged(), 1);
    QVERIFY(m_sender->isVisible());
}

void TestForm1::closeResolvesPendingChange_data()
{
    QTest::addColumn<int>("answer");
    QTest::addColumn<QString>("text");
    QTest::newRow("Yes applies") << int(Dialogs::Yes) << "5z";
    QTest::newRow("No drops") << int(Dialogs::No) << "5";
}

void TestForm1::closeResolvesPendingChange()
{
    QFETCH(int, answer);
    QFETCH(QString, text);
    const QPoint panel = m_sender->pos();
    Form1* e = open(4);
    e->move(300, 200);
    QTest::keyClicks(e->Text2, QStringLiteral("z"));
    m_fake->answers = {answer};
    m_fake->topmostCalls.clear();
    QTest::mouseClick(e->Command4, Qt::LeftButton);
    QCOMPARE(m_fake->messages, QStringList{kQuestion5});
    QCOMPARE(m_sender->text(4), text);
    QVERIFY(m_sender->isVisible());
    QCOMPARE(m_sender->pos(), panel);
    QCOMPARE(m_fake->topmostCalls.size(), 1);
    QVERIFY(!m_fake->topmostCalls.first().second);
    QTRY_VERIFY(m_editor.isNull()); // a fresh window at the next opening
}

void TestForm1::enterMovesOn()
{
    Form1* e = open(4);
    e->activateWindow();
    QTest::keyClick(e->Text1, Qt::Key_Return);
    QCOMPARE(e->Text1->text(), QStringLiteral("Number 5"));
    QTRY_VERIFY(e->Text2->hasFocus());
    QVERIFY(!e->Command2->isEnabled());
    QTest::keyClick(e->Text2, Qt::Key_Return);
    QCOMPARE(e->Text2->text(), QStringLiteral("5"));
    QVERIFY(e->Command2->isEnabled()); // enabled without a change: a switch asks
    QTRY_VERIFY(e->Command2->hasFocus());
    QCOMPARE(m_sender->text(4), QStringLiteral("5")); // Enter does not apply
}

void TestForm1::tabButtonAppendsTab()
{
    Form1* e = open(4);
    e->activateWindow();
    e->Text2->setFocus();
    QTRY_VERIFY(e->Command5->isEnabled());
    e->Text2->setCursorPosition(0);
    QTest::mouseClick(e->Command5, Qt::LeftButton);
    QCOMPARE(e->Text2->text(), QStringLiteral("5\t"));
    QCOMPARE(e->Text2->cursorPosition(), 2);
    QVERIFY(e->Command2->isEnabled());
    QTest::mouseClick(e->Command2, Qt::LeftButton);
    QCOMPARE(m_sender->text(4), QStringLiteral("5\t"));
    e->Text1->setFocus();
    QTRY_VERIFY(!e->Command5->isEnabled());
}

void TestForm1::deleteKeyCountsAsEdit_data()
{
    QTest::addColumn<bool>("captionBox");
    QTest::newRow("caption") << true;
    QTest::newRow("text") << false;
}

void TestForm1::deleteKeyCountsAsEdit()
{
    QFETCH(bool, captionBox);
    Form1* e = open(4);
    QLineEdit* box = captionBox ? static_cast<QLineEdit*>(e->Text1) : e->Text2;
    box->setCursorPosition(0);
    QTest::keyClick(box, Qt::Key_Delete);
    QVERIFY(e->Command2->isEnabled());
    QVERIFY(e->Command3->isEnabled());
}

void TestForm1::typingLimitsCutNothing()
{
    const QString longText = QStringLiteral("0123456789").repeated(30);
    const QString longCaption = QStringLiteral("A caption longer than twenty-one");
    m_sender->setText(4, longText);
    m_sender->setCaption(4, longCaption);
    Form1* e = open(4);
    QCOMPARE(e->Text2->text(), longText);
    QCOMPARE(e->Text1->text(), longCaption);
    QTest::keyClicks(e->Text2, QStringLiteral("x")); // past the limit: refused
    QCOMPARE(e->Text2->text(), longText);
    QTest::keyClick(e->Text1, Qt::Key_Backspace); // shortening is still allowed
    QCOMPARE(e->Text1->text(), longCaption.chopped(1));
    QTest::keyClick(e->Text1, Qt::Key_Escape);
    QTest::mouseClick(e->Command3, Qt::LeftButton); // Undo
    e->VScroll1->setValue(5);
    e->VScroll1->setValue(4);
    e->Command2->setEnabled(true);
    QTest::mouseClick(e->Command2, Qt::LeftButton);
    QCOMPARE(m_sender->text(4), longText);
    QCOMPARE(m_sender->caption(4), longCaption);
    QCOMPARE(m_sender->macroSetChanged(), 0);

    // A fresh button takes typing up to its limits only.
    m_sender->setCaption(6, QString());
    e->VScroll1->setValue(6);
    QTest::keyClicks(e->Text1, QString(30, QLatin1Char('c')));
    QCOMPARE(e->Text1->text().size(), Form1::kCaptionLimit);
}

QTEST_MAIN(TestForm1)
#include "tst_form1.moc"
