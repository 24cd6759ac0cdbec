// The platform's pure logic: keystroke strings, window matching, key planning on real layouts, and
// where the program keeps its files.
#include "DesktopServices.h"
#include "KeystrokeString.h"
#include "WindowMatch.h"
#include "x11/CompoundText.h"
#include "x11/KeyPlanner.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <xkbcommon/xkbcommon.h>

using Strokes = std::vector<KeyStroke>;
Q_DECLARE_METATYPE(Strokes)

namespace {
Strokes chars(const std::u32string& s)
{
    Strokes out;
    for (char32_t c : s)
        out.push_back({KeyStroke::Character, c});
    return out;
}
const KeyStroke kEnter{KeyStroke::Enter, 0};
const KeyStroke kTab{KeyStroke::Tab, 0};

struct Keymap
{
    xkb_context* ctx = nullptr;
    xkb_keymap* map = nullptr;
    explicit Keymap(const char* layout)
    {
        ctx = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
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
    void refusesMalformedKeystrokeStrings_data();
    void refusesMalformedKeystrokeStrings();
    void choosesTargetWindow_data();
    void choosesTargetWindow();
    void plansEveryPrintableAscii_data();
    void plansEveryPrintableAscii();
    void decodesCompoundText_data();
    void decodesCompoundText();
    void survivesAGarbledSettingsFile();
    void choosesProgramFolder_data();
    void choosesProgramFolder();
};

void TestPlatform::parsesKeystrokeStrings_data()
{
    QTest::addColumn<QString>("keys");
    QTest::addColumn<Strokes>("expected");
    QTest::newRow("plain") << QStringLiteral("Hello") << chars(U"Hello");
    QTest::newRow("escapes") << QStringLiteral("a{+}b{%}{(}{)}{~}{^}{[}{]}")
                             << chars(U"a+b%()~^[]");
    QTest::newRow("braces") << QStringLiteral("{{}ENTER{}}") << chars(U"{ENTER}");
    QTest::newRow("enter and tab") << QStringLiteral("a{ENTER}{TAB}") << [] {
        Strokes s = chars(U"a");
        s.push_back(kEnter);
        s.push_back(kTab);
        return s;
    }();
    QTest::newRow("tab character") << QStringLiteral("a\tb") << [] {
        Strokes s = chars(U"a");
        s.push_back(kTab);
        s.push_back({KeyStroke::Character, U'b'});
        return s;
    }();
    QTest::newRow("beyond the BMP, one stroke per code point")
        << QString::fromUcs4(U"x\U0001F600y") << chars(U"x\U0001F600y");
    QTest::newRow("empty") << QString() << Strokes{};
}

void TestPlatform::parsesKeystrokeStrings()
{
    QFETCH(QString, keys);
    QFETCH(Strokes, expected);
    const auto got = parseKeystrokeString(keys);
    QVERIFY(got.has_value());
    QVERIFY(*got == expected);
}

void TestPlatform::refusesMalformedKeystrokeStrings_data()
{
    QTest::addColumn<QString>("keys");
    QTest::newRow("bare plus") << QStringLiteral("a+b");
    QTest::newRow("bare brace") << QStringLiteral("{");
    QTest::newRow("unterminated") << QStringLiteral("{ENTER");
    QTest::newRow("unknown key") << QStringLiteral("{F5}");
    QTest::newRow("bare closing") << QStringLiteral("}");
    QTest::newRow("lone surrogate") << QString(QChar(0xD800));
}

void TestPlatform::refusesMalformedKeystrokeStrings()
{
    QFETCH(QString, keys);
    QString error;
    QVERIFY(!parseKeystrokeString(keys, &error).has_value());
    QVERIFY(!error.isEmpty());
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

void TestPlatform::survivesAGarbledSettingsFile()
{
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.path().toLocal8Bit());
    QDir(home.path()).mkpath("Keyflare");
    QFile conf(home.filePath("Keyflare/Keyflare.conf"));
    QVERIFY(conf.open(QIODevice::WriteOnly));
    conf.write("[Settings]\nTop=\x01\xff\xfe garbage\nLeft=-99999999999999999999\n"
               "On%20Top=yes\n\0\0\0[[[\n=\n" +
               QByteArray(100000, 'x'));
    conf.close();
    QtSettingsStore store;
    store.read(QStringLiteral("Top"), QStringLiteral("0")); // whatever it makes of it, no crash
    QCOMPARE(store.read(QStringLiteral("Missing"), QStringLiteral("7")), QStringLiteral("7"));
    store.write(QStringLiteral("Top"), QStringLiteral("150"));
    QCOMPARE(QtSettingsStore().read(QStringLiteral("Top"), QStringLiteral("0")),
             QStringLiteral("150"));
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
    QTest::newRow("ASCII") << QByteArray("xterm") << "xterm";
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
