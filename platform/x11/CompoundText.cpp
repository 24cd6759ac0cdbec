#include "CompoundText.h"

#include <QStringDecoder>

namespace {

// A character set designated to GL (bytes 0x21-0x7E) or GR (bytes 0xA0-0xFF).
struct Charset
{
    QByteArray codec; // empty for ASCII in GL and Latin-1 in GR
    bool doubleByte = false;
};

QByteArray singleByteCodec(char final)
{
    switch (final) {
    case 'A':
        return {};
    case 'B':
        return "ISO-8859-2";
    case 'C':
        return "ISO-8859-3";
    case 'D':
        return "ISO-8859-4";
    case 'F':
        return "ISO-8859-7";
    case 'G':
        return "ISO-8859-6";
    case 'H':
        return "ISO-8859-8";
    case 'L':
        return "ISO-8859-5";
    case 'M':
        return "ISO-8859-9";
    case 'b':
        return "ISO-8859-15";
    default:
        return "unknown";
    }
}

// The double-byte sets in their EUC form, where both bytes have the high bit set.
QByteArray doubleByteCodec(char final)
{
    switch (final) {
    case 'A':
        return "GB2312";
    case 'B':
        return "EUC-JP";
    case 'C':
        return "EUC-KR";
    default:
        return "unknown";
    }
}

QString decodeWith(const QByteArray& codec, const QByteArray& bytes)
{
    QStringDecoder decoder(codec.constData());
    if (!decoder.isValid())
        return QString(QChar::ReplacementCharacter);
    const QString s = decoder.decode(bytes);
    return decoder.hasError() || s.isEmpty() ? QString(QChar::ReplacementCharacter) : s;
}

} // namespace

QString decodeCompoundText(const QByteArray& bytes)
{
    QString out;
    Charset gl;
    Charset gr;
    const qsizetype n = bytes.size();
    for (qsizetype i = 0; i < n; ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        if (b == 0x1b) {
            const QByteArray rest = bytes.mid(i + 1, 3);
            if (rest.startsWith("%G")) { // UTF-8 up to ESC % @
                const qsizetype end = bytes.indexOf("\x1b%@", i + 3);
                const qsizetype stop = end < 0 ? n : end;
                out += QString::fromUtf8(bytes.mid(i + 3, stop - i - 3));
                i = end < 0 ? n : end + 2;
            } else if (rest.size() >= 2 && rest[0] == '(') {
                gl.codec = rest[1] == 'B' || rest[1] == 'J' ? QByteArray() : QByteArray("unknown");
                gl.doubleByte = false;
                i += 2;
            } else if (rest.size() >= 2 && rest[0] == '-') {
                gr.codec = singleByteCodec(rest[1]);
                gr.doubleByte = false;
                i += 2;
            } else if (rest.size() >= 3 && rest[0] == '$' && (rest[1] == '(' || rest[1] == ')')) {
                Charset& target = rest[1] == '(' ? gl : gr;
                target.codec = doubleByteCodec(rest[2]);
                target.doubleByte = true;
                i += 3;
            } else if (rest.size() >= 2 && rest[0] == '$' && rest[1] >= 'A' && rest[1] <= 'C') {
                gl.codec = doubleByteCodec(rest[1]); // the short form of ESC $ ( F
                gl.doubleByte = true;
                i += 2;
            }
            continue;
        }
        const bool high = b >= 0x80;
        const Charset& set = high ? gr : gl;
        if (b < 0x20 || b == 0x7f || (b >= 0x80 && b < 0xa0)) {
            out += QChar(b); // controls: tab and newline are all a title holds
        } else if (set.doubleByte) {
            if (i + 1 >= n) {
                out += QChar(QChar::ReplacementCharacter);
                break;
            }
            const char pair[2] = {static_cast<char>(b | 0x80),
                                  static_cast<char>(bytes[i + 1] | 0x80)};
            out += decodeWith(set.codec, QByteArray(pair, 2));
            ++i;
        } else if (set.codec.isEmpty()) {
            out += QChar(b); // ASCII in GL, Latin-1 in GR
        } else {
            out += decodeWith(set.codec, QByteArray(1, static_cast<char>(b | (high ? 0 : 0x80))));
        }
    }
    return out;
}
