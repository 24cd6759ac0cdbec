#pragma once

#include <QByteArray>
#include <cstdint>
#include <vector>

// Keyboard layouts made for one text, as an XKB symbols file, for a desktop that compiles layouts
// by name (GNOME's shell): every character the text needs on a key of its own, three levels a
// key, whatever the user's layout, so that each one arrives exactly. A text with more distinct
// characters than one layout holds is cut into parts, each laid out in a section of the file of
// its own ("p1", "p2", ...), so that all of them can be put in force at once as further layouts
// beside the user's. Characters go only on printable keys; Return and Tab keep their own keys.
// The sentinel, a key that types nothing, is pressed after each key of the text to learn that
// every key before it has been passed on; it means the same in the user's own layouts.
class TextLayout
{
public:
    // The keysym of the sentinel key.
    static constexpr uint32_t kSentinel = 0x1008ff49; // XF86Launch9
    // The most distinct characters one layout holds.
    static int capacity();
    // chars cut into parts that one layout each holds, in order.
    static std::vector<std::vector<char32_t>> parts(const std::vector<char32_t>& chars);
    // The name of the section that lays out part i.
    static QByteArray section(size_t i);
    // The keysym that types each of chars (U+000D is Return, U+0009 Tab).
    static std::vector<uint32_t> keysyms(const std::vector<char32_t>& chars);

    // Lays out each of parts in a section of its own; false when one does not fit or a character
    // has no keysym.
    bool build(const std::vector<std::vector<char32_t>>& parts);
    // The symbols file.
    QByteArray symbols() const { return m_symbols; }

private:
    bool buildSection(const std::vector<char32_t>& chars, const QByteArray& name);

    QByteArray m_symbols;
};
