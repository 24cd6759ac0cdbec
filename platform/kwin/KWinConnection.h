#pragma once

#include "../Services.h"

#include <QRect>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>
#include <vector>

struct wl_display;
struct wl_registry;
struct wl_seat;
struct wl_keyboard;
struct xkb_context;
struct xkb_keymap;
struct org_kde_plasma_window_management;
struct org_kde_plasma_window;
struct org_kde_kwin_fake_input;
struct org_kde_kwin_keystate;
struct KWinConnection;

// A window as KWin's window management tells of it.
struct PlasmaWindow
{
    org_kde_plasma_window* handle = nullptr;
    KWinConnection* connection = nullptr;
    WindowId id = 0;
    QString uuid;
    QString title;
    QString appId;
    uint32_t pid = 0;
    QRect geometry; // the frame, in the desktop's coordinates
    bool active = false;
    bool ready = false; // its first state has arrived
    bool gone = false;
};

// Keyflare's own connection to KWin (Qt's stays Qt's), with KWin's window management, fake input
// and the seat's keyboard map. KWin offers the first two only to programs it knows from a desktop
// file; without them the connection is still open, and the desktop refuses.
struct KWinConnection
{
    wl_display* display = nullptr;
    wl_registry* registry = nullptr;
    wl_seat* seat = nullptr;
    wl_keyboard* keyboard = nullptr;
    org_kde_plasma_window_management* management = nullptr;
    org_kde_kwin_fake_input* fakeInput = nullptr;
    org_kde_kwin_keystate* keystate = nullptr;
    xkb_context* xkb = nullptr;
    xkb_keymap* keymap = nullptr; // the seat's, as KWin hands it to every program
    uint8_t lockedMods = 0;       // Caps Lock and Num Lock as real modifiers (Lock, Mod2)
    std::vector<std::unique_ptr<PlasmaWindow>> windows;
    QStringList stacking; // window uuids, bottom to top
    WindowId nextId = 1;

    ~KWinConnection();
    // Connects to $WAYLAND_DISPLAY and learns the globals, the windows and the keyboard map.
    bool open(QString* error);
    // Handles what KWin has sent, waiting up to ms for something; false when the connection broke.
    bool dispatch(int ms);
    bool roundtrip();
    PlasmaWindow* find(WindowId id);
};
