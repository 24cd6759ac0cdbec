#pragma once

#include <QObject>

class QSocketNotifier;

// Makes the requests to end a program (SIGTERM from the session at logout, SIGHUP when its
// terminal goes, SIGINT for Ctrl+C, and the Quit event of an X session manager at logout) leave
// every event loop, so that the program can tidy up as after a normal close, and ask nothing: the
// keys it borrowed in the X server's keyboard map outlive the program otherwise, and no later
// program can borrow them. One object at a time; the program ends itself with
// QCoreApplication::exit(), since a Quit event counts as a request.
class TerminationSignals : public QObject
{
    Q_OBJECT
public:
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;

    // Runs the application's event loop until it is left: by the program, or by a request, also
    // one that arrived before the loop ran (during the start-up, say).
    int exec();
    // True once a request has been seen by an event loop or a yield.
    bool requested() const { return m_requested; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void request();

    QSocketNotifier* m_notifier = nullptr;
    bool m_requested = false;
};
