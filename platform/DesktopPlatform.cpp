#include "DesktopPlatform.h"

#include "x11/X11Desktop.h"

#include <QGuiApplication>

DesktopPlatform::DesktopPlatform(const QString& installedBinDir) : m_folder(installedBinDir)
{
    if (QGuiApplication::platformName() == QLatin1String("xcb"))
        m_x11 = std::make_unique<X11Desktop>();
}

DesktopPlatform::~DesktopPlatform() = default;

Platform DesktopPlatform::platform()
{
    if (m_x11)
        return {m_settings, m_folder, m_events, *m_x11, *m_x11, m_topmost, *m_x11, m_dialogs};
    return {m_settings,    m_folder,  m_events,      m_unavailable,
            m_unavailable, m_topmost, m_unavailable, m_dialogs};
}
