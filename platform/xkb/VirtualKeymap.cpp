#include "VirtualKeymap.h"

#include "PrintableKeys.h"

#include <array>
#include <set>
#include <xkbcommon/xkbcommon.h>

namespace {
constexpr uint32_t kReturn = 28;
constexpr uint32_t kTab = 15;
constexpr int kGroups = 4;
constexpr int kLevels = 2;
// XKB numbers keys 8 above evdev.
constexpr uint32_t kXkbOffset = 8;

QByteArray symbolName(xkb_keysym_t sym)
{
    char name[64];
    xkb_keysym_get_name(sym, name, sizeof name);
    return name;
}
} // namespace

int VirtualKeymap::capacity()
{
    return static_cast<int>(kPrintableKeys.size()) * kGroups * kLevels;
}

bool VirtualKeymap::build(const std::vector<char32_t>& chars)
{
    m_keys.clear();
    std::set<char32_t> distinct(chars.begin(), chars.end());
    distinct.erase(U'\r');
    distinct.erase(U'\t');
    if (static_cast<int>(distinct.size()) > capacity())
        return false;
    // symbols[code][group][level]
    std::map<uint32_t, std::array<std::array<xkb_keysym_t, kLevels>, kGroups>> symbols;
    int slot = 0;
    for (char32_t c : distinct) {
        const xkb_keysym_t sym = xkb_utf32_to_keysym(c);
        if (sym == XKB_KEY_NoSymbol)
            return false;
        // The first level of every key in every group first: most characters need no Shift.
        const VirtualKey key{kPrintableKeys[static_cast<size_t>(slot) % kPrintableKeys.size()].code,
                             static_cast<uint32_t>(slot / kPrintableKeys.size()) % kGroups,
                             slot >= static_cast<int>(kPrintableKeys.size()) * kGroups};
        symbols[key.code][key.group][key.shifted ? 1 : 0] = sym;
        m_keys[c] = key;
        ++slot;
    }
    m_keys[U'\r'] = {kReturn, 0, false};
    m_keys[U'\t'] = {kTab, 0, false};

    QByteArray keycodes = "xkb_keycodes \"keyflare\" {\n minimum = 8;\n maximum = 255;\n";
    QByteArray lines;
    const auto declare = [&](uint32_t code) {
        keycodes += " <K" + QByteArray::number(code) +
                    "> = " + QByteArray::number(code + kXkbOffset) + ";\n";
    };
    for (const auto& [code, groups] : symbols) {
        declare(code);
        lines += " key <K" + QByteArray::number(code) + "> { type = \"TWO_LEVEL\"";
        for (int g = 0; g < kGroups; ++g) {
            const auto& levels = groups[static_cast<size_t>(g)];
            if (levels[0] == XKB_KEY_NoSymbol && levels[1] == XKB_KEY_NoSymbol)
                continue;
            lines += ", symbols[Group" + QByteArray::number(g + 1) + "] = [ " +
                     symbolName(levels[0]) + ", " + symbolName(levels[1]) + " ]";
        }
        lines += " };\n";
    }
    declare(kReturn);
    declare(kTab);
    lines += " key <K" + QByteArray::number(kReturn) + "> { [ Return ] };\n";
    lines += " key <K" + QByteArray::number(kTab) + "> { [ Tab ] };\n";
    m_text = "xkb_keymap {\n" + keycodes +
             "};\nxkb_types \"keyflare\" { include \"complete\" };\n"
             "xkb_compatibility \"keyflare\" { include \"complete\" };\n"
             "xkb_symbols \"keyflare\" {\n" +
             lines + "};\n};\n";
    m_text.append('\0');
    return true;
}
