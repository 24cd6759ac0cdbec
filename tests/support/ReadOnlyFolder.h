#pragma once

#include "TestFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <unistd.h>

// A folder with some files in it that nobody may write to any more (lock), root included: root
// ignores permission bits, so for root the folder is a small file system mounted read-only. Or a
// folder on a file system with no space left (fill), which needs root.
class ReadOnlyFolder
{
public:
    ~ReadOnlyFolder()
    {
        if (m_mounted)
            QProcess::execute("umount", {m_dir.path()});
        else
            QFile::setPermissions(m_dir.path(),
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    // The folder's path, ending in "/".
    QString path() const { return m_dir.path() + QLatin1Char('/'); }

    // Writes a file into the folder; call before lock() or fill().
    void put(const QString& name, const QByteArray& bytes) { writeFile(path() + name, bytes); }

    // Makes the folder read-only. False when this machine cannot (the test should skip).
    bool lock()
    {
        if (geteuid() != 0)
            return QFile::setPermissions(m_dir.path(), QFile::ReadOwner | QFile::ExeOwner);
        return mountOver() && mount({"-o", "remount,ro", m_dir.path()});
    }

    // Leaves no space in the folder's file system. False when this machine cannot.
    bool fill()
    {
        if (geteuid() != 0 || !mountOver())
            return false;
        // dd stops, with an error, when the file system is full.
        QProcess::execute(
            "sh", {"-c", "dd if=/dev/zero of=\"$0\" bs=4096 2>/dev/null", path() + ".filler"});
        return QFileInfo(path() + ".filler").size() > 0;
    }

private:
    static bool mount(const QStringList& args) { return QProcess::execute("mount", args) == 0; }

    // Moves the files aside, mounts a small empty file system over the folder, puts them back.
    bool mountOver()
    {
        QTemporaryDir aside;
        const QStringList names = QDir(m_dir.path()).entryList(QDir::Files);
        for (const QString& n : names)
            QFile::rename(path() + n, aside.filePath(n));
        if (!mount({"-t", "tmpfs", "-o", "size=1m", "none", m_dir.path()}))
            return false;
        m_mounted = true;
        for (const QString& n : names)
            QFile::copy(aside.filePath(n), path() + n);
        return true;
    }

    QTemporaryDir m_dir;
    bool m_mounted = false;
};
