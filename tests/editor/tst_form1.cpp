// The button editor on the recording fake, editing a macro set for a stand-in panel.
#include "Form1.h"
#include "LimitedLineEdit.h"
#include "MacroSet.h"
#include "Rows.h"
#include "fake/FakeDesktop.h"

#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>

namespace {
const QString kQuestion5 =
    "The Text for this button has changed!\r\n\r\nApply Changes to Button # 5 ?";
// How an edit ends: Apply pressed, a switch to the next button, or closing.
constexpr int kApply = 0, kSwitch = 1, kClose = 2;
// The button opened, the keys typed at the start of the caption (else the text), how the edit
// ends, the answer to the question that brings (0: none; after a switch or closing, AutoSave), and
// the changed flag after.
using EditRows = Rows<int, bool, QList<int>, int, int, int>;
} // namespace

class TestForm1 : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        for (int i = 0; i < MacroSet::kButtonCount; ++i)
            m_set.resetButton(i);
        m_set.setChanged(0);
        m_fake = std::make_unique<FakeDesktop>();
        m_panel.move(40, 30);
        m_panel.show();
    }

    void cleanup()
    {
        delete m_editor;
        QVERIFY2(m_fake->unexpected.isEmpty(), qPrintable(m_fake->unexpected.join(u'|')));
    }

    void anyEditIsResolved_data()
    {
        EditRows::columns();
        const auto row = EditRows::row;
        const int yes = Dialogs::Yes, no = Dialogs::No;
        const QList<int> takenBack = {Qt::Key_X, Qt::Key_Backspace}, del = {Qt::Key_Delete};
        row("Apply, button 1, text only", 0, false, {Qt::Key_N}, kApply, 0, 1);
        row("Apply, caption only", 4, true, {Qt::Key_F}, kApply, 0, 1);
        row("Apply, nothing differs", 4, false, takenBack, kApply, 0, 0);
        row("Apply, 48 steps to 1", 47, true, {Qt::Key_L}, kApply, 0, 1);
        row("typed and taken back, switch, Yes", 4, false, takenBack, kSwitch, yes, 1);
        row("typed and taken back, switch, No", 4, false, takenBack, kSwitch, no, 0);
        row("Delete in the caption, switch", 4, true, del, kSwitch, yes, 1);
        row("Delete in the text, switch", 4, false, del, kSwitch, no, 0);
        row("close, Yes applies", 4, false, {Qt::Key_Z}, kClose, yes, 1);
        row("close, No drops", 4, false, {Qt::Key_Z}, kClose, no, 0);
        row("close with AutoSave applies without asking", 4, false, {Qt::Key_Z}, kClose, 0, 1);
    }

    // The editor opens on the button, where the hidden panel stood, with nothing to apply. Apply
    // takes what differs and steps on; any other edit, even one taken back, is asked about (or
    // with AutoSave applied) when the editor moves to another button or closes; closing shows
    // the panel again where it stood.
    void anyEditIsResolved()
    {
        const auto [index, inCaption, keys, ending, answer, changed] = EditRows::fetch();
        Form1* e = open(index, answer == 0 && ending != kApply);
        QVERIFY(!m_panel.isVisible());
        QCOMPARE(e->pos(), m_panel.pos());
        const QString oldCaption = m_set.caption(index), oldText = m_set.text(index);
        QCOMPARE(QStringList(
                     {e->Text1->text(), e->Text2->text(), e->Command1->text(), e->Label5->text()}),
                 QStringList({oldCaption, oldText, oldCaption, QString::number(index + 1)}));
        QVERIFY(!e->Command2->isEnabled() && !e->Command3->isEnabled() &&
                !e->Command5->isEnabled());
        QCOMPARE(m_fake->topmostCalls.size(), 1);
        e->move(300, 200);
        QLineEdit* box = inCaption ? static_cast<QLineEdit*>(e->Text1) : e->Text2;
        box->setCursorPosition(0);
        for (const int key : keys)
            QTest::keyClick(box, Qt::Key(key));
        QVERIFY(e->Command2->isEnabled() && e->Command3->isEnabled());
        const QString caption = e->Text1->text(), text = e->Text2->text();
        m_fake->answers = {answer};
        m_fake->topmostCalls.clear();
        if (ending == kSwitch)
            e->VScroll1->setValue(index + 1);
        else
            QTest::mouseClick(ending == kApply ? e->Command2 : e->Command4, Qt::LeftButton);
        QCOMPARE(m_fake->messages, answer ? QStringList{kQuestion5} : QStringList{});
        QCOMPARE(m_fake->styles,
                 answer ? QList<int>{Dialogs::YesNo | Dialogs::Question} : QList<int>{});
        const bool applied = answer != Dialogs::No;
        QCOMPARE(m_set.changed(), changed);
        QCOMPARE(m_set.caption(index), applied ? caption : oldCaption);
        QCOMPARE(m_set.text(index), applied ? text : oldText);
        if (ending != kClose) {
            const int next = (index + 1) % MacroSet::kButtonCount;
            QCOMPARE(e->VScroll1->value(), next);
            QCOMPARE(e->loadedButton(), next);
            QCOMPARE(e->Text1->text(), m_set.caption(next));
            QVERIFY(!e->Command2->isEnabled() && !e->Command3->isEnabled());
            return;
        }
        QVERIFY(m_panel.isVisible());
        QCOMPARE(m_panel.pos(), QPoint(40, 30));
        QCOMPARE(m_fake->topmostCalls.size(), 1);
        QVERIFY(!m_fake->topmostCalls.first().second);
        QTRY_VERIFY(m_editor.isNull()); // a fresh window at the next opening
    }

    // Enter moves from the caption to the text, and from the text to Apply, which it enables
    // without a change (a switch then asks) but does not press. The Tab button appends a TAB
    // character while the text has the focus. Undo takes the button back to what it holds.
    void keysAndButtons()
    {
        Form1* e = open(4);
        e->activateWindow();
        QTest::keyClick(e->Text1, Qt::Key_Return);
        QTRY_VERIFY(e->Text2->hasFocus());
        QVERIFY(!e->Command2->isEnabled());
        QTest::keyClick(e->Text2, Qt::Key_Return);
        QVERIFY(e->Command2->isEnabled());
        QTRY_VERIFY(e->Command2->hasFocus());
        QCOMPARE(m_set.text(4), "5");

        e->Text2->setFocus();
        QTRY_VERIFY(e->Command5->isEnabled());
        e->Text2->setCursorPosition(0);
        QTest::mouseClick(e->Command5, Qt::LeftButton);
        QCOMPARE(e->Text2->text(), "5\t");
        QCOMPARE(e->Text2->cursorPosition(), 2);
        e->Text1->setFocus();
        QTRY_VERIFY(!e->Command5->isEnabled());

        QTest::keyClicks(e->Text1, "abc");
        QCOMPARE(e->Command1->text(), "Number 5abc"); // the preview follows
        QTest::mouseClick(e->Command3, Qt::LeftButton);
        QCOMPARE(e->Text1->text(), "Number 5");
        QCOMPARE(e->Text2->text(), "5");
        QCOMPARE(e->Command1->text(), "Number 5");
        e->VScroll1->setValue(5); // nothing pending: no question
        QVERIFY(m_fake->messages.isEmpty());
        QCOMPARE(m_set.changed(), 0);
    }

    void typingLimitsCutNothing()
    {
        const QString longText = QString("0123456789").repeated(30);
        const QString longCaption = "A caption longer than twenty-one";
        m_set.setText(4, longText);
        m_set.setCaption(4, longCaption);
        Form1* e = open(4);
        QCOMPARE(e->Text2->text(), longText);
        QTest::keyClicks(e->Text2, "x"); // past the limit: refused
        QCOMPARE(e->Text2->text(), longText);
        QTest::keyClick(e->Text1, Qt::Key_Backspace); // shortening is still allowed
        QCOMPARE(e->Text1->text(), longCaption.chopped(1));
        QTest::mouseClick(e->Command3, Qt::LeftButton); // Undo
        e->Command2->setEnabled(true);
        QTest::mouseClick(e->Command2, Qt::LeftButton);
        QCOMPARE(m_set.text(4), longText);
        QCOMPARE(m_set.caption(4), longCaption);
        QCOMPARE(m_set.changed(), 0);
        // A fresh button takes typing up to its limits only.
        m_set.setCaption(6, QString());
        e->VScroll1->setValue(6);
        QTest::keyClicks(e->Text1, QString(30, QLatin1Char('c')));
        QCOMPARE(e->Text1->text().size(), Form1::kCaptionLimit);
    }

private:
    Form1* open(int index, bool autoSave = false)
    {
        m_editor = Form1::open(m_set, m_fake->platform(), &m_panel, autoSave, index);
        return m_editor;
    }
    std::unique_ptr<FakeDesktop> m_fake;
    MacroSet m_set;
    QWidget m_panel;
    QPointer<Form1> m_editor;
};

QTEST_MAIN(TestForm1)
#include "tst_form1.moc"
