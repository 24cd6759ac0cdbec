#pragma once

#include "../Services.h"
#include "../SocketWatch.h"
#include "../wayland/WaylandDisplay.h"

#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

struct wl_display;
struct wl_registry;
struct wl_seat;
struct zwlr_foreign_toplevel_manager_v1;
struct zwlr_foreign_toplevel_handle_v1;
struct zwp_virtual_keyboard_manager_v1;
struct zwp_virtual_keyboard_v1;

// Another program's window as the compositor lists it.
struct Toplevel
{
    zwlr_foreign_toplevel_handle_v1* handle = nullptr;
    uint64_t* activations = nullptr;                // the connection's count of activations
    const std::function<void()>* changed = nullptr; // the connection's watcher
    WindowId id = 0;
    QString title;
    QString appId;
    bool activated = false;
    bool closed = false;
    // When it last became the active window: no protocol tells the stacking order, so the most
    // recently active window counts as the topmost.
    uint64_t activeSince = 0;
    // What the compositor has sent since its last "done".
    QString pendingTitle;
    QString pendingAppId;
    bool pendingActivated = false;
};

// Keyflare's own connection to a wlroots compositor (Qt's stays Qt's), with the globals that
// typing into other windows needs and the window list they give.
class WlrootsConnection
{
public:
    WlrootsConnection() = default;
    WlrootsConnection(const WlrootsConnection&) = delete;
    WlrootsConnection& operator=(const WlrootsConnection&) = delete;
    ~WlrootsConnection();

    // Connects to $WAYLAND_DISPLAY and learns the globals and the current windows.
    bool open(QString* error);
    bool isBroken() const { return m_display.isBroken(); }
    // True when the compositor offers a seat, its window list and virtual keyboards.
    bool canServe() const { return m_seat && m_toplevels && m_keyboards; }
    // Every window the compositor has told of, closed ones included, in the order they came.
    const std::vector<std::unique_ptr<Toplevel>>& windows() const { return m_windows; }
    Toplevel* find(WindowId id);
    // Asks the compositor to activate window t on our seat.
    void activate(const Toplevel& t);
    // A new virtual keyboard on our seat; it has no keymap yet.
    zwp_virtual_keyboard_v1* createKeyboard();
    void flush();
    // Handles what the compositor has sent, waiting up to ms for something to arrive; false
    // when the connection broke.
    bool dispatch(int ms) { return m_display.dispatch(ms); }
    bool roundtrip() { return m_display.roundtrip(); }
    // From now on, changed runs from the event loop whenever a window opens, closes, changes its
    // title or program, or is made active; once when the connection breaks.
    void watch(std::function<void()> changed);

private:
    static void onGlobal(void* data, wl_registry* registry, uint32_t name, const char* interface,
                         uint32_t version);
    static void onToplevel(void* data, zwlr_foreign_toplevel_manager_v1* manager,
                           zwlr_foreign_toplevel_handle_v1* handle);

    WaylandDisplay m_display; // first: it goes last
    wl_seat* m_seat = nullptr;
    zwlr_foreign_toplevel_manager_v1* m_toplevels = nullptr;
    zwp_virtual_keyboard_manager_v1* m_keyboards = nullptr;
    std::vector<std::unique_ptr<Toplevel>> m_windows;
    WindowId m_nextId = 1;
    uint64_t m_activations = 0;
    std::function<void()> m_changed = [] {};
    std::unique_ptr<SocketWatch> m_socket; // last: it goes first
};
