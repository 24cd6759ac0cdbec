#include "SocketWatch.h"

#include "wayland/WaylandDisplay.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QSocketNotifier>

SocketWatch::SocketWatch(int fd, std::function<bool()> pump, bool beforeSleep)
    : m_pump(std::move(pump))
{
    // Without an event loop (a command-line use) there is nothing to wait beside.
    QAbstractEventDispatcher* loop = QAbstractEventDispatcher::instance();
    if (!QCoreApplication::instance() || !loop || fd < 0)
        return;
    m_notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, m_notifier.get(),
                     [this] { run(); });
    if (beforeSleep) {
        m_beforeSleep = QObject::connect(loop, &QAbstractEventDispatcher::aboutToBlock,
                                         m_notifier.get(), [this] { run(); });
    }
}

std::unique_ptr<SocketWatch> SocketWatch::ofWayland(WaylandDisplay& display,
                                                    std::function<void()> broken)
{
    return std::make_unique<SocketWatch>(
        display.fd(),
        [&display, broken = std::move(broken)] {
            if (display.dispatch(0))
                return true;
            broken();
            return false;
        },
        false);
}

SocketWatch::~SocketWatch()
{
    QObject::disconnect(m_beforeSleep);
}

void SocketWatch::run()
{
    if (!m_notifier || !m_notifier->isEnabled())
        return;
    // A broken socket stays readable: watched any longer, it would keep the loop busy.
    if (!m_pump()) {
        m_notifier->setEnabled(false);
        QObject::disconnect(m_beforeSleep);
    }
}
