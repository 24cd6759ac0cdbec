// The three windows on a real X server, at the scale QT_SCALE_FACTOR sets: no control is cut off
// by its window, every caption fits its control, controls overlap only where the layout was drawn
// to, and every control a user can reach has a name a screen reader can say. Screenshots of each
// window are left beside the test, in the build folder.
#include "DropDownComboBox.h"
#include "Form1.h"
#include "Form2.h"
#include "LayoutUnits.h"
#include "MacroButton.h"
#include "Sender.h"
#include "fake/FakeDesktop.h"

#include <QAccessible>
#include <QDir>
#include <QLineEdit>
#include <QTest>
#include <QWindow>

class TestLayout : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(!qEnvironmentVariableIsEmpty("DISPLAY"),
                 "needs an X server: run through scripts/with-xvfb.sh, or ./test.sh");
    }

    void windowsFit_data()
    {
        QTest::addColumn<QString>("window");
        QTest::newRow("main panel") << "Sender";
        QTest::newRow("editor") << "Form1";
        QTest::newRow("grabber") << "Form2";
    }

    void windowsFit()
    {
        QFETCH(QString, window);
        Sender sender(m_platform);
        sender.Form_Load();
        sender.setCaption(23, "Number 48");
        // The line beside the title names a window, the longest thing it says.
        m_fake.windowTitles = {"Untitled Document 1 - Text Editor"};
        sender.ProgTitle->setEditText("Untitled");
        QWidget* shown = &sender;
        std::unique_ptr<QWidget> other;
        if (window == "Form1")
            other = std::make_unique<Form1>(sender.macroSet(), m_platform, &sender, false);
        else if (window == "Form2")
            other = std::make_unique<Form2>(sender.targetTitles(), m_platform);
        if (auto* grabber = qobject_cast<Form2*>(other.get()))
            grabber->Text1->setText("Untitled");
        if (other)
            shown = other.get();
        shown->show();
        QVERIFY(QTest::qWaitForWindowExposed(shown));
        check(shown);
        if (shown == &sender) // a macro button says its number and caption
            QCOMPARE(
                QAccessible::queryAccessibleInterface(sender.Command1[23])->text(QAccessible::Name),
                "24: Number 48");

        const QString scale = qEnvironmentVariable("QT_SCALE_FACTOR", "1");
        const QString dir = QCoreApplication::applicationDirPath() + "/screens/scale-" + scale;
        QDir().mkpath(dir);
        QVERIFY(shown->grab().save(dir + "/" + window + ".png"));
        QCOMPARE(shown->windowHandle()->devicePixelRatio(), scale.toDouble());
    }

private:
    static void check(QWidget* window)
    {
        const QList<QWidget*> controls = window->findChildren<QWidget*>();
        for (QWidget* w : controls) {
            if (!w->property("layoutUnits").isValid() || !w->isVisibleTo(window))
                continue;
            const QString name = w->objectName();
            QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
            if (w->focusPolicy() != Qt::NoFocus || qobject_cast<MacroButton*>(w))
                QVERIFY2(a && !a->text(QAccessible::Name).isEmpty(),
                         qPrintable(name + " has no name"));
            const QRect inWindow(w->mapTo(window, QPoint(0, 0)), w->size());
            // The grabber's default button lies below its window on purpose.
            if (name != "Command1" || window->objectName() != "Form2")
                QVERIFY2(window->rect().contains(inWindow), qPrintable(name + " is cut off"));
            const auto fit = static_cast<UnitLayout::Fit>(w->property("layoutFit").toInt());
            const QSize need = UnitLayout::textNeed(w);
            if (fit != UnitLayout::Nothing)
                QVERIFY2(need.height() <= w->height(), qPrintable(name + "'s caption is cut off"));
            if (fit == UnitLayout::Everything)
                QVERIFY2(need.width() <= w->width(), qPrintable(name + "'s caption is cut off"));
            for (QWidget* other : controls) {
                if (other == w || other->parentWidget() != w->parentWidget() ||
                    !other->property("layoutUnits").isValid() || !other->isVisibleTo(window))
                    continue;
                const bool designed = w->property("layoutUnits")
                                          .toRect()
                                          .intersects(other->property("layoutUnits").toRect());
                QVERIFY2(designed || !w->geometry().intersects(other->geometry()),
                         qPrintable(name + " overlaps " + other->objectName()));
            }
        }
    }

    FakeDesktop m_fake;
    Platform m_platform = m_fake.platform();
};

QTEST_MAIN(TestLayout)
#include "tst_layout.moc"
