// Any bytes read as a macro-set file and as a title list: no crash, at most 48 records and 64
// titles without blanks around them, and what the writers make of them reads back the same.
#include "MacroSetFile.h"
#include "TextFile.h"
#include "TitleList.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const auto lines = [](const QByteArray& b) {
        return TextFile::splitLines(TextFile::decode(b));
    };
    const QVector<MacroSlot> slots = MacroSetFile::parse(lines(bytes));
    const QStringList titles = TitleList::parse(lines(bytes));
    if (slots.size() > MacroSetFile::kSlots || titles.size() > TitleList::kReadLimit)
        std::abort();
    for (const QString& t : titles) {
        if (t.isEmpty() || t.startsWith(QLatin1Char(' ')) || t.endsWith(QLatin1Char(' ')))
            std::abort();
    }
    if (MacroSetFile::parse(lines(TextFile::render(MacroSetFile::serialize(slots)))) != slots ||
        TitleList::parse(lines(TextFile::render(titles))) != titles)
        std::abort();
    return 0;
}
