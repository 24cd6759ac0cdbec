#pragma once

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <unistd.h>

// A folder with some files in it that nobody may write to any more, root included: root ignores
// permission bits, so for root the folder is a small file system mounted read-only.
class ReadOnlyFolder
{
public:
    ReadOnlyFolder() = default;
    ~ReadOnlyFolder()
    {
        if (m_mounted)
            QProcess::execute(QStringLiteral("umount"), {m_dir.path()});
        else
            QFile::setPermissions(m_dir.path(),
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    // The folder's path, ending in "/".
    QString path() const { return m_dir.path() + QLatin1Char('/'); }

    // Writes a file into the folder; call before lock().
    void put(const QString& name, const QByteArray& bytes)
    {
        QFile f(path() + name);
        if (f.open(QIODevice::WriteOnly))
            f.write(bytes);
    }

    // Makes the folder read-only. False when this machine cannot (the test should skip).
    bool lock()
    {
        if (geteuid() != 0) {
            return QFile::setPermissions(m_dir.path(), QFile::ReadOwner | QFile::ExeOwner);
        }
        // Move the files aside, mount an empty file system over the folder, put them back.
        QTemporaryDir aside;
        const QStringList names = QDir(m_dir.path()).entryList(QDir::Files);
        for (const QString& n : names)
            QFile::rename(path() + n, aside.filePath(n));
        if (QProcess::execute(QStringLiteral("mount"),
                              {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                               QStringLiteral("size=4m"), QStringLiteral("none"), m_dir.path()}) !=
            0)
            return false;
        m_mounted = true;
        for (const QString& n : names)
            QFile::copy(aside.filePath(n), path() + n);
        return QProcess::execute(
                   QStringLiteral("mount"),
                   {QStringLiteral("-o"), QStringLiteral("remount,ro"), m_dir.path()}) == 0;
    }

private:
    QTemporaryDir m_dir;
    bool m_mounted = false;
};
