#pragma once

#include <QObject>
#include <QStringList>

// The titles of the windows that receive keystrokes, as kept in the title list file, and whether
// they changed since they were last loaded or saved.
class TargetTitles : public QObject
{
    Q_OBJECT
public:
    QStringList entries() const { return m_entries; }

    // Loads the list from the file in folder; a missing or unreadable file gives what was read.
    void load(const QString& folder);
    // Saves the list into the file in folder. False, with the reason, when it cannot be written.
    bool save(const QString& folder, QString* error);
    // The file's path in folder.
    static QString path(const QString& folder);

    // Adds title as the last entry, unless an entry is exactly title (case counts); returns
    // whether it was added.
    bool add(const QString& title);
    void remove(int index);
    // True when the entries differ (in number, order or text) from those last loaded or saved.
    bool isChanged() const { return m_entries != m_saved; }

Q_SIGNALS:
    // The entries were replaced (loaded).
    void reset();
    void removed(int index);
    // title was added as the last entry; it becomes the target title.
    void added(const QString& title);

private:
    QStringList m_entries;
    QStringList m_saved;
};
