#pragma once

#include <QByteArray>
#include <cstdint>
#include <map>
#include <vector>

// Where a character stands on a keyboard map made for one text.
struct VirtualKey
{
    uint32_t code = 0;    // evdev key code
    uint32_t group = 0;   // 0 to 3
    bool shifted = false; // on the second level
};

// A keyboard map made for one text, for a virtual keyboard: every character the text needs on a
// key of its own, whatever the user's layout, so that each one arrives exactly. Characters go only
// on the keys of ordinary printable characters, never on the codes of Backspace, Escape,
// modifiers or function keys, which some programs act on by code; Return and Tab stand on their
// own keys. Each key holds four groups of two levels.
class VirtualKeymap
{
public:
    // The most distinct characters one map holds.
    static int capacity();
    // Lays out chars (U+000D is Return, U+0009 Tab); false when they do not fit or one has no
    // keysym.
    bool build(const std::vector<char32_t>& chars);
    // The map in XKB's text form, ending in the NUL the protocol wants.
    QByteArray text() const { return m_text; }
    VirtualKey keyFor(char32_t c) const { return m_keys.at(c); }

private:
    std::map<char32_t, VirtualKey> m_keys;
    QByteArray m_text;
};
