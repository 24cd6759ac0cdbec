#pragma once

#include <QString>
#include <QVector>

// One macro button's caption and text.
struct MacroSlot
{
    QString caption;
    QString text;
    bool operator==(const MacroSlot& o) const { return caption == o.caption && text == o.text; }
};

// A macro set on disk, "<name>.mcs": the header line, then the caption and the text of each of
// the 48 buttons on lines of their own (97 lines). A file without the header is read in the
// text-only layout of older versions: one text per line, the caption made from the text.
namespace MacroSetFile {

constexpr int kSlots = 48;
constexpr int kCaptionFromTextLength = 13;

QString header();
QString extension();

// The records of the file at path, in button order, as far as the file holds them whole: a
// missing, empty or short file gives fewer than 48 (none at all for a missing or empty one), and
// a captioned record whose text line is missing is not given. Lines after the 48th record are
// never read. Reading reports nothing: what could not be read keeps its defaults.
QVector<MacroSlot> read(const QString& path);
// The records that lines (a file's lines, endings removed) hold, as read() gives them.
QVector<MacroSlot> parse(const QStringList& lines);
// The lines of the captioned layout for slots.
QStringList serialize(const QVector<MacroSlot>& slots);

// Replaces the file at path atomically with the 48 slots. False, with the reason, when it cannot
// be written; the old file is then left whole.
bool write(const QString& path, const QVector<MacroSlot>& slots, QString* error);

} // namespace MacroSetFile
