#pragma once

#include <QString>
#include <QStringList>

// The list of target titles, "Keyflare.ini" in the program folder: one title per line.
namespace TitleList {

constexpr int kReadLimit = 64; // lines read, blank ones included

QString fileName();
// The titles in the first 64 lines of the file, blanks around them removed, blank lines skipped.
// A missing or unreadable file gives the titles read so far, without a word.
QStringList read(const QString& path);
// The titles that lines (a file's lines, endings removed) hold, as read() gives them.
QStringList parse(const QStringList& lines);
// Writes titles, one per line; an empty list gives an empty file. False, with the reason, when
// the file cannot be written; the old file is then left whole.
bool write(const QString& path, const QStringList& titles, QString* error);

} // namespace TitleList
