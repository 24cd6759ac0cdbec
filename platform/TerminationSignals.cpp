#include "TerminationSignals.h"

#include <QCoreApplication>
#include <QEvent>
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {
constexpr int kSignals[] = {SIGTERM, SIGHUP, SIGINT};
// A handler may do almost nothing: it writes the signal's number into a socket that the event
// loop watches.
int g_socket[2] = {-1, -1};

void onSignal(int number)
{
    const int savedErrno = errno;
    const char byte = static_cast<char>(number);
    (void)::write(g_socket[0], &byte, 1); // never blocks: a full socket has news enough
    errno = savedErrno;
}
} // namespace

TerminationSignals::TerminationSignals(QObject* parent) : QObject(parent)
{
    if (QCoreApplication::instance())
        QCoreApplication::instance()->installEventFilter(this);
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_socket) != 0)
        return; // the signals then end the program as before, untidily
    m_notifier = new QSocketNotifier(g_socket[1], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] {
        char byte = 0;
        if (::read(g_socket[1], &byte, 1) == 1)
            request();
    });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int number : kSignals)
        ::sigaction(number, &action, nullptr);
}

void TerminationSignals::request()
{
    m_requested = true;
    QCoreApplication::exit(0);
}

bool TerminationSignals::eventFilter(QObject* watched, QEvent* event)
{
    // An X session manager ends a Qt program at logout with a Quit event, which would close the
    // windows through their closing checks, questions and all.
    if (event->type() == QEvent::Quit && watched == QCoreApplication::instance()) {
        request();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

int TerminationSignals::exec()
{
    // A signal seen by a yield of the start-up asked every loop to end while none ran, and
    // QCoreApplication::exec() forgets that as it starts: the program would run on.
    return m_requested ? 0 : QCoreApplication::exec();
}

TerminationSignals::~TerminationSignals()
{
    if (!m_notifier)
        return;
    for (int number : kSignals)
        std::signal(number, SIG_DFL);
    ::close(g_socket[0]);
    ::close(g_socket[1]);
    g_socket[0] = g_socket[1] = -1;
}
