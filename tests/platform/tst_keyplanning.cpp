// How each character is typed on the user's layouts, and the keyboard map made for a text: every
// expected key is written down from the layouts themselves (keycodes as the X server numbers
// them), so that a slip in planning fails here in milliseconds.
#include "xkb/KeyPlanner.h"
#include "xkb/TextLayout.h"
#include "xkb/VirtualKeymap.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <xkbcommon/xkbcommon.h>

namespace {
constexpr uint8_t kShift = 1, kLock = 2, kMod2 = 16, kMod5 = 128; // AltGr is Mod5
constexpr int kNone = -1;

struct KeymapDeleter
{
    void operator()(xkb_keymap* k) const { xkb_keymap_unref(k); }
};
using KeymapPtr = std::unique_ptr<xkb_keymap, KeymapDeleter>;

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
} // namespace

class TestKeyPlanning : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void plansKeys_data();
    void plansKeys();
    void buildsATextKeymap_data();
    void buildsATextKeymap();
    void buildsATextLayout_data();
    void buildsATextLayout();
};

void TestKeyPlanning::plansKeys_data()
{
    QTest::addColumn<QString>("layout");
    QTest::addColumn<int>("group");
    QTest::addColumn<int>("locked"); // locked real modifiers: Lock (Caps Lock), Mod2 (Num Lock)
    QTest::addColumn<uint>("character");
    QTest::addColumn<int>("keycode"); // kNone: not on this layout
    QTest::addColumn<int>("mods");
    const auto row = [](const char* layout, int group, int locked, char32_t c, int keycode,
                        int mods) {
        QTest::addRow("%s/%d/%d U+%04X", layout, group, locked, unsigned(c))
            << QString::fromLatin1(layout) << group << locked << uint(c) << keycode << mods;
    };
    row("us", 0, 0, U'a', 38, 0);
    row("us", 0, 0, U'A', 38, kShift);
    row("us", 0, 0, U'@', 11, kShift);
    row("us", 0, 0, U'\r', 36, 0);
    row("us", 0, 0, U'\t', 23, 0);
    row("us", 0, 0, U' ', 65, 0);
    row("us", 0, 0, U'é', kNone, 0);
    // de: Z and Y swapped, AltGr for @ and €, ß on its own key; ^ only as a dead key.
    row("de", 0, 0, U'z', 29, 0);
    row("de", 0, 0, U'y', 52, 0);
    row("de", 0, 0, U'@', 24, kMod5);
    row("de", 0, 0, U'€', 26, kMod5);
    row("de", 0, 0, U'ß', 20, 0);
    row("de", 0, 0, U'°', 49, kShift);
    row("de", 0, 0, U'^', kNone, 0);
    // fr: AZERTY, the digits shifted, é unshifted on the 2.
    row("fr", 0, 0, U'a', 24, 0);
    row("fr", 0, 0, U'1', 10, kShift);
    row("fr", 0, 0, U'é', 11, 0);
    // us,ru with Russian the group in force: its letters, and no Latin ones.
    row("us,ru", 1, 0, U'ф', 38, 0);
    row("us,ru", 1, 0, U'Ф', 38, kShift);
    row("us,ru", 1, 0, U'a', kNone, 0);
    row("us,ru", 0, 0, U'ф', kNone, 0);
    // Caps Lock on: a capital unshifted, a small letter with Shift, digits as they were.
    row("us", 0, kLock, U'A', 38, 0);
    row("us", 0, kLock, U'a', 38, kShift);
    row("us", 0, kLock, U'1', 10, 0);
    // Num Lock on: digits from the main row, never the keypad.
    row("us", 0, kMod2, U'1', 10, 0);
    row("us", 0, kMod2, U'.', 60, 0);
}

void TestKeyPlanning::plansKeys()
{
    QFETCH(QString, layout);
    QFETCH(int, group);
    QFETCH(int, locked);
    QFETCH(uint, character);
    QFETCH(int, keycode);
    QFETCH(int, mods);
    const KeymapPtr keymap = keymapFor(layout.toLatin1().constData());
    QVERIFY(keymap);
    const KeyPlanner planner(keymap.get(), uint32_t(group), uint8_t(locked));
    const std::optional<PlannedKey> key = planner.keyFor(char32_t(character));
    QCOMPARE(key ? int(key->keycode) : kNone, keycode);
    if (key)
        QCOMPARE(int(key->mods), mods);
}

void TestKeyPlanning::buildsATextKeymap_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("Latin, Return and Tab") << QStringLiteral("Hello,\tworld!\r");
    QTest::newRow("scripts and symbols")
        << QString::fromUcs4(U"Жж Ωω გ こん 안녕 € “x” — ½ \U0001F600");
    QTest::newRow("letters and capitals") << QStringLiteral("aAbBéÉßẞ");
}

// Every character of the text, typed with the key the map gives it, reads back as itself when
// the map is compiled as a receiver compiles it.
void TestKeyPlanning::buildsATextKeymap()
{
    QFETCH(QString, text);
    std::vector<char32_t> chars;
    for (const char32_t c : text.toUcs4())
        chars.push_back(c);
    VirtualKeymap map;
    QVERIFY(map.build(chars));
    const KeymapPtr keymap(xkb_keymap_new_from_string(
        context(), map.text().constData(), XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS));
    QVERIFY(keymap);
    std::unique_ptr<xkb_state, void (*)(xkb_state*)> state(xkb_state_new(keymap.get()),
                                                           xkb_state_unref);
    for (const char32_t c : chars) {
        const VirtualKey key = map.keyFor(c);
        xkb_state_update_mask(state.get(), key.shifted ? 1 : 0, 0, 0, 0, 0, key.group);
        const xkb_keycode_t code = key.code + 8;
        const xkb_keysym_t sym = xkb_state_key_get_one_sym(state.get(), code);
        if (c == U'\r' || c == U'\t')
            QCOMPARE(sym, c == U'\r' ? xkb_keysym_t(XKB_KEY_Return) : xkb_keysym_t(XKB_KEY_Tab));
        else
            QCOMPARE(uint(xkb_state_key_get_utf32(state.get(), code)), uint(c));
    }
}

void TestKeyPlanning::buildsATextLayout_data()
{
    buildsATextKeymap_data();
    QString many;
    for (char32_t c = 0x4e00; c < 0x4e00 + 300; ++c)
        many += QString::fromUcs4(&c, 1);
    QTest::newRow("300 distinct: three parts") << many + QStringLiteral("\r");
}

// Compiled by name from the user's own folder of layouts, as GNOME's shell does, each part's
// layout holds every character of the part on the first three levels of a printable key, where
// the shell finds it by its symbol, and the sentinel on a key of its own.
void TestKeyPlanning::buildsATextLayout()
{
    QFETCH(QString, text);
    std::vector<char32_t> chars;
    for (const char32_t c : text.toUcs4())
        chars.push_back(c);
    const auto parts = TextLayout::parts(chars);
    QCOMPARE(int(parts.size()), text.size() > 200 ? 3 : 1);
    for (const auto& part : parts) {
        TextLayout layout;
        QVERIFY(layout.build(part));
        // The layout beside the system's own, in one folder: libxkbcommon 1.5 loses the name of
        // each folder in which it looked for a file in vain.
        QTemporaryDir dir;
        const QString system = QStringLiteral("/usr/share/X11/xkb");
        for (const char* folder : {"rules", "keycodes", "types", "compat"})
            QVERIFY(QFile::link(system + QLatin1Char('/') + QLatin1String(folder),
                                dir.filePath(QLatin1String(folder))));
        QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("symbols")));
        for (const QString& name : QDir(system + QStringLiteral("/symbols")).entryList(QDir::Files))
            QFile::link(system + QStringLiteral("/symbols/") + name,
                        dir.filePath(QStringLiteral("symbols/") + name));
        QFile file(dir.filePath(QStringLiteral("symbols/keyflare")));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(layout.symbols()) > 0);
        file.close();
        std::unique_ptr<xkb_context, void (*)(xkb_context*)> own(
            xkb_context_new(XKB_CONTEXT_NO_DEFAULT_INCLUDES), xkb_context_unref);
        xkb_context_include_path_append(own.get(), dir.path().toUtf8().constData());
        const xkb_rule_names names = {"evdev", "pc105", "keyflare", "", ""};
        const KeymapPtr keymap(xkb_keymap_new_from_names(own.get(), &names, {}));
        QVERIFY(keymap);
        QCOMPARE(xkb_keymap_num_layouts(keymap.get()), 1u);
        std::vector<xkb_keysym_t> wanted = layout.keysyms(part);
        wanted.push_back(TextLayout::kSentinel);
        for (const xkb_keysym_t want : wanted) {
            bool found = false;
            for (xkb_keycode_t kc = 8; kc < 256 && !found; ++kc) {
                for (xkb_level_index_t level = 0; level < 3 && !found; ++level) {
                    const xkb_keysym_t* syms = nullptr;
                    found =
                        xkb_keymap_key_get_syms_by_level(keymap.get(), kc, 0, level, &syms) == 1 &&
                        syms[0] == want;
                }
            }
            QVERIFY2(found, qPrintable(QString::number(want, 16)));
        }
    }
}

QTEST_GUILESS_MAIN(TestKeyPlanning)
#include "tst_keyplanning.moc"
