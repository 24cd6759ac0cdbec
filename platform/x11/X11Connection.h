#pragma once

#include "../xkb/KeyPacking.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <vector>
#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>
#include <xkbcommon/xkbcommon.h>

template <typename T> struct FreeDeleter
{
    void operator()(T* p) const { std::free(p); }
};
// A reply of the X server, freed with it.
template <typename T> using Reply = std::unique_ptr<T, FreeDeleter<T>>;

struct KeymapDeleter
{
    void operator()(xkb_keymap* k) const { xkb_keymap_unref(k); }
};

// Keyflare's own connection to the X server (Qt's stays Qt's), with what the backend learns
// from it: atoms, the keyboards, the window whose focus typing watches, and the keyboard map.
struct X11Connection
{
    xcb_connection_t* c = nullptr;
    int screenNumber = 0;
    xcb_window_t root = XCB_NONE;
    xcb_ewmh_connection_t ewmh{};

    bool ewmhReady = false;
    xcb_atom_t wmState = XCB_NONE;
    xcb_atom_t compoundText = XCB_NONE;
    xcb_window_t helper = XCB_NONE;
    xkb_context* xkb = nullptr;
    int32_t keyboard = -1;      // the core keyboard: its state is what receivers see
    int32_t xtestKeyboard = -1; // the keyboard XTEST drives: its map turns our keys into text
    uint8_t xkbEvent = 0;
    std::unique_ptr<xkb_keymap, KeymapDeleter> cachedKeymap;
    bool keymapStale = true;
    xcb_window_t focusInTarget = XCB_NONE; // where stillFocused() last found the focus
    bool watchingPings = false;
    uint32_t pingStamp = 0;
    bool pingAnswered = false;
    // The answer to serverTime()'s request: a notify on our helper window, or an error.
    uint16_t timeRequest = 0;
    bool timeSeen = false;
    bool timeFailed = false;
    xcb_timestamp_t helperTime = XCB_CURRENT_TIME;
    // Characters the layout lacks, put on spare keycodes for as long as receivers may still be
    // reading keys typed with them: where each one stands, and what each borrowed keycode holds.
    struct Slot
    {
        uint8_t keycode;
        uint8_t group;
    };
    std::map<char32_t, Slot> borrowed;
    std::map<uint8_t, KeyPacking::Row> borrowedRows;
    std::map<uint8_t, KeyPacking::WideRow> wideRows; // keycodes given four levels
    xcb_atom_t borrowedKeysAtom = XCB_NONE; // the record of every program's borrowed keycodes
    xcb_atom_t ownerAtom = XCB_NONE;        // marks a window as a live program's, for the record
    bool outOfRoom = false;                 // the last borrow() failed for want of free keycodes
    QByteArray hostname;

    // Connection, properties and events (X11Connection.cpp).
    ~X11Connection();
    bool open(const QByteArray& display, QString* error);
    xcb_atom_t intern(const char* name);
    QByteArray property(xcb_window_t w, xcb_atom_t atom, xcb_atom_t type,
                        xcb_atom_t* actualType = nullptr);
    bool hasProperty(xcb_window_t w, xcb_atom_t atom);
    QString title(xcb_window_t w);
    std::vector<xcb_window_t> children(xcb_window_t w, xcb_window_t* parent = nullptr);
    void dispatch(const xcb_generic_event_t* ev);
    // Handles what the server has sent, without waiting for anything.
    void pumpEvents();
    // Handles events as they come until done() holds; false when ms pass first.
    bool waitUntil(const std::function<bool()>& done, int ms);
    // A real server time: some window managers ignore activation requests stamped with 0. The
    // answer is an event, which may never come (our helper window destroyed by another client,
    // a server too busy to answer): after kServerTimeWaitMs the current time serves instead.
    xcb_timestamp_t serverTime();
    // The slave keyboard that XTEST drives; its map may differ from the physical keyboard's.
    int32_t findXtestKeyboard();
    void sync();

    // The window list and the focus (X11Windows.cpp).
    bool isOwnWindow(xcb_window_t w);
    std::vector<xcb_window_t> clientWindows();
    bool windowManagerRunning();
    xcb_window_t activeWindow();
    // True when the input focus is w or one of its descendants (toolkits often focus a child).
    bool focusIsIn(xcb_window_t w);
    // focusIsIn(w) with one round trip while the focus stays on the window last found in w.
    bool stillFocused(xcb_window_t w);
    // True when the program of window w answers a ping (_NET_WM_PING).
    bool answersPing(xcb_window_t w);
    // Pings window w and waits for the answer, which its program sends once it has handled
    // every event sent to it before; false after ms.
    bool ping(xcb_window_t w, int ms);

    // The keyboard map and the keycodes borrowed for characters the layout lacks (X11Keymap.cpp).
    // The core keysym table, for finding spare keycodes and checking our borrowed ones.
    struct CoreMap
    {
        uint8_t first = 0;
        int perKeycode = 0;
        std::vector<xcb_keysym_t> syms;
        const xcb_keysym_t* of(uint8_t kc) const
        {
            return syms.data() + static_cast<size_t>(kc - first) * static_cast<size_t>(perKeycode);
        }
        xcb_keysym_t* at(uint8_t kc)
        {
            return syms.data() + static_cast<size_t>(kc - first) * static_cast<size_t>(perKeycode);
        }
    };

    // The map of the keyboard XTEST drives, read again whenever the server said it changed.
    xkb_keymap* keymap();
    bool readCoreMap(CoreMap* map);
    // The core map, at least as wide as a borrowed keycode's row.
    bool readWideMap(CoreMap* map);
    static CoreMap widened(const CoreMap& map, int width);
    // True when keycode kc still holds row.
    static bool rowHolds(const CoreMap& map, uint8_t kc, const KeyPacking::Row& row);
    static bool isEmpty(const CoreMap& map, uint8_t kc);
    // Puts every character in missing on a borrowed keycode, reusing what an earlier send left
    // there, all with one change of the map before the first key is typed: changing the map
    // while typing races the receivers' reading of it. False, with the reason, when the spare
    // keycodes cannot hold them or the server refuses the change.
    // With wide, keys of four levels are used when the text needs more than two a group hold.
    bool borrow(const std::set<char32_t>& missing, bool wide, QString* error);
    bool place(const std::set<char32_t>& missing, bool wide, QString* error);
    // The index of the server's four-level key type (Shift and the third-level shift), or -1.
    int fourLevelType();
    // Gives spare keycodes the rows of four levels and empties formerWide, in one change,
    // checking that the server holds them after.
    bool borrowWide(const std::vector<uint8_t>& spare, const std::vector<KeyPacking::WideRow>& rows,
                    const std::vector<uint8_t>& formerWide, QString* error);
    static bool wideRowHolds(xkb_keymap* keymap, uint8_t kc, const KeyPacking::WideRow& row);
    // Forgets the keys of four levels, for the caller to empty in its own change: the core map,
    // which the rest uses, cannot say them. Returns those that still hold what we put there.
    std::vector<uint8_t> takeBackWide();
    // True when borrow(chars) would change nothing: every one stands on a two-level key already.
    bool holdsAll(const std::set<char32_t>& chars) const;
    // How many keycodes may be borrowed: the spare ones and those borrowed already.
    int borrowRoom();
    // Sends the keys of wanted that differ from map in one checked request; false, with the
    // reason, when the server refuses it.
    bool changeKeys(const CoreMap& map, const CoreMap& wanted, QString* error);
    void forgetKeycode(uint8_t kc);
    // Gives the borrowed keycodes back, unless someone else has remapped them meanwhile.
    void restoreBorrowed();
    // The record of borrowed keycodes that outlives the program (X11BorrowRecord.cpp).
    // Marks the helper window as a live borrower's.
    void markOwner();
    // Writes what we hold into the record; with adopt, first takes over the keycodes recorded by
    // programs that are gone and that still hold what those put there.
    void updateRecord(bool adopt = false);
    void lockModifiers(uint8_t affect, uint8_t values);
    // Locks keyboard group group (0 to 3); keys queued after this are read in that group.
    void lockGroup(uint32_t group);
    void fakeKey(uint8_t type, uint8_t keycode);
};
