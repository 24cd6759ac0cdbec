// How each character is typed on the user's layouts, and the keyboard map made for a text: every
// expected key is written down from the layouts themselves (keycodes as the X server numbers
// them), so that a slip in planning fails here in milliseconds.
#include "Rows.h"
#include "TestFiles.h"
#include "TestTexts.h"
#include "xkb/KeyPlanner.h"
#include "xkb/TextLayout.h"
#include "xkb/VirtualKeymap.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <initializer_list>
#include <memory>
#include <tuple>
#include <xkbcommon/xkbcommon.h>

namespace {
constexpr uint8_t kShift = 1, kLock = 2, kMod2 = 16, kMod5 = 128; // AltGr is Mod5
constexpr int kNone = -1;

// Frees what libxkbcommon handed out, with the function given.
template <auto unref> struct Unref
{
    template <typename T> void operator()(T* p) const { unref(p); }
};
using KeymapPtr = std::unique_ptr<xkb_keymap, Unref<xkb_keymap_unref>>;
using StatePtr = std::unique_ptr<xkb_state, Unref<xkb_state_unref>>;
std::vector<char32_t> charactersOf(const QString& text)
{
    const QList<uint> chars = text.toUcs4();
    return {chars.begin(), chars.end()};
}
// The layouts, the group in force, the locked real modifiers (Lock for Caps Lock, Mod2 for Num
// Lock), the character, and its keycode (kNone: not on this layout) and modifiers.
using KeyRows = Rows<QString, int, int, uint, int, int>;

xkb_context* context()
{
    static xkb_context* c = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    return c;
}

KeymapPtr keymapFor(const char* layout)
{
    const xkb_rule_names names = {"evdev", "pc105", layout, "", ""};
    return KeymapPtr(xkb_keymap_new_from_names(context(), &names, XKB_KEYMAP_COMPILE_NO_FLAGS));
}

// Types want as GNOME's shell does: on the first key that has it in the layout in force, with
// Shift or the third-level shift (found the same way) held for the second or third level.
// Returns what the keymap then gives.
// Finds the first key that has sym in layout, and its level there, as the shell does.
bool find(xkb_keymap* keymap, xkb_layout_index_t layout, xkb_keysym_t sym, xkb_keycode_t* code,
          xkb_level_index_t* level)
{
    for (*code = 8; *code < 256; ++*code) {
        const xkb_level_index_t levels = xkb_keymap_num_levels_for_key(keymap, *code, layout);
        for (*level = 0; *level < levels; ++*level) {
            const xkb_keysym_t* syms = nullptr;
            if (xkb_keymap_key_get_syms_by_level(keymap, *code, layout, *level, &syms) == 1 &&
                syms[0] == sym)
                return true;
        }
    }
    return false;
}

xkb_keysym_t typedAs(xkb_keymap* keymap, xkb_layout_index_t layout, xkb_keysym_t want)
{
    const auto find = [&](xkb_keysym_t sym, xkb_keycode_t* code, xkb_level_index_t* level) {
        return ::find(keymap, layout, sym, code, level);
    };
    xkb_keycode_t code = 0, shift = 0;
    xkb_level_index_t level = 0, unused = 0;
    if (!find(want, &code, &level) || level > 2)
        return XKB_KEY_NoSymbol;
    const StatePtr state(xkb_state_new(keymap));
    xkb_state_update_mask(state.get(), 0, 0, 0, 0, 0, layout);
    if (level > 0) {
        if (!find(level == 1 ? XKB_KEY_Shift_L : XKB_KEY_ISO_Level3_Shift, &shift, &unused))
            return XKB_KEY_NoSymbol;
        xkb_state_update_key(state.get(), shift, XKB_KEY_DOWN);
    }
    return xkb_state_key_get_one_sym(state.get(), code);
}
} // namespace

class TestKeyPlanning : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void plansKeys_data()
    {
        KeyRows::columns();
        // One row for each character, with its keycode and modifiers.
        const auto rows = [](const char* layout, int group, int locked,
                             std::initializer_list<std::tuple<char32_t, int, int>> keys) {
            for (const auto& [c, keycode, mods] : keys)
                KeyRows::row(qPrintable(QString::asprintf("%s/%d/%d U+%04X", layout, group, locked,
                                                          unsigned(c))),
                             QString::fromLatin1(layout), group, locked, uint(c), keycode, mods);
        };
        rows("us", 0, 0, {{U'a', 38, 0}, {U'A', 38, kShift}, {U'@', 11, kShift}, {U' ', 65, 0}});
        rows("us", 0, 0, {{U'\r', 36, 0}, {U'\t', 23, 0}, {U'é', kNone, 0}});
        // de: Z and Y swapped, AltGr for @ and €, ß on its own key; ^ only as a dead key.
        rows("de", 0, 0, {{U'z', 29, 0}, {U'y', 52, 0}, {U'ß', 20, 0}, {U'°', 49, kShift}});
        rows("de", 0, 0, {{U'@', 24, kMod5}, {U'€', 26, kMod5}, {U'^', kNone, 0}});
        // fr: AZERTY, the digits shifted, é unshifted on the 2.
        rows("fr", 0, 0, {{U'a', 24, 0}, {U'1', 10, kShift}, {U'é', 11, 0}});
        // us,ru with Russian the group in force: its letters, and no Latin ones.
        rows("us,ru", 1, 0, {{U'ф', 38, 0}, {U'Ф', 38, kShift}, {U'a', kNone, 0}});
        rows("us,ru", 0, 0, {{U'ф', kNone, 0}});
        // Caps Lock on: a capital unshifted, a small letter with Shift, digits as they were.
        rows("us", 0, kLock, {{U'A', 38, 0}, {U'a', 38, kShift}, {U'1', 10, 0}});
        // Num Lock on: digits from the main row, never the keypad.
        rows("us", 0, kMod2, {{U'1', 10, 0}, {U'.', 60, 0}});
    }

    void plansKeys()
    {
        const auto [layout, group, locked, character, keycode, mods] = KeyRows::fetch();
        const KeymapPtr keymap = keymapFor(layout.toLatin1().constData());
        QVERIFY(keymap);
        const KeyPlanner planner(keymap.get(), uint32_t(group), uint8_t(locked));
        const std::optional<PlannedKey> key = planner.keyFor(char32_t(character));
        QCOMPARE(key ? int(key->keycode) : kNone, keycode);
        if (key)
            QCOMPARE(int(key->mods), mods);
    }

    void buildsATextKeymap_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("Latin, Return and Tab") << "Hello,\tworld!\r";
        QTest::newRow("scripts and symbols")
            << QString::fromUcs4(U"Жж Ωω გ こん 안녕 € “x” — ½ \U0001F600");
        QTest::newRow("letters and capitals") << "aAbBéÉßẞ";
    }

    // Every character of the text, typed with the key the map gives it, reads back as itself when
    // the map is compiled as a receiver compiles it.
    void buildsATextKeymap()
    {
        QFETCH(QString, text);
        const std::vector<char32_t> chars = charactersOf(text);
        VirtualKeymap map;
        QVERIFY(map.build(chars));
        const KeymapPtr keymap(xkb_keymap_new_from_string(context(), map.text().constData(),
                                                          XKB_KEYMAP_FORMAT_TEXT_V1,
                                                          XKB_KEYMAP_COMPILE_NO_FLAGS));
        QVERIFY(keymap);
        const StatePtr state(xkb_state_new(keymap.get()));
        for (const char32_t c : chars) {
            const VirtualKey key = map.keyFor(c);
            xkb_state_update_mask(state.get(), key.shifted ? 1 : 0, 0, 0, 0, 0, key.group);
            const xkb_keycode_t code = key.code + 8;
            const xkb_keysym_t sym = xkb_state_key_get_one_sym(state.get(), code);
            if (c == U'\r' || c == U'\t')
                QCOMPARE(sym,
                         c == U'\r' ? xkb_keysym_t(XKB_KEY_Return) : xkb_keysym_t(XKB_KEY_Tab));
            else
                QCOMPARE(uint(xkb_state_key_get_utf32(state.get(), code)), uint(c));
        }
    }

    void buildsATextLayout_data()
    {
        using R = Rows<QString, QString>; // the text, the user's layouts (empty: none)
        R::columns();
        const QString many = chineseText(300);
        const QString scripts = QString::fromUcs4(U"Жж Ωω გ こん 안녕 € “x” — ½ \U0001F600 \\|~@");
        R::row("beside one layout", scripts, "us,us");
        R::row("beside de and ru", scripts + "\tÄß\r", "de,ru,us");
        R::row("300 distinct: three parts beside one layout", many + "\r", "us");
        R::row("300 distinct: three parts alone", many, {});
    }

    // Compiled by name from the user's own folder of layouts, as GNOME's shell does, each part as a
    // further layout beside the user's: every character of the part arrives as itself in that
    // layout, typed as the shell types it, and so does the sentinel, also in the user's own
    // layouts; the user's own layouts and modifiers are what they were.
    void buildsATextLayout()
    {
        const auto [text, users] = Rows<QString, QString>::fetch();
        const auto parts = TextLayout::parts(charactersOf(text));
        QCOMPARE(int(parts.size()), text.size() > 200 ? 3 : 1);
        TextLayout layout;
        QVERIFY(layout.build(parts));
        // The layout beside the system's own, in one folder: libxkbcommon 1.5 loses the name of
        // each folder in which it looked for a file in vain.
        QTemporaryDir dir;
        const QString system = "/usr/share/X11/xkb/";
        for (const char* folder : {"rules", "keycodes", "types", "compat"})
            QVERIFY(QFile::link(system + folder, dir.filePath(folder)));
        QVERIFY(QDir(dir.path()).mkpath("symbols"));
        for (const QString& name : QDir(system + "symbols").entryList(QDir::Files))
            QFile::link(system + "symbols/" + name, dir.filePath("symbols/" + name));
        writeFile(dir.filePath("symbols/keyflare"), layout.symbols());
        const std::unique_ptr<xkb_context, Unref<xkb_context_unref>> own(
            xkb_context_new(XKB_CONTEXT_NO_DEFAULT_INCLUDES));
        xkb_context_include_path_append(own.get(), dir.path().toUtf8().constData());
        const auto compile = [&](const QByteArray& layouts, const QByteArray& variants) {
            const xkb_rule_names names = {"evdev", "pc105+inet", layouts.constData(),
                                          variants.constData(), "grp:alt_shift_toggle"};
            return KeymapPtr(xkb_keymap_new_from_names(own.get(), &names, {}));
        };
        QByteArrayList layouts = users.isEmpty() ? QByteArrayList() : users.toLatin1().split(',');
        QByteArrayList variants(layouts.size());
        const auto first = xkb_layout_index_t(layouts.size());
        layouts += QByteArrayList(qsizetype(parts.size()), "keyflare");
        for (size_t i = 0; i < parts.size(); ++i)
            variants << TextLayout::section(i);
        const KeymapPtr keymap = compile(layouts.join(','), variants.join(','));
        QVERIFY(keymap);
        QCOMPARE(xkb_keymap_num_layouts(keymap.get()), first + xkb_layout_index_t(parts.size()));
        for (size_t i = 0; i < parts.size(); ++i) {
            std::vector<xkb_keysym_t> wanted = TextLayout::keysyms(parts[i]);
            wanted.push_back(TextLayout::kSentinel);
            for (const xkb_keysym_t want : wanted)
                QCOMPARE(typedAs(keymap.get(), first + xkb_layout_index_t(i), want), want);
        }
        if (users.isEmpty())
            return;
        const KeymapPtr theirs = compile(users.toLatin1(), QByteArray(first - 1, ','));
        QVERIFY(theirs);
        // The user's keymap may come in between a key and the sentinel after it: the sentinel's
        // key then still gives the sentinel, and no character.
        xkb_keycode_t sentinel = 0;
        xkb_level_index_t sentinelLevel = 0;
        QVERIFY(find(keymap.get(), first, TextLayout::kSentinel, &sentinel, &sentinelLevel));
        const StatePtr user(xkb_state_new(theirs.get()));
        for (xkb_layout_index_t group = 0; group < first; ++group) {
            xkb_state_update_mask(user.get(), 0, 0, 0, 0, 0, group);
            QCOMPARE(xkb_state_key_get_one_sym(user.get(), sentinel),
                     xkb_keysym_t(TextLayout::kSentinel));
        }
        const StatePtr a(xkb_state_new(keymap.get())), b(xkb_state_new(theirs.get()));
        for (xkb_layout_index_t group = 0; group < first; ++group) {
            for (xkb_keycode_t code = 8; code < 256; ++code) {
                for (xkb_level_index_t level = 0; level < 4; ++level) {
                    const xkb_keysym_t *x = nullptr, *y = nullptr;
                    const int n =
                        xkb_keymap_key_get_syms_by_level(keymap.get(), code, group, level, &x);
                    QCOMPARE(
                        n, xkb_keymap_key_get_syms_by_level(theirs.get(), code, group, level, &y));
                    QVERIFY(n == 0 || x[0] == y[0]);
                }
                // What a key does to the modifiers (the right Alt, say) is the user's as well.
                for (auto* state : {a.get(), b.get()}) {
                    xkb_state_update_mask(state, 0, 0, 0, 0, 0, group);
                    xkb_state_update_key(state, code, XKB_KEY_DOWN);
                }
                QCOMPARE(xkb_state_serialize_mods(a.get(), XKB_STATE_MODS_EFFECTIVE),
                         xkb_state_serialize_mods(b.get(), XKB_STATE_MODS_EFFECTIVE));
                for (auto* state : {a.get(), b.get()})
                    xkb_state_update_key(state, code, XKB_KEY_UP);
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestKeyPlanning)
#include "tst_keyplanning.moc"
