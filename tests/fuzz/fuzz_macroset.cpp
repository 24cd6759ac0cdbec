// Any bytes read as a macro-set file: no crash, at most 48 records, and what the writer makes of
// them reads back the same.
#include "MacroSetFile.h"
#include "TextFile.h"

#include <QStringList>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QVector<MacroSlot> slots =
        MacroSetFile::parse(TextFile::splitLines(TextFile::decode(bytes)));
    if (slots.size() > MacroSetFile::kSlots)
        std::abort();
    const QByteArray written = TextFile::render(MacroSetFile::serialize(slots));
    if (MacroSetFile::parse(TextFile::splitLines(TextFile::decode(written))) != slots)
        std::abort();
    return 0;
}
