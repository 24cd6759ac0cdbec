#include "TextFile.h"

#include <QFile>
#include <QSaveFile>
#include <QStringDecoder>
#include <array>
#include <cerrno>
#include <cstring>

namespace {

// Windows-1252 bytes 0x80 to 0x9F; the five bytes it leaves undefined keep their C1 code points,
// so that every byte reads as some character and writes back as the same byte.
constexpr std::array<char16_t, 32> kHighTable = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

int windows1252Byte(QChar c)
{
    const char16_t u = c.unicode();
    if (u < 0x80 || (u >= 0xA0 && u <= 0xFF))
        return u;
    for (size_t i = 0; i < kHighTable.size(); ++i) {
        if (kHighTable[i] == u)
            return static_cast<int>(0x80 + i);
    }
    return -1;
}

} // namespace

namespace TextFile {

bool isValidUtf8(const QByteArray& bytes)
{
    // Stateless, so that a sequence cut off at the end counts as invalid too.
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    const QString decoded = utf8.decode(bytes); // decode() is lazy until its result is used
    return !utf8.hasError();
}

QString decode(const QByteArray& bytes)
{
    if (isValidUtf8(bytes))
        return QString::fromUtf8(bytes); // drops one byte-order mark at the start
    QString out;
    out.reserve(bytes.size());
    for (const char b : bytes) {
        const auto u = static_cast<unsigned char>(b);
        out += QChar(u >= 0x80 && u < 0xA0 ? kHighTable[u - 0x80] : u);
    }
    return out;
}

bool fitsWindows1252(const QString& text)
{
    for (const QChar c : text) {
        if (windows1252Byte(c) < 0)
            return false;
    }
    return true;
}

QByteArray encode(const QString& text)
{
    if (fitsWindows1252(text)) {
        QByteArray out;
        out.reserve(text.size());
        bool high = false;
        for (const QChar c : text) {
            const int b = windows1252Byte(c);
            high = high || b >= 0x80;
            out += static_cast<char>(b);
        }
        // Windows-1252 bytes that happen to form valid UTF-8 ("Ã©", say) would read back as
        // other text; such a file is written in UTF-8 instead.
        if (!high || !isValidUtf8(out))
            return out;
    }
    // A leading U+FEFF would be taken for a byte-order mark and dropped; a real mark before it
    // keeps it.
    const QByteArray bom =
        text.startsWith(QChar(0xFEFF)) ? QByteArray("\xef\xbb\xbf") : QByteArray();
    return bom + text.toUtf8();
}

QStringList splitLines(const QString& text)
{
    QStringList lines;
    qsizetype start = 0;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text.at(i);
        if (c != QLatin1Char('\r') && c != QLatin1Char('\n'))
            continue;
        lines << text.mid(start, i - start);
        if (c == QLatin1Char('\r') && i + 1 < n && text.at(i + 1) == QLatin1Char('\n'))
            ++i;
        start = i + 1;
    }
    if (start < n)
        lines << text.mid(start);
    return lines;
}

bool readLines(const QString& path, QStringList* lines, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        if (error)
            *error = file.errorString();
        return false;
    }
    *lines = splitLines(decode(bytes));
    return true;
}

QByteArray render(const QStringList& lines)
{
    QString text;
    for (const QString& line : lines) {
        text += line;
        text += QLatin1String("\r\n");
    }
    return encode(text);
}

bool writeLines(const QString& path, const QStringList& lines, QString* error)
{
    const QByteArray bytes = render(lines);
    QSaveFile file(path);
    // Unbuffered, so that a full disk fails the write itself: a buffered write that fails only
    // when flushed lets commit() report success and put an empty file in place of the old one.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        *error = file.errorString();
        return false;
    }
    errno = 0;
    if (file.write(bytes) != bytes.size()) {
        const int code = errno;
        file.cancelWriting();
        *error = code != 0 ? QString::fromLocal8Bit(strerror(code)) : file.errorString();
        return false;
    }
    if (!file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}

} // namespace TextFile
