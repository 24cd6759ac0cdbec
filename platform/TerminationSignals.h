#pragma once

#include <QObject>

class QSocketNotifier;

// Turns the signals that ask a program to end (SIGTERM from the session at logout, SIGHUP when
// its terminal goes, SIGINT for Ctrl+C) into a Qt signal, so that the program can leave its event
// loop and tidy up as after a normal close: the keys it borrowed in the X server's keyboard map
// outlive the program otherwise, and no later program can borrow them. One object at a time.
class TerminationSignals : public QObject
{
    Q_OBJECT
public:
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;

Q_SIGNALS:
    void received(int signal);

private:
    QSocketNotifier* m_notifier = nullptr;
};
