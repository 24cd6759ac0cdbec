#include "KeystrokeString.h"

bool isReservedKeystrokeCharacter(char32_t c)
{
    switch (c) {
    case U'~':
    case U'+':
    case U'^':
    case U'%':
    case U'(':
    case U')':
    case U'{':
    case U'}':
    case U'[':
    case U']':
        return true;
    default:
        return false;
    }
}

QString keystrokeString(const QString& text)
{
    QString keys;
    keys.reserve(text.size() * 3);
    for (const QChar c : text) {
        if (isReservedKeystrokeCharacter(c.unicode())) {
            keys += QLatin1Char('{');
            keys += c;
            keys += QLatin1Char('}');
        } else {
            keys += c;
        }
    }
    return keys;
}

namespace {

bool fail(QString* error, const QString& why)
{
    if (error)
        *error = why;
    return false;
}

// Decodes the UTF-16 string into code points; a lone surrogate half is refused, since typing it
// would send a character the text never held.
bool toCodePoints(const QString& s, std::u32string* out, QString* error)
{
    out->reserve(static_cast<size_t>(s.size()));
    for (qsizetype i = 0; i < s.size(); ++i) {
        const QChar c = s.at(i);
        if (c.isHighSurrogate() && i + 1 < s.size() && s.at(i + 1).isLowSurrogate()) {
            out->push_back(QChar::surrogateToUcs4(c, s.at(i + 1)));
            ++i;
        } else if (c.isSurrogate()) {
            return fail(error, QStringLiteral("a lone surrogate at position %1").arg(i));
        } else {
            out->push_back(c.unicode());
        }
    }
    return true;
}

} // namespace

std::optional<std::vector<KeyStroke>> parseKeystrokeString(const QString& keys, QString* error)
{
    std::u32string cps;
    if (!toCodePoints(keys, &cps, error))
        return std::nullopt;

    std::vector<KeyStroke> out;
    out.reserve(cps.size());
    for (size_t i = 0; i < cps.size(); ++i) {
        const char32_t c = cps[i];
        if (c == U'\t') {
            out.push_back({KeyStroke::Tab, 0});
        } else if (c != U'{') {
            if (isReservedKeystrokeCharacter(c)) {
                fail(error, QStringLiteral("a bare reserved character at position %1").arg(i));
                return std::nullopt;
            }
            out.push_back({KeyStroke::Character, c});
        } else if (i + 2 < cps.size() && isReservedKeystrokeCharacter(cps[i + 1]) &&
                   cps[i + 2] == U'}') {
            out.push_back({KeyStroke::Character, cps[i + 1]});
            i += 2;
        } else {
            const size_t close = cps.find(U'}', i + 1);
            if (close == std::u32string::npos) {
                fail(error, QStringLiteral("an unterminated brace at position %1").arg(i));
                return std::nullopt;
            }
            const QString name =
                QString::fromUcs4(cps.data() + i + 1, static_cast<qsizetype>(close - i - 1));
            if (name.compare(QLatin1String("ENTER"), Qt::CaseInsensitive) == 0) {
                out.push_back({KeyStroke::Enter, 0});
            } else if (name.compare(QLatin1String("TAB"), Qt::CaseInsensitive) == 0) {
                out.push_back({KeyStroke::Tab, 0});
            } else {
                fail(error, QStringLiteral("an unknown key name {%1}").arg(name));
                return std::nullopt;
            }
            i = close;
        }
    }
    return out;
}

std::optional<std::vector<char32_t>> keystrokeCharacters(const QString& keys, QString* error)
{
    const auto strokes = parseKeystrokeString(keys, error);
    if (!strokes)
        return std::nullopt;
    std::vector<char32_t> chars;
    chars.reserve(strokes->size());
    for (const KeyStroke& s : *strokes)
        chars.push_back(s.character());
    return chars;
}
