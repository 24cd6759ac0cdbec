// The files Keyflare keeps: encodings, line ends, the title list and the macro-set layouts.
// Round trips and junk input are the fuzzers' part; writes that fail, the panel's tests'.
#include "MacroSetCatalogue.h"
#include "MacroSetFile.h"
#include "TestFiles.h"
#include "TextFile.h"
#include "TitleList.h"

#include <QTemporaryDir>
#include <QTest>

class TestStorage : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void decodesAndEncodes_data();
    void decodesAndEncodes();
    void readsTitleList_data();
    void readsTitleList();
    void readsMacroSetLayouts_data();
    void readsMacroSetLayouts();
    void listsCatalogue();
};

void TestStorage::decodesAndEncodes_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("written"); // how the text is written back
    const auto row = [](const char* tag, const QByteArray& bytes, const QString& text,
                        const QByteArray& written = {}) {
        QTest::newRow(tag) << bytes << text << (written.isEmpty() ? bytes : written);
    };
    row("Windows-1252 stays Windows-1252", "Gr\xfc\xdf \x80 \x93q\x94", "Grüß € “q”");
    row("UTF-8 that fits Windows-1252 is written in Windows-1252", "Gr\xc3\xbc\xc3\x9f", "Grüß",
        "Gr\xfc\xdf");
    row("UTF-8 beyond Windows-1252 stays UTF-8", "\xd0\x9f\xd1\x80\xd0\xb8 \xe2\x82\xac", "При €");
    row("byte-order mark dropped", "\xef\xbb\xbfx", "x", "x");
    row("undefined Windows-1252 byte survives", "a\x81z", QString::fromUtf16(u"a\u0081z"));
    // Found by fuzzing: Windows-1252 bytes that form valid UTF-8 must not be written as such.
    row("Windows-1252 text whose bytes would read as UTF-8 is written in UTF-8",
        "~\xc3\x9d\xe2\x80\xb0", "~Ý‰");
    row("a leading U+FEFF survives", "\xef\xbb\xbf\xef\xbb\xbfx", QString(QChar(0xfeff)) + "x");
    row("invalid UTF-8 inside valid UTF-8 reads as Windows-1252", "\xc3\xa9 \xe9", "Ã© é");
}

void TestStorage::decodesAndEncodes()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QFETCH(QByteArray, written);
    QCOMPARE(TextFile::decode(bytes), text);
    QCOMPARE(TextFile::encode(text), written);
}

void TestStorage::readsTitleList_data()
{
    QTest::addColumn<QByteArray>("file"); // "<none>" for no file
    QTest::addColumn<QStringList>("titles");
    QTest::newRow("no file") << QByteArray("<none>") << QStringList{};
    QTest::newRow("blanks and trimming") << QByteArray("  Notes  \r\n\r\n   \r\n\tTabbed\r\nLast")
                                         << QStringList{"Notes", "\tTabbed", "Last"};
    QTest::newRow("LF and CR line ends") << QByteArray("a\nb\rc") << QStringList{"a", "b", "c"};
    QTest::newRow("duplicates kept") << QByteArray("a\r\na\r\n") << QStringList{"a", "a"};
    QByteArray blanksFirst = QByteArray("\r\n").repeated(63) + "sixty-four\r\nsixty-five\r\n";
    QTest::newRow("64 lines read, blank ones included") << blanksFirst << QStringList{"sixty-four"};
}

void TestStorage::readsTitleList()
{
    QFETCH(QByteArray, file);
    QFETCH(QStringList, titles);
    QTemporaryDir dir;
    const QString path = dir.filePath(TitleList::fileName());
    if (file != "<none>")
        writeFile(path, file);
    QCOMPARE(TitleList::read(path), titles);
}

void TestStorage::readsMacroSetLayouts_data()
{
    QTest::addColumn<QByteArray>("file"); // "<none>": no file
    QTest::addColumn<int>("count");
    QTest::addColumn<QStringList>("last"); // the caption and text of the last record read
    const auto row = [](const char* tag, const QByteArray& file, int count,
                        const QStringList& last) { QTest::newRow(tag) << file << count << last; };
    QByteArray full = "[Keyflare 1.07]\r\n";
    for (int k = 1; k <= 48; ++k)
        full += "C" + QByteArray::number(k) + "\r\nT" + QByteArray::number(k) + "\r\n";
    const QStringList last{"C48", "T48"};
    const QByteArray x300(300, 'x');
    row("no file", "<none>", 0, {});
    row("header only", "[Keyflare 1.07]\r\n", 0, {});
    row("captioned, extra lines never read", full + "more\r\n", 48, last);
    row("ends after the caption of button 10", full.left(full.indexOf("C10\r\n") + 5), 9,
        {"C9", "T9"});
    row("last line without CR LF", full.chopped(2), 48, last);
    row("LF line ends", QByteArray(full).replace("\r\n", "\n"), 48, last);
    row("header after a byte-order mark", "\xef\xbb\xbf" + full, 48, last);
    row("header with a blank is text-only", "[Keyflare 1.07] \r\nsecond\r\n", 2,
        {"second...", "second"});
    row("text-only empty line", "\r\nx\r\n", 2, {"x...", "x"});
    row("text-only stops at 48", QByteArray("line\r\n").repeated(60), 48, {"line...", "line"});
    row("over-long lines loaded whole", "[Keyflare 1.07]\r\n" + x300 + "\r\n" + x300 + "\r\n", 1,
        {QString(300, 'x'), QString(300, 'x')});
    row("10 MB on one line", QByteArray(10 << 20, 'x'), 1,
        {QString(13, 'x') + "...", QString(10 << 20, 'x')});
}

void TestStorage::readsMacroSetLayouts()
{
    QFETCH(QByteArray, file);
    QFETCH(int, count);
    QFETCH(QStringList, last);
    QTemporaryDir dir;
    if (file != "<none>")
        writeFile(dir.filePath("m.mcs"), file);
    const QVector<MacroSlot> slots = MacroSetFile::read(dir.filePath("m.mcs"));
    QCOMPARE(slots.size(), count);
    if (count > 0)
        QCOMPARE(QStringList({slots.last().caption, slots.last().text}), last);
}

void TestStorage::listsCatalogue()
{
    QTemporaryDir dir;
    for (const char* name : {"beta.mcs", "Alpha.mcs", "gamma.MCS", ".hidden.mcs", "notes.txt",
                             "delta.mcs.bak", ".mcs"})
        writeFile(dir.filePath(name), "x");
    QDir(dir.path()).mkdir("folder.mcs");
    QStringList names;
    QString error;
    QVERIFY(MacroSetCatalogue::list(dir.path(), &names, &error));
    QCOMPARE(names, QStringList({"ALPHA", "beta", "gamma"}));
    QVERIFY(!MacroSetCatalogue::list(dir.filePath("missing"), &names, &error));
    QVERIFY(error.contains("missing"));
    // A set that is a folder cannot be deleted, and says why; one already gone counts as deleted.
    QVERIFY(!MacroSetCatalogue::remove(dir.path(), "folder", &error));
    QVERIFY(!error.isEmpty());
    QVERIFY(MacroSetCatalogue::remove(dir.path(), "gone", &error));
}

QTEST_GUILESS_MAIN(TestStorage)
#include "tst_storage.moc"
