// A Qt 6 text edit that records what arrives in it: the whole text, into a file, every 2 ms at
// most; with --no-paste it ignores the paste keys. Each line read from its input becomes its
// title. Usage: qtreceiver TITLE OUTPUT [--no-paste]
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QSocketNotifier>
#include <QTimer>
#include <cstdio>
#include <unistd.h>
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
    // Written every 2 ms at most, and replaced whole, so that a reader never sees it half
    // written. Written from the key's own handler where it can be: Qt takes in every key it has
    // read before it runs a timer, so a receiver that has fallen behind would otherwise write
    // only after the last key.
    // Renamed over the last one, unsynced: a sync at every write would make the receiver, not
    // the sender, the slow part of a test.
    const QByteArray path = out.toLocal8Bit();
    const auto write = [&] {
        QFile f(out + ".part");
        if (f.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
            f.write(edit.toPlainText().toUtf8()) >= 0 && f.flush())
            std::rename((path + ".part").constData(), path.constData());
    };
    QElapsedTimer sinceWrite;
    sinceWrite.start();
    QTimer tail;
    tail.setSingleShot(true);
    tail.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tail, &QTimer::timeout, [&] {
        write();
        sinceWrite.restart();
    });
    QObject::connect(&edit, &QPlainTextEdit::textChanged, [&] {
        if (sinceWrite.elapsed() >= 2) {
            tail.stop();
            write();
            sinceWrite.restart();
        } else if (!tail.isActive()) {
            tail.start(2);
        }
    });
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QByteArray line;
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char c = 0;
        if (::read(STDIN_FILENO, &c, 1) != 1)
            input.setEnabled(false);
        else if (c != '\n')
            line += c;
        else
            edit.setWindowTitle(QString::fromUtf8(std::exchange(line, QByteArray())));
    });
    edit.resize(600, 200);
    edit.show();
    return app.exec();
}
