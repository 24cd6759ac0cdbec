#pragma once

#include <QString>
#include <optional>
#include <vector>

// One element of a keystroke string: a character to type, or the Enter or Tab key.
struct KeyStroke
{
    enum Kind
    {
        Character,
        Enter,
        Tab
    };
    Kind kind = Character;
    char32_t codePoint = 0; // for Character: a Unicode code point, never a surrogate half

    // The character the stroke types: U+000D for Enter, U+0009 for Tab.
    char32_t character() const { return kind == Enter ? U'\r' : kind == Tab ? U'\t' : codePoint; }

    bool operator==(const KeyStroke& other) const
    {
        return kind == other.kind && codePoint == other.codePoint;
    }
};

// Splits a keystroke string into its elements: plain characters, "{c}" for one of the ten
// reserved characters ~ + ^ % ( ) { } [ ], "{ENTER}" and "{TAB}". The TAB character is the Tab
// key. Returns nothing when the string is malformed (a bare reserved character, an unknown or
// unterminated brace, a lone surrogate), so that nothing of it is typed.
std::optional<std::vector<KeyStroke>> parseKeystrokeString(const QString& keys,
                                                           QString* error = nullptr);

// The characters keys types, Enter as U+000D and the Tab key as U+0009, as every backend takes
// them; nothing when keys is malformed, as parseKeystrokeString() tells.
std::optional<std::vector<char32_t>> keystrokeCharacters(const QString& keys,
                                                         QString* error = nullptr);

// True for the ten characters that stand for modifiers, groups and key names when bare.
bool isReservedKeystrokeCharacter(char32_t c);

// The keystroke string that types text literally: each reserved character is enclosed in braces,
// every other character (TAB included) is kept.
QString keystrokeString(const QString& text);
