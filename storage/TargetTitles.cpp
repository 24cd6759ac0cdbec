#include "TargetTitles.h"

#include "TitleList.h"

QString TargetTitles::path(const QString& folder)
{
    return folder + TitleList::fileName();
}

void TargetTitles::load(const QString& folder)
{
    m_entries = TitleList::read(path(folder));
    m_saved = m_entries;
    Q_EMIT reset();
}

bool TargetTitles::save(const QString& folder, QString* error)
{
    const QStringList snapshot = m_entries;
    if (!TitleList::write(path(folder), snapshot, error))
        return false;
    m_saved = snapshot;
    return true;
}

bool TargetTitles::add(const QString& title)
{
    if (m_entries.contains(title, Qt::CaseSensitive))
        return false;
    m_entries << title;
    Q_EMIT added(title);
    return true;
}

void TargetTitles::remove(int index)
{
    m_entries.removeAt(index);
    Q_EMIT removed(index);
}
