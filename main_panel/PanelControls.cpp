#include "PanelControls.h"

#include "DropDownComboBox.h"
#include "LayoutUnits.h"
#include "MacroButton.h"
#include "MacroSet.h"
#include "PanelGeometry.h"
#include "TargetLine.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>

void PanelControls::setupControls(QWidget* panel, WindowList& windows)
{
    namespace G = PanelGeometry;
    UnitLayout layout(panel, G::kWidth, G::kHeight);
    const auto button = [&](const char* name, const QString& caption, QRect r) {
        auto* b = new QPushButton(caption, panel);
        b->setObjectName(QLatin1String(name));
        layout.place(b, r);
        // Enter presses the focused button, as Space does.
        b->setAutoDefault(true);
        return b;
    };
    const auto check = [&](const char* name, const QString& caption, QRect r) {
        auto* c = new QCheckBox(caption, panel);
        c->setObjectName(QLatin1String(name));
        layout.place(c, r);
        return c;
    };

    Command1.reserve(MacroSet::kButtonCount);
    for (int i = 0; i < MacroSet::kButtonCount; ++i) {
        auto* b = new MacroButton(i, panel);
        b->setObjectName(QStringLiteral("Command1_%1").arg(i));
        layout.place(b, G::macroButton(i), UnitLayout::Height);
        b->setVisible(i < PanelGeometry::kSetSize);
        Command1.append(b);
    }

    Command2 = button("Command2", QStringLiteral("Save &As..."), G::kSaveAs);
    Command3 = button("Command3", QStringLiteral("Cl&ear"), G::kClear);
    OnTop = check("OnTop", QStringLiteral("On Top"), G::kOnTop);
    CarageRt = check("CarageRt", QStringLiteral("+Return"), G::kReturn);

    Frame1 = new QGroupBox(QStringLiteral("Button Set"), panel);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    layout.place(Frame1, G::kButtonSetFrame);
    Option1 = new QRadioButton(QStringLiteral("1-24"), Frame1);
    Option1->setObjectName(QStringLiteral("Option1"));
    layout.place(Option1, G::kSet1InFrame);
    Option1->setChecked(true);
    Option2 = new QRadioButton(QStringLiteral("25-48"), Frame1);
    Option2->setObjectName(QStringLiteral("Option2"));
    layout.place(Option2, G::kSet2InFrame);

    Command4 = button("Command4", QStringLiteral("&Grab\nTitle"), G::kGrabTitle);

    ProgTitle = new DropDownComboBox(panel);
    ProgTitle->setObjectName(QStringLiteral("ProgTitle"));
    layout.place(ProgTitle, G::kTitleBox, UnitLayout::Height);
    Combo1 = new DropDownComboBox(panel);
    Combo1->setObjectName(QStringLiteral("Combo1"));
    layout.place(Combo1, G::kSetBox, UnitLayout::Height);
    for (QComboBox* combo : {ProgTitle, Combo1}) {
        // The combo box holds the focus and hands keys to its line edit itself, past any filter
        // on the line edit: the combo box is where typed keys can be seen.
        combo->installEventFilter(panel);
        QPalette pal = combo->palette();
        pal.setColor(QPalette::Base, Qt::white);
        combo->setPalette(pal);
    }
    QPalette black = Combo1->palette();
    black.setColor(QPalette::Text, Qt::black);
    Combo1->setPalette(black);

    Label3 = new QLabel(QStringLiteral("Load Macro Set"), panel);
    Label3->setObjectName(QStringLiteral("Label3"));
    layout.place(Label3, G::kSetLabel);
    Label3->setBuddy(Combo1);
    Label2 = new QLabel(QStringLiteral("Application Title"), panel);
    Label2->setObjectName(QStringLiteral("Label2"));
    layout.place(Label2, G::kTitleLabel);
    Label2->setBuddy(ProgTitle);
    Target = new TargetLine(windows, panel);
    Target->setObjectName(QStringLiteral("Target"));
    layout.place(Target, G::kTargetLine);
    QObject::connect(ProgTitle, &QComboBox::currentTextChanged, Target, &TargetLine::setTitle);

    AutoSave = check("AutoSave", QStringLiteral("AutoSave"), G::kAutoSave);
    Tabky = check("Tabky", QStringLiteral("+Tab"), G::kTab);

    layout.apply();
    ProgTitle->setAccessibleName(QStringLiteral("Application Title"));
    Combo1->setAccessibleName(QStringLiteral("Load Macro Set"));

    // The keyboard order of the controls below the buttons.
    const QList<QWidget*> order = {Command2,  Command3, OnTop,   CarageRt, Option1, Command4,
                                   ProgTitle, Combo1,   Option2, AutoSave, Tabky};
    for (qsizetype i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);
}
