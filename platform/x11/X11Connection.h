#pragma once

#include <QByteArray>
#include <QString>
#include <cstdlib>
#include <functional>
#include <memory>
#include <vector>
#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>

template <typename T> struct FreeDeleter
{
    void operator()(T* p) const { std::free(p); }
};
// A reply of the X server, freed with it.
template <typename T> using Reply = std::unique_ptr<T, FreeDeleter<T>>;

// Keyflare's own connection to the X server (Qt's stays Qt's): atoms, properties and titles, a
// helper window of its own, and the server's events, handed to whoever asked for them.
class X11Connection
{
public:
    using EventHandler = std::function<void(const xcb_generic_event_t*)>;

    X11Connection() = default;
    X11Connection(const X11Connection&) = delete;
    X11Connection& operator=(const X11Connection&) = delete;
    ~X11Connection();

    // Connects to display (empty: $DISPLAY); false, with the reason, when it cannot.
    bool open(const QByteArray& display, QString* error);
    // True once the connection has broken (the server ended, say); it stays broken.
    bool isBroken() const;
    xcb_connection_t* raw() const { return m_c; }
    int screenNumber() const { return m_screenNumber; }
    xcb_window_t root() const { return m_root; }
    xcb_ewmh_connection_t* ewmh() { return &m_ewmh; }
    // An unmapped window of ours, which the server destroys when the connection ends.
    xcb_window_t helper() const { return m_helper; }
    xcb_atom_t wmState() const { return m_wmState; }
    const QByteArray& hostname() const { return m_hostname; }

    xcb_atom_t intern(const char* name);
    QByteArray property(xcb_window_t w, xcb_atom_t atom, xcb_atom_t type,
                        xcb_atom_t* actualType = nullptr);
    bool hasProperty(xcb_window_t w, xcb_atom_t atom);
    QString title(xcb_window_t w);
    std::vector<xcb_window_t> children(xcb_window_t w, xcb_window_t* parent = nullptr);

    // Every event the server sends from now on is shown to handler too.
    void onEvent(EventHandler handler);
    // Handles what the server has sent, without waiting for anything.
    void pumpEvents();
    // Handles the events already read (with a reply, say), without reading the socket.
    void pumpQueuedEvents();
    // Adds mask to the events this connection receives for the root window.
    void selectRootEvents(uint32_t mask);
    // Handles events as they come until done() holds; false when ms pass first.
    bool waitUntil(const std::function<bool()>& done, int ms);
    // A real server time: some window managers ignore activation requests stamped with 0. The
    // answer is an event, which may never come (our helper window destroyed by another client,
    // a server too busy to answer): after a short wait the current time serves instead.
    xcb_timestamp_t serverTime();
    // Returns once the server has handled every request sent before.
    void sync();
    // From grabServer() to its ungrabServer() the server serves this connection alone; held
    // grabs nest, the server being let go at the outermost.
    void grabServer();
    void ungrabServer();

private:
    void dispatch(const xcb_generic_event_t* ev);

    xcb_connection_t* m_c = nullptr;
    int m_screenNumber = 0;
    xcb_window_t m_root = XCB_NONE;
    xcb_ewmh_connection_t m_ewmh{};
    bool m_ewmhReady = false;
    xcb_atom_t m_wmState = XCB_NONE;
    xcb_atom_t m_compoundText = XCB_NONE;
    xcb_window_t m_helper = XCB_NONE;
    QByteArray m_hostname;
    std::vector<EventHandler> m_handlers;
    int m_grabs = 0;
    uint32_t m_rootMask = 0;
    // The answer to serverTime()'s request: a notify on the helper window, or an error.
    uint16_t m_timeRequest = 0;
    bool m_timeSeen = false;
    bool m_timeFailed = false;
    xcb_timestamp_t m_helperTime = XCB_CURRENT_TIME;
};
