// The files Keyflare keeps: encodings, line ends and the title list.
#include "MacroSetCatalogue.h"
#include "MacroSetFile.h"
#include "ReadOnlyFolder.h"
#include "TextFile.h"
#include "TitleList.h"

#include <QTemporaryDir>
#include <QTest>

namespace {
QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}
void writeAll(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}
} // namespace

class TestStorage : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void decodesAndEncodes_data();
    void decodesAndEncodes();
    void splitsLines_data();
    void splitsLines();
    void readsTitleList_data();
    void readsTitleList();
    void writesTitleList_data();
    void writesTitleList();
    void failedWriteKeepsOldFile();
    void fullDiskKeepsOldFile();
    void survivesBinaryFiles();
    void writesDefaultMacroSetByteForByte();
    void roundTripsMacroSets_data();
    void roundTripsMacroSets();
    void readsMacroSetLayouts_data();
    void readsMacroSetLayouts();
    void listsCatalogue();
    void resolvesNamesWithoutCase();
    void refusesNamesThatArePaths_data();
    void refusesNamesThatArePaths();
    void deletesMacroSets();
};

using Slots = QVector<MacroSlot>;
Q_DECLARE_METATYPE(Slots)

namespace {
Slots defaults()
{
    Slots out;
    for (int k = 1; k <= 48; ++k)
        out.append({QStringLiteral("Number %1").arg(k), QString::number(k)});
    return out;
}
} // namespace

void TestStorage::decodesAndEncodes_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("written"); // how the text is written back
    QTest::newRow("ASCII") << QByteArray("abc") << "abc" << QByteArray("abc");
    QTest::newRow("Windows-1252 stays Windows-1252")
        << QByteArray("Gr\xfc\xdf \x80 \x93q\x94") << "Grüß € “q”"
        << QByteArray("Gr\xfc\xdf \x80 \x93q\x94");
    QTest::newRow("UTF-8 that fits Windows-1252 is written in Windows-1252")
        << QByteArray("Gr\xc3\xbc\xc3\x9f") << "Grüß" << QByteArray("Gr\xfc\xdf");
    QTest::newRow("UTF-8 beyond Windows-1252 stays UTF-8")
        << QByteArray("\xd0\x9f\xd1\x80\xd0\xb8 \xe2\x82\xac") << "При €"
        << QByteArray("\xd0\x9f\xd1\x80\xd0\xb8 \xe2\x82\xac");
    QTest::newRow("byte-order mark dropped")
        << QByteArray("\xef\xbb\xbfx") << "x" << QByteArray("x");
    QTest::newRow("undefined Windows-1252 byte survives")
        << QByteArray("a\x81z") << QString::fromUtf16(u"a\u0081z") << QByteArray("a\x81z");
    // Found by fuzzing: Windows-1252 bytes that form valid UTF-8 must not be written as such.
    QTest::newRow("Windows-1252 text whose bytes would read as UTF-8 is written in UTF-8")
        << QByteArray("~\xc3\x9d\xe2\x80\xb0") << "~Ý‰" << QByteArray("~\xc3\x9d\xe2\x80\xb0");
    QTest::newRow("a leading U+FEFF survives")
        << QByteArray("\xef\xbb\xbf\xef\xbb\xbfx") << QString(QChar(0xfeff)) + "x"
        << QByteArray("\xef\xbb\xbf\xef\xbb\xbfx");
    QTest::newRow("invalid UTF-8 inside valid UTF-8 reads as Windows-1252")
        << QByteArray("\xc3\xa9 \xe9") << "Ã© é" << QByteArray("\xc3\xa9 \xe9");
}

void TestStorage::decodesAndEncodes()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QFETCH(QByteArray, written);
    QCOMPARE(TextFile::decode(bytes), text);
    QCOMPARE(TextFile::encode(text), written);
    QCOMPARE(TextFile::decode(TextFile::encode(text)), text);
}

void TestStorage::splitsLines_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("CR LF") << "a\r\nb\r\n" << QStringList{"a", "b"};
    QTest::newRow("last line without ending") << "a\r\nb" << QStringList{"a", "b"};
    QTest::newRow("LF only") << "a\nb\n" << QStringList{"a", "b"};
    QTest::newRow("CR only") << "a\rb\r" << QStringList{"a", "b"};
    QTest::newRow("empty lines kept") << "\r\n\r\nx\r\n" << QStringList{"", "", "x"};
    QTest::newRow("empty text") << "" << QStringList{};
    QTest::newRow("tab is content") << "a\tb\r\n" << QStringList{"a\tb"};
}

void TestStorage::splitsLines()
{
    QFETCH(QString, text);
    QFETCH(QStringList, lines);
    QCOMPARE(TextFile::splitLines(text), lines);
}

void TestStorage::readsTitleList_data()
{
    QTest::addColumn<QByteArray>("file"); // "<none>" for no file
    QTest::addColumn<QStringList>("titles");
    QTest::newRow("no file") << QByteArray("<none>") << QStringList{};
    QTest::newRow("empty file") << QByteArray() << QStringList{};
    QTest::newRow("blanks and trimming") << QByteArray("  Notes  \r\n\r\n   \r\n\tTabbed\r\nLast")
                                         << QStringList{"Notes", "\tTabbed", "Last"};
    QTest::newRow("duplicates kept") << QByteArray("a\r\na\r\n") << QStringList{"a", "a"};
    QByteArray seventy;
    QStringList sixtyFour;
    for (int i = 1; i <= 70; ++i) {
        seventy += "Title " + QByteArray::number(i) + "\r\n";
        if (i <= 64)
            sixtyFour << QStringLiteral("Title %1").arg(i);
    }
    QTest::newRow("70 lines load 64") << seventy << sixtyFour;
    QByteArray blanksFirst = QByteArray("\r\n").repeated(63) + "sixty-four\r\nsixty-five\r\n";
    QTest::newRow("blank lines count towards 64") << blanksFirst << QStringList{"sixty-four"};
    QTest::newRow("Windows-1252") << QByteArray("Caf\xe9 \x96 Men\xfc\r\n")
                                  << QStringList{"Café – Menü"};
    QTest::newRow("UTF-8") << QByteArray("Caf\xc3\xa9 \xd0\x96\r\n") << QStringList{"Café Ж"};
}

void TestStorage::readsTitleList()
{
    QFETCH(QByteArray, file);
    QFETCH(QStringList, titles);
    QTemporaryDir dir;
    const QString path = dir.filePath(TitleList::fileName());
    if (file != "<none>")
        writeAll(path, file);
    QCOMPARE(TitleList::read(path), titles);
}

void TestStorage::writesTitleList_data()
{
    QTest::addColumn<QStringList>("titles");
    QTest::addColumn<QByteArray>("file");
    QTest::newRow("empty list, empty file") << QStringList{} << QByteArray();
    QTest::newRow("CR LF after every line")
        << QStringList{"a", "b c"} << QByteArray("a\r\nb c\r\n");
    QTest::newRow("Windows-1252") << QStringList{"Café"} << QByteArray("Caf\xe9\r\n");
    QTest::newRow("UTF-8 when needed")
        << QStringList{"Café", "日本"} << QByteArray("Caf\xc3\xa9\r\n\xe6\x97\xa5\xe6\x9c\xac\r\n");
}

void TestStorage::writesTitleList()
{
    QFETCH(QStringList, titles);
    QFETCH(QByteArray, file);
    QTemporaryDir dir;
    const QString path = dir.filePath(TitleList::fileName());
    writeAll(path, "old contents that are longer\r\n");
    QString error;
    QVERIFY(TitleList::write(path, titles, &error));
    QCOMPARE(readAll(path), file);
    QCOMPARE(TitleList::read(path), titles);
}

void TestStorage::failedWriteKeepsOldFile()
{
    ReadOnlyFolder folder;
    folder.put(TitleList::fileName(), "old\r\n");
    if (!folder.lock())
        QSKIP("cannot make a read-only folder here");
    QString error;
    QVERIFY(!TitleList::write(folder.path() + TitleList::fileName(), {"new"}, &error));
    QVERIFY(!error.isEmpty());
    QCOMPARE(readAll(folder.path() + TitleList::fileName()), QByteArray("old\r\n"));
}

void TestStorage::fullDiskKeepsOldFile()
{
    ReadOnlyFolder folder;
    folder.put("set.mcs", "[Keyflare 1.07]\r\nold\r\nold\r\n");
    if (!folder.fill())
        QSKIP("cannot make a full file system here (needs root)");
    Slots big = defaults();
    for (MacroSlot& slot : big)
        slot.text = QString(240, 'x');
    QString error;
    QVERIFY(!MacroSetFile::write(folder.path() + "set.mcs", big, &error));
    QVERIFY(!error.isEmpty());
    QCOMPARE(readAll(folder.path() + "set.mcs"), QByteArray("[Keyflare 1.07]\r\nold\r\nold\r\n"));
}

void TestStorage::survivesBinaryFiles()
{
    QTemporaryDir dir;
    quint32 seed = 12345;
    for (int round = 0; round < 20; ++round) {
        QByteArray junk;
        for (int i = 0; i < 4096; ++i) {
            seed = seed * 1103515245u + 12345u;
            junk += static_cast<char>(seed >> 24);
        }
        if (round % 2)
            junk.prepend("[Keyflare 1.07]\r\n");
        writeAll(dir.filePath("junk.mcs"), junk);
        QVERIFY(MacroSetFile::read(dir.filePath("junk.mcs")).size() <= 48);
        writeAll(dir.filePath("Keyflare.ini"), junk);
        QVERIFY(TitleList::read(dir.filePath("Keyflare.ini")).size() <= 64);
    }
}

void TestStorage::writesDefaultMacroSetByteForByte()
{
    QTemporaryDir dir;
    QByteArray expected = "[Keyflare 1.07]\r\n";
    for (int k = 1; k <= 48; ++k)
        expected += "Number " + QByteArray::number(k) + "\r\n" + QByteArray::number(k) + "\r\n";
    QString error;
    QVERIFY(MacroSetFile::write(dir.filePath("d.mcs"), defaults(), &error));
    QCOMPARE(readAll(dir.filePath("d.mcs")), expected);
    QCOMPARE(expected.count("\r\n"), 97);
}

void TestStorage::roundTripsMacroSets_data()
{
    QTest::addColumn<Slots>("slots");
    QTest::addColumn<bool>("utf8");
    Slots mixed = defaults();
    mixed[0] = {QStringLiteral("  blanks  "), QStringLiteral("  around  ")};
    mixed[1] = {QString(), QString()};
    mixed[2] = {QStringLiteral("Tab"), QStringLiteral("a\tb\t")};
    mixed[3] = {QStringLiteral("Grüße"), QStringLiteral("€ “quoted” — naïve")};
    mixed[47] = {QStringLiteral("{ENTER}"), QStringLiteral("~+^%(){}[]")};
    QTest::newRow("Windows-1252") << mixed << false;
    Slots wide = mixed;
    wide[4] = {QStringLiteral("Привет"), QString::fromUcs4(U"日本 \U0001F600")};
    QTest::newRow("UTF-8") << wide << true;
}

void TestStorage::roundTripsMacroSets()
{
    QFETCH(Slots, slots);
    QFETCH(bool, utf8);
    QTemporaryDir dir;
    QString error;
    QVERIFY(MacroSetFile::write(dir.filePath("r.mcs"), slots, &error));
    QCOMPARE(MacroSetFile::read(dir.filePath("r.mcs")), slots);
    const QByteArray bytes = readAll(dir.filePath("r.mcs"));
    QCOMPARE(bytes.contains("Gr\xc3\xbc\xc3\x9f"), utf8);
}

void TestStorage::readsMacroSetLayouts_data()
{
    QTest::addColumn<QByteArray>("file"); // "<none>": no file
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("probe"); // a slot to compare
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("text");
    QByteArray full = "[Keyflare 1.07]\r\n";
    for (int k = 1; k <= 48; ++k)
        full += "C" + QByteArray::number(k) + "\r\nT" + QByteArray::number(k) + "\r\n";
    QTest::newRow("no file") << QByteArray("<none>") << 0 << 0 << ""
                             << "";
    QTest::newRow("empty file") << QByteArray() << 0 << 0 << ""
                                << "";
    QTest::newRow("header only") << QByteArray("[Keyflare 1.07]\r\n") << 0 << 0 << ""
                                 << "";
    QTest::newRow("captioned") << full << 48 << 47 << "C48"
                               << "T48";
    QTest::newRow("extra lines never read") << full + "more\r\nlines\r\n"
                                            << 48 << 47 << "C48"
                                            << "T48";
    const qsizetype afterCaption10 = full.indexOf("C10\r\n") + 5;
    QTest::newRow("ends after the caption of button 10")
        << full.left(afterCaption10) << 9 << 8 << "C9"
        << "T9";
    QTest::newRow("last line without CR LF") << full.chopped(2) << 48 << 47 << "C48"
                                             << "T48";
    QTest::newRow("LF line ends") << QByteArray(full).replace("\r\n", "\n") << 48 << 0 << "C1"
                                  << "T1";
    QTest::newRow("header with a blank is text-only")
        << QByteArray("[Keyflare 1.07] \r\nsecond\r\n") << 2 << 0 << "[Keyflare 1.0..."
        << "[Keyflare 1.07] ";
    QTest::newRow("other version is text-only")
        << QByteArray("[Keyflare 1.06]\r\n") << 1 << 0 << "[Keyflare 1.0..."
        << "[Keyflare 1.06]";
    QTest::newRow("text-only empty line") << QByteArray("\r\nx\r\n") << 2 << 0 << "..."
                                          << "";
    QTest::newRow("text-only short line") << QByteArray("Hello\r\n") << 1 << 0 << "Hello..."
                                          << "Hello";
    QTest::newRow("text-only stops at 48")
        << QByteArray("line\r\n").repeated(60) << 48 << 47 << "line..."
        << "line";
    const QByteArray longLine(300, 'x');
    QTest::newRow("over-long lines loaded whole")
        << "[Keyflare 1.07]\r\n" + longLine + "\r\n" + longLine + "\r\n"
        << 1 << 0 << QString(300, 'x') << QString(300, 'x');
    QTest::newRow("header after a byte-order mark") << "\xef\xbb\xbf" + full << 48 << 0 << "C1"
                                                    << "T1";
    QTest::newRow("CR line ends") << QByteArray(full).replace("\r\n", "\r") << 48 << 47 << "C48"
                                  << "T48";
    QTest::newRow("96 lines: the last record lacks its text")
        << full.left(full.indexOf("T48\r\n")) << 47 << 46 << "C47"
        << "T47";
    QTest::newRow("98 lines: the last is never read") << full + "98\r\n"
                                                      << 48 << 47 << "C48"
                                                      << "T48";
    QTest::newRow("10 MB on one line") << QByteArray(10 << 20, 'x') << 1 << 0
                                       << QString(13, 'x') + "..." << QString(10 << 20, 'x');
    QTest::newRow("NUL-filled") << QByteArray(1000, '\0') << 1 << 0 << QString(13, QChar(0)) + "..."
                                << QString(1000, QChar(0));
}

void TestStorage::readsMacroSetLayouts()
{
    QFETCH(QByteArray, file);
    QFETCH(int, count);
    QFETCH(int, probe);
    QFETCH(QString, caption);
    QFETCH(QString, text);
    QTemporaryDir dir;
    if (file != "<none>")
        writeAll(dir.filePath("m.mcs"), file);
    const Slots slots = MacroSetFile::read(dir.filePath("m.mcs"));
    QCOMPARE(slots.size(), count);
    if (count > 0) {
        QCOMPARE(slots[probe].caption, caption);
        QCOMPARE(slots[probe].text, text);
    }
}

void TestStorage::listsCatalogue()
{
    QTemporaryDir dir;
    for (const char* name : {"beta.mcs", "Alpha.mcs", "gamma.MCS", ".hidden.mcs", "notes.txt",
                             "delta.mcs.bak", ".mcs"})
        writeAll(dir.filePath(name), "x");
    QDir(dir.path()).mkdir("folder.mcs");
    QStringList names;
    QString error;
    QVERIFY(MacroSetCatalogue::list(dir.path(), &names, &error));
    QCOMPARE(names, QStringList({"ALPHA", "beta", "gamma"}));
    QVERIFY(!MacroSetCatalogue::list(dir.filePath("missing"), &names, &error));
    QVERIFY(error.contains("missing"));
}

void TestStorage::resolvesNamesWithoutCase()
{
    QTemporaryDir dir;
    writeAll(dir.filePath("Work.mcs"), "x");
    QCOMPARE(MacroSetCatalogue::path(dir.path(), "WORK"), dir.filePath("Work.mcs"));
    QCOMPARE(MacroSetCatalogue::path(dir.path(), "Work"), dir.filePath("Work.mcs"));
    QCOMPARE(MacroSetCatalogue::path(dir.path(), "Home"), dir.filePath("Home.mcs"));
}

void TestStorage::refusesNamesThatArePaths_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("refused");
    QTest::newRow("slash") << "a/b" << true;
    QTest::newRow("backslash") << "a\\b" << true;
    QTest::newRow("dot") << "." << true;
    QTest::newRow("dot dot") << ".." << true;
    QTest::newRow("control character") << "a\tb" << true;
    QTest::newRow("blanks inside") << "my set" << false;
    QTest::newRow("non-ASCII") << "Grüße ß" << false;
    QTest::newRow("dots inside") << "v1.2..x" << false;
}

void TestStorage::refusesNamesThatArePaths()
{
    QFETCH(QString, name);
    QFETCH(bool, refused);
    QCOMPARE(!MacroSetCatalogue::refusal(name).isEmpty(), refused);
}

void TestStorage::deletesMacroSets()
{
    QTemporaryDir dir;
    writeAll(dir.filePath("Work.mcs"), "x");
    QDir(dir.path()).mkdir("folder.mcs");
    QString error;
    QVERIFY(MacroSetCatalogue::remove(dir.path(), "WORK", &error));
    QVERIFY(!QFile::exists(dir.filePath("Work.mcs")));
    QVERIFY(MacroSetCatalogue::remove(dir.path(), "gone", &error)); // already gone: fine
    QVERIFY(!MacroSetCatalogue::remove(dir.path(), "folder", &error));
    QVERIFY(!error.isEmpty());
}

QTEST_GUILESS_MAIN(TestStorage)
#include "tst_storage.moc"
