#pragma once

#include "Services.h"

#include <QWidget>

class LimitedLineEdit;
class QLabel;
class QGroupBox;
class QPushButton;
class QScrollBar;
class MacroSet;

// The button editor, "Keyflare Button Manager": edits the caption and the text of one macro button
// of the panel's macro set at a time. A change is pending exactly while
// Apply is enabled; leaving a button with a pending change asks whether to apply it.
class Form1 : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kCaptionLimit = 21;
    static constexpr int kTextLimit = 240;

    // Hides the main panel and opens a fresh editor of set on button index (0 to 47) where the
    // panel stood. The editor deletes itself when it closes and shows the panel again. autoSave:
    // a pending change is applied without a question.
    static Form1* open(MacroSet& set, const Platform& platform, QWidget* panel, bool autoSave,
                       int index);

    Form1(MacroSet& set, const Platform& platform, QWidget* panel, bool autoSave);

    void Form_Load();
    void VScroll1_Change();
    void Command2_Click(); // Apply
    void Command3_Click(); // Undo
    void Command5_Click(); // "Enter TAB  Key"
    // Runs before the window closes, however it closes; the close is never cancelled.
    void Form_QueryUnload();

    int loadedButton() const { return LoadedButton; }
    // 1 when a character was typed (or text deleted) since the button was loaded, applied or
    // undone; edits of the boxes enable Apply and Undo only while it is 1.
    int TextEdited = 0;

    LimitedLineEdit* Text1 = nullptr; // the caption
    LimitedLineEdit* Text2 = nullptr; // the text
    QPushButton* Command1 = nullptr;  // the preview
    QPushButton* Command2 = nullptr;  // "&Apply"
    QPushButton* Command3 = nullptr;  // "&Undo"
    QPushButton* Command4 = nullptr;  // "&Close"
    QPushButton* Command5 = nullptr;  // "Enter TAB  Key"
    QScrollBar* VScroll1 = nullptr;   // the button selector, 0 to 47
    QLabel* Label5 = nullptr;         // the button number, 1 to 48
    QGroupBox* Frame1 = nullptr;
    QGroupBox* Frame2 = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();
    void resolvePendingChange(int index);
    void Text1_Change();
    void Text2_Change();
    void userEdited();

    MacroSet& m_set;
    Platform m_platform;
    QWidget* m_panel;
    bool m_autoSave;
    int LoadedButton = 0;
    bool m_switching = false;
};
