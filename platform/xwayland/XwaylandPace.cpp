#include "XwaylandPace.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <poll.h>
#include <thread>
#include <unistd.h>
#include <vector>
#include <xcb/xcb.h>
#include <xcb/xcbext.h> // xcb_poll_for_reply

namespace {
// xcb_connect waits for the server's first answer without end, so it runs on a thread of its
// own: the connection is handed over when it comes in time, and closed by that thread when not.
struct Attempt
{
    std::mutex mutex;
    std::condition_variable done;
    xcb_connection_t* connection = nullptr;
    bool finished = false;
    bool abandoned = false;
};

xcb_connection_t* connectWithin(int ms)
{
    auto attempt = std::make_shared<Attempt>();
    std::thread([attempt] {
        xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
        const std::lock_guard lock(attempt->mutex);
        if (attempt->abandoned) {
            xcb_disconnect(connection);
            return;
        }
        attempt->connection = connection;
        attempt->finished = true;
        attempt->done.notify_one();
    }).detach();
    std::unique_lock lock(attempt->mutex);
    if (!attempt->done.wait_for(lock, std::chrono::milliseconds(ms),
                                [&] { return attempt->finished; })) {
        attempt->abandoned = true;
        return nullptr;
    }
    if (xcb_connection_has_error(attempt->connection)) {
        xcb_disconnect(attempt->connection);
        return nullptr;
    }
    return attempt->connection;
}

// A reply of xcb's, freed with it.
template <typename T> std::unique_ptr<T, decltype(&std::free)> take(void* reply)
{
    return {static_cast<T*>(reply), &std::free};
}

// The value of a 32-bit property reply, item i; 0 where it holds none.
uint32_t item(const xcb_get_property_reply_t* property, int i)
{
    if (!property || property->format != 32 || xcb_get_property_value_length(property) / 4 <= i)
        return 0;
    return static_cast<const uint32_t*>(xcb_get_property_value(property))[i];
}

// True when an Xwayland of this user's runs.
bool xwaylandRuns()
{
    const QStringList processes = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString& pid : processes) {
        QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
        if (comm.open(QIODevice::ReadOnly) && comm.readAll() == "Xwayland\n" &&
            QFileInfo(comm).ownerId() == ::getuid())
            return true;
    }
    return false;
}
} // namespace

XwaylandPace::XwaylandPace(int ms)
{
    // A desktop may start Xwayland only once a program connects to its display: no X11 program
    // runs before it does, and Keyflare starts none.
    if (!qEnvironmentVariableIsEmpty("DISPLAY") && xwaylandRuns())
        m_connection = connectWithin(ms);
}

XwaylandPace::~XwaylandPace()
{
    if (m_connection)
        xcb_disconnect(m_connection);
}

bool XwaylandPace::serves(qint64 pid)
{
    if (!m_connection)
        return false;
    const QDeadlineTimer deadline(5000);
    const auto left = [&] { return int(deadline.remainingTime()); };
    const auto intern = [&](const char* name) {
        return xcb_intern_atom(m_connection, 1, uint16_t(std::strlen(name)), name).sequence;
    };
    const unsigned listCookie = intern("_NET_CLIENT_LIST");
    const unsigned pidCookie = intern("_NET_WM_PID");
    const auto listAtom = take<xcb_intern_atom_reply_t>(reply(listCookie, left()));
    const auto pidAtom = take<xcb_intern_atom_reply_t>(reply(pidCookie, left()));
    // Without the window manager's list, every window may be the program's.
    if (!listAtom || !pidAtom || listAtom->atom == XCB_NONE || pidAtom->atom == XCB_NONE)
        return true;
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
    const auto list = take<xcb_get_property_reply_t>(reply(
        xcb_get_property(m_connection, 0, root, listAtom->atom, XCB_ATOM_WINDOW, 0, 4096).sequence,
        left()));
    if (!list || list->format != 32)
        return true;
    std::vector<unsigned> cookies;
    for (int i = 0; i < xcb_get_property_value_length(list.get()) / 4; ++i) {
        cookies.push_back(xcb_get_property(m_connection, 0, item(list.get(), i), pidAtom->atom,
                                           XCB_ATOM_CARDINAL, 0, 1)
                              .sequence);
    }
    bool found = false;
    for (unsigned cookie : cookies) {
        // A window that has gone meanwhile has no reply.
        const auto owner = take<xcb_get_property_reply_t>(reply(cookie, left()));
        found = found || (owner && item(owner.get(), 0) == static_cast<uint32_t>(pid));
    }
    // A server that stopped answering cannot tell either.
    return found || xcb_connection_has_error(m_connection) || deadline.hasExpired();
}

bool XwaylandPace::roundTrip(int ms)
{
    if (!m_connection)
        return false;
    void* answer = reply(xcb_get_input_focus(m_connection).sequence, ms);
    std::free(answer);
    return answer != nullptr;
}

void* XwaylandPace::reply(unsigned sequence, int ms)
{
    if (xcb_flush(m_connection) <= 0)
        return nullptr;
    const QDeadlineTimer deadline(ms);
    for (;;) {
        void* answer = nullptr;
        xcb_generic_error_t* error = nullptr;
        if (xcb_poll_for_reply(m_connection, sequence, &answer, &error)) {
            std::free(error);
            return answer;
        }
        const auto left = deadline.remainingTime();
        if (xcb_connection_has_error(m_connection) || left <= 0)
            return nullptr;
        pollfd fd{xcb_get_file_descriptor(m_connection), POLLIN, 0};
        if (::poll(&fd, 1, int(left)) < 0 && errno != EINTR)
            return nullptr;
    }
}
