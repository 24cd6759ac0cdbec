#pragma once

#include <QString>

// The texts the typing tests and benchmarks send.

// Every character a US keyboard types, space to tilde.
inline QString printableAscii()
{
    QString s;
    for (char c = 0x20; c < 0x7f; ++c)
        s += QLatin1Char(c);
    return s;
}

// 238 characters, 146 of them distinct and outside the usual layouts: Cyrillic, Greek, Chinese,
// Japanese, Korean, Thai, symbols and an emoji.
inline const QString kAnyText =
    QStringLiteral("Привет, мир! Съешь же ещё этих мягких французских булок, да выпей чаю. "
                   "Ελληνικά: ζωή, φως, θάλασσα, ψυχή. "
                   "中文：你好世界，今天天气很好，我们去公园散步吧。春夏秋冬，山川草木，花鸟风月。"
                   "日本語：こんにちは、カタカナとひらがなを書く。한국어: 안녕하세요 반갑습니다. "
                   "ไทย: สวัสดีครับ ขอบคุณ ★☆♠♣♥♦€£¥§¶ 😀 Ready, 42 ok!!");

// prefix followed by Chinese characters from `from` on, every one distinct, up to length.
inline QString chineseText(int length, const QString& prefix = QString(), char32_t from = 0x4e00)
{
    QString t = prefix;
    for (char32_t c = from; t.size() < length; ++c)
        t += QString::fromUcs4(&c, 1);
    return t;
}
