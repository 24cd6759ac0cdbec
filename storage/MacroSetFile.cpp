#include "MacroSetFile.h"

#include "TextFile.h"

#include <QStringList>

namespace {

// The first n characters of s, never half of a character outside the Basic Multilingual Plane.
QString leftCodePoints(const QString& s, int n)
{
    qsizetype i = 0;
    for (int count = 0; count < n && i < s.size(); ++count)
        i +=
            (s.at(i).isHighSurrogate() && i + 1 < s.size() && s.at(i + 1).isLowSurrogate()) ? 2 : 1;
    return s.left(i);
}

} // namespace

namespace MacroSetFile {

QString header()
{
    return QStringLiteral("[Keyflare 1.07]");
}

QString extension()
{
    return QStringLiteral(".mcs");
}

QVector<MacroSlot> read(const QString& path)
{
    QStringList lines;
    if (!TextFile::readLines(path, &lines))
        return {};
    return parse(lines);
}

QVector<MacroSlot> parse(const QStringList& lines)
{
    QVector<MacroSlot> slots;
    if (lines.isEmpty())
        return slots;
    if (lines.first() == header()) {
        for (qsizetype i = 0; i < kSlots && 2 + 2 * i < lines.size(); ++i)
            slots.append({lines.at(1 + 2 * i), lines.at(2 + 2 * i)});
    } else {
        for (qsizetype i = 0; i < kSlots && i < lines.size(); ++i) {
            const QString& line = lines.at(i);
            slots.append(
                {leftCodePoints(line, kCaptionFromTextLength) + QStringLiteral("..."), line});
        }
    }
    return slots;
}

QStringList serialize(const QVector<MacroSlot>& slots)
{
    QStringList lines{header()};
    for (const MacroSlot& slot : slots)
        lines << slot.caption << slot.text;
    return lines;
}

bool write(const QString& path, const QVector<MacroSlot>& slots, QString* error)
{
    return TextFile::writeLines(path, serialize(slots), error);
}

} // namespace MacroSetFile
