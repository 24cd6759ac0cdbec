#include "XSession.h"
#include "kwin/KWinDesktop.h"
#include "wlroots/WlrootsDesktop.h"

#include <QThread>
#include <qtestsupport_core.h>

std::vector<CandidateWindow> waylandWindows()
{
    WlrootsDesktop wlroots{QString()};
    return wlroots.isSupported() ? wlroots.listWindows() : KWinDesktop{QString()}.listWindows();
}

quint32 waitForWaylandWindow(const QString& title, int ms)
{
    return waitForListed(waylandWindows, title, ms);
}

bool Receiver::startOnWayland()
{
    const QString out = m_dir.filePath(QStringLiteral("received"));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("wayland"));
    m_process.setProcessEnvironment(env);
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_wayland = true;
    if (m_kind == Terminal)
        m_process.start(QStringLiteral("foot"),
                        {QStringLiteral("--title=") + m_title,
                         testHelperPath(QStringLiteral("ttycapture")), out});
    else
        m_process.start(testHelperPath(QStringLiteral("qtreceiver")), {m_title, out});
    m_window = m_process.waitForStarted(5000) ? waitForWaylandWindow(m_title, 10000) : 0;
    if (m_window == 0) {
        qWarning("\"%s\" did not show its window: %s", qPrintable(m_title),
                 m_process.readAll().constData());
        return false;
    }
    // The compositor makes a new window active a moment after listing it; a test that activates
    // another window first would otherwise race it, as on X11. The window made active last comes
    // last in the list.
    (void)QTest::qWaitFor(
        [&] {
            const auto windows = waylandWindows();
            return !windows.empty() && windows.back().id == m_window;
        },
        2000);
    return m_kind != Terminal || waitUntilReady();
}

bool KeyflareProgram::startOnWayland(const QString& firstWindow)
{
    QProcessEnvironment env = m_process.processEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("wayland"));
    m_process.setProcessEnvironment(env);
    m_process.start(m_executable, {});
    m_window = m_process.waitForStarted(5000) ? waitForWaylandWindow(firstWindow, 10000) : 0;
    if (m_window == 0)
        qWarning("Keyflare did not show its window: %s", qPrintable(m_process.errorString()));
    // Listed is not yet ready for a click: the compositor is still placing it and handing it the
    // focus, as on X11.
    QThread::msleep(200);
    return m_window != 0;
}
