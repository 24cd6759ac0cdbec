#pragma once

#include <QFile>
#include <QStringList>
#include <QTest>

inline void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

// The file's bytes, or "<missing>" when it cannot be read.
inline QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// A macro-set file whose 48 captions are caption followed by the button's number, and texts
// "1"..; texts replace the first ones.
inline QByteArray macroSetBytes(const QStringList& texts, const QByteArray& caption = "C")
{
    QByteArray out = "[Keyflare 1.07]\r\n";
    for (int k = 0; k < 48; ++k)
        out += caption + QByteArray::number(k + 1) + "\r\n" +
               (k < texts.size() ? texts[k].toUtf8() : QByteArray::number(k + 1)) + "\r\n";
    return out;
}
