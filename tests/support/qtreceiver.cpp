// A Qt 6 text edit that records what arrives in it: the whole text, into a file, after every
// change; with --no-paste it ignores the paste keys. Usage: qtreceiver TITLE OUTPUT [--no-paste]
#include <QApplication>
#include <QFile>
#include <QKeyEvent>
#include <QPlainTextEdit>

namespace {
class NoPaste : public QObject
{
protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        return event->type() == QEvent::KeyPress &&
               static_cast<QKeyEvent*>(event)->matches(QKeySequence::Paste);
    }
};
} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    if (argc < 3)
        return 2;
    QPlainTextEdit edit;
    edit.setWindowTitle(QString::fromUtf8(argv[1]));
    NoPaste noPaste;
    if (argc > 3 && QByteArray(argv[3]) == "--no-paste")
        edit.installEventFilter(&noPaste);
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
