#pragma once

#include <QMetaObject>
#include <functional>
#include <memory>

class QSocketNotifier;
class WaylandDisplay;

// Lets a connection of Keyflare's own handle what its desktop sends while Keyflare waits for the
// user: pump runs from the event loop whenever the socket has something to read and, where the
// connection reads events along with replies, before the loop sleeps. Nothing runs while nothing
// comes. Once pump returns false (the connection broke) the watch stops.
class SocketWatch
{
public:
    SocketWatch(int fd, std::function<bool()> pump, bool beforeSleep);
    ~SocketWatch();
    SocketWatch(const SocketWatch&) = delete;
    // A watch that handles what a Wayland connection receives (its listeners run), and runs
    // broken once the connection breaks.
    static std::unique_ptr<SocketWatch> ofWayland(WaylandDisplay& display,
                                                  std::function<void()> broken);
    SocketWatch& operator=(const SocketWatch&) = delete;

private:
    void run();

    std::function<bool()> m_pump;
    std::unique_ptr<QSocketNotifier> m_notifier;
    QMetaObject::Connection m_beforeSleep;
};
