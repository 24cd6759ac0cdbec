#pragma once

#include <QByteArray>
#include <cstdint>
#include <vector>

// A keyboard layout made for one text, as an XKB symbols file, for a desktop that compiles
// layouts by name (GNOME's shell): every character the text needs on a key of its own, three
// levels a key, whatever the user's layout, so that each one arrives exactly. Characters go only
// on printable keys; Return and Tab keep their own keys. One key holds the sentinel, a key that
// no text types, pressed after the text to learn that every key before it has been passed on.
class TextLayout
{
public:
    // The keysym of the sentinel key.
    static constexpr uint32_t kSentinel = 0x1008ff49; // XF86Launch9
    // The most distinct characters one layout holds.
    static int capacity();
    // chars cut into parts that one layout each holds, in order.
    static std::vector<std::vector<char32_t>> parts(const std::vector<char32_t>& chars);

    // Lays out chars (U+000D is Return, U+0009 Tab); false when they do not fit or one has no
    // keysym.
    bool build(const std::vector<char32_t>& chars);
    // The layout, as the default section of a symbols file.
    QByteArray symbols() const { return m_symbols; }
    // The keysym that types each of chars, all laid out by build().
    std::vector<uint32_t> keysyms(const std::vector<char32_t>& chars) const;

private:
    QByteArray m_symbols;
};
