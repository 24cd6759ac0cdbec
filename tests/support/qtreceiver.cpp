// A Qt 6 text edit that records what arrives in it: the whole text, into a file, every 2 ms at
// most; with --no-paste it ignores the paste keys. Usage: qtreceiver TITLE OUTPUT [--no-paste]
#include <QApplication>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QSaveFile>
#include <QTimer>
#include <utility>

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
    // Written every 2 ms at most (a zero timer waits until no key is left to take in), and
    // replaced whole, so that a reader never sees it half written.
    bool pending = false;
    QObject::connect(&edit, &QPlainTextEdit::textChanged, [&] {
        if (std::exchange(pending, true))
            return;
        QTimer::singleShot(2, Qt::PreciseTimer, &edit, [&] {
            pending = false;
            QSaveFile f(out);
            if (f.open(QIODevice::WriteOnly))
                f.write(edit.toPlainText().toUtf8());
            f.commit();
        });
    });
    edit.resize(600, 200);
    edit.show();
    return app.exec();
}
