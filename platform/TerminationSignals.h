#pragma once

#include <QObject>

class QSocketNotifier;

// Makes the signals that ask a program to end (SIGTERM from the session at logout, SIGHUP when
// its terminal goes, SIGINT for Ctrl+C) leave every event loop, so that the program can tidy up
// as after a normal close: the keys it borrowed in the X server's keyboard map outlive the
// program otherwise, and no later program can borrow them. One object at a time.
class TerminationSignals : public QObject
{
    Q_OBJECT
public:
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;

    // Runs the application's event loop until it is left: by the program, or by one of the
    // signals, also one that arrived before the loop ran (during the start-up, say).
    int exec();
    // True once one of the signals has been seen by an event loop or a yield.
    bool requested() const { return m_requested; }

private:
    QSocketNotifier* m_notifier = nullptr;
    bool m_requested = false;
};
