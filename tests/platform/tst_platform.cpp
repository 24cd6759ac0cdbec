// The platform's pure logic: keystroke strings, window matching, key planning on real layouts,
// titles in COMPOUND_TEXT, and where the program keeps its files.
#include "DesktopServices.h"
#include "KeystrokeString.h"
#include "WindowMatch.h"
#include "wlroots/VirtualKeymap.h"
#include "x11/CompoundText.h"
#include "x11/KeyPacking.h"
#include "x11/KeyPlanner.h"
#include "x11/X11Connection.h"

#include <QDir>
#include <QTest>
#include <xkbcommon/xkbcommon.h>

namespace {
// Strokes as text: characters as themselves, Enter as "<E>", the Tab key as "<T>".
QString describe(const std::vector<KeyStroke>& strokes)
{
    QString out;
    for (const KeyStroke& s : strokes)
        out += s.kind == KeyStroke::Enter ? QStringLiteral("<E>")
               : s.kind == KeyStroke::Tab ? QStringLiteral("<T>")
                                          : QString::fromUcs4(&s.codePoint, 1);
    return out;
}

struct Keymap
{
    xkb_context* ctx = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    xkb_keymap* map = nullptr;
    explicit Keymap(const char* layout)
    {
        const xkb_rule_names names{"evdev", "pc105", layout, "", ""};
        map = xkb_keymap_new_from_names(ctx, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
    }
    ~Keymap()
    {
        xkb_keymap_unref(map);
        xkb_context_unref(ctx);
    }
};
constexpr uint8_t kShift = 1;
constexpr uint8_t kLock = 2;
constexpr uint8_t kMod2 = 16; // Num Lock on the usual maps
constexpr uint8_t kMod5 = 128;
} // namespace

class TestPlatform : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void parsesKeystrokeStrings_data();
    void parsesKeystrokeStrings();
    void choosesTargetWindow_data();
    void choosesTargetWindow();
    void packsBorrowedCharacters_data();
    void packsBorrowedCharacters();
    void detectsAMapChangeNotTaken_data();
    void detectsAMapChangeNotTaken();
    void laysOutVirtualKeymaps_data();
    void laysOutVirtualKeymaps();
    void plansEveryPrintableAscii_data();
    void plansEveryPrintableAscii();
    void decodesCompoundText_data();
    void decodesCompoundText();
    void choosesProgramFolder_data();
    void choosesProgramFolder();
};

// What escaping makes of any text is the fuzzer's part; here the key names and what is refused.
void TestPlatform::parsesKeystrokeStrings_data()
{
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QString>("strokes"); // "-" when refused
    QTest::newRow("key names in any case") << "a{ENTER}{tab}"
                                           << "a<E><T>";
    QTest::newRow("the TAB character is the Tab key") << "a\tb"
                                                      << "a<T>b";
    QTest::newRow("bare plus") << "a+b"
                               << "-";
    QTest::newRow("bare brace") << "{"
                                << "-";
    QTest::newRow("unterminated") << "{ENTER"
                                  << "-";
    QTest::newRow("unknown key") << "{F5}"
                                 << "-";
    QTest::newRow("bare closing") << "}"
                                  << "-";
    QTest::newRow("lone surrogate") << QString(QChar(0xD800)) << "-";
}

void TestPlatform::parsesKeystrokeStrings()
{
    QFETCH(QString, keys);
    QFETCH(QString, strokes);
    QString error;
    const auto got = parseKeystrokeString(keys, &error);
    QCOMPARE(got ? describe(*got) : QStringLiteral("-"), strokes);
    QCOMPARE(error.isEmpty(), got.has_value());
}

void TestPlatform::choosesTargetWindow_data()
{
    QTest::addColumn<QStringList>("titles"); // bottom to top; ids are 1, 2, ...
    QTest::addColumn<QString>("target");
    QTest::addColumn<int>("expected");
    const QStringList editors = {QStringLiteral("notes - Editor"), QStringLiteral("Notes"),
                                 QStringLiteral("NOTES")};
    QTest::newRow("exact beats case") << editors << QStringLiteral("Notes") << 2;
    QTest::newRow("case beats prefix") << editors << QStringLiteral("notes") << 3;
    QTest::newRow("prefix") << editors << QStringLiteral("notes - ed") << 1;
    QTest::newRow("topmost of equals")
        << QStringList{QStringLiteral("xterm"), QStringLiteral("xterm")} << QStringLiteral("xterm")
        << 2;
    QTest::newRow("pattern characters are literal")
        << QStringList{QStringLiteral("Report (1) [draft].txt"), QStringLiteral("Report 1 d.txt")}
        << QStringLiteral("Report (1) [draft]") << 1;
    QTest::newRow("dot is no wildcard")
        << QStringList{QStringLiteral("aXb")} << QStringLiteral("a.b") << 0;
    QTest::newRow("no match") << editors << QStringLiteral("Mail") << 0;
    QTest::newRow("empty target") << editors << QString() << 0;
    QTest::newRow("non-ASCII case")
        << QStringList{QStringLiteral("ÉTÉ Übersicht")} << QStringLiteral("été über") << 1;
}

void TestPlatform::choosesTargetWindow()
{
    QFETCH(QStringList, titles);
    QFETCH(QString, target);
    QFETCH(int, expected);
    std::vector<CandidateWindow> windows;
    for (int i = 0; i < titles.size(); ++i)
        windows.push_back({static_cast<quint32>(i + 1), titles[i], false});
    QCOMPARE(static_cast<int>(chooseTargetWindow(windows, target)), expected);

    // Keyflare's own windows never receive its keys, however well they match.
    for (CandidateWindow& w : windows)
        w.ownWindow = true;
    QCOMPARE(chooseTargetWindow(windows, target), 0u);
}

void TestPlatform::packsBorrowedCharacters_data()
{
    QTest::addColumn<QString>("chars");
    QTest::addColumn<QString>("groups"); // each group's two levels
    QTest::newRow("a letter with its capital") << "Жж"
                                               << "жЖ";
    QTest::newRow("a capital alone brings its small letter") << "Ж"
                                                             << "жЖ";
    QTest::newRow("two to a group, the odd one on both levels") << "中日本"
                                                                << "中日本本";
    QTest::newRow("an emoji") << "😀"
                              << "😀😀";
}

void TestPlatform::packsBorrowedCharacters()
{
    QFETCH(QString, chars);
    QFETCH(QString, groups);
    const QList<uint> ucs = chars.toUcs4();
    const std::vector<KeyPacking::Pair> pairs =
        KeyPacking::pairs(std::set<char32_t>(ucs.begin(), ucs.end()));
    QString got;
    for (const KeyPacking::Pair& p : pairs) {
        for (uint32_t sym : p) {
            const char32_t c = xkb_keysym_to_utf32(sym);
            got += QString::fromUcs4(&c, 1);
        }
    }
    QCOMPARE(got, groups);
    // Four groups to a keycode, in the columns of the core map.
    const std::vector<KeyPacking::Row> rows = KeyPacking::rows(pairs);
    QCOMPARE(rows.size(), (pairs.size() + 3) / 4);
    QCOMPARE(rows[0][1], pairs[0][1]);
}

void TestPlatform::detectsAMapChangeNotTaken_data()
{
    QTest::addColumn<QList<uint>>("held"); // what the server reports for the keycode
    QTest::addColumn<bool>("taken");
    const uint zhe = 0x6d6, ZHE = 0x6f6, omega = 0x7f9; // Cyrillic_zhe, Cyrillic_ZHE, Greek_omega
    QTest::newRow("as sent") << QList<uint>{zhe, ZHE, omega, omega, 0, 0, 0, 0} << true;
    QTest::newRow("a repeated symbol kept once")
        << QList<uint>{zhe, ZHE, omega, 0, 0, 0, 0, 0} << true;
    QTest::newRow("groups it does not use, filled")
        << QList<uint>{zhe, ZHE, omega, omega, zhe, ZHE, omega, omega} << true;
    QTest::newRow("refused: still empty") << QList<uint>{0, 0, 0, 0, 0, 0, 0, 0} << false;
    QTest::newRow("another program's change")
        << QList<uint>{zhe, omega, omega, omega, 0, 0, 0, 0} << false;
}

// A change of the map counts only when the server holds it afterwards.
void TestPlatform::detectsAMapChangeNotTaken()
{
    QFETCH(QList<uint>, held);
    QFETCH(bool, taken);
    X11Connection::CoreMap map;
    map.first = 8;
    map.perKeycode = KeyPacking::kColumns;
    map.syms.assign(held.begin(), held.end());
    const KeyPacking::Row sent{0x6d6, 0x6f6, 0x7f9, 0x7f9, 0, 0, 0, 0};
    QCOMPARE(X11Connection::rowHolds(map, 8, sent), taken);
}

void TestPlatform::laysOutVirtualKeymaps_data()
{
    QTest::addColumn<QString>("chars");
    QTest::addColumn<bool>("fits");
    QString ascii = QStringLiteral("\t\r");
    for (char c = 0x20; c < 0x7f; ++c)
        ascii += QLatin1Char(c);
    QString full;
    for (char32_t c = 0x4e00; full.size() < VirtualKeymap::capacity(); ++c)
        full += QString::fromUcs4(&c, 1);
    QTest::newRow("printable ASCII, Tab and Enter") << ascii << true;
    QTest::newRow("letters with their capitals, an emoji")
        << QString::fromUcs4(U"Жж Ωω éÉ ßẞ \U0001F600") << true;
    QTest::newRow("as many as fit, Shift for the last") << full << true;
    QTest::newRow("one more than fits") << full + "!" << false;
}

// Every character reads back as itself from the key, group and Shift the map gives it, with the
// map a receiver compiles; no character lands on the code of Backspace, Escape or a modifier.
void TestPlatform::laysOutVirtualKeymaps()
{
    QFETCH(QString, chars);
    QFETCH(bool, fits);
    const QList<uint> ucs = chars.toUcs4();
    const std::vector<char32_t> text(ucs.begin(), ucs.end());
    VirtualKeymap layout;
    QCOMPARE(layout.build(text), fits);
    if (!fits)
        return;
    xkb_context* ctx = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    xkb_keymap* map = xkb_keymap_new_from_string(
        ctx, layout.text().constData(), XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS);
    QVERIFY(map);
    xkb_state* state = xkb_state_new(map);
    QStringList wrong;
    for (char32_t c : text) {
        const VirtualKey key = layout.keyFor(c);
        xkb_state_update_mask(state, key.shifted ? kShift : 0, 0, 0, 0, 0, key.group);
        const char32_t got = xkb_state_key_get_utf32(state, key.code + 8);
        const bool reserved = key.code == 1 || key.code == 14 || key.code == 29 || key.code == 42 ||
                              key.code == 54 || key.code == 56 || key.code > 86;
        if (got != c || (reserved && c != U'\r'))
            wrong << QString::fromUcs4(&c, 1);
    }
    xkb_state_unref(state);
    xkb_keymap_unref(map);
    xkb_context_unref(ctx);
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(' ')));
}

void TestPlatform::plansEveryPrintableAscii_data()
{
    QTest::addColumn<QString>("layout");
    QTest::addColumn<uint>("group");
    QTest::addColumn<uint>("locked");
    QTest::newRow("us") << "us" << 0u << 0u;
    QTest::newRow("de") << "de" << 0u << 0u;
    QTest::newRow("fr") << "fr" << 0u << 0u;
    QTest::newRow("us,de first group") << "us,de" << 0u << 0u;
    QTest::newRow("us,de second group") << "us,de" << 1u << 0u;
    QTest::newRow("us caps and num lock") << "us" << 0u << uint(kLock | kMod2);
    QTest::newRow("de caps lock") << "de" << 0u << uint(kLock);
}

void TestPlatform::plansEveryPrintableAscii()
{
    QFETCH(QString, layout);
    QFETCH(uint, group);
    QFETCH(uint, locked);
    Keymap km(layout.toLatin1().constData());
    QVERIFY(km.map);
    const KeyPlanner planner(km.map, group, static_cast<uint8_t>(locked));
    xkb_state* state = xkb_state_new(km.map);
    QStringList missing;
    QStringList wrong;
    const std::u32string dead = U"^`~"; // dead keys on de and fr: typed through composition later
    for (char32_t c = 0x20; c < 0x7f; ++c) {
        const auto key = planner.keyFor(c);
        if (!key) {
            if (layout == QLatin1String("us") || dead.find(c) == std::u32string::npos)
                missing << QString(QChar(c));
            continue;
        }
        // What the receiver would decode from our key with our modifiers and the locked state.
        xkb_state_update_mask(state, key->mods, 0, locked, 0, 0, group);
        if (xkb_state_key_get_utf32(state, key->keycode) != c)
            wrong << QString(QChar(c));
        QVERIFY2((key->mods & ~(kShift | kMod5)) == 0, "only level modifiers are used");
    }
    xkb_state_unref(state);
    QVERIFY2(missing.isEmpty(), qPrintable(missing.join(QLatin1Char(' '))));
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(QLatin1Char(' '))));
    QVERIFY(planner.keyFor(U'\t').has_value());
    QVERIFY(planner.keyFor(U'\r').has_value());
}

void TestPlatform::choosesProgramFolder_data()
{
    QTest::addColumn<QString>("exeDir");
    QTest::addColumn<QString>("installedBinDir");
    QTest::addColumn<QString>("expected");
    const QString tmp = QDir::tempPath();
    QTest::newRow("portable copy") << tmp << "/usr/local/bin" << tmp + "/";
    QTest::newRow("installed copy") << tmp << tmp << "/home/u/.local/share/Keyflare/";
    QTest::newRow("system folder") << "/usr/bin"
                                   << "/opt/kf/bin"
                                   << "/home/u/.local/share/Keyflare/";
    QTest::newRow("root folder keeps one slash") << "/"
                                                 << "/usr/bin"
                                                 << "/";
}

void TestPlatform::choosesProgramFolder()
{
    QFETCH(QString, exeDir);
    QFETCH(QString, installedBinDir);
    QFETCH(QString, expected);
    QCOMPARE(ExecutableFolder::choose(exeDir, installedBinDir,
                                      QStringLiteral("/home/u/.local/share/Keyflare")),
             expected);
}

void TestPlatform::decodesCompoundText_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("Latin-1 by default") << QByteArray("caf\xe9") << "café";
    // What Xlib writes for "kf Жёлтый éclair 日本".
    QTest::newRow("as Xlib writes it") << QByteArray("kf \x1b-L\xb6\xf1\xdb\xe2\xeb\xd9 \x1b-A\xe9"
                                                     "clair \x1b$(BF|K\\")
                                       << "kf Жёлтый éclair 日本";
    QTest::newRow("UTF-8 segment") << QByteArray("a\x1b%G\xe2\x82\xac\x1b%@b") << "a€b";
    QTest::newRow("unknown set") << QByteArray("\x1b-Z\xe9") << QString(QChar(0xfffd));
    QTest::newRow("cut pair") << QByteArray("\x1b$(BF") << QString(QChar(0xfffd));
}

void TestPlatform::decodesCompoundText()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QCOMPARE(decodeCompoundText(bytes), text);
}

QTEST_GUILESS_MAIN(TestPlatform)
#include "tst_platform.moc"
