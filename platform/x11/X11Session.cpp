#include "X11Session.h"

X11Session::X11Session()
    : m_windows(m_connection), m_watch(m_connection, m_windows), m_keyboard(m_connection),
      m_keys(m_connection, m_keyboard)
{
}

bool X11Session::open(const QByteArray& display, QString* error)
{
    if (!m_connection.open(display, error) || !m_keyboard.open(error))
        return false;
    m_keys.open();
    return true;
}
