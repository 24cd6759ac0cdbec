#pragma once

#include "../Services.h"
#include "../SocketWatch.h"
#include "../wayland/WaylandDisplay.h"

#include <QByteArray>
#include <QRect>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
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
struct wl_array;

// A window as KWin's window management tells of it.
struct PlasmaWindow
{
    org_kde_plasma_window* handle = nullptr;
    WindowId id = 0;
    QString uuid;
    QString title;
    QString appId;
    uint32_t pid = 0;
    QRect geometry; // the frame, in the desktop's coordinates
    bool active = false;
    bool ready = false; // its first state has arrived
    bool gone = false;
    const std::function<void()>* changed = nullptr; // the connection's watcher
};

// Keyflare's own connection to KWin (Qt's stays Qt's), with KWin's window management, fake input
// and the seat's keyboard map. KWin offers the first two only to programs it knows from a desktop
// file; without them the connection is still open, and the desktop refuses.
class KWinConnection
{
public:
    KWinConnection() = default;
    KWinConnection(const KWinConnection&) = delete;
    KWinConnection& operator=(const KWinConnection&) = delete;
    ~KWinConnection();

    // Connects to $WAYLAND_DISPLAY and learns the globals, the windows and the keyboard map.
    bool open(QString* error);
    bool isBroken() const { return m_display.isBroken(); }
    // True when KWin lets us manage windows and fake input.
    bool canServe() const { return m_management && m_fakeInput && m_seat; }
    // Every window KWin has told of, gone ones included, in the order they came.
    const std::vector<std::unique_ptr<PlasmaWindow>>& windows() const { return m_windows; }
    // Window uuids, bottom to top.
    const QStringList& stacking() const { return m_stacking; }
    PlasmaWindow* find(WindowId id);
    // The seat's keyboard map, as KWin last handed it to every program; null until it came.
    xkb_keymap* keymap();
    // Caps Lock and Num Lock as real modifiers (Lock, Mod2).
    uint8_t lockedMods() const { return m_lockedMods; }
    org_kde_kwin_fake_input* fakeInput() const { return m_fakeInput; }
    // The version of fake input bound; from 6 on KWin types any keysym, mapping it itself.
    uint32_t fakeInputVersion() const;
    // Handles what KWin has sent, waiting up to ms for something; false when the connection broke.
    bool dispatch(int ms) { return m_display.dispatch(ms); }
    bool roundtrip() { return m_display.roundtrip(); }
    // From now on, changed runs from the event loop whenever a window appears, goes, changes its
    // title, program or state, or the stacking changes; once when the connection breaks.
    void watch(std::function<void()> changed);

private:
    static void onGlobal(void* data, wl_registry* registry, uint32_t name, const char* interface,
                         uint32_t version);
    static void onStacking(void* data, org_kde_plasma_window_management* management,
                           const char* uuids);
    static void onWindowWithUuid(void* data, org_kde_plasma_window_management* management,
                                 uint32_t id, const char* uuid);
    static void onKeymap(void* data, wl_keyboard* keyboard, uint32_t format, int32_t fd,
                         uint32_t size);
    static void onLockState(void* data, org_kde_kwin_keystate* keystate, uint32_t key,
                            uint32_t state);

    WaylandDisplay m_display; // first: it goes last
    wl_seat* m_seat = nullptr;
    wl_keyboard* m_keyboard = nullptr;
    org_kde_plasma_window_management* m_management = nullptr;
    org_kde_kwin_fake_input* m_fakeInput = nullptr;
    org_kde_kwin_keystate* m_keystate = nullptr;
    xkb_context* m_xkb = nullptr;
    xkb_keymap* m_keymap = nullptr;
    QByteArray m_keymapText;   // the map KWin sent last
    QByteArray m_compiledText; // the one m_keymap was compiled from
    uint8_t m_lockedMods = 0;
    std::vector<std::unique_ptr<PlasmaWindow>> m_windows;
    QStringList m_stacking;
    WindowId m_nextId = 1;
    std::function<void()> m_changed = [] {};
    std::unique_ptr<SocketWatch> m_socket; // last: it goes first
};
