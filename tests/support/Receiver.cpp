#include "Receiver.h"

#include "Session.h"

#include <QElapsedTimer>
#include <QFile>
#include <qtestsupport_core.h>

Receiver::Receiver(QString title, QString geometry, int delay, Kind kind)
    : m_title(std::move(title)), m_geometry(std::move(geometry)), m_delay(delay),
      // foot maps no window under KWin: a Qt text edit stands in for the terminal there.
      m_kind(kind == Terminal && session() == Session::KWin ? TextEdit : kind)
{
}

void Receiver::close()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.kill();
    m_process.waitForFinished(2000);
    // The next window may get the same id; until the window manager has let go of this one, it
    // could mistake the new window for the old one and drop it.
    (void)waitForNoWindow(m_title, 3000);
}

bool Receiver::start()
{
    const bool x11 = session() == Session::X11;
    const QString out = m_dir.filePath("received");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("LC_ALL", "C.UTF-8");
    env.insert("QT_QPA_PLATFORM", x11 ? "xcb" : "wayland");
    env.insert("GDK_BACKEND", x11 ? "x11" : "wayland");
    m_process.setProcessEnvironment(env);
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    // A terminal reads raw, and appends every byte to the file as it comes: "\r" for Enter, "\t"
    // for Tab, UTF-8 for the rest. The ready file says that nothing typed from then on is cooked.
    const QStringList capture{
        "sh", "-c", "stty raw -echo -iexten cs8 && touch \"$0.ready\" && exec cat >>\"$0\"", out};
    const QString helpers = KEYFLARE_TEST_HELPERS_DIR "/"; // built beside the tests
    QString program = helpers + "qtreceiver";
    QStringList args{m_title, out};
    if (m_kind == TextEditNoPaste)
        args << "--no-paste";
    if (m_kind == Slow) {
        program = helpers + "slowreceiver";
        args << QString::number(m_delay);
    } else if (m_kind == Gtk) {
        program = "/usr/bin/python3"; // with the system's GTK bindings
        args.prepend(helpers + "gtkreceiver.py");
    } else if (m_kind == Terminal && (x11 || session() == Session::Gnome)) { // GNOME: Xwayland
        program = "xterm";
        args = QStringList{"-T", m_title} +
               ("-u8 -xrm XTerm*utf8Title:true -geometry " + m_geometry + " -e").split(' ') +
               capture;
    } else if (m_kind == Terminal) {
        program = "foot";
        args = QStringList{"--title=" + m_title} + capture;
    }
    m_process.start(program, args);
    m_window = m_process.waitForStarted(5000) ? waitForWindow(m_title, 10000) : 0;
    const QString ready = out + ".ready";
    if (m_window == 0 ||
        (m_kind == Terminal && !QTest::qWaitFor([&] { return QFile::exists(ready); }, 10000))) {
        // Says why, with the program's own output, so that a failure on a busy machine explains
        // itself.
        qWarning("%s did not show \"%s\" ready to read: %s\n%s", qPrintable(program),
                 qPrintable(m_title), qPrintable(m_process.errorString()),
                 m_process.readAll().constData());
        return false;
    }
    waitUntilActive(m_window);
    return true;
}

void Receiver::retitle(const QString& title)
{
    m_title = title;
    m_process.write(title.toUtf8() + '\n');
    m_process.waitForBytesWritten(1000);
}

QByteArray Receiver::received() const
{
    QFile f(m_dir.filePath("received"));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QByteArray Receiver::waitFor(const QByteArray& expected, int ms) const
{
    // A program that has fallen behind on a busy machine may take long to read a long text, but
    // it keeps reading: the wait is for progress, not for the whole.
    QByteArray got = received();
    QElapsedTimer still;
    still.start();
    while (got.size() < expected.size() && still.elapsed() < ms) {
        QTest::qWait(10);
        QByteArray now = received();
        if (now.size() != got.size())
            still.restart();
        got = std::move(now);
    }
    return got;
}

QByteArray Receiver::settle(int ms) const
{
    QTest::qWait(ms);
    return received();
}
