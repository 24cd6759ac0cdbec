// The main panel on the recording fake: start-up, shutdown, the toggles and sending.
#include "DropDownComboBox.h"
#include "MacroButton.h"
#include "Sender.h"
#include "fake/FakeDesktop.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGuiApplication>
#include <QRadioButton>
#include <QScreen>
#include <QTest>
#include <list>
#include <memory>

Q_DECLARE_METATYPE(Typing)

class TestSender : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void firstStartDefaults();
    void restoresToggles_data();
    void restoresToggles();
    void restoresPosition_data();
    void restoresPosition();
    void storesSettingsInOrder();
    void keepsPositionWhenMinimized();
    void returnAndTabExcludeEachOther();
    void switchesButtonSets();
    void sendsEscapedText_data();
    void sendsEscapedText();
    void sendsNothingForBlankTitleOrEmptyText_data();
    void sendsNothingForBlankTitleOrEmptyText();
    void reportsFailedSend_data();
    void reportsFailedSend();
    void ignoresReleasesWhileBusy();
    void sendsTheTextItStartedWith();
    void routesMouseButtons();
    void sendsOnRealMouseRelease();
    void leavesTopmostBandOnClose();
    void offersKeyboardAndScreenReaderAccess();

private:
    std::unique_ptr<Sender> start(FakeDesktop& fake)
    {
        auto sender = std::make_unique<Sender>(m_platforms.emplace_back(fake.platform()));
        sender->Form_Load();
        return sender;
    }
    // Ticks or unticks both suffix boxes regardless of their exclusion.
    static void setSuffixes(Sender& s, bool enter, bool tab)
    {
        const QSignalBlocker a(s.CarageRt);
        const QSignalBlocker b(s.Tabky);
        s.CarageRt->setChecked(enter);
        s.Tabky->setChecked(tab);
    }
    std::list<Platform> m_platforms;
};

void TestSender::firstStartDefaults()
{
    FakeDesktop fake;
    auto s = start(fake);
    QCOMPARE(s->pos(), QPoint(0, 0));
    QVERIFY(s->CarageRt->isChecked());
    QVERIFY(!s->OnTop->isChecked());
    QVERIFY(!s->Tabky->isChecked());
    QVERIFY(!s->AutoSave->isChecked());
    QVERIFY(s->Option1->isChecked());
    for (int i = 0; i < Sender::kButtonCount; ++i) {
        QCOMPARE(s->caption(i), QStringLiteral("Number %1").arg(i + 1));
        QCOMPARE(s->text(i), QString::number(i + 1));
        QCOMPARE(s->Command1[i]->isHidden(), i >= Sender::kSetSize);
    }
    QCOMPARE(s->windowTitle(), QStringLiteral("Keyflare v2.3"));
    QCOMPARE(s->programFolder(), fake.folderPath);
    QCOMPARE(s->ProgTitle->currentText(), QString());
    QCOMPARE(s->savedTitleCount(), 0);
    QVERIFY(fake.topmostCalls.isEmpty());
    QVERIFY(fake.messages.isEmpty());
}

void TestSender::restoresToggles_data()
{
    QTest::addColumn<QString>("stored"); // the same value under all three keys
    QTest::addColumn<bool>("ticked");
    QTest::newRow("1") << "1" << true;
    QTest::newRow("0") << "0" << false;
    QTest::newRow("blanks around 1") << " 1 " << true;
    QTest::newRow("1.0") << "1.0" << true;
    QTest::newRow("2") << "2" << false;
    QTest::newRow("-1") << "-1" << false;
    QTest::newRow("garbage") << "yes" << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("beyond 16 bits") << "65537" << false;
    QTest::newRow("huge") << "1e300" << false;
}

void TestSender::restoresToggles()
{
    QFETCH(QString, stored);
    QFETCH(bool, ticked);
    FakeDesktop fake;
    fake.settings = {{"On Top", stored}, {"CrgReturn", stored}, {"AutoSav", stored}};
    auto s = start(fake);
    QCOMPARE(s->OnTop->isChecked(), ticked);
    QCOMPARE(s->CarageRt->isChecked(), ticked);
    QCOMPARE(s->AutoSave->isChecked(), ticked);
    QVERIFY(!s->Tabky->isChecked());
    // On Top is in force before the window is first shown.
    QCOMPARE(fake.topmostCalls.size(), ticked ? 1 : 0);
    if (ticked) {
        QCOMPARE(fake.topmostCalls.first().first, s.get());
        QVERIFY(fake.topmostCalls.first().second);
        QVERIFY(!s->isVisible());
    }
}

void TestSender::restoresPosition_data()
{
    QTest::addColumn<QString>("left");
    QTest::addColumn<QString>("top");
    QTest::addColumn<QPoint>("expected");
    const QPoint corner = QGuiApplication::primaryScreen()->availableGeometry().topLeft();
    QTest::newRow("on screen") << "1500"
                               << "750" << QPoint(100, 50);
    QTest::newRow("garbage is 0") << "left"
                                  << "x" << QPoint(0, 0);
    QTest::newRow("beyond 32 bits is 0") << "99999999999"
                                         << "150" << QPoint(0, 10);
    QTest::newRow("off every screen") << "-150000"
                                      << "-150000" << corner;
    QTest::newRow("far right") << "3000000"
                               << "0" << corner;
}

void TestSender::restoresPosition()
{
    QFETCH(QString, left);
    QFETCH(QString, top);
    QFETCH(QPoint, expected);
    FakeDesktop fake;
    fake.settings = {{"Left", left}, {"Top", top}};
    auto s = start(fake);
    QCOMPARE(s->pos(), expected);
}

void TestSender::storesSettingsInOrder()
{
    FakeDesktop fake;
    fake.settings = {{"Left", "1500"}, {"Top", "750"}, {"AutoSav", "1"}};
    {
        auto s = start(fake);
        s->OnTop->setChecked(true);
        s->Tabky->setChecked(true); // unticks +Return
        s->close();
        QVERIFY(!s->isVisible());
    }
    QCOMPARE(fake.settingsWrites,
             QStringList({"On Top=1", "CrgReturn=0", "AutoSav=1", "Top=750", "Left=1500"}));
    auto again = start(fake);
    QVERIFY(again->OnTop->isChecked());
    QVERIFY(!again->CarageRt->isChecked());
    QVERIFY(!again->Tabky->isChecked()); // +Tab is never restored
}

void TestSender::keepsPositionWhenMinimized()
{
    FakeDesktop fake;
    auto s = start(fake);
    s->show();
    s->showMinimized();
    QVERIFY(s->isMinimized());
    s->close();
    QCOMPARE(fake.settingsWrites, QStringList({"On Top=0", "CrgReturn=1", "AutoSav=0"}));
}

void TestSender::returnAndTabExcludeEachOther()
{
    FakeDesktop fake;
    auto s = start(fake);
    QVERIFY(s->CarageRt->isChecked());
    s->Tabky->click();
    QVERIFY(s->Tabky->isChecked());
    QVERIFY(!s->CarageRt->isChecked());
    s->CarageRt->click();
    QVERIFY(s->CarageRt->isChecked());
    QVERIFY(!s->Tabky->isChecked());
    s->CarageRt->click(); // unticking changes nothing else
    QVERIFY(!s->CarageRt->isChecked());
    QVERIFY(!s->Tabky->isChecked());
}

void TestSender::switchesButtonSets()
{
    FakeDesktop fake;
    auto s = start(fake);
    s->setText(30, QStringLiteral("kept"));
    s->Option2->click();
    for (int i = 0; i < Sender::kButtonCount; ++i)
        QCOMPARE(s->Command1[i]->isHidden(), i < Sender::kSetSize);
    s->Option1->click();
    s->Option1->click(); // the set shown already: nothing changes
    for (int i = 0; i < Sender::kButtonCount; ++i)
        QCOMPARE(s->Command1[i]->isHidden(), i >= Sender::kSetSize);
    QCOMPARE(s->text(30), QStringLiteral("kept"));
    QCOMPARE(s->caption(30), QStringLiteral("Number 31"));
}

void TestSender::sendsEscapedText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("enter");
    QTest::addColumn<bool>("tab");
    QTest::addColumn<QStringList>("injected");
    QTest::newRow("plain") << "Hello" << false << false << QStringList{"Hello"};
    QTest::newRow("+Return") << "Hello" << true << false << QStringList{"Hello", "{ENTER}"};
    QTest::newRow("+Tab") << "Hello" << false << true << QStringList{"Hello", "{TAB}"};
    QTest::newRow("both, Enter first")
        << "x" << true << true << QStringList{"x", "{ENTER}", "{TAB}"};
    QTest::newRow("plus") << "a+b=c" << false << false << QStringList{"a{+}b=c"};
    QTest::newRow("percent and brackets")
        << "50% (net)" << false << false << QStringList{"50{%} {(}net{)}"};
    QTest::newRow("square") << "[x]" << false << false << QStringList{"{[}x{]}"};
    QTest::newRow("a text reading {ENTER}")
        << "{ENTER}" << false << false << QStringList{"{{}ENTER{}}"};
    QTest::newRow("tilde and caret") << "~^" << false << false << QStringList{"{~}{^}"};
    QTest::newRow("tab character") << "a\tb" << false << false << QStringList{"a\tb"};
    QTest::newRow("240 tildes") << QString(240, QLatin1Char('~')) << false << false
                                << QStringList{QStringLiteral("{~}").repeated(240)};
    QTest::newRow("non-ASCII") << "Grüße €" << false << false << QStringList{"Grüße €"};
}

void TestSender::sendsEscapedText()
{
    QFETCH(QString, text);
    QFETCH(bool, enter);
    QFETCH(bool, tab);
    QFETCH(QStringList, injected);
    FakeDesktop fake;
    fake.windowTitles = {QStringLiteral("  Notes  ")};
    auto s = start(fake);
    s->ProgTitle->setEditText(QStringLiteral("  Notes  "));
    s->setText(4, text);
    setSuffixes(*s, enter, tab);
    s->Command1_MouseUp(4, MacroButton::Left);
    // The title goes to the activation with its blanks.
    QCOMPARE(fake.activated, QStringList{QStringLiteral("  Notes  ")});
    QCOMPARE(fake.injected, injected);
    QCOMPARE(fake.injected.first().size(), injected.first().size());
    QVERIFY(fake.messages.isEmpty());
    QVERIFY(!s->isBusy());
}

void TestSender::sendsNothingForBlankTitleOrEmptyText_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    QTest::newRow("blank title") << "   "
                                 << "Hello";
    QTest::newRow("empty title") << ""
                                 << "Hello";
    QTest::newRow("empty text") << "Notes"
                                << "";
}

void TestSender::sendsNothingForBlankTitleOrEmptyText()
{
    QFETCH(QString, title);
    QFETCH(QString, text);
    FakeDesktop fake;
    auto s = start(fake);
    s->ProgTitle->setEditText(title);
    s->setText(0, text);
    s->Command1_MouseUp(0, MacroButton::Left);
    QVERIFY(fake.activated.isEmpty());
    QVERIFY(fake.injected.isEmpty());
    QVERIFY(fake.messages.isEmpty());
    QVERIFY(!s->isBusy());
}

void TestSender::reportsFailedSend_data()
{
    QTest::addColumn<bool>("windowExists");
    QTest::addColumn<int>("failInjectionAt");
    QTest::addColumn<Typing>("failure");
    QTest::addColumn<QStringList>("injected");
    QTest::addColumn<QString>("message");
    const QStringList text{"Hello"};
    const QStringList textAndEnter{"Hello", "{ENTER}"};
    // Only a window that cannot be found or reached is blamed on the target.
    QTest::newRow("no window") << false << -1 << Typing::Done << QStringList{}
                               << "Unable to communicate with Notes ";
    QTest::newRow("desktop fails")
        << true << 0 << Typing::Unavailable << text << "Unable to communicate with Notes ";
    QTest::newRow("focus lost") << true << 1 << Typing::FocusLost << textAndEnter
                                << "Typing into Notes  stopped: another window took the";
    QTest::newRow("modifier held") << true << 0 << Typing::ModifiersHeld << text
                                   << "Nothing was typed into Notes : a Shift, Ctrl or Alt";
    QTest::newRow("untypable") << true << 0 << Typing::Untypable << text
                               << "Nothing was typed into Notes : the text holds characters";
}

void TestSender::reportsFailedSend()
{
    QFETCH(bool, windowExists);
    QFETCH(int, failInjectionAt);
    QFETCH(Typing, failure);
    QFETCH(QStringList, injected);
    QFETCH(QString, message);
    FakeDesktop fake;
    if (windowExists)
        fake.windowTitles = {QStringLiteral("Notes - Editor")};
    fake.failInjectionAt = failInjectionAt;
    fake.injectionFailure = failure;
    fake.answers = {Dialogs::Ok};
    auto s = start(fake);
    s->ProgTitle->setEditText(QStringLiteral("Notes "));
    s->setText(0, QStringLiteral("Hello"));
    s->Command1_MouseUp(0, MacroButton::Left);
    QCOMPARE(fake.injected, injected);
    QCOMPARE(fake.messages.size(), 1);
    QVERIFY2(fake.messages[0].startsWith(message), qPrintable(fake.messages[0]));
    QCOMPARE(fake.styles, QList<int>{Dialogs::OkOnly});
    QVERIFY(!s->isBusy());

    // The next release sends again.
    fake.windowTitles = {QStringLiteral("Notes - Editor")};
    fake.failInjectionAt = -1;
    fake.injected.clear();
    s->Command1_MouseUp(0, MacroButton::Left);
    QCOMPARE(fake.injected, QStringList({"Hello", "{ENTER}"}));
}

void TestSender::ignoresReleasesWhileBusy()
{
    FakeDesktop fake;
    fake.windowTitles = {QStringLiteral("Notes")};
    auto s = start(fake);
    s->ProgTitle->setEditText(QStringLiteral("Notes"));
    int editorOpened = 0;
    s->setEditorOpener([&](int) { ++editorOpened; });
    bool sawBusy = false;
    fake.onYield = [&] {
        if (!s->isBusy())
            return;
        sawBusy = true;
        s->Command1_MouseUp(1, MacroButton::Left);
        s->Command1_MouseUp(2, MacroButton::Right);
    };
    s->Command1_MouseUp(0, MacroButton::Left);
    fake.onYield = nullptr;
    QVERIFY(sawBusy);
    QCOMPARE(fake.injected, QStringList({"1", "{ENTER}"}));
    QCOMPARE(editorOpened, 0);
    QVERIFY(!s->isBusy());
}

void TestSender::sendsTheTextItStartedWith()
{
    FakeDesktop fake;
    fake.windowTitles = {QStringLiteral("Notes")};
    auto s = start(fake);
    s->ProgTitle->setEditText(QStringLiteral("Notes"));
    s->setText(0, QStringLiteral("original"));
    bool cleared = false;
    fake.onYield = [&] {
        // Clear is pressed while the send yields.
        if (s->isBusy() && !cleared) {
            cleared = true;
            fake.answers = {Dialogs::Yes};
            s->Command3_Click();
        }
    };
    s->Command1_MouseUp(0, MacroButton::Left);
    fake.onYield = nullptr;
    QCOMPARE(s->text(0), QStringLiteral("1")); // cleared meanwhile
    QCOMPARE(fake.injected, QStringList({"original", "{ENTER}"}));
}

void TestSender::routesMouseButtons()
{
    FakeDesktop fake;
    fake.windowTitles = {QStringLiteral("Notes")};
    auto s = start(fake);
    s->ProgTitle->setEditText(QStringLiteral("Notes"));
    QList<int> opened;
    s->setEditorOpener([&](int index) { opened << index; });
    s->Command1_MouseUp(24, MacroButton::Middle);
    s->Command1_MouseUp(24, MacroButton::Right);
    s->Command1_MouseUp(0, MacroButton::Right);
    QCOMPARE(opened, QList<int>({24, 0}));
    QVERIFY(fake.activated.isEmpty());
    QVERIFY(fake.injected.isEmpty());
}

void TestSender::sendsOnRealMouseRelease()
{
    FakeDesktop fake;
    fake.windowTitles = {QStringLiteral("Notes")};
    auto s = start(fake);
    s->ProgTitle->setEditText(QStringLiteral("Notes"));
    s->CarageRt->setChecked(false);
    s->show();
    QVERIFY(QTest::qWaitForWindowExposed(s.get()));
    MacroButton* five = s->Command1[4];

    QTest::mouseClick(five, Qt::LeftButton);
    QCOMPARE(fake.injected, QStringList{"5"});

    // Moving off the button before letting go still sends.
    QTest::mousePress(five, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseRelease(five, Qt::LeftButton, {}, QPoint(-40, 60));
    QCOMPARE(fake.injected, QStringList({"5", "5"}));

    // The keyboard and the middle button send nothing.
    QTest::keyClick(five, Qt::Key_Space);
    QTest::keyClick(five, Qt::Key_Return);
    QTest::mouseClick(five, Qt::MiddleButton);
    QCOMPARE(fake.injected.size(), 2);
}

void TestSender::leavesTopmostBandOnClose()
{
    FakeDesktop fake;
    fake.settings = {{"On Top", "1"}};
    auto s = start(fake);
    fake.topmostCalls.clear();
    s->setMacroSetChanged(1);
    fake.answers = {Dialogs::No};
    QVERIFY(s->Form_QueryUnload());
    QVERIFY(fake.topmostCalls.isEmpty());
    s->setMacroSetChanged(0);
    QVERIFY(s->Form_QueryUnload());
    QCOMPARE(fake.topmostCalls.size(), 1);
    QVERIFY(!fake.topmostCalls.first().second);
}

void TestSender::offersKeyboardAndScreenReaderAccess()
{
    FakeDesktop fake;
    auto s = start(fake);
    s->show();
    QVERIFY(QTest::qWaitForWindowExposed(s.get()));

    // Every control has a name a screen reader can say; a macro button its number and caption.
    for (QWidget* w : s->findChildren<QWidget*>()) {
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
        if (a && w->isVisible() && !w->objectName().isEmpty() &&
            (w->focusPolicy() != Qt::NoFocus || qobject_cast<MacroButton*>(w)))
            QVERIFY2(!a->text(QAccessible::Name).isEmpty(), qPrintable(w->objectName()));
    }
    s->setCaption(4, QStringLiteral("Greeting"));
    QCOMPARE(QAccessible::queryAccessibleInterface(s->Command1[4])->text(QAccessible::Name),
             QStringLiteral("5: Greeting"));

    // The Tab key walks the controls in the designed order.
    const QList<QWidget*> order = {s->Command2, s->Command3,  s->OnTop,  s->CarageRt, s->Option1,
                                   s->Command4, s->ProgTitle, s->Combo1, s->AutoSave, s->Tabky};
    s->Command2->setFocus();
    for (QWidget* expected : order) {
        QTRY_COMPARE(QApplication::focusWidget(), expected);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
}

QTEST_MAIN(TestSender)
#include "tst_sender.moc"
