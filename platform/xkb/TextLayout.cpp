#include "TextLayout.h"

#include "PrintableKeys.h"

#include <array>
#include <set>
#include <xkbcommon/xkbcommon.h>

namespace {
// Shift gives the second level, the third-level shift the third.
constexpr int kLevels = 3;
constexpr size_t kCharacterKeys = kPrintableKeys.size();
// The sentinel's key: the one the user's own keymaps have it on (inet(evdev), which the evdev
// rules give every model, puts it on <FK18>), which types no character in any of them. The shell
// may put a keymap the user chooses in force between a key and the sentinel after it: the
// sentinel then still tells that the key has passed, where on a printable key it would type the
// user's character there.
constexpr char kSentinelKey[] = "FK18";

QByteArray symbolName(xkb_keysym_t sym)
{
    char name[64];
    xkb_keysym_get_name(sym, name, sizeof name);
    return name;
}

xkb_keysym_t keysymOf(char32_t c)
{
    if (c == U'\r')
        return XKB_KEY_Return;
    if (c == U'\t')
        return XKB_KEY_Tab;
    return xkb_utf32_to_keysym(c);
}

std::set<char32_t> distinct(const std::vector<char32_t>& chars)
{
    std::set<char32_t> out(chars.begin(), chars.end());
    out.erase(U'\r');
    out.erase(U'\t');
    return out;
}
} // namespace

int TextLayout::capacity()
{
    return static_cast<int>(kCharacterKeys) * kLevels;
}

std::vector<std::vector<char32_t>> TextLayout::parts(const std::vector<char32_t>& chars)
{
    std::vector<std::vector<char32_t>> out(1);
    std::set<char32_t> inPart;
    for (char32_t c : chars) {
        if (c != U'\r' && c != U'\t' && !inPart.count(c)) {
            if (static_cast<int>(inPart.size()) == capacity()) {
                out.emplace_back();
                inPart.clear();
            }
            inPart.insert(c);
        }
        out.back().push_back(c);
    }
    return out;
}

QByteArray TextLayout::section(size_t i)
{
    return "p" + QByteArray::number(qulonglong(i + 1));
}

bool TextLayout::build(const std::vector<std::vector<char32_t>>& parts)
{
    m_symbols.clear();
    for (size_t i = 0; i < parts.size(); ++i) {
        if (!buildSection(parts[i], section(i)))
            return false;
    }
    return true;
}

bool TextLayout::buildSection(const std::vector<char32_t>& chars, const QByteArray& name)
{
    const std::set<char32_t> all = distinct(chars);
    if (static_cast<int>(all.size()) > capacity())
        return false;
    std::array<std::array<xkb_keysym_t, kLevels>, kCharacterKeys> keys{};
    size_t slot = 0;
    for (char32_t c : all) {
        const xkb_keysym_t sym = keysymOf(c);
        if (sym == XKB_KEY_NoSymbol)
            return false;
        // The first level of every key first: most characters then need no modifier.
        keys[slot % kCharacterKeys][slot / kCharacterKeys] = sym;
        ++slot;
    }
    // The third level comes from the third-level shift that every keymap has (<LVL3>), never
    // from a key of the user's: the right Alt stays an Alt while the layout is in force.
    m_symbols += "xkb_symbols \"" + name + "\" {\n";
    for (size_t k = 0; k < kCharacterKeys && keys[k][0] != XKB_KEY_NoSymbol; ++k) {
        m_symbols +=
            QByteArray("    key <") + kPrintableKeys[k].name + "> { type = \"FOUR_LEVEL\", [ ";
        for (xkb_keysym_t sym : keys[k])
            m_symbols += symbolName(sym) + ", ";
        m_symbols += "NoSymbol ] };\n";
    }
    m_symbols +=
        QByteArray("    key <") + kSentinelKey + "> { [ " + symbolName(kSentinel) + " ] };\n};\n";
    return true;
}

std::vector<uint32_t> TextLayout::keysyms(const std::vector<char32_t>& chars)
{
    std::vector<uint32_t> out;
    out.reserve(chars.size());
    for (char32_t c : chars)
        out.push_back(keysymOf(c));
    return out;
}
