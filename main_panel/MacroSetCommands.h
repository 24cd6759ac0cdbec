#pragma once

#include "MacroSet.h"
#include "Services.h"

#include <QDateTime>
#include <QObject>
#include <functional>

class QComboBox;

// The panel's commands on macro-set files: list, load, Save As, Clear and delete, with the
// questions about unsaved changes. The set box holds the catalogue and, as its text, the current
// set's name. A load or a save yields while it runs, so none starts inside another: a set picked
// meanwhile is loaded once the running one has ended.
class MacroSetCommands : public QObject
{
    Q_OBJECT
public:
    enum class SaveResult
    {
        Saved,
        NoName,
        Failed
    };

    // autoSave: whether questions about unsaved changes are answered Yes without being shown.
    MacroSetCommands(MacroSet& set, const Platform& platform, QComboBox& setBox,
                     std::function<bool()> autoSave);
    // Where the files are kept, ending in "/".
    void setFolder(const QString& folder) { m_folder = folder; }

    // Rebuilds the catalogue from the folder; a folder that cannot be listed is reported.
    void list();
    // Loads the set named by the set box's text; a missing or unreadable file loads defaults.
    void load();
    // The list is about to open: offers to save a changed set.
    void offerToSave();
    // Deletes the set at index of the catalogue, then loads the first one left.
    void remove(int index);
    // Saves the 48 buttons under a name. NoName when the name prompt was left empty; Failed when
    // the name was refused, the file could not be written, or another load or save was under way.
    SaveResult saveAs();
    // Resets all buttons after a question.
    void clear();
    // The macro-set step of closing: offers to save a changed set; false cancels the close.
    bool closingStep();
    // The program was asked to end: a changed set is saved without a question, under the set
    // box's name, or under a new name that says what it is and when (now) where the box holds
    // none that can name a set; the next start then says so. False, with the reason, when the
    // file cannot be written.
    bool saveUnasked(const QDateTime& now, QString* error);
    // Start-up: says once under which name the program before saved a set that had none.
    void reportSavedUnasked();
    // Gives all 48 buttons their defaults, yielding between them.
    void resetButtons();

Q_SIGNALS:
    // A set was loaded: the panel shows its first button set.
    void loaded();

private:
    int askToSaveChanges(int buttons);
    void readSet();
    void endFileOperation();

    MacroSet& m_set;
    Platform m_platform;
    QComboBox& m_setBox;
    std::function<bool()> m_autoSave;
    QString m_folder;
    bool m_fileBusy = false;
    bool m_pickPending = false;
    QString m_pendingPick;
};
