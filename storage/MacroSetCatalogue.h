#pragma once

#include <QString>
#include <QStringList>

// The macro sets in the program folder. Names match their files without regard to case, so that
// a name listed in capitals still finds its file and no two files differ in case alone.
namespace MacroSetCatalogue {

// The names of the macro-set files in folder, in name order without regard to case; the first is
// given in capitals. False, with the reason, when the folder cannot be listed.
bool list(const QString& folder, QStringList* names, QString* error);

// The file of the set called name: an existing file whose name differs only in case, else the
// file of that exact name.
QString path(const QString& folder, const QString& name);

// Why name cannot name a macro set (a path, a leading ".", control characters), or an empty string
// when it can.
QString refusal(const QString& name);

// base, or "base (2)", "base (3)" ..., the first that names no file in folder (in any case).
QString freeName(const QString& folder, const QString& base);

// Deletes the file of the set called name. A file that is already gone counts as deleted; false,
// with the reason, when it exists and cannot be deleted.
bool remove(const QString& folder, const QString& name, QString* error);

} // namespace MacroSetCatalogue
