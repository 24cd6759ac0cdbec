#pragma once

#include "Services.h"

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// A real program that shows a window titled title and records, byte for byte, the text that
// reaches it: a terminal read raw (xterm on X11 and under GNOME's Xwayland, foot on wlroots
// compositors; a Qt text edit stands in under KWin), a deliberately slow X client, a GTK 3 entry
// or a Qt 6 text edit (the last two record their whole text).
class Receiver
{
public:
    enum Kind
    {
        Terminal,
        Slow,
        Gtk,
        TextEdit,
        TextEditNoPaste // one that ignores the paste keys
    };
    // geometry: an X geometry in characters and pixels (xterm); delay: how long the slow client
    // takes for each key event, in milliseconds.
    explicit Receiver(QString title, QString geometry = QStringLiteral("80x10+20+600"),
                      int delay = 0, Kind kind = Terminal);
    ~Receiver() { close(); }

    // Starts the program in the test's session and waits until its window exists, is active and
    // is ready to read.
    bool start();
    // Ends the program and waits until its window is gone.
    void close();
    WindowId window() const { return m_window; }
    qint64 pid() const { return m_process.processId(); }
    // Has a Qt text edit take title as its title (the others cannot be told to).
    void retitle(const QString& title);
    QString title() const { return m_title; }
    QByteArray received() const;
    // What the receiver records for the Enter key.
    QByteArray enter() const { return m_kind >= TextEdit ? "\n" : "\r"; }
    // Waits until at least expected.size() bytes arrived, or until ms passed without a byte more;
    // returns what arrived.
    QByteArray waitFor(const QByteArray& expected, int ms = 15000) const;
    // Waits ms more and returns what arrived: for checking that nothing (more) came.
    QByteArray settle(int ms = 300) const;

private:
    QString m_title;
    QString m_geometry;
    int m_delay;
    Kind m_kind;
    QTemporaryDir m_dir;
    QProcess m_process;
    WindowId m_window = 0;
};
