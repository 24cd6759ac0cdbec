#pragma once

#include "Services.h"

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;
class TargetLine;
class TargetTitles;

// The title grabber: four times a second it shows the title of the window under the mouse
// pointer; ENTER adds that title to the target titles, which makes it the target.
class Form2 : public QDialog
{
    Q_OBJECT
public:
    // Opens a fresh grabber modally where the panel stands and returns once it has closed; a
    // title taken is added to titles.
    static void open(TargetTitles& titles, const Platform& platform, QWidget* panel);

    Form2(TargetTitles& titles, const Platform& platform);

    void Form_Load();
    void Timer1_Timer();
    void Command1_Click(); // ENTER: take the title shown
    void Command2_Click(); // "Cancel"

    QLineEdit* Text1 = nullptr;      // the title under the pointer
    QPushButton* Command1 = nullptr; // "GRB", the default button, out of sight below the window
    QPushButton* Command2 = nullptr; // "Cancel"
    QTimer* Timer1 = nullptr;
    QLabel* instructions = nullptr;
    TargetLine* Target = nullptr; // the window the title shown would name

protected:
    void showEvent(QShowEvent* event) override;

private:
    void Form_Activate();
    // The text a control of the grabber shows; empty for its bare surface (null).
    static QString controlText(const QWidget* control);

    TargetTitles& m_titles;
    Platform m_platform;
    WindowId LastWnd = 0;
    const QWidget* m_lastControl = nullptr;
    bool m_activated = false;
};
