#pragma once

#include "X11BorrowedKeys.h"
#include "X11Connection.h"
#include "X11Keyboard.h"
#include "X11WindowWatch.h"
#include "X11Windows.h"

#include <QByteArray>
#include <QString>

// A connection to one X server and what is built on it, made and replaced together: a broken
// connection takes everything learnt through it along.
class X11Session
{
public:
    X11Session();
    X11Session(const X11Session&) = delete;
    X11Session& operator=(const X11Session&) = delete;

    // Connects to display (empty: $DISPLAY); false, with the reason, when the server cannot serve.
    bool open(const QByteArray& display, QString* error);

    // True once the server has gone or the connection failed; everything on it then fails.
    bool isBroken() const { return m_connection.isBroken(); }
    X11Connection& connection() { return m_connection; }
    X11Windows& windows() { return m_windows; }
    X11Keyboard& keyboard() { return m_keyboard; }
    X11BorrowedKeys& keys() { return m_keys; }
    X11WindowWatch& watch() { return m_watch; }

private:
    X11Connection m_connection; // first: the rest hold on to it
    X11Windows m_windows;
    // Before the keys: giving them back on the way out handles events, which must not reach a
    // watch that has gone.
    X11WindowWatch m_watch;
    X11Keyboard m_keyboard;
    X11BorrowedKeys m_keys;
};
