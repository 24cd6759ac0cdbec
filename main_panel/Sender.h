#pragma once

#include "MacroSet.h"
#include "Services.h"
#include "TargetTitles.h"

#include <QStringList>
#include <QVector>
#include <QWidget>
#include <functional>

class DropDownComboBox;
class MacroButton;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;

// The main panel: the 48 macro buttons, the button sets, the toggles, the target titles and the
// macro sets. It owns nearly all of Keyflare's state, held in its controls; the editor and the
// grabber work on these controls directly.
class Sender : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kButtonCount = 48;
    static constexpr int kSetSize = 24;

    explicit Sender(const Platform& platform, QWidget* parent = nullptr);
    ~Sender() override;

    // Start-up, before the window is first shown: position, toggles, program folder, default
    // buttons, the macro-set catalogue, the target titles and the first macro set.
    void Form_Load();
    // The closing check: whether the window may close.
    bool Form_QueryUnload();
    // Shutdown: stores the toggles and, in the normal state, the position.
    void Form_Unload();

    // A mouse button was released over macro button index (0 to 47): 1 sends, 2 edits.
    void Command1_MouseUp(int index, int button);
    // Gives all 48 buttons the caption "Number k" and the text "k".
    void ResetButtons();

    void Option1_Click();
    void Option2_Click();
    void OnTop_Click();
    void CarageRt_Click();
    void Tabky_Click();

    // Rebuilds the macro-set catalogue in Combo1 from the program folder.
    void GetNames();
    // Loads the macro set named by the text of Combo1 into the buttons.
    void Combo1_Click();
    // The list of Combo1 is about to open: offers to save a changed macro set.
    void Combo1_DropDown();
    // A character typed in Combo1: Ctrl+D deletes the selected macro set after a question.
    bool Combo1_KeyPress(int keyAscii);

    enum class SaveResult
    {
        Saved,
        NoName,
        Failed
    };
    // "Save As...": saves the 48 buttons under a name. NoName when the name prompt was left
    // empty; Failed when the name was refused, the file could not be written, or another load
    // or save was under way.
    SaveResult Command2_Click();
    // "Clear": resets all buttons after a question.
    void Command3_Click();

    // Fills ProgTitle from the title list file.
    void GetProgTitles();
    // A character typed in ProgTitle: Ctrl+D (code 4) removes the selected title after a question
    // and is swallowed (returns true); every other key goes on to the box (returns false).
    bool ProgTitle_KeyPress(int keyAscii);
    // True when the titles differ (in number, order or text) from those last loaded or saved.
    bool titleListChanged() const;

    // Opens the button editor on a button; wired by the program, so the panel need not know it.
    void setEditorOpener(std::function<void(int index)> opener)
    {
        m_openEditor = std::move(opener);
    }
    // Runs the title grabber modally; wired by the program like the editor.
    void setGrabberOpener(std::function<void()> opener) { m_openGrabber = std::move(opener); }
    // "Grab Title": hides the panel while the grabber is open.
    void Command4_Click();

    // The 48 buttons' captions and texts, and the target titles the panel shows.
    MacroSet& macroSet() { return m_macroSet; }
    TargetTitles& targetTitles() { return m_titles; }
    QString caption(int index) const { return m_macroSet.caption(index); }
    QString text(int index) const { return m_macroSet.text(index); }
    void setCaption(int index, const QString& caption) { m_macroSet.setCaption(index, caption); }
    void setText(int index, const QString& text) { m_macroSet.setText(index, text); }

    bool isBusy() const { return m_busy != 0; }
    QString programFolder() const { return m_programFolder; }
    int savedTitleCount() const { return m_savedTitleCount; }
    // The macro set's changed flag: 1 after the editor applied a change not yet saved.
    int macroSetChanged() const { return m_macroSet.changed(); }
    void setMacroSetChanged(int changed) { m_macroSet.setChanged(changed); }

    const Platform& platform() const { return m_platform; }

    // The controls, under the names the rest of Keyflare knows them by.
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

Q_SIGNALS:
    // The window has closed for good; the program ends.
    void unloaded();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildControls();
    void sendMacro(int index);
    void openEditor(int index);
    void failSend(bool reached, Typing result);
    void placeWindow(int left, int top);
    bool saveTitleListStep();
    bool saveMacroSetStep();
    int askToSaveChanges(int buttons);
    void loadMacroSet();
    int confirmRemoval(QComboBox* list, const QString& before, const QString& after);
    void endFileOperation();

    Platform m_platform;
    MacroSet m_macroSet;
    TargetTitles m_titles;
    std::function<void(int)> m_openEditor;
    std::function<void()> m_openGrabber;
    QString m_programFolder;
    int m_busy = 0;
    int m_savedTitleCount = 0;
    bool m_unloaded = false;
    // A load or a save yields while it runs; a second one must not start inside it.
    bool m_fileBusy = false;
    bool m_pickPending = false;
    QString m_pendingPick;
};
