#include "MacroSetCommands.h"

#include "MacroSetCatalogue.h"
#include "MacroSetFile.h"
#include "TextRules.h"

#include <QComboBox>

namespace {
// The settings key that carries the name of a set saved unasked at the end to the next start.
const QString kSavedUnasked = QStringLiteral("SavedAtEnd");
} // namespace

MacroSetCommands::MacroSetCommands(MacroSet& set, const Platform& platform, QComboBox& setBox,
                                   std::function<bool()> autoSave)
    : m_set(set), m_platform(platform), m_setBox(setBox), m_autoSave(std::move(autoSave))
{
}

void MacroSetCommands::resetButtons()
{
    for (int i = 0; i < MacroSet::kButtonCount; ++i) {
        m_platform.events.yield();
        m_set.resetButton(i);
    }
}

void MacroSetCommands::list()
{
    m_setBox.clear();
    m_platform.events.yield();
    QStringList names;
    QString error;
    const bool listed = MacroSetCatalogue::list(m_folder, &names, &error);
    m_setBox.addItems(names);
    if (!listed)
        m_platform.dialogs.message(error, Dialogs::OkOnly);
    m_platform.events.yield();
}

void MacroSetCommands::load()
{
    if (m_fileBusy) {
        // Picked while a load, a save or a clear runs: loaded once that one has ended.
        m_pickPending = true;
        m_pendingPick = m_setBox.currentText();
        return;
    }
    m_fileBusy = true;
    readSet();
    endFileOperation();
    Q_EMIT loaded();
}

void MacroSetCommands::endFileOperation()
{
    m_fileBusy = false;
    if (m_pickPending) {
        m_pickPending = false;
        m_setBox.setEditText(m_pendingPick);
        load();
    }
}

void MacroSetCommands::readSet()
{
    const QString path = MacroSetCatalogue::path(m_folder, m_setBox.currentText());
    resetButtons();
    const QVector<MacroSlot> slots = MacroSetFile::read(path);
    m_platform.events.yield();
    for (int i = 0; i < slots.size(); ++i) {
        m_platform.events.yield();
        m_set.setCaption(i, slots[i].caption);
        m_set.setText(i, slots[i].text);
    }
    m_platform.events.yield();
}

int MacroSetCommands::askToSaveChanges(int buttons)
{
    if (m_autoSave())
        return Dialogs::Yes;
    return m_platform.dialogs.message(QStringLiteral("The current Macro Set ") +
                                          m_setBox.currentText() +
                                          QStringLiteral(" has changed.\r\n\r\nDo you want to "
                                                         "Save the changes you made?"),
                                      buttons);
}

void MacroSetCommands::offerToSave()
{
    if (m_set.changed() != 1)
        return;
    // A save that failed keeps the flag, so the change is offered again rather than forgotten.
    if (askToSaveChanges(Dialogs::YesNo) == Dialogs::Yes && saveAs() == SaveResult::Failed)
        return;
    m_set.setChanged(0);
}

void MacroSetCommands::remove(int index)
{
    const QString name = m_setBox.itemText(index);
    QString error;
    if (!MacroSetCatalogue::remove(m_folder, name, &error)) {
        // Reporting success here would leave a set on disk that the list no longer shows.
        m_platform.dialogs.message(
            QStringLiteral("The macro set %1 could not be deleted.\r\n\r\n%2").arg(name, error),
            Dialogs::OkOnly | Dialogs::Exclamation);
        return;
    }
    m_setBox.removeItem(index);
    m_platform.events.yield();
    if (m_setBox.count() > 0) {
        m_setBox.setCurrentIndex(0);
        load();
    }
}

MacroSetCommands::SaveResult MacroSetCommands::saveAs()
{
    // Asked to save while another load or save runs (a close during its yields, say): this one
    // counts as not done, so a close waits rather than ending the program under it.
    if (m_fileBusy)
        return SaveResult::Failed;
    QString name = trimBlanks(m_setBox.currentText());
    if (name.isEmpty() || !m_autoSave()) {
        name = trimBlanks(
            m_platform.dialogs.input(QStringLiteral("\r\n\r\n\r\nEnter a name for this Macro-Set."),
                                     QStringLiteral("Save Macro's to File"), name));
        if (name.isEmpty())
            return SaveResult::NoName;
    }
    const QString refusal = MacroSetCatalogue::refusal(name);
    if (!refusal.isEmpty()) {
        m_platform.dialogs.message(
            QStringLiteral("The macro set cannot be saved as \"%1\".\r\n\r\n%2").arg(name, refusal),
            Dialogs::OkOnly | Dialogs::Exclamation);
        return SaveResult::Failed; // nothing is lost: a close or a clear stops here
    }

    m_fileBusy = true;
    QVector<MacroSlot> slots;
    for (int i = 0; i < MacroSet::kButtonCount; ++i) {
        slots.append({m_set.caption(i), m_set.text(i)});
        m_platform.events.yield();
    }
    const QString path = MacroSetCatalogue::path(m_folder, name);
    QString error;
    if (!MacroSetFile::write(path, slots, &error)) {
        endFileOperation();
        m_platform.dialogs.message(
            QStringLiteral("The macro set could not be saved to\r\n%1\r\n\r\n%2").arg(path, error),
            Dialogs::OkOnly | Dialogs::Exclamation);
        return SaveResult::Failed;
    }
    m_platform.events.yield();
    list();
    m_setBox.setEditText(name);
    m_set.setChanged(0);
    endFileOperation();
    return SaveResult::Saved;
}

void MacroSetCommands::clear()
{
    if (m_fileBusy)
        return;
    if (m_platform.dialogs.message(QStringLiteral("Clear All Buttons?"),
                                   Dialogs::YesNo | Dialogs::Question) != Dialogs::Yes)
        return;
    // A failed save keeps the buttons: clearing them then would lose the changes.
    if (m_set.changed() == 1 && askToSaveChanges(Dialogs::YesNo) == Dialogs::Yes &&
        saveAs() == SaveResult::Failed)
        return;
    if (m_fileBusy)
        return; // a load or save began during the questions
    m_fileBusy = true;
    m_set.setChanged(0);
    resetButtons();
    m_setBox.setEditText(QString());
    endFileOperation();
}

bool MacroSetCommands::closingStep()
{
    if (m_set.changed() != 1)
        return true;
    const int answer = askToSaveChanges(Dialogs::YesNoCancel);
    if (answer == Dialogs::Cancel)
        return false;
    // A set left unnamed at the prompt closes unsaved, as asked; one that failed to save does not.
    return answer != Dialogs::Yes || saveAs() != SaveResult::Failed;
}

bool MacroSetCommands::saveUnasked(const QDateTime& now, QString* error)
{
    if (m_set.changed() != 1)
        return true;
    // Nobody is there to give a name, and the changes must not be lost: a set without one gets a
    // name that tells the user what it is, and never that of a file already there.
    QString name = trimBlanks(m_setBox.currentText());
    const bool named = !name.isEmpty() && MacroSetCatalogue::refusal(name).isEmpty();
    if (!named)
        name = MacroSetCatalogue::freeName(m_folder,
                                           QStringLiteral("Unsaved macro set ") +
                                               now.toString(QStringLiteral("yyyy-MM-dd HH-mm")));
    QVector<MacroSlot> slots;
    for (int i = 0; i < MacroSet::kButtonCount; ++i)
        slots.append({m_set.caption(i), m_set.text(i)});
    const QString path = MacroSetCatalogue::path(m_folder, name);
    if (!MacroSetFile::write(path, slots, error)) {
        *error = QStringLiteral("The macro set could not be saved to %1: %2").arg(path, *error);
        return false;
    }
    m_set.setChanged(0);
    if (!named)
        m_platform.settings.write(kSavedUnasked, name);
    return true;
}

void MacroSetCommands::reportSavedUnasked()
{
    const QString name = m_platform.settings.read(kSavedUnasked, QString());
    if (name.isEmpty())
        return;
    m_platform.settings.write(kSavedUnasked, QString());
    m_platform.dialogs.message(
        QStringLiteral("Keyflare was asked to end (at logout, say) while a macro set without a "
                       "name had changes.\r\n\r\nThey were saved as the macro set \"%1\".")
            .arg(name),
        Dialogs::OkOnly);
}
