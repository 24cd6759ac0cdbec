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
// The file's name (the title list's, or a macro set's), its bytes ("<none>": no file), and what
// is read: the titles, or how many records and the caption and text of the last.
using ReadRows = Rows<QString, QByteArray, QStringList>;

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

    void readsFiles_data()
    {
        ReadRows::columns();
        const auto row = ReadRows::row;
        const QString list = TitleList::fileName(), set = "m.mcs";
        row("no title list", list, "<none>", {});
        row("blanks and trimming", list, "  Notes  \r\n\r\n   \r\n\tTabbed\r\nLast",
            {"Notes", "\tTabbed", "Last"});
        row("LF and CR line ends", list, "a\nb\rc", {"a", "b", "c"});
        row("duplicates kept", list, "a\r\na\r\n", {"a", "a"});
        row("64 lines read, blank ones included", list,
            QByteArray("\r\n").repeated(63) + "sixty-four\r\nsixty-five\r\n", {"sixty-four"});
        QByteArray full = "[Keyflare 1.07]\r\n";
        for (int k = 1; k <= 48; ++k)
            full += "C" + QByteArray::number(k) + "\r\nT" + QByteArray::number(k) + "\r\n";
        const QStringList all{"48", "C48", "T48"};
        const QString x300(300, QLatin1Char('x'));
        row("no macro set", set, "<none>", {"0"});
        row("header only", set, "[Keyflare 1.07]\r\n", {"0"});
        row("captioned, extra lines never read", set, full + "more\r\n", all);
        row("ends after the caption of button 10", set, full.left(full.indexOf("C10\r\n") + 5),
            {"9", "C9", "T9"});
        row("last line without CR LF", set, full.chopped(2), all);
        row("LF line ends", set, QByteArray(full).replace("\r\n", "\n"), all);
        row("header after a byte-order mark", set, "\xef\xbb\xbf" + full, all);
        row("header with a blank is text-only", set, "[Keyflare 1.07] \r\nsecond\r\n",
            {"2", "second...", "second"});
        row("text-only empty line", set, "\r\nx\r\n", {"2", "x...", "x"});
        row("text-only stops at 48", set, QByteArray("line\r\n").repeated(60),
            {"48", "line...", "line"});
        row("over-long lines loaded whole", set,
            "[Keyflare 1.07]\r\n" + (x300 + "\r\n").repeated(2).toLatin1(), {"1", x300, x300});
        row("10 MB on one line", set, QByteArray(10 << 20, 'x'),
            {"1", QString(13, 'x') + "...", QString(10 << 20, 'x')});
    }

    void readsFiles()
    {
        const auto [name, file, read] = ReadRows::fetch();
        QTemporaryDir dir;
        const QString path = dir.filePath(name);
        if (file != "<none>")
            writeFile(path, file);
        if (name == TitleList::fileName()) {
            QCOMPARE(TitleList::read(path), read);
            return;
        }
        const QVector<MacroSlot> slots = MacroSetFile::read(path);
        QStringList got{QString::number(slots.size())};
        if (!slots.isEmpty())
            got << slots.last().caption << slots.last().text;
        QCOMPARE(got, read);
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
