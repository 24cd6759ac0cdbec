// The files Keyflare keeps: encodings, line ends and the title list.
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
};

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

QTEST_GUILESS_MAIN(TestStorage)
#include "tst_storage.moc"
