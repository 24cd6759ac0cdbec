#pragma once

#include <QVector>

class DropDownComboBox;
class MacroButton;
class QCheckBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QWidget;
class TargetLine;
class WindowList;

// The main panel's controls, under the names the rest of Keyflare knows them by, laid out in the
// panel's geometry; the panel connects them to its behaviour.
struct PanelControls
{
    // Creates the controls on panel, places them and sets the keyboard order; the line beside
    // the title names the one of windows a click would type into.
    void setupControls(QWidget* panel, WindowList& windows);

    QVector<MacroButton*> Command1;
    QPushButton* Command2 = nullptr; // "Save &As..."
    QPushButton* Command3 = nullptr; // "Cl&ear"
    QPushButton* Command4 = nullptr; // "&Grab Title"
    QCheckBox* OnTop = nullptr;
    QCheckBox* CarageRt = nullptr; // "+Return"
    QCheckBox* Tabky = nullptr;    // "+Tab"
    QCheckBox* AutoSave = nullptr;
    QGroupBox* Frame1 = nullptr;
    QRadioButton* Option1 = nullptr;       // "1-24"
    QRadioButton* Option2 = nullptr;       // "25-48"
    DropDownComboBox* ProgTitle = nullptr; // the target titles; its text is the target title
    DropDownComboBox* Combo1 = nullptr;    // the macro sets; its text is the current set's name
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    TargetLine* Target = nullptr; // the window a click would type into now
};
