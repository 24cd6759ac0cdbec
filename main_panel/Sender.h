#pragma once

#include "MacroSet.h"
#include "MacroSetCommands.h"
#include "PanelControls.h"
#include "PanelGeometry.h"
#include "Services.h"
#include "TargetTitles.h"

#include <QDateTime>
#include <QStringList>
#include <QVector>
#include <QWidget>
#include <functional>
#include <memory>

class DropDownComboBox;
class MacroButton;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;

// The main panel: the 48 macro buttons, the button sets, the toggles, the target titles and the
// macro sets. It owns the macro set and the target titles, shows them, and hands them to the
// editor and the grabber; start-up, closing and sending happen here.
class Sender : public QWidget, public PanelControls
{
    Q_OBJECT
public:
    static constexpr int kButtonCount = MacroSet::kButtonCount;
    static constexpr int kSetSize = PanelGeometry::kSetSize;

    explicit Sender(const Platform& platform, QWidget* parent = nullptr);
    ~Sender() override;

    // Start-up, before the window is first shown: position, toggles, program folder, default
    // buttons, the macro-set catalogue, the target titles and the first macro set.
    void Form_Load();
    // The closing check: whether the window may close.
    bool Form_QueryUnload();
    // Shutdown: stores the toggles and, in the normal state, the position.
    void Form_Unload();
    // The session asked the program to end (logout, a closed terminal), and no handler is under
    // way any more: with AutoSave ticked, what closing would save is saved as of now, without a
    // question, the editor's pending change included, and a changed set without a name under a
    // name of its own. Without AutoSave nothing is. Returns what could not be saved, and why.
    QStringList saveOnRequestedEnd(const QDateTime& now = QDateTime::currentDateTime());

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

    using SaveResult = MacroSetCommands::SaveResult;
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
    // The macro set's changed flag: 1 after the editor applied a change not yet saved.
    int macroSetChanged() const { return m_macroSet.changed(); }
    void setMacroSetChanged(int changed) { m_macroSet.setChanged(changed); }

    const Platform& platform() const { return m_platform; }

Q_SIGNALS:
    // The window has closed for good; the program ends.
    void unloaded();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void connectControls();
    void sendMacro(int index);
    void openEditor(int index);
    void failSend(bool reached, Typing result);
    void placeWindow(int left, int top);
    bool saveTitleListStep();
    void showFirstButtonSet();
    int confirmRemoval(QComboBox* list, const QString& before, const QString& after);

    Platform m_platform;
    MacroSet m_macroSet;
    TargetTitles m_titles;
    std::function<void(int)> m_openEditor;
    std::function<void()> m_openGrabber;
    QString m_programFolder;
    int m_busy = 0;
    bool m_unloaded = false;
    std::unique_ptr<MacroSetCommands> m_commands;
};
