#include "TitleList.h"

#include "TextFile.h"
#include "TextRules.h"

namespace TitleList {

QString fileName()
{
    return QStringLiteral("Keyflare.ini");
}

QStringList read(const QString& path)
{
    QStringList lines;
    if (!TextFile::readLines(path, &lines))
        return {};
    return parse(lines);
}

QStringList parse(const QStringList& lines)
{
    QStringList titles;
    for (qsizetype i = 0; i < lines.size() && i < kReadLimit; ++i) {
        const QString title = trimBlanks(lines.at(i));
        if (!title.isEmpty())
            titles << title;
    }
    return titles;
}

bool write(const QString& path, const QStringList& titles, QString* error)
{
    return TextFile::writeLines(path, titles, error);
}

} // namespace TitleList
