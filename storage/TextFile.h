#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Keyflare's text files: lines ending in CR LF. A file that is valid UTF-8 is read as UTF-8 (a
// byte-order mark is dropped), any other as Windows-1252, the code page older versions wrote. A
// file is written in Windows-1252 when every character fits, otherwise in UTF-8, so files stay
// readable by older versions whenever they can be.
namespace TextFile {

// The text of bytes, decoded as above.
QString decode(const QByteArray& bytes);
// The bytes of text, encoded as above.
QByteArray encode(const QString& text);
// True when bytes are valid UTF-8 throughout.
bool isValidUtf8(const QByteArray& bytes);
// True when every character of text has a byte in Windows-1252.
bool fitsWindows1252(const QString& text);

// Splits text into lines. CR LF ends a line, and so does a lone CR or LF (files edited elsewhere);
// a last line without an ending counts, an empty remainder after the last ending does not.
QStringList splitLines(const QString& text);

// The bytes of a file holding lines, each ended by CR LF.
QByteArray render(const QStringList& lines);

// Reads the lines of the file at path. False, with the reason, when it cannot be read.
bool readLines(const QString& path, QStringList* lines, QString* error = nullptr);
// Replaces the file at path atomically with lines, each ended by CR LF: a failed write leaves the
// old file whole. False, with the reason, when it cannot be written.
bool writeLines(const QString& path, const QStringList& lines, QString* error);

} // namespace TextFile
