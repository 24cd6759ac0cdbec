// A Qt 6 text edit that records what arrives in it: the whole text, into a file, after every
// change. Usage: qtreceiver TITLE OUTPUT
#include <QApplication>
#include <QFile>
#include <QPlainTextEdit>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    if (argc < 3)
        return 2;
    QPlainTextEdit edit;
    edit.setWindowTitle(QString::fromUtf8(argv[1]));
    const QString out = QString::fromLocal8Bit(argv[2]);
    QObject::connect(&edit, &QPlainTextEdit::textChanged, [&] {
        QFile f(out);
        if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            f.write(edit.toPlainText().toUtf8());
    });
    edit.resize(600, 200);
    edit.show();
    return app.exec();
}
