#include "MacroSetCatalogue.h"

#include "MacroSetFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>

namespace {

bool lessWithoutCase(const QString& a, const QString& b)
{
    const int c = a.compare(b, Qt::CaseInsensitive);
    return c != 0 ? c < 0 : a < b;
}

// The macro-set files in folder: ordinary, visible files whose name ends in ".mcs" in any case.
QFileInfoList macroSetFiles(const QString& folder)
{
    QFileInfoList out;
    const QFileInfoList all = QDir(folder).entryInfoList(QDir::Files | QDir::NoDotAndDotDot);
    const QString ext = MacroSetFile::extension();
    for (const QFileInfo& f : all) {
        if (f.fileName().size() > ext.size() && f.fileName().endsWith(ext, Qt::CaseInsensitive))
            out << f;
    }
    return out;
}

} // namespace

namespace MacroSetCatalogue {

bool list(const QString& folder, QStringList* names, QString* error)
{
    names->clear();
    const QFileInfo dir(folder);
    if (!dir.isDir() || !dir.isReadable()) {
        *error =
            QStringLiteral("The folder %1 cannot be read.").arg(QDir::toNativeSeparators(folder));
        return false;
    }
    const qsizetype extLength = MacroSetFile::extension().size();
    for (const QFileInfo& f : macroSetFiles(folder))
        names->append(f.fileName().chopped(extLength));
    std::sort(names->begin(), names->end(), lessWithoutCase);
    if (!names->isEmpty())
        names->first() = names->first().toUpper();
    return true;
}

QString path(const QString& folder, const QString& name)
{
    const QString wanted = name + MacroSetFile::extension();
    // The list shows its first name in capitals, which may change its length ("ß" becomes
    // "SS"), so names are also compared in capitals.
    const QString wantedUpper = wanted.toUpper();
    QString sameButCase;
    for (const QFileInfo& f : macroSetFiles(folder)) {
        if (f.fileName() == wanted)
            return f.filePath();
        if (sameButCase.isEmpty() && (f.fileName().compare(wanted, Qt::CaseInsensitive) == 0 ||
                                      f.fileName().toUpper() == wantedUpper))
            sameButCase = f.filePath();
    }
    return sameButCase.isEmpty() ? QDir(folder).filePath(wanted) : sameButCase;
}

QString refusal(const QString& name)
{
    if (name == QLatin1String(".") || name == QLatin1String(".."))
        return QStringLiteral("\"%1\" is not a name.").arg(name);
    // The file would be hidden, and the list never shows hidden files.
    if (name.startsWith(QLatin1Char('.')))
        return QStringLiteral("A name may not begin with \".\".");
    for (const QChar c : name) {
        if (c == QLatin1Char('/') || c == QLatin1Char('\\'))
            return QStringLiteral("A name may not contain \"/\" or \"\\\".");
        if (c.category() == QChar::Other_Control)
            return QStringLiteral("A name may not contain control characters.");
    }
    return QString();
}

QString freeName(const QString& folder, const QString& base)
{
    QString name = base;
    for (int n = 2; QFileInfo::exists(path(folder, name)); ++n)
        name = QStringLiteral("%1 (%2)").arg(base).arg(n);
    return name;
}

bool remove(const QString& folder, const QString& name, QString* error)
{
    QFile file(path(folder, name));
    if (!file.exists())
        return true;
    if (QFileInfo(file).isDir() || !file.remove()) {
        *error = file.error() != QFileDevice::NoError ? file.errorString()
                                                      : QStringLiteral("It is not a file.");
        return false;
    }
    return true;
}

} // namespace MacroSetCatalogue
