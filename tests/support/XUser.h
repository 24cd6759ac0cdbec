#pragma once

#include "Session.h"

#include <QList>
#include <QPair>
#include <QStringList>

struct xcb_connection_t;

// The test's own hand on the X server: the pointer and keys (through xdotool), the keyboard
// layout and its locks, the windows as the window manager keeps them. It reads the server
// through a connection and code of its own, and the keyboard map with xmodmap.
class XUser : public Hand
{
public:
    XUser();
    ~XUser() override;
    bool ok() const override { return m_ok; }

    QRect windowRect(const QString& title) override;
    void moveTo(QPoint p) override;
    void button(int button, bool down) override;
    void ctrl(bool down) override { key("Control_L", down); }
    // Waits until the keyboard focus is in window (or one of its children); false after ms.
    bool waitForFocus(quint32 window, int ms = 5000);
    // Types a keystroke string into the window titled title, as a user at the keyboard would.
    bool typeInto(const QString& title, const QString& keys);

    // Taps keys as xdotool names them ("x", "Down", "ctrl+a"), or presses or releases one.
    void keys(const QString& keys) { xdotool({"key", keys}); }
    void key(const QString& key, bool down) { xdotool({down ? "keydown" : "keyup", key}); }
    // Locks a group of a multi-group layout, and the lock modifiers (Caps Lock is 2, Num Lock 16).
    void lockGroup(int group);
    void lockModifiers(int affect, int values);
    // The locked group and the locked modifiers.
    QPair<int, int> locks();
    // How many keys are down now.
    int keysDown();
    // The keycodes that have no symbol at all (spare keycodes), and how many there are.
    QList<int> spareKeys();
    int spareKeycodes() { return int(spareKeys().size()); }
    // The windows directly below the root, bottom to top.
    QList<quint32> rootChildren();
    // True when the window manager lists state (e.g. "_NET_WM_STATE_ABOVE") for the window.
    bool hasState(quint32 window, const char* state);

private:
    bool xdotool(const QStringList& args);
    // The test's own connection, so that what it checks is not read through the code under test.
    xcb_connection_t* m_c = nullptr;
    quint32 m_root = 0;
    bool m_ok = false;
};
