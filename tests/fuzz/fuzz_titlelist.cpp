// Any bytes read as a title list: no crash, at most 64 titles without blanks around them, and
// what the writer makes of them reads back the same.
#include "TextFile.h"
#include "TitleList.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QStringList titles = TitleList::parse(TextFile::splitLines(TextFile::decode(bytes)));
    if (titles.size() > TitleList::kReadLimit)
        std::abort();
    for (const QString& t : titles) {
        if (t.isEmpty() || t.startsWith(QLatin1Char(' ')) || t.endsWith(QLatin1Char(' ')))
            std::abort();
    }
    const QByteArray written = TextFile::render(titles);
    if (TitleList::parse(TextFile::splitLines(TextFile::decode(written))) != titles)
        std::abort();
    return 0;
}
