// The files Keyflare keeps: encodings, line ends, the title list and the macro-set layouts.
// Round trips and junk input are the fuzzers' part; writes that fail, the panel's tests'.
#include "MacroSetCatalogue.h"
#include "MacroSetFile.h"
#include "Rows.h"
#include "TestFiles.h"
#include "TextFile.h"
#include "TitleList.h"

#include <QTemporaryDir>
#include <QTest>

// The bytes read, the text they hold, and how that text is written back.
using CodingRows = Rows<QByteArray, QString, QByteArray>;
// The file ("<none>": no file) and the titles read from it.
using TitleRows = Rows<QByteArray, QStringList>;
// The file ("<none>": no file), how many records are read, and the caption and text of the last.
using LayoutRows = Rows<QByteArray, int, QStringList>;

class TestStorage : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void decodesAndEncodes_data()
    {
        CodingRows::columns();
        const auto row = [](const char* tag, const QByteArray& bytes, const QString& text,
                            const QByteArray& written = {}) {
            CodingRows::row(tag, bytes, text, written.isEmpty() ? bytes : written);
        };
        row("Windows-1252 stays Windows-1252", "Gr\xfc\xdf \x80 \x93q\x94", "Grüß € “q”");
        row("UTF-8 that fits Windows-1252 is written in Windows-1252", "Gr\xc3\xbc\xc3\x9f", "Grüß",
            "Gr\xfc\xdf");
        row("UTF-8 beyond Windows-1252 stays UTF-8", "\xd0\x9f\xd1\x80\xd0\xb8 \xe2\x82\xac",
            "При €");
        row("byte-order mark dropped", "\xef\xbb\xbfx", "x", "x");
        row("undefined Windows-1252 byte survives", "a\x81z", QString::fromUtf16(u"a\u0081z"));
        // Found by fuzzing: Windows-1252 bytes that form valid UTF-8 must not be written as such.
        row("Windows-1252 text whose bytes would read as UTF-8 is written in UTF-8",
            "~\xc3\x9d\xe2\x80\xb0", "~Ý‰");
        row("a leading U+FEFF survives", "\xef\xbb\xbf\xef\xbb\xbfx", QString(QChar(0xfeff)) + "x");
        row("invalid UTF-8 inside valid UTF-8 reads as Windows-1252", "\xc3\xa9 \xe9", "Ã© é");
    }

    void decodesAndEncodes()
    {
        const auto [bytes, text, written] = CodingRows::fetch();
        QCOMPARE(TextFile::decode(bytes), text);
        QCOMPARE(TextFile::encode(text), written);
    }

    void readsTitleList_data()
    {
        TitleRows::columns();
        TitleRows::row("no file", "<none>", {});
        TitleRows::row("blanks and trimming", "  Notes  \r\n\r\n   \r\n\tTabbed\r\nLast",
                       {"Notes", "\tTabbed", "Last"});
        TitleRows::row("LF and CR line ends", "a\nb\rc", {"a", "b", "c"});
        TitleRows::row("duplicates kept", "a\r\na\r\n", {"a", "a"});
        TitleRows::row("64 lines read, blank ones included",
                       QByteArray("\r\n").repeated(63) + "sixty-four\r\nsixty-five\r\n",
                       {"sixty-four"});
    }

    void readsTitleList()
    {
        const auto [file, titles] = TitleRows::fetch();
        QTemporaryDir dir;
        const QString path = dir.filePath(TitleList::fileName());
        if (file != "<none>")
            writeFile(path, file);
        QCOMPARE(TitleList::read(path), titles);
    }

    void readsMacroSetLayouts_data()
    {
        LayoutRows::columns();
        const auto row = LayoutRows::row;
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
        row("over-long lines loaded whole", "[Keyflare 1.07]\r\n" + x300 + "\r\n" + x300 + "\r\n",
            1, {QString(300, 'x'), QString(300, 'x')});
        row("10 MB on one line", QByteArray(10 << 20, 'x'), 1,
            {QString(13, 'x') + "...", QString(10 << 20, 'x')});
    }

    void readsMacroSetLayouts()
    {
        const auto [file, count, last] = LayoutRows::fetch();
        QTemporaryDir dir;
        if (file != "<none>")
            writeFile(dir.filePath("m.mcs"), file);
        const QVector<MacroSlot> slots = MacroSetFile::read(dir.filePath("m.mcs"));
        QCOMPARE(slots.size(), count);
        if (count > 0)
            QCOMPARE(QStringList({slots.last().caption, slots.last().text}), last);
    }

    void listsCatalogue()
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
        // A set that is a folder cannot be deleted, and says why; one already gone counts as
        // deleted.
        QVERIFY(!MacroSetCatalogue::remove(dir.path(), "folder", &error));
        QVERIFY(!error.isEmpty());
        QVERIFY(MacroSetCatalogue::remove(dir.path(), "gone", &error));
    }
};

QTEST_GUILESS_MAIN(TestStorage)
#include "tst_storage.moc"
