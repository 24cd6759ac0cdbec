// Any text as a keystroke string: no crash. Any text escaped for sending parses back into exactly
// its own characters, in order, the TAB character as the Tab key.
#include "KeystrokeString.h"

#include <QList>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text =
        QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    parseKeystrokeString(text);
    const auto strokes = parseKeystrokeString(keystrokeString(text));
    if (!strokes)
        std::abort();
    const QList<uint> expected = text.toUcs4();
    if (strokes->size() != static_cast<size_t>(expected.size()))
        std::abort();
    for (size_t i = 0; i < strokes->size(); ++i) {
        const KeyStroke& s = (*strokes)[i];
        const uint c = expected[static_cast<qsizetype>(i)];
        const bool same = c == '\t' ? s.kind == KeyStroke::Tab
                                    : s.kind == KeyStroke::Character && s.codePoint == c;
        if (!same)
            std::abort();
    }
    return 0;
}
